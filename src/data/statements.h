#pragma once
#include "data/engine.h"

#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The domain operations' statements on the engine of this process: the
// dialect both engines share, values always as $1.. parameters.
namespace xs {

using Cells = QList<std::optional<QString>>;

// Sets why (when asked for) and gives false: `return falseWith(why, text);`.
inline bool falseWith(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

// Runs one statement and hands each row's cells to `row` (which may stop the
// reading by returning false). False with why (in Chinese) on failure.
bool eachRow(const QString &sql, const Params &params, const std::function<bool(const Cells &)> &row, QString *why);
// Runs a statement without rows; `changes` gets the rows it changed.
bool runStatement(const QString &sql, const Params &params, QString *why, int *changes = nullptr,
                  DbFault *fault = nullptr);
// Runs `work` in one transaction of the engine: kept when it returns true and
// the commit succeeds, else rolled back.
bool inTransaction(QString *why, const std::function<bool(QString *why)> &work);

}  // namespace xs
