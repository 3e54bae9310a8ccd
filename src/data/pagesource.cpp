#include "data/pagesource.h"

#include "data/engine.h"
#include "data/fault.h"

#include <algorithm>

namespace xs {

namespace {

// A word of the statement outside quotes and parentheses: where it starts
// and ends, and its text in lower case.
struct Word {
    qsizetype at, end;
    QString lower;
};

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == u'_'; }

// The words at nesting depth 0; false when a quote or parenthesis is left open.
bool topWords(const QString &s, std::vector<Word> &words, std::vector<qsizetype> *commas = nullptr)
{
    int depth = 0;
    for (qsizetype i = 0; i < s.size();) {
        const QChar c = s[i];
        if (c == u'\'' || c == u'"' || c == u'`' || c == u'[') {
            const QChar close = c == u'[' ? QChar(u']') : c;
            qsizetype j = i + 1;
            for (;; ++j) {
                if (j >= s.size())
                    return false;
                if (s[j] == close) {
                    if (close != u']' && j + 1 < s.size() && s[j + 1] == close) {
                        ++j;
                        continue;
                    }
                    break;
                }
            }
            i = j + 1;
        } else if (c == u'(') {
            ++depth;
            ++i;
        } else if (c == u')') {
            if (--depth < 0)
                return false;
            ++i;
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < s.size() && isWordChar(s[j]))
                ++j;
            if (depth == 0)
                words.push_back({i, j, s.mid(i, j - i).toLower()});
            i = j;
        } else {
            if (c == u',' && depth == 0 && commas)
                commas->push_back(i);
            ++i;
        }
    }
    return depth == 0;
}

// A plain table name: letters, digits and underscores.
bool isName(const QString &s)
{
    if (s.isEmpty() || s[0].isDigit())
        return false;
    return std::all_of(s.cbegin(), s.cend(), isWordChar);
}
}  // namespace

PagedQuery PagedQuery::parse(const QString &sqlIn)
{
    PagedQuery q;
    QString sql = sqlIn.trimmed();
    while (sql.endsWith(u';'))
        sql.chop(1);
    std::vector<Word> w;
    if (!topWords(sql, w) || w.empty() || w[0].lower != QLatin1String("select") || w[0].at != 0)
        return q;
    static const QStringList refused = {
        QStringLiteral("distinct"), QStringLiteral("group"),     QStringLiteral("having"),  QStringLiteral("limit"),
        QStringLiteral("union"),    QStringLiteral("intersect"), QStringLiteral("except"),  QStringLiteral("window"),
        QStringLiteral("offset"),   QStringLiteral("nulls"),     QStringLiteral("collate"), QStringLiteral("left"),
        QStringLiteral("right"),    QStringLiteral("full"),      QStringLiteral("outer"),   QStringLiteral("natural"),
        QStringLiteral("using"),    QStringLiteral("values")};
    qsizetype from = -1, where = -1, order = -1, orderEnd = -1;
    for (size_t i = 1; i < w.size(); ++i) {
        if (refused.contains(w[i].lower))
            return q;
        if (w[i].lower == QLatin1String("select"))
            return q;
        if (w[i].lower == QLatin1String("from")) {
            if (from >= 0)
                return q;
            from = qsizetype(i);
        } else if (w[i].lower == QLatin1String("where") && from >= 0 && where < 0 && order < 0) {
            where = qsizetype(i);
        } else if (w[i].lower == QLatin1String("order") && i + 1 < w.size() && w[i + 1].lower == QLatin1String("by")) {
            if (order >= 0 || from < 0)
                return q;
            order = qsizetype(i);
            orderEnd = w[i + 1].end;
        }
    }
    if (from < 0)
        return q;
    const qsizetype fromText = w[size_t(from)].end;
    const qsizetype fromStop = where >= 0 ? w[size_t(where)].at : order >= 0 ? w[size_t(order)].at : sql.size();
    q.list = sql.mid(w[0].end, w[size_t(from)].at - w[0].end).trimmed();
    q.from = sql.mid(fromText, fromStop - fromText).trimmed();
    if (where >= 0) {
        const qsizetype at = w[size_t(where)].end;
        const qsizetype stop = order >= 0 ? w[size_t(order)].at : sql.size();
        q.where = sql.mid(at, stop - at).trimmed();
        if (q.where.isEmpty())
            return q;
    }
    if (q.list.isEmpty())
        return q;

    // The tables whose rowids break ties: one table, or the two of one join.
    std::vector<Word> fw;
    if (!topWords(q.from, fw))
        return q;
    QStringList tables;
    if (fw.size() == 1 && isName(q.from)) {
        tables << q.from;
    } else {
        size_t j = 0;
        const bool inner = fw.size() > 2 && fw[1].lower == QLatin1String("inner");
        j = inner ? 2 : 1;
        if (fw.size() < j + 3 || fw[j].lower != QLatin1String("join") || fw[j + 2].lower != QLatin1String("on"))
            return q;
        const QString a = q.from.left(fw[0].end).trimmed();
        const QString b = q.from.mid(fw[j + 1].at, fw[j + 1].end - fw[j + 1].at);
        if (!isName(a) || !isName(b) || fw[0].at != 0)
            return q;
        // Nothing but the join condition may follow "on".
        for (size_t k = j + 3; k < fw.size(); ++k)
            if (fw[k].lower == QLatin1String("join") || fw[k].lower == QLatin1String("on"))
                return q;
        tables << a << b;
        q.on = q.from.mid(fw[j + 2].end).trimmed();
    }
    q.tables = tables;

    if (order >= 0) {
        const QString text = sql.mid(orderEnd);
        std::vector<Word> ow;
        std::vector<qsizetype> commas;
        if (!topWords(text, ow, &commas))
            return q;
        qsizetype start = 0;
        commas.push_back(text.size());
        for (qsizetype stop : commas) {
            QString item = text.mid(start, stop - start).trimmed();
            start = stop + 1;
            Key k;
            const QString lower = item.toLower();
            if (lower.endsWith(QLatin1String(" desc")) || lower.endsWith(QLatin1String("\tdesc"))) {
                k.desc = true;
                item.chop(4);
            } else if (lower.endsWith(QLatin1String(" asc")) || lower.endsWith(QLatin1String("\tasc"))) {
                item.chop(3);
            }
            k.expr = item.trimmed();
            bool number = false;
            k.expr.toInt(&number);
            if (k.expr.isEmpty() || number)
                return q;  // an ordinal names an output column, not a key
            q.keys.push_back(k);
        }
    }
    q.orderKeys = int(q.keys.size());
    for (const QString &t : tables)
        q.keys.push_back({t + QStringLiteral(".rowid"), false});
    q.ok = true;
    return q;
}

