#include "data/seed.h"

#include "data/schema.h"
#include "data/sqlite.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <sqlite3.h>

// The built-in data lives in resources/seed.qrc, compiled into the static
// library; a static library's resources must be registered by name before use.
static void registerSeedResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(seed);
        return true;
    }();
    (void)done;
}

namespace xs {

namespace {

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Parses CSV text; lines[i] is the line on which record i starts (1-based).
bool parseCsvLines(const QByteArray &utf8, std::vector<CsvRecord> *records, std::vector<int> *lines,
                   QString *error)
{
    QByteArrayView bytes(utf8);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return fail(error, QStringLiteral("不是有效的 UTF-8 文本"));

    std::vector<CsvRecord> out;
    std::vector<int> starts;
    const qsizetype n = text.size();
    const auto lineBreak = [&](qsizetype i) { return text[i] == u'\n' || text[i] == u'\r'; };
    qsizetype i = 0;
    int line = 1;
    while (i < n) {
        const int recordLine = line;
        CsvRecord record;
        bool anything = false;  // an empty line is no record
        for (;;) {
            if (i < n && text[i] == u'"') {
                anything = true;
                const int fieldLine = line;
                QString value;
                ++i;
                for (;;) {
                    if (i >= n)
                        return fail(error, QStringLiteral("第%1行：引号没有闭合").arg(fieldLine));
                    const QChar ch = text[i++];
                    if (ch == u'"') {
                        if (i < n && text[i] == u'"') {
                            value += u'"';
                            ++i;
                            continue;
                        }
                        break;
                    }
                    if (ch == u'\n')
                        ++line;
                    value += ch;
                }
                if (i < n && text[i] != u',' && !lineBreak(i))
                    return fail(error, QStringLiteral("第%1行：右引号后面只能是逗号或换行").arg(line));
                record.emplace_back(std::move(value));
            } else {
                const qsizetype start = i;
                while (i < n && text[i] != u',' && !lineBreak(i)) {
                    if (text[i] == u'"')
                        return fail(error, QStringLiteral("第%1行：没有加引号的字段中出现了引号").arg(line));
                    ++i;
                }
                if (i > start) {
                    anything = true;
                    record.emplace_back(text.mid(start, i - start));
                } else {
                    record.emplace_back(std::nullopt);
                }
            }
            if (i < n && text[i] == u',') {
                anything = true;
                ++i;
                continue;
            }
            break;
        }
        if (i < n && text[i] == u'\r') {
            ++i;
            if (i < n && text[i] == u'\n')
                ++i;
            ++line;
        } else if (i < n && text[i] == u'\n') {
            ++i;
            ++line;
        }
        if (anything) {
            out.push_back(std::move(record));
            starts.push_back(recordLine);
        }
    }
    if (records)
        *records = std::move(out);
    if (lines)
        *lines = std::move(starts);
    return true;
}

// Reads CSV text whose header names every one of `columns` exactly once (in
// any order, blanks around a name ignored) and returns its data rows with the
// cells put into the order of `columns`.
bool readTableCsv(const QByteArray &utf8, const QStringList &columns, std::vector<CsvRecord> *rows,
                  QString *error)
{
    std::vector<CsvRecord> records;
    std::vector<int> lines;
    if (!parseCsvLines(utf8, &records, &lines, error))
        return false;
    if (records.empty())
        return fail(error, QStringLiteral("文件是空的，缺少表头"));

    const CsvRecord &header = records.front();
    std::vector<int> columnOfField;
    QStringList unknown, repeated;
    std::vector<bool> seen(columns.size(), false);
    for (const CsvCell &cell : header) {
        const QString name = cell.value_or(QString()).trimmed();
        const int col = int(columns.indexOf(name));
        if (col < 0) {
            unknown << (name.isEmpty() ? QStringLiteral("（空）") : name);
        } else if (seen[col]) {
            repeated << name;
        } else {
            seen[col] = true;
        }
        columnOfField.push_back(col);
    }
    QStringList missing;
    for (qsizetype c = 0; c < columns.size(); ++c)
        if (!seen[c])
            missing << columns[c];
    QStringList problems;
    if (!unknown.isEmpty())
        problems << QStringLiteral("未知的列 %1").arg(unknown.join(QStringLiteral("、")));
    if (!repeated.isEmpty())
        problems << QStringLiteral("重复的列 %1").arg(repeated.join(QStringLiteral("、")));
    if (!missing.isEmpty())
        problems << QStringLiteral("缺少列 %1").arg(missing.join(QStringLiteral("、")));
    if (!problems.isEmpty())
        return fail(error, QStringLiteral("第%1行表头不对：%2").arg(lines.front()).arg(problems.join(QStringLiteral("；"))));

    std::vector<CsvRecord> out;
    out.reserve(records.size() - 1);
    for (size_t r = 1; r < records.size(); ++r) {
        const CsvRecord &rec = records[r];
        if (rec.size() != header.size())
            return fail(error, QStringLiteral("第%1行有%2个字段，表头有%3个")
                                   .arg(lines[r])
                                   .arg(rec.size())
                                   .arg(header.size()));
        CsvRecord row(columns.size());
        for (size_t f = 0; f < rec.size(); ++f)
            row[columnOfField[f]] = rec[f];
        out.push_back(std::move(row));
    }
    *rows = std::move(out);
    return true;
}

// Appends rows (cells in `columns` order) to a table, every value bound.
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

// Runs `work` inside a savepoint (a transaction of its own, or nested in the
// caller's): everything or nothing.
template <class Work>
bool atomically(const Connection &c, QString *error, Work work)
{
    if (!c.exec("SAVEPOINT xs_seed"))
        return fail(error, c.lastError());
    QString why;
    if (!work(&why)) {
        c.exec("ROLLBACK TO xs_seed");
        c.exec("RELEASE xs_seed");
        return fail(error, why);
    }
    if (!c.exec("RELEASE xs_seed")) {
        why = c.lastError();
        c.exec("ROLLBACK TO xs_seed");
        c.exec("RELEASE xs_seed");
        return fail(error, why);
    }
    return true;
}

bool replaceCatalogue(const Connection &c, const std::vector<CsvRecord> &rows, QString *error)
{
    return atomically(c, error, [&](QString *why) {
        if (!c.exec("DELETE FROM 表1"))
            return fail(why, c.lastError());
        return insertRows(c, QStringLiteral("表1"), catalogueColumns(), rows, why);
    });
}

QByteArray readResource(const QString &name, QString *error)
{
    registerSeedResources();
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("内置数据 %1 缺失").arg(name));
        return {};
    }
    return f.readAll();
}

