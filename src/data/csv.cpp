#include "data/csv.h"

#include <QStringDecoder>

namespace xs {

namespace {

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// Parses CSV text; lines[i] is the line on which record i starts (1-based).
bool parseCsvLines(const QByteArray &utf8, std::vector<CsvRecord> *records, std::vector<int> *lines, QString *error)
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
            const bool quote =
                v.isEmpty() || v.contains(u',') || v.contains(u'"') || v.contains(u'\n') || v.contains(u'\r');
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

bool readTableCsv(const QByteArray &utf8, const QStringList &columns, std::vector<CsvRecord> *rows, QString *error)
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
        return fail(error,
                    QStringLiteral("第%1行表头不对：%2").arg(lines.front()).arg(problems.join(QStringLiteral("；"))));

    std::vector<CsvRecord> out;
    out.reserve(records.size() - 1);
    for (size_t r = 1; r < records.size(); ++r) {
        const CsvRecord &rec = records[r];
        if (rec.size() != header.size())
            return fail(
                error, QStringLiteral("第%1行有%2个字段，表头有%3个").arg(lines[r]).arg(rec.size()).arg(header.size()));
        CsvRecord row(columns.size());
        for (size_t f = 0; f < rec.size(); ++f)
            row[columnOfField[f]] = rec[f];
        out.push_back(std::move(row));
    }
    *rows = std::move(out);
    return true;
}

}  // namespace xs
