#include "data/pager.h"

#include "data/pg/serverdb.h"

#include "data/sqltext.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <sqlite3.h>
#include <thread>
#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace xs {

void SqlValueFree::operator()(sqlite3_value *v) const { sqlite3_value_free(v); }

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

// The key predicate "this row comes after the key bound at ?first.." as an
// expression that is never NULL, so that it can also be negated. ORDER BY puts
// NULL first when ascending and last when descending; comparisons take the
// key's own collation, as the ordering does.
QString afterKey(const std::vector<PagedQuery::Key> &keys, int first)
{
    QString expr;
    for (int i = int(keys.size()) - 1; i >= 0; --i) {
        const QString k = keys[size_t(i)].expr;
        const QString p = QStringLiteral("?%1").arg(first + i);
        QString strict;
        if (k.endsWith(QLatin1String(".rowid")))
            strict = k + QStringLiteral(">") + p;  // a rowid is never NULL
        else if (keys[size_t(i)].desc)
            strict = QStringLiteral("CASE WHEN %1 IS NULL THEN 0 ELSE (%2 IS NULL OR %2<%1) END").arg(p, k);
        else
            strict = QStringLiteral("CASE WHEN %1 IS NULL THEN %2 IS NOT NULL ELSE (%2 IS NOT NULL AND %2>%1) END")
                         .arg(p, k);
        if (expr.isEmpty())
            expr = strict;
        else
            expr = QStringLiteral("(%1) OR (%2 IS %3 AND (%4))").arg(strict, k, p, expr);
    }
    return expr;
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

static QString keyList(const std::vector<PagedQuery::Key> &keys, bool withDirection)
{
    QStringList parts;
    for (const auto &k : keys)
        parts << (withDirection && k.desc ? k.expr + QStringLiteral(" desc") : k.expr);
    return parts.join(QStringLiteral(", "));
}

QString PagedQuery::pageStatement(bool after, bool upTo, int limit) const
{
    QStringList conds;
    if (!where.isEmpty())
        conds << QStringLiteral("(") + where + QStringLiteral(")");
    const int m = int(keys.size());
    if (after)
        conds << QStringLiteral("(") + afterKey(keys, 1) + QStringLiteral(")");
    if (upTo)
        conds << QStringLiteral("NOT (") + afterKey(keys, m + 1) + QStringLiteral(")");
    QString s = QStringLiteral("select ") + list + QStringLiteral(", ") + keyList(keys, false)
                + QStringLiteral(" from ") + from;
    if (!conds.isEmpty())
        s += QStringLiteral(" where ") + conds.join(QStringLiteral(" AND "));
    s += QStringLiteral(" order by ") + keyList(keys, true) + QStringLiteral(" limit %1").arg(limit);
    return s;
}

QString PagedQuery::keyStatement(bool scan) const
{
    QString s = QStringLiteral("select ") + keyList(keys, false) + QStringLiteral(" from ");
    if (!scan)
        s += from;
    else if (tables.size() > 1)
        s += tables[0] + QStringLiteral(" NOT INDEXED CROSS JOIN ") + tables[1] + QStringLiteral(" ON ") + on;
    else
        s += tables[0] + QStringLiteral(" NOT INDEXED");
    if (!where.isEmpty())
        s += QStringLiteral(" where (") + where + QStringLiteral(")");
    return s + QStringLiteral(" order by ") + keyList(keys, true);
}

QString PagedQuery::scanStatement() const
{
    QStringList ids;
    for (const QString &t : tables)
        ids << t + QStringLiteral(".rowid");
    QString s = QStringLiteral("select ") + ids.join(QStringLiteral(", ")) + QStringLiteral(" from ") + tables[0]
                + QStringLiteral(" NOT INDEXED");
    if (tables.size() > 1)
        s += QStringLiteral(" CROSS JOIN ") + tables[1] + QStringLiteral(" ON ") + on;
    if (!where.isEmpty())
        s += QStringLiteral(" where (") + where + QStringLiteral(")");
    return s + QStringLiteral(" order by ") + keyList(keys, true);
}

QString PagedQuery::rowStatement() const
{
    QStringList conds;
    for (int i = 0; i < int(tables.size()); ++i)
        conds << tables[i] + QStringLiteral(".rowid=?%1").arg(i + 1);
    return QStringLiteral("select ") + list + QStringLiteral(" from ") + from + QStringLiteral(" where ")
           + conds.join(QStringLiteral(" AND "));
}

QString PagedQuery::countStatement() const { return QStringLiteral("select count(*) from ") + from; }

QString PagedQuery::keptCountStatement() const
{
    // The kept count when the file keeps one for the table; count(*) is then
    // never run (coalesce stops at its first value).
    return QStringLiteral("select coalesce((select n from row_counts where tbl='%1'), (select count(*) from %1))")
        .arg(from);
}

namespace {
// Interrupts a statement that does more than its budget of work: an ordered
// reading that meets too few matching rows gives way to one pass over the table.
constexpr int kStepsPerCall = 1000;
struct Budget {
    QElapsedTimer clock;
    qint64 ms;
    int minCalls;
    int calls = 0;
    qint64 paused = 0;
    Budget(qint64 budgetMs, int minSteps) : ms(budgetMs), minCalls(budgetMs > 0 ? minSteps / kStepsPerCall : 0)
    {
        clock.start();
    }
    bool spent() { return ++calls > minCalls && clock.elapsed() - paused >= ms; }
    static int check(void *self) { return static_cast<Budget *>(self)->spent() || ReadingDeadline::overdue() ? 1 : 0; }
};

// Reads of the window (a first page, a page scrolled to) in progress. The
// background passes wait while there is one, so that on a busy machine they
// never slow down what the user is waiting for.
std::atomic<int> g_foregroundReads{0};
// A read of the window is also bounded in time (a reading never runs on for
// ever, whatever the statement).
struct ForegroundRead {
    ReadingDeadline deadline;
    ForegroundRead() { ++g_foregroundReads; }
    ~ForegroundRead() { --g_foregroundReads; }
    ForegroundRead(const ForegroundRead &) = delete;
    ForegroundRead &operator=(const ForegroundRead &) = delete;
};
}  // namespace

// The background pass: its own connection and thread; what it learned.
struct Pager::Walk {
    std::mutex m;
    sqlite3 *db = nullptr;  // while the pass runs, so that it can be interrupted
    std::atomic<bool> cancelled{false};
    std::thread thread;
    bool ok = false;  // the keys of every page are in lastKeys
    int count = 0;
    std::vector<RowKey> lastKeys;
};

// Whether `column` alone is the key of a unique index of `table` (letter case
// ignored as the column's own collation does).
static bool hasUniqueIndex(const Connection &c, const QString &table, const QString &column)
{
    StmtHandle s = c.prepare(QStringLiteral("select 1 from pragma_index_list(?1) l where l.\"unique\" and "
                                            "(select count(*) from pragma_index_info(l.name)) = 1 and "
                                            "(select name from pragma_index_info(l.name)) = ?2"));
    if (!s)
        return false;
    bindText(s.get(), 1, table);
    bindText(s.get(), 2, column);
    return sqlite3_step(s.get()) == SQLITE_ROW;
}

std::unique_ptr<Pager> Pager::open(const QString &sql, SqlOutcome *outcome, int orderedBudgetMs)
{
    const ForegroundRead foreground;
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    const auto translated = translateSql(sql.trimmed());
    if (!translated) {
        out.code = SQLITE_ERROR;
        out.fault = DbFault::Other;
        out.error = QStringLiteral("语句无法解析");
        return {};
    }
    if (onServer())
        return openOnServer(sql, out, orderedBudgetMs == 0 ? 0 : orderedBudgetMs < 0 ? -1 : kServerOrderedBudgetMs);
    std::unique_ptr<Pager> p(new Pager);
    p->path_ = dbPath();
    try {
        p->conn_ = std::make_shared<Connection>(Connection::open(p->path_));
    } catch (const DbError &e) {
        out.fault = e.fault();
        out.error = e.message();
        reportFault(out.fault, out.error);
        return {};
    }
    const auto fail = [&]() -> std::unique_ptr<Pager> {
        out.code = p->conn_->lastCode() == SQLITE_OK ? SQLITE_ERROR : p->conn_->lastCode();
        out.fault = faultOf(out.code);
        out.error = p->conn_->lastError();
        reportFault(out.fault, out.error);
        return {};
    };

    p->query_ = PagedQuery::parse(*translated);
    p->query_.rowidAfterUniqueJoinKey(
        [&p](const QString &table, const QString &column) { return hasUniqueIndex(*p->conn_, table, column); });
    if (p->query_.ok) {
        StmtHandle first = p->conn_->prepare(p->query_.pageStatement(false, false, kPageRows));
        if (!first || !sqlite3_stmt_readonly(first.get())) {
            p->query_.ok = false;  // read it as it stands
        } else {
            const int n = sqlite3_column_count(first.get()) - int(p->query_.keys.size());
            for (int i = 0; i < n; ++i) {
                p->names_.push_back(QString::fromUtf8(sqlite3_column_name(first.get(), i)));
                const char *decl = sqlite3_column_decltype(first.get(), i);
                p->isDate_.push_back(decl && QByteArray(decl).compare("DATE", Qt::CaseInsensitive) == 0);
            }
            p->stmt_[0] = std::move(first);
        }
    }
    if (!p->query_.ok) {
        if (!p->readWhole(*translated))
            return fail();
        out.ok = true;
        return p;
    }
    // A condition that few rows meet makes the ordered reading visit the
    // whole archive through its indexes, row by row; past a short budget the
    // rows are found by one pass over the table instead.
    bool read;
    {
        Budget budget(orderedBudgetMs, kOrderedMinSteps);
        if (!p->query_.where.isEmpty() && orderedBudgetMs >= 0)
            sqlite3_progress_handler(p->conn_->get(), kStepsPerCall, &Budget::check, &budget);
        read = p->readPage(0);
        restoreProgressHandler(p->conn_->get());
        if (!read && p->conn_->lastCode() == SQLITE_INTERRUPT && !ReadingDeadline::overdue())
            read = p->readRowids();
    }
    if (!read)
        return fail();
    if (!p->complete_ && p->query_.where.isEmpty() && p->query_.tables.size() == 1) {
        StmtHandle c = isName(p->query_.from) ? p->conn_->prepare(p->query_.keptCountStatement()) : StmtHandle();
        if (!c)
            c = p->conn_->prepare(p->query_.countStatement());
        if (c && sqlite3_step(c.get()) == SQLITE_ROW) {
            p->total_ = std::max(sqlite3_column_int(c.get(), 0), p->knownRows());
            p->complete_ = true;
        }
    }
    // The keys of every page (and the count, when not known yet) come from
    // the background.
    if (p->knownRows() > kPageRows || !p->complete_)
        p->startWalk();
    out.ok = true;
    return p;
}

Pager::~Pager()
{
    if (walk_) {
        {
            std::lock_guard<std::mutex> lock(walk_->m);
            walk_->cancelled = true;
            if (walk_->db)
                sqlite3_interrupt(walk_->db);
        }
        if (walk_->thread.joinable())
            walk_->thread.join();
    }
}

int Pager::knownRows() const
{
    if (server_)
        return serverKnownRows();
    return complete_ ? total_ : int(lastKey_.size()) * kPageRows;
}

// A statement read whole: its rows go into pages of kPageRows, every page
// kept, and the count is known at the end.
struct Pager::WholeRows {
    explicit WholeRows(Pager &p) : pager(p) {}
    Pager &pager;
    Page page;
    int pages = 0;
    int rows = 0;
    // The cells of one row were appended to `page`.
    void rowDone()
    {
        ++rows;
        if (++page.rows == kPageRows) {
            pager.cache_.emplace_back(pages++, std::move(page));
            page = Page{};
        }
    }
    void finish()
    {
        if (page.rows > 0)
            pager.cache_.emplace_back(pages, std::move(page));
        ++pager.pagesRead_;
        pager.complete_ = true;
        pager.total_ = rows;
    }
};

// On the shared server a statement that cannot be paged is read through the
// statement runner (a server cursor read in batches) into pages, all of them.
bool Pager::readWholeFromServer(const QString &sql, SqlOutcome &out)
{
    // A reading, whatever the statement's first word: a DELETE ... RETURNING
    // given to a grid is refused, not run as the runner's action.
    RecordsetPtr rs = openQuery(sql, &out);
    if (!rs)
        return false;
    const int n = rs->fieldCount();
    for (int i = 0; i < n; ++i) {
        names_.push_back(rs->fieldName(i));
        isDate_.push_back(false);
    }
    WholeRows whole(*this);
    for (; !rs->atEOF(); rs->MoveNext()) {
        for (int i = 0; i < n; ++i)
            whole.page.cells.push_back(rs->text(i));
        whole.rowDone();
    }
    if (rs->lastFault() != DbFault::None) {
        out.ok = false;
        out.fault = rs->lastFault();
        out.error = rs->lastError();
        return false;
    }
    whole.finish();
    return true;
}

bool Pager::readWhole(const QString &sql)
{
    StmtHandle s = conn_->prepare(sql);
    if (!s || !sqlite3_stmt_readonly(s.get()))
        return false;
    const int n = sqlite3_column_count(s.get());
    for (int i = 0; i < n; ++i) {
        names_.push_back(QString::fromUtf8(sqlite3_column_name(s.get(), i)));
        const char *decl = sqlite3_column_decltype(s.get(), i);
        isDate_.push_back(decl && QByteArray(decl).compare("DATE", Qt::CaseInsensitive) == 0);
    }
    WholeRows whole(*this);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i) {
            if (sqlite3_column_type(s.get(), i) == SQLITE_NULL)
                whole.page.cells.emplace_back();
            else
                whole.page.cells.push_back(
                    Value(isDate_[size_t(i)] ? Value::Kind::Date : Value::Kind::Text, columnText(s.get(), i)).text());
        }
        whole.rowDone();
    }
    if (rc != SQLITE_DONE)
        return false;
    whole.finish();
    return true;
}

