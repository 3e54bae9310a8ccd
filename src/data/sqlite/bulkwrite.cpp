#include "data/sqlite/bulkwrite.h"

#include "data/sqltext.h"

#include <sqlite3.h>

namespace xs {

bool insertRows(const Connection &c, const QString &table, const QStringList &columns,
                const std::vector<CsvRecord> &rows, QString *error)
{
    StmtHandle s = c.prepare(insertStatement(table, columns, columns.size()));
    if (!s)
        return failWith(error, c.lastError());
    for (const CsvRecord &row : rows) {
        sqlite3_reset(s.get());
        for (int i = 0; i < int(row.size()); ++i) {
            if (row[i])
                bindText(s.get(), i + 1, *row[i]);
            else
                sqlite3_bind_null(s.get(), i + 1);
        }
        if (sqlite3_step(s.get()) != SQLITE_DONE)
            return failWith(error, QStringLiteral("写入 %1 失败：%2").arg(table, c.lastError()));
    }
    return true;
}

}  // namespace xs
