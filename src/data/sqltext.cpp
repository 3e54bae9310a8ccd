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

QString firstWord(const QString &sql) { return sql.section(QLatin1Char(' '), 0, 0).toUpper(); }

bool isActionStatement(const QString &sql)
{
    const QString w = firstWord(sql);
    return w == QLatin1String("INSERT") || w == QLatin1String("DELETE") || w == QLatin1String("UPDATE");
}

static bool isBareName(const QString &t)
{
    static const QRegularExpression name(QStringLiteral(R"(^(\w+|\[[^\]]+\])$)"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    if (!name.match(t).hasMatch())
        return false;
    static const QStringList keywords = {QStringLiteral("SELECT"), QStringLiteral("INSERT"),
                                         QStringLiteral("UPDATE"), QStringLiteral("DELETE"),
                                         QStringLiteral("VALUES"), QStringLiteral("PRAGMA")};
    return !keywords.contains(t.toUpper());
}

std::optional<QString> translateSql(const QString &sql)
{
    QString out;
    out.reserve(sql.size() + 16);
    const qsizetype n = sql.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Copy the quoted string untouched; a doubled quote stays inside it.
            out += c;
            qsizetype j = i + 1;
            for (; j < n; ++j) {
                out += sql[j];
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        out += sql[++j];
                        continue;
                    }
                    break;
                }
            }
            if (j >= n)
                return std::nullopt;  // unterminated string
            i = j;
        } else if (c == QLatin1Char('[')) {
            // A bracketed name is copied untouched: a # or a quote inside it
            // is part of the name.
            const qsizetype end = sql.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                return std::nullopt;
            out += sql.mid(i, end - i + 1);
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
            out += QLatin1Char('\'') + shortDate(*d) + QLatin1Char('\'');
            if (end + 1 < n && sql[end + 1] == QLatin1Char('\''))
                out += QLatin1Char(' ');
            i = end;
        } else {
            out += c;
        }
    }

    static const QRegularExpression deleteStar(
        QStringLiteral(R"(^(\s*delete)\s*\*\s*(from\b))"), QRegularExpression::CaseInsensitiveOption);
    out.replace(deleteStar, QStringLiteral("\\1 \\2"));

    const QString trimmed = out.trimmed();
    if (isBareName(trimmed))
        return QStringLiteral("select * from ") + trimmed;
    return out;
}

}  // namespace xs