bool Pager::readRowids()
{
    StmtHandle s = conn_->prepare(query_.scanStatement());
    if (!s)
        return false;
    const int n = int(query_.tables.size());
    std::vector<qint64> ids;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        for (int i = 0; i < n; ++i)
            ids.push_back(sqlite3_column_int64(s.get(), i));
    s.reset();
    if (rc != SQLITE_DONE) {
        reportFault(faultOf(conn_->lastCode()), conn_->lastError());
        return false;
    }
    ids.shrink_to_fit();
    ids_ = std::move(ids);
    stride_ = n;
    complete_ = true;
    total_ = int(ids_.size() / size_t(n));
    cache_.clear();
    return readPageByRowids(0);
}

// A page by rowids: each row looked up by its rowids, all in one short read
// transaction. A row deleted since the pass shows empty.
bool Pager::readPageByRowids(int k)
{
    const ForegroundRead foreground;
    if (!rowStmt_ && !(rowStmt_ = conn_->prepare(query_.rowStatement())))
        return false;
    const int n = columnCount();
    Page page;
    const int first = k * kPageRows;
    const int last = std::min(total_, first + kPageRows);
    page.rows = std::max(last - first, 0);
    page.cells.resize(size_t(page.rows) * size_t(n));
    conn_->exec("BEGIN");
    for (int r = first; r < last; ++r) {
        sqlite3_stmt *s = rowStmt_.get();
        for (int i = 0; i < stride_; ++i)
            sqlite3_bind_int64(s, i + 1, ids_[size_t(r) * size_t(stride_) + size_t(i)]);
        if (sqlite3_step(s) == SQLITE_ROW) {
            for (int i = 0; i < n; ++i)
                if (sqlite3_column_type(s, i) != SQLITE_NULL)
                    page.cells[size_t(r - first) * size_t(n) + size_t(i)] =
                        Value(isDate_[size_t(i)] ? Value::Kind::Date : Value::Kind::Text, columnText(s, i)).text();
        }
        sqlite3_reset(s);
    }
    conn_->exec("COMMIT");
    ++pagesRead_;
    cache_.emplace_front(k, std::move(page));
    while (int(cache_.size()) > kCachedPages) {
        auto victim = std::prev(cache_.end());
        if (victim->first == pinnedPage_ && cache_.size() > 1)
            victim = std::prev(victim);
        cache_.erase(victim);
    }
    return true;
}