void PagedQuery::rowidAfterUniqueJoinKey(const std::function<bool(const QString &, const QString &)> &unique)
{
    if (!ok || tables.size() != 2)
        return;
    const QStringList sides = on.split(QLatin1Char('='));
    if (sides.size() != 2)
        return;
    for (const QString &side : sides) {
        const QString key = side.trimmed();
        const qsizetype dot = key.indexOf(QLatin1Char('.'));
        if (dot <= 0)
            continue;
        const QString table = key.left(dot);
        const QString column = key.mid(dot + 1);
        if (!tables.contains(table) || !isName(column) || !unique(table, column))
            continue;
        // The key among the statement's own, and the table's rowid after them.
        int at = -1;
        for (int i = 0; i < orderKeys; ++i)
            if (keys[size_t(i)].expr == key)
                at = i;
        const QString rowid = table + QStringLiteral(".rowid");
        int from = -1;
        for (int i = orderKeys; i < int(keys.size()); ++i)
            if (keys[size_t(i)].expr == rowid)
                from = i;
        if (at < 0 || from < 0 || from == at + 1)
            continue;
        const Key moved = keys[size_t(from)];
        keys.erase(keys.begin() + from);
        keys.insert(keys.begin() + at + 1, moved);
        return;
    }
}

QString PagedQuery::keyList(bool withDirection, const std::function<QString(int)> &name) const
{
    QStringList parts;
    for (int i = 0; i < int(keys.size()); ++i) {
        const QString e = name ? name(i) : keys[size_t(i)].expr;
        parts << (withDirection && keys[size_t(i)].desc ? e + QStringLiteral(" desc") : e);
    }
    return parts.join(QStringLiteral(", "));
}

QString PagedQuery::select(const QString &columns, const QStringList &more, const QString &order) const
{
    QStringList conds = more;
    if (!where.isEmpty())
        conds.prepend(QStringLiteral("(") + where + QStringLiteral(")"));
    QString s = QStringLiteral("select ") + columns + QStringLiteral(" from ") + from;
    if (!conds.isEmpty())
        s += QStringLiteral(" where ") + conds.join(QStringLiteral(" AND "));
    return order.isEmpty() ? s : s + QStringLiteral(" order by ") + order;
}

bool EnginePages::fail(DbFault f, const QString &why)
{
    failure_ = SqlOutcome{};
    failure_.fault = f;
    failure_.error = why;
    reportFault(f, why);
    return false;
}

QString EnginePages::shown(int col, const QString &text) const
{
    return Value(isDate_[size_t(col)] ? Value::Kind::Date : Value::Kind::Text, text).text();
}

// A listing's pages and a report's rows come from the engine in use.
std::unique_ptr<PageSource> openPageSource(const QString &sql, SqlOutcome &out) { return engine().pages(sql, out); }

std::unique_ptr<RowStream> openRowStream(const QString &sql, QString *error) { return engine().rowStream(sql, error); }

}  // namespace xs
