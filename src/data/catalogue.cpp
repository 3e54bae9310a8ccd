#include "data/catalogue.h"

#include "data/builtin.h"
#include "data/schema.h"
#include "data/sqlite/bulkwrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <sqlite3.h>

namespace xs {

namespace {
bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

bool replaceCatalogue(const Connection &c, const std::vector<CsvRecord> &rows, QString *error)
{
    return atomically(c, error, [&](QString *why) {
        if (!c.exec("DELETE FROM 表1"))
            return fail(why, c.lastError());
        return insertRows(c, QStringLiteral("表1"), catalogueColumns(), rows, why);
    });
}

}  // namespace

bool seedCatalogue(const Connection &c, QString *error)
{
    std::vector<CsvRecord> rows;
    if (!readBuiltinTable(QStringLiteral(":/seed/catalogue.csv"), catalogueColumns(), &rows, error))
        return false;
    return replaceCatalogue(c, rows, error);
}

bool importCatalogueCsv(const Connection &c, const QString &path, QString *error)
{
    QFile f(path);
    if (!QFileInfo::exists(path))
        return fail(error, QStringLiteral("找不到文件 %1").arg(path));
    if (QFileInfo(path).isDir())
        return fail(error, QStringLiteral("%1 是文件夹，不是 CSV 文件").arg(path));
    if (!f.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("无法读取文件 %1：%2").arg(path, f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return fail(error, QStringLiteral("无法读取文件 %1：%2").arg(path, f.errorString()));
    std::vector<CsvRecord> rows;
    QString why;
    if (!readTableCsv(bytes, catalogueColumns(), &rows, &why))
        return fail(error, QStringLiteral("%1：%2").arg(path, why));
    return replaceCatalogue(c, rows, error);
}

bool exportCatalogueCsv(const Connection &c, const QString &path, QString *error)
{
    // Writing the CSV over the database file itself would destroy it.
    const char *dbFile = sqlite3_db_filename(c.get(), "main");
    const QString target = QFileInfo(path).canonicalFilePath();
    if (dbFile && !target.isEmpty() && target == QFileInfo(QString::fromUtf8(dbFile)).canonicalFilePath())
        return fail(error, QStringLiteral("%1 是数据库文件本身，不能写入 CSV").arg(path));

    const QStringList &columns = catalogueColumns();
    StmtHandle s = c.prepare(QStringLiteral("SELECT %1 FROM 表1 ORDER BY rowid").arg(columns.join(QLatin1Char(','))));
    if (!s)
        return fail(error, c.lastError());
    std::vector<CsvRecord> records;
    CsvRecord header;
    for (const QString &col : columns)
        header.emplace_back(col);
    records.push_back(std::move(header));
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        CsvRecord row;
        for (int i = 0; i < int(columns.size()); ++i) {
            if (sqlite3_column_type(s.get(), i) == SQLITE_NULL)
                row.emplace_back(std::nullopt);
            else
                row.emplace_back(columnText(s.get(), i));
        }
        records.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE)
        return fail(error, c.lastError());

    // Written to a temporary file and renamed: a failed export leaves no half file.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, QStringLiteral("无法写入文件 %1：%2").arg(path, out.errorString()));
    const QByteArray bytes = formatCsv(records);
    if (out.write(bytes) != bytes.size() || !out.commit())
        return fail(error, QStringLiteral("无法写入文件 %1：%2").arg(path, out.errorString()));
    return true;
}

}  // namespace xs