bool Pager::readPage(int k, int skip)
{
    if (server_)
        return readServerPage(k, nullptr, -1, nullptr, skip);
    if (stride_ > 0)
        return readPageByRowids(k);
    const ForegroundRead foreground;
    const int known = int(lastKey_.size());
    if (skip > 0 ? k <= known : k > known)
        return false;
    const int from = skip > 0 ? known : k;  // the keys bound are those before page `from`
    const bool after = from > 0;
    const bool upTo = skip == 0 && k < known;
    const int variant = (after ? 1 : 0) | (upTo ? 2 : 0);
    // A far page skips the rows before it: a statement of its own, used once.
    StmtHandle once;
    if (skip > 0)
        once = conn_->prepare(query_.pageStatement(after, false, kPageRows) + QStringLiteral(" offset %1").arg(skip));
    StmtHandle &s = skip > 0 ? once : stmt_[variant];
    if (!s && !(s = conn_->prepare(query_.pageStatement(after, upTo, kPageRows))))
        return false;
    const int m = int(query_.keys.size());
    if (after)
        for (int i = 0; i < m; ++i)
            sqlite3_bind_value(s.get(), i + 1, lastKey_[size_t(from - 1)][size_t(i)].get());
    if (upTo)
        for (int i = 0; i < m; ++i)
            sqlite3_bind_value(s.get(), m + i + 1, lastKey_[size_t(k)][size_t(i)].get());
    const int n = columnCount();
    Page page;
    page.cells.reserve(size_t(kPageRows) * size_t(n));
    RowKey last;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i) {
            if (sqlite3_column_type(s.get(), i) == SQLITE_NULL)
                page.cells.emplace_back();
            else
                page.cells.push_back(
                    Value(isDate_[size_t(i)] ? Value::Kind::Date : Value::Kind::Text, columnText(s.get(), i)).text());
        }
        ++page.rows;
        if (page.rows == kPageRows && !upTo && skip == 0) {
            last.clear();
            for (int i = 0; i < m; ++i)
                last.emplace_back(sqlite3_value_dup(sqlite3_column_value(s.get(), n + i)));
        }
    }
    // Reset at once: the page's read transaction ends here.
    sqlite3_reset(s.get());
    sqlite3_clear_bindings(s.get());
    ++pagesRead_;
    if (rc != SQLITE_DONE) {
        const int code = conn_->lastCode();
        if (code != SQLITE_INTERRUPT || ReadingDeadline::overdue())
            reportFault(faultOf(code), conn_->lastError());
        return false;
    }
    if (!upTo && skip == 0) {
        if (page.rows == kPageRows) {
            lastKey_.push_back(std::move(last));
            if (complete_ && total_ < (k + 1) * kPageRows)
                total_ = (k + 1) * kPageRows;  // rows added after the count
        } else if (!complete_) {
            complete_ = true;
            total_ = k * kPageRows + page.rows;
        }
    }
    page.cells.shrink_to_fit();
    cache_.emplace_front(k, std::move(page));
    while (int(cache_.size()) > kCachedPages) {
        auto victim = std::prev(cache_.end());
        if (victim->first == pinnedPage_ && cache_.size() > 1)
            victim = std::prev(victim);
        cache_.erase(victim);
    }
    return true;
}

