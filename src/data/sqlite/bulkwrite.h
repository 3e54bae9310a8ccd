#pragma once
// Writing many rows at once: the tool's imports and the built-in data.
#include "data/csv.h"
#include "data/sqlite/sqlite.h"

#include <QString>

namespace xs {

// Sets `error` (when given) to why; false, for returning at once.
inline bool failWith(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Appends rows (cells in `columns` order) to a table, every value bound.
bool insertRows(const Connection &c, const QString &table, const QStringList &columns,
                const std::vector<CsvRecord> &rows, QString *error);

// Runs `work` inside a savepoint (a transaction of its own, or nested in the
// caller's): everything or nothing.
template <class Work>
bool atomically(const Connection &c, QString *error, Work work)
{
    if (!c.exec("SAVEPOINT xs_seed"))
        return failWith(error, c.lastError());
    QString why;
    if (!work(&why)) {
        c.exec("ROLLBACK TO xs_seed");
        c.exec("RELEASE xs_seed");
        return failWith(error, why);
    }
    if (!c.exec("RELEASE xs_seed")) {
        why = c.lastError();
        c.exec("ROLLBACK TO xs_seed");
        c.exec("RELEASE xs_seed");
        return failWith(error, why);
    }
    return true;
}

}  // namespace xs
