#include "data/sqltext.h"

#include "data/dates.h"

#include <QRegularExpression>

namespace xs {

QString q(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return out;
}

bool isActionStatement(const QString &sql)
{
    const QString w = sql.section(QLatin1Char(' '), 0, 0).toUpper();
    return w == QLatin1String("INSERT") || w == QLatin1String("DELETE") || w == QLatin1String("UPDATE");
}

QString insertStatement(const QString &table, const QStringList &columns, qsizetype count)
{
    if (columns.isEmpty())
        return QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table);
    QStringList marks;
    for (qsizetype k = 1; k <= count; ++k)
        marks << QStringLiteral("$%1").arg(k);
    return QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
        .arg(table, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

bool severalStatements(const QString &sql)
{
    const qsizetype n = sql.size();
    bool ended = false;  // a ';' has closed a statement
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c.isSpace())
            continue;
        if (c == u'-' && i + 1 < n && sql[i + 1] == u'-') {
            const qsizetype end = sql.indexOf(u'\n', i);
            i = end < 0 ? n : end;
            continue;
        }
        if (c == u'/' && i + 1 < n && sql[i + 1] == u'*') {
            const qsizetype end = sql.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 1;
            continue;
        }
        if (c == u';') {
            ended = true;
            continue;
        }
        if (ended)
            return true;
        if (c == u'\'' || c == u'"' || c == u'`' || c == u'[') {
            // A quoted text or name; a doubled quote stays inside it.
            const QChar close = c == u'[' ? QChar(u']') : c;
            qsizetype j = i + 1;
            while (j < n && !(sql[j] == close && !(j + 1 < n && sql[j + 1] == close && close != u']')))
                j += sql[j] == close ? 2 : 1;
            i = j;
            continue;
        }
        if (c == u'$') {
            // A dollar-quoted body ($$ ... $$, $tag$ ... $tag$).
            static const QRegularExpression tag(QStringLiteral(R"(\G\$(?:[A-Za-z_]\w*)?\$)"));
            const auto m = tag.match(sql, i);
            if (m.hasMatch()) {
                const qsizetype end = sql.indexOf(m.captured(), i + m.capturedLength());
                i = end < 0 ? n : end + m.capturedLength() - 1;
            }
        }
    }
    return false;
}

// A statement that is only a table's name (on the server a bracketed name
// has become a double-quoted one by now).
static bool isBareName(const QString &t, bool server)
{
    static const QRegularExpression fileName(QStringLiteral(R"(^(\w+|\[[^\]]+\])$)"),
                                             QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression serverName(QStringLiteral(R"(^(\w+|"[^"]+")$)"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    if (!(server ? serverName : fileName).match(t).hasMatch())
        return false;
    static const QStringList keywords = {QStringLiteral("SELECT"), QStringLiteral("INSERT"), QStringLiteral("UPDATE"),
                                         QStringLiteral("DELETE"), QStringLiteral("VALUES"), QStringLiteral("PRAGMA")};
    return !keywords.contains(t.toUpper()) && !(server && t.toUpper() == QLatin1String("SHOW"));
}

std::optional<QString> translateSql(const QString &sql, SqlDialect dialect)
{
    const bool server = dialect == SqlDialect::Server;
    QString out;
    out.reserve(sql.size() + 16);
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A quoted string; a doubled quote stays inside it. The file's
            // engine takes it as it stands; for the server a text in either
            // kind of quote becomes a standard string literal.
            QString text;
            qsizetype j = i + 1;
            bool closed = false;
            for (; j < n; ++j) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        text += c;
                        text += c;
                        ++j;
                        continue;
                    }
                    closed = true;
                    break;
                }
                text += sql[j];
            }
            if (!closed)
                return std::nullopt;  // unterminated string
            if (!server) {
                out += c + text + c;
            } else {
                if (c == QLatin1Char('"')) {
                    text.replace(QLatin1String("\"\""), QLatin1String("\""));
                    text.replace(QLatin1Char('\''), QLatin1String("''"));
                }
                // Two adjacent literals stay two tokens (the server would join them).
                if (out.endsWith(QLatin1Char('\'')))
                    out += QLatin1Char(' ');
                out += QLatin1Char('\'') + text + QLatin1Char('\'');
            }
            i = j;
        } else if (c == QLatin1Char('[')) {
            // A bracketed name: a # or a quote inside it is part of the name.
            const qsizetype end = sql.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                return std::nullopt;
            if (!server) {
                out += sql.mid(i, end - i + 1);
            } else {
                QString name = sql.mid(i + 1, end - i - 1);
                name.replace(QLatin1Char('"'), QLatin1String("\"\""));
                out += QLatin1Char('"') + name + QLatin1Char('"');
            }
            i = end;
        } else if (c == QLatin1Char('#')) {
            const qsizetype end = sql.indexOf(QLatin1Char('#'), i + 1);
            if (end < 0)
                return std::nullopt;
            const auto d = parseDate(sql.mid(i + 1, end - i - 1));
            if (!d)
                return std::nullopt;
            // The date becomes a quoted text; a quoted text right before or
            // after it must stay a token of its own, not merge with it
            // through a doubled quote.
            if (out.endsWith(QLatin1Char('\'')))
                out += QLatin1Char(' ');
            if (server)
                out += QStringLiteral("DATE '") + d->toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('\'');
            else
                out += QLatin1Char('\'') + shortDate(*d) + QLatin1Char('\'');
            if (!server && end + 1 < n && sql[end + 1] == QLatin1Char('\''))
                out += QLatin1Char(' ');
            i = end;
        } else {
            out += c;
        }
    }

    static const QRegularExpression deleteStar(QStringLiteral(R"(^(\s*delete)\s*\*\s*(from\b))"),
                                               QRegularExpression::CaseInsensitiveOption);
    out.replace(deleteStar, QStringLiteral("\\1 \\2"));

    const QString trimmed = out.trimmed();
    if (isBareName(trimmed, server))
        return QStringLiteral("select * from ") + trimmed;
    return out;
}

std::optional<QString> translateSql(const QString &sql, SqlDialect dialect, SqlOutcome &out)
{
    std::optional<QString> translated = translateSql(sql, dialect);
    if (!translated)
        out = SqlOutcome{false, 0, DbFault::Other, QStringLiteral("语句无法解析")};
    return translated;
}

}  // namespace xs