const Pager::Page *Pager::page(int k, int skip)
{
    for (auto it = cache_.begin(); it != cache_.end(); ++it)
        if (it->first == k) {
            if (query_.ok)
                cache_.splice(cache_.begin(), cache_, it);
            return &it->second;
        }
    if (!query_.ok)
        return nullptr;
    if (!readPage(k, skip))
        return nullptr;
    return &cache_.front().second;
}

bool Pager::fetchMore()
{
    if (server_)
        return serverFetchMore();
    if (complete_)
        return false;
    const int before = knownRows();
    const bool read = readPage(int(lastKey_.size()));
    if (knownRows() != before || complete_)
        emit rowsChanged();
    return read && (knownRows() != before || !complete_);
}

QString Pager::cell(int row, int c)
{
    if (server_)
        return serverCell(row, c);
    if (row < 0 || c < 0 || c >= columnCount())
        return {};
    const int k = row / kPageRows;
    if (stride_ > 0 && row >= total_)
        return {};
    int skip = 0;
    if (query_.ok && stride_ == 0 && k > int(lastKey_.size()) + 1 && walk_) {
        // A page far beyond the keys known while the background pass still
        // runs (a scroll bar dragged over a table whose count is known at
        // once): that one page is read by skipping the rows before it, one
        // pass over them in the engine and no reading of the pages between.
        skip = (k - int(lastKey_.size())) * kPageRows;
    }
    // Otherwise the keys of the pages before it are read first, when the
    // background pass has not brought them. (A statement read whole has every
    // page in the cache already.)
    while (query_.ok && skip == 0 && stride_ == 0 && k > int(lastKey_.size())) {
        const size_t had = lastKey_.size();
        const int before = knownRows();
        if (!readPage(int(had)) || lastKey_.size() == had)
            break;
        if (knownRows() != before)
            emit rowsChanged();
    }
    if (query_.ok && skip == 0 && stride_ == 0 && k > int(lastKey_.size()))
        return {};
    const Page *p = page(k, skip);
    const int i = row % kPageRows;
    if (!p || i >= p->rows)
        return {};
    return p->cells[size_t(i) * size_t(columnCount()) + size_t(c)];
}

