#include "data/sqlite/bulkwrite.h"

#include <sqlite3.h>

namespace xs {

namespace {
bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}
}  // namespace

bool insertRows(const Connection &c, const QString &table, const QStringList &columns,
                const std::vector<CsvRecord> &rows, QString *error)
{
    QStringList marks;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    StmtHandle s = c.prepare(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                                 .arg(table, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
    if (!s)
        return fail(error, c.lastError());
    for (const CsvRecord &row : rows) {
        sqlite3_reset(s.get());
        for (int i = 0; i < int(row.size()); ++i) {
            if (row[i])
                bindText(s.get(), i + 1, *row[i]);
            else
                sqlite3_bind_null(s.get(), i + 1);
        }
        if (sqlite3_step(s.get()) != SQLITE_DONE)
            return fail(error, QStringLiteral("写入 %1 失败：%2").arg(table, c.lastError()));
    }
    return true;
}

}  // namespace xs
