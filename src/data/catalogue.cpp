#include "data/catalogue.h"

#include "data/builtin.h"
#include "data/schema.h"
#include "data/sqlite/bulkwrite.h"
#include "data/statements.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <algorithm>

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

namespace {

// What is wrong with a drug row (row `line` of its file), "" when nothing.
QString drugRowProblem(const CsvRecord &row, int line, QSet<QString> &codes)
{
    const auto cell = [&row](int i) { return row[size_t(i)].value_or(QString()).trimmed(); };
    const auto bad = [line](const QString &what) { return QStringLiteral("第 %1 行：%2").arg(line).arg(what); };
    if (cell(0).isEmpty() || cell(1).isEmpty() || cell(3).isEmpty())
        return bad(QStringLiteral("编码、表1名称和通用名都不能为空"));
    if (codes.contains(cell(0)))
        return bad(QStringLiteral("编码 %1 重复").arg(cell(0)));
    codes.insert(cell(0));
    if (!catalogueColumns().contains(cell(2)))
        return bad(QStringLiteral("类别“%1”不是药品目录的类别（%2）").arg(cell(2), catalogueColumns().join(u'、')));
    static const QStringList controls = {"", "普通", "麻醉药品", "第一类精神药品", "第二类精神药品", "医疗用毒性药品"};
    if (!controls.contains(cell(8)))
        return bad(QStringLiteral("特殊管理“%1”应为 %2 之一").arg(cell(8), controls.mid(1).join(u'、')));
    for (int yesNo : {9, 16})
        if (!QStringList{"", "是", "否"}.contains(cell(yesNo)))
            return bad(QStringLiteral("%1 应为“是”或“否”").arg(drugColumns()[yesNo]));
    static const QRegularExpression money(QStringLiteral("^(\\d{1,7}(\\.\\d{1,2})?)?$"));
    if (!money.match(cell(7)).hasMatch())
        return bad(QStringLiteral("单价“%1”不是金额（元，最多两位小数）").arg(cell(7)));
    return {};
}

// The menu columns after a whole catalogue: the categories it holds list its
// drugs (withdrawn ones left out), the others keep their entries.
std::vector<CsvRecord> menusFor(const std::vector<CsvRecord> &drugs, QString *why, bool *ok)
{
    const QStringList &columns = catalogueColumns();
    std::vector<QStringList> lists(size_t(columns.size()));
    *ok = eachRow(
        QStringLiteral("SELECT %1 FROM 表1").arg(columns.join(QLatin1Char(','))), {},
        [&](const Cells &row) {
            for (qsizetype c = 0; c < row.size(); ++c)
                if (row[c] && !row[c]->isEmpty())
                    lists[size_t(c)] << *row[c];
            return true;
        },
        why);
    QSet<int> replaced;
    for (const CsvRecord &d : drugs)
        replaced.insert(int(columns.indexOf(d[2].value_or(QString()).trimmed())));
    for (int c : std::as_const(replaced))
        lists[size_t(c)].clear();
    for (const CsvRecord &d : drugs) {
        QStringList &list = lists[size_t(columns.indexOf(d[2].value_or(QString()).trimmed()))];
        const QString entry = d[1].value_or(QString()).trimmed();
        if (d[16].value_or(QString()).trimmed() != QStringLiteral("是") && !list.contains(entry))
            list << entry;
    }
    size_t depth = 0;
    for (const QStringList &l : lists)
        depth = std::max(depth, size_t(l.size()));
    std::vector<CsvRecord> rows(depth, CsvRecord(size_t(columns.size())));
    for (size_t c = 0; c < lists.size(); ++c)
        for (qsizetype r = 0; r < lists[c].size(); ++r)
            rows[size_t(r)][c] = lists[c][r];
    return rows;
}

bool insertAll(const QString &table, const QStringList &columns, const std::vector<CsvRecord> &rows, QString *why)
{
    for (const CsvRecord &row : rows) {
        SqlOutcome out;
        engine().insert(table, columns, Params(row.begin(), row.end()), out);
        if (!out.ok)
            return falseWith(why, out.error);
    }
    return true;
}

std::optional<int> importDrugs(const QString &path, const QByteArray &bytes, QString *error)
{
    std::vector<CsvRecord> drugs;
    QString why;
    if (!readTableCsv(bytes, drugColumns(), &drugs, &why)) {
        falseWith(error, QStringLiteral("%1：%2").arg(path, why));
        return std::nullopt;
    }
    QSet<QString> codes;
    for (size_t i = 0; i < drugs.size(); ++i)
        if (const QString problem = drugRowProblem(drugs[i], int(i) + 2, codes); !problem.isEmpty()) {
            falseWith(error, QStringLiteral("%1：%2").arg(path, problem));
            return std::nullopt;
        }
    const bool replaced = inTransaction(error, [&](QString *failed) {
        bool read = false;
        const std::vector<CsvRecord> menus = menusFor(drugs, failed, &read);
        return read && runStatement(QStringLiteral("DELETE FROM drugs"), {}, failed)
               && insertAll(QStringLiteral("drugs"), drugColumns(), drugs, failed)
               && runStatement(QStringLiteral("DELETE FROM 表1"), {}, failed)
               && insertAll(QStringLiteral("表1"), catalogueColumns(), menus, failed);
    });
    return replaced ? std::optional<int>(int(drugs.size())) : std::nullopt;
}

}  // namespace

std::optional<int> importCatalogue(const QString &path, QString *error)
{
    {
        // A whole drug catalogue names 编码 in its header.
        QFile f(path);
        std::vector<CsvRecord> records;
        if (f.open(QIODevice::ReadOnly) && QFileInfo(path).isFile()) {
            const QByteArray bytes = f.readAll();
            if (parseCsv(bytes, &records) && !records.empty()
                && std::ranges::find(records.front(), CsvCell(QStringLiteral("编码"))) != records.front().end())
                return importDrugs(path, bytes, error);
        }
    }
    std::vector<CsvRecord> rows;
    if (!readCatalogueFile(path, &rows, error))
        return std::nullopt;
    const bool replaced = inTransaction(error, [&](QString *why) {
        return runStatement(QStringLiteral("DELETE FROM 表1"), {}, why)
               && insertAll(QStringLiteral("表1"), catalogueColumns(), rows, why);
    });
    return replaced ? std::optional<int>(int(rows.size())) : std::nullopt;
}

std::optional<int> exportCatalogue(const QString &path, QString *error, bool drugs)
{
    const QStringList &columns = drugs ? drugColumns() : catalogueColumns();
    std::vector<CsvRecord> records = {CsvRecord(columns.begin(), columns.end())};  // the header
    // A whole reading of this small table comes in stored row order on both
    // engines (the file's rowid, the server's heap order).
    if (!eachRow(
            drugs ? QStringLiteral("SELECT %1 FROM drugs ORDER BY 编码").arg(columns.join(QLatin1Char(',')))
                  : QStringLiteral("SELECT %1 FROM 表1").arg(columns.join(QLatin1Char(','))),
            {},
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