void Pager::pin(int row)
{
    pinnedPage_ = row < 0 ? -1 : row / kPageRows;
    // Read now if it is not cached: the record pinned is the one at that row
    // the moment it became current.
    if (pinnedPage_ >= 0)
        cell(row, 0);
}

void Pager::startWalk()
{
    walk_ = std::make_shared<Walk>();
    std::shared_ptr<Walk> w = walk_;
    const QString path = path_;
    const PagedQuery q = query_;
    const int m = int(query_.keys.size());
    w->thread = std::thread([w, path, q, m, self = this] {
        const auto post = [self] {
            QMetaObject::invokeMethod(
                self, [self] { self->takeWalk(); }, Qt::QueuedConnection);
        };
#if defined(__linux__)
        // The pass yields to the window's own reading on a busy machine.
        setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
#endif
        try {
            Connection c = Connection::open(path);
            {
                std::lock_guard<std::mutex> lock(w->m);
                if (w->cancelled)
                    return;
                w->db = c.get();
            }
            // The keys in order: through the indexes while that is quick, else
            // by one pass over the first table and a sort.
            int rc = SQLITE_ERROR;
            // The pass reads the whole listing: the bound of a background reading.
            const ReadingDeadline deadline(backgroundReadingTimeoutMs());
            for (const bool scan : {false, true}) {
                if (scan && rc != SQLITE_INTERRUPT)
                    break;
                // The ordered reading has a budget (ten times the first
                // page's); both wait while the window reads.
                struct Gate {
                    Budget budget;
                    bool limited;
                    Walk *w;
                    static int check(void *self)
                    {
                        auto *g = static_cast<Gate *>(self);
                        if (g_foregroundReads.load() > 0) {
                            QElapsedTimer waited;
                            waited.start();
                            while (g_foregroundReads.load() > 0 && !g->w->cancelled.load())
                                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            g->budget.paused += waited.elapsed();
                        }
                        return (g->limited && g->budget.spent()) || ReadingDeadline::overdue() ? 1 : 0;
                    }
                } gate{Budget(10 * qint64(kOrderedBudgetMs), 10 * kOrderedMinSteps), !scan && !q.where.isEmpty(),
                       w.get()};
                sqlite3_progress_handler(c.get(), kStepsPerCall, &Gate::check, &gate);
                StmtHandle s = c.prepare(q.keyStatement(scan));
                if (!s)
                    break;
                int count = 0;
                std::vector<RowKey> keys;
                while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
                    if (++count % kPageRows == 0) {
                        RowKey key;
                        for (int i = 0; i < m; ++i)
                            key.emplace_back(sqlite3_value_dup(sqlite3_column_value(s.get(), i)));
                        keys.push_back(std::move(key));
                    }
                }
                restoreProgressHandler(c.get());
                if (rc == SQLITE_DONE) {
                    w->count = count;
                    w->lastKeys = std::move(keys);
                }
                std::lock_guard<std::mutex> lock(w->m);
                if (w->cancelled)
                    break;
            }
            std::lock_guard<std::mutex> lock(w->m);
            w->db = nullptr;
            w->ok = rc == SQLITE_DONE && !w->cancelled;
            if (w->cancelled)
                return;
        } catch (const DbError &) {
            // The pages are then counted as they are read.
        }
        post();
    });
}