// Loads one built-in CSV table; its faults are the program's own, so the
// message names the resource.
bool readSeedTable(const QString &name, const QStringList &columns, std::vector<CsvRecord> *rows,
                   QString *error)
{
    QString why;
    const QByteArray bytes = readResource(name, &why);
    if (!why.isEmpty())
        return fail(error, why);
    if (!readTableCsv(bytes, columns, rows, &why))
        return fail(error, QStringLiteral("内置数据 %1：%2").arg(name, why));
    return true;
}

}  // namespace

bool parseCsv(const QByteArray &utf8, std::vector<CsvRecord> *records, QString *error)
{
    return parseCsvLines(utf8, records, nullptr, error);
}

QByteArray formatCsv(const std::vector<CsvRecord> &records)
{
    QString out;
    for (const CsvRecord &record : records) {
        for (size_t i = 0; i < record.size(); ++i) {
            if (i > 0)
                out += u',';
            if (!record[i])
                continue;  // null: nothing between the commas
            const QString &v = *record[i];
            const bool quote = v.isEmpty() || v.contains(u',') || v.contains(u'"') || v.contains(u'\n')
                               || v.contains(u'\r');
            if (!quote) {
                out += v;
                continue;
            }
            QString doubled = v;
            doubled.replace(u'"', QStringLiteral("\"\""));
            out += u'"' + doubled + u'"';
        }
        out += QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

bool seedCatalogue(const Connection &c, QString *error)
{
    std::vector<CsvRecord> rows;
    if (!readSeedTable(QStringLiteral(":/seed/catalogue.csv"), catalogueColumns(), &rows, error))
        return false;
    return replaceCatalogue(c, rows, error);
}

bool seedDemoRecords(const Connection &c, QString *error)
{
    std::vector<CsvRecord> departments, cases;
    if (!readSeedTable(QStringLiteral(":/seed/departments.csv"), classColumns(), &departments, error)
        || !readSeedTable(QStringLiteral(":/seed/cases.csv"), caseColumns(), &cases, error))
        return false;
    return atomically(c, error, [&](QString *why) {
        return insertRows(c, QStringLiteral("class"), classColumns(), departments, why)
               && insertRows(c, QStringLiteral("xj"), caseColumns(), cases, why);
    });
}

bool seedDemoDepartments(const Connection &c, QString *error)
{
    std::vector<CsvRecord> departments;
    if (!readSeedTable(QStringLiteral(":/seed/departments.csv"), classColumns(), &departments, error))
        return false;
    return atomically(c, error, [&](QString *why) {
        return insertRows(c, QStringLiteral("class"), classColumns(), departments, why);
    });
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
