#include "data/catalogue.h"

#include "data/builtin.h"
#include "data/schema.h"
#include "data/sqlite/bulkwrite.h"
#include "data/statements.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace xs {

namespace {
bool replaceCatalogue(const Connection &c, const std::vector<CsvRecord> &rows, QString *error)
{
    return atomically(c, error, [&](QString *why) {
        if (!c.exec("DELETE FROM 表1"))
            return falseWith(why, c.lastError());
        return insertRows(c, QStringLiteral("表1"), catalogueColumns(), rows, why);
    });
}

}  // namespace

bool seedCatalogue(const Connection &c, QString *error)
{
    std::vector<CsvRecord> rows;
    if (!readBuiltinTable(QStringLiteral(":/seed/catalogue.csv"), catalogueColumns(), &rows, error))
        return false;
    const QString drugs = drugSeedSql(QStringLiteral("drugs"), error);
    return !drugs.isEmpty() && replaceCatalogue(c, rows, error) && (c.exec(drugs) || falseWith(error, c.lastError()));
}

namespace {
// The rows of a catalogue CSV file; false with why when the file is missing or malformed.
bool readCatalogueFile(const QString &path, std::vector<CsvRecord> *rows, QString *error)
{
    QFile f(path);
    if (!QFileInfo::exists(path))
        return falseWith(error, QStringLiteral("找不到文件 %1").arg(path));
    if (QFileInfo(path).isDir())
        return falseWith(error, QStringLiteral("%1 是文件夹，不是 CSV 文件").arg(path));
    if (!f.open(QIODevice::ReadOnly))
        return falseWith(error, QStringLiteral("无法读取文件 %1：%2").arg(path, f.errorString()));
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return falseWith(error, QStringLiteral("无法读取文件 %1：%2").arg(path, f.errorString()));
    QString why;
    if (!readTableCsv(bytes, catalogueColumns(), rows, &why))
        return falseWith(error, QStringLiteral("%1：%2").arg(path, why));
    return true;
}
}  // namespace

bool importCatalogueCsv(const Connection &c, const QString &path, QString *error)
{
    std::vector<CsvRecord> rows;
    return readCatalogueFile(path, &rows, error) && replaceCatalogue(c, rows, error);
}

std::optional<int> importCatalogue(const QString &path, QString *error)
{
    std::vector<CsvRecord> rows;
    if (!readCatalogueFile(path, &rows, error))
        return std::nullopt;
    const bool replaced = inTransaction(error, [&](QString *why) {
        if (!runStatement(QStringLiteral("DELETE FROM 表1"), {}, why))
            return false;
        for (const CsvRecord &row : rows) {
            SqlOutcome out;
            engine().insert(QStringLiteral("表1"), catalogueColumns(), Params(row.begin(), row.end()), out);
            if (!out.ok)
                return falseWith(why, out.error);
        }
        return true;
    });
    return replaced ? std::optional<int>(int(rows.size())) : std::nullopt;
}

std::optional<int> exportCatalogue(const QString &path, QString *error)
{
    const QStringList &columns = catalogueColumns();
    std::vector<CsvRecord> records = {CsvRecord(columns.begin(), columns.end())};  // the header
    // A whole reading of this small table comes in stored row order on both
    // engines (the file's rowid, the server's heap order).
    if (!eachRow(
            QStringLiteral("SELECT %1 FROM 表1").arg(columns.join(QLatin1Char(','))), {},
            [&](const Cells &row) {
                records.emplace_back(row.begin(), row.end());
                return true;
            },
            error))
        return std::nullopt;

    // Written to a temporary file and renamed: a failed export leaves no half file.
    QSaveFile out(path);
    const QByteArray bytes = formatCsv(records);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        falseWith(error, QStringLiteral("无法写入文件 %1：%2").arg(path, out.errorString()));
        return std::nullopt;
    }
    return int(records.size()) - 1;
}

}  // namespace xs