void Pager::takeWalk()
{
    if (!walk_)
        return;
    std::shared_ptr<Walk> w = std::move(walk_);
    if (w->thread.joinable())
        w->thread.join();
    if (!w->ok)
        return;
    for (size_t k = lastKey_.size(); k < w->lastKeys.size(); ++k)
        lastKey_.push_back(std::move(w->lastKeys[k]));
    if (!complete_) {
        total_ = std::max(w->count, int(lastKey_.size()) * kPageRows);
        complete_ = true;
        emit rowsChanged();
    }
}

void Pager::waitForCount()
{
    if (server_)
        return serverWaitForCount();
    if (complete_)
        return;
    if (walk_) {
        // The whole pass, so that the keys come with the count.
        if (walk_->thread.joinable())
            walk_->thread.join();
        takeWalk();
    }
    while (!complete_ && fetchMore()) {
    }
}

namespace {
struct Prefetched {
    QString sql;
    std::unique_ptr<Pager> pager;
};
Prefetched &prefetched()
{
    static Prefetched p;
    return p;
}
}  // namespace

void PrefetchedListing::put(const QString &sql, std::unique_ptr<Pager> pager)
{
    prefetched().sql = sql;
    prefetched().pager = std::move(pager);
}

std::unique_ptr<Pager> PrefetchedListing::take(const QString &sql)
{
    Prefetched &p = prefetched();
    if (!p.pager || p.sql != sql)
        return {};
    p.sql.clear();
    return std::move(p.pager);
}

void PrefetchedListing::drop()
{
    prefetched().pager.reset();
    prefetched().sql.clear();
}

}  // namespace xs
