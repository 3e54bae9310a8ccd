#include "data/sqlite/sqlitepages.h"

#include "data/sqlite/sqlite.h"
#include "data/sqltext.h"

#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <limits>
#include <mutex>
#include <sqlite3.h>
#include <thread>

namespace xs {

namespace {

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

QString SqliteQuery::pageStatement(bool after, bool upTo, int limit) const
{
    QStringList conds;
    if (after)
        conds << QStringLiteral("(") + afterKey(keys, 1) + QStringLiteral(")");
    if (upTo)
        conds << QStringLiteral("NOT (") + afterKey(keys, int(keys.size()) + 1) + QStringLiteral(")");
    return select(list + QStringLiteral(", ") + keyList(false), conds, keyList(true))
           + QStringLiteral(" limit %1").arg(limit);
}

QString SqliteQuery::keyStatement(bool scan) const
{
    return scan ? scanStatement(keyList(false)) : select(keyList(false), {}, keyList(true));
}

QString SqliteQuery::scanStatement(const QString &columns) const
{
    QStringList ids;
    for (const QString &t : tables)
        ids << t + QStringLiteral(".rowid");
    QString s = QStringLiteral("select ") + (columns.isEmpty() ? ids.join(QStringLiteral(", ")) : columns)
                + QStringLiteral(" from ") + tables[0] + QStringLiteral(" NOT INDEXED");
    if (tables.size() > 1)
        s += QStringLiteral(" CROSS JOIN ") + tables[1] + QStringLiteral(" ON ") + on;
    if (!where.isEmpty())
        s += QStringLiteral(" where (") + where + QStringLiteral(")");
    return s + QStringLiteral(" order by ") + keyList(true);
}

QString SqliteQuery::rowStatement() const
{
    QStringList conds;
    for (int i = 0; i < int(tables.size()); ++i)
        conds << tables[i] + QStringLiteral(".rowid=?%1").arg(i + 1);
    return QStringLiteral("select ") + list + QStringLiteral(" from ") + from + QStringLiteral(" where ")
           + conds.join(QStringLiteral(" AND "));
}

QString SqliteQuery::countStatement() const { return QStringLiteral("select count(*) from ") + from; }

QString SqliteQuery::keptCountStatement() const
{
    // The kept count when the file keeps one for the table; count(*) is then
    // never run (coalesce stops at its first value).
    return QStringLiteral("select coalesce((select n from row_counts where tbl='%1'), (select count(*) from %1))")
        .arg(from);
}

namespace {

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

// Interrupts a statement that does more than its budget of work: an ordered
// reading that meets too few matching rows gives way to one pass over the table.
constexpr int kStepsPerCall = 1000;
struct Budget {
    QElapsedTimer clock;
    qint64 ms;
    int minCalls;
    int calls = 0;
    qint64 paused = 0;
    // A background pass's: it waits while the window reads (the wait is not
    // spent) unless it is cancelled.
    const std::atomic<bool> *cancelled = nullptr;
    Budget(qint64 budgetMs, int minSteps) : ms(budgetMs), minCalls(budgetMs > 0 ? minSteps / kStepsPerCall : 0)
    {
        clock.start();
    }
    bool spent() { return ++calls > minCalls && clock.elapsed() - paused >= ms; }
    static int check(void *self)
    {
        auto *b = static_cast<Budget *>(self);
        if (b->cancelled && g_foregroundReads.load() > 0) {
            QElapsedTimer waited;
            waited.start();
            while (g_foregroundReads.load() > 0 && !b->cancelled->load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            b->paused += waited.elapsed();
        }
        return b->spent() || ReadingDeadline::overdue() ? 1 : 0;
    }
};

struct SqlValueFree {
    void operator()(sqlite3_value *v) const { sqlite3_value_free(v); }
};
// A row's key: copies of its values as the engine compares them.
struct SqliteKey : PageKey {
    std::vector<std::unique_ptr<sqlite3_value, SqlValueFree>> values;
    // The key columns [first, first + m) of the statement's current row.
    SqliteKey(sqlite3_stmt *s, int first, int m)
    {
        for (int i = 0; i < m; ++i)
            values.emplace_back(sqlite3_value_dup(sqlite3_column_value(s, first + i)));
    }
    void bind(sqlite3_stmt *s, int first) const
    {
        for (size_t i = 0; i < values.size(); ++i)
            sqlite3_bind_value(s, first + int(i), values[i].get());
    }
};

// Whether `column` alone is the key of a unique index of `table` (letter case
// ignored as the column's own collation does).
bool hasUniqueIndex(const Connection &c, const QString &table, const QString &column)
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

bool isDateColumn(sqlite3_stmt *s, int i)
{
    const char *decl = sqlite3_column_decltype(s, i);
    return decl && QByteArray(decl).compare("DATE", Qt::CaseInsensitive) == 0;
}

// The background pass on a connection of its own: the keys in order, through
// the indexes while that is quick, else by one pass over the first table and
// a sort. It waits while the window reads.
class SqliteKeyPass final : public KeyPass {
public:
    SqliteKeyPass(QString path, SqliteQuery q) : path_(std::move(path)), q_(std::move(q)) {}
    bool run(const std::function<void(int)> & /*early*/) override
    {
        try {
            Connection c = Connection::open(path_);
            {
                std::lock_guard<std::mutex> lock(m_);
                if (cancelled_)
                    return false;
                db_ = c.get();
            }
            const bool ok = walk(c);
            std::lock_guard<std::mutex> lock(m_);
            db_ = nullptr;
            return ok && !cancelled_;
        } catch (const DbError &) {
            return false;  // the pages are then counted as they are read
        }
    }
    void cancel() override
    {
        std::lock_guard<std::mutex> lock(m_);
        cancelled_ = true;
        if (db_)
            sqlite3_interrupt(db_);
    }
    bool endsAtOnce() const override { return true; }

private:
    bool walk(const Connection &c)
    {
        const int m = int(q_.keys.size());
        int rc = SQLITE_ERROR;
        // The pass reads the whole listing: the bound of a background reading.
        const ReadingDeadline deadline(backgroundReadingTimeoutMs());
        for (const bool scan : {false, true}) {
            if (scan && rc != SQLITE_INTERRUPT)
                break;
            // The ordered reading has a budget (ten times the first page's);
            // both wait while the window reads.
            Budget budget(!scan && !q_.where.isEmpty() ? 10 * qint64(kOrderedBudgetMs)
                                                       : std::numeric_limits<qint64>::max(),
                          10 * kOrderedMinSteps);
            budget.cancelled = &cancelled_;
            sqlite3_progress_handler(c.get(), kStepsPerCall, &Budget::check, &budget);
            StmtHandle s = c.prepare(q_.keyStatement(scan));
            if (!s)
                break;
            int n = 0;
            std::vector<KeyPtr> found;
            while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
                if (++n % kPageRows == 0)
                    found.push_back(std::make_unique<SqliteKey>(s.get(), 0, m));
            restoreProgressHandler(c.get());
            if (rc == SQLITE_DONE) {
                count = n;
                keys = std::move(found);
            }
            if (cancelled_)
                break;
        }
        return rc == SQLITE_DONE;
    }

    QString path_;
    SqliteQuery q_;
    std::mutex m_;
    std::atomic<bool> cancelled_{false};
    sqlite3 *db_ = nullptr;  // while the pass runs, so that it can be interrupted
};

class SqlitePageSource final : public EnginePages {
public:
    SqliteQuery sq{PagedQuery{}};
    QString path;
    std::shared_ptr<Connection> conn;
    StmtHandle stmt[4];  // by (after ? 1 : 0) | (upTo ? 2 : 0)
    // The rows of a rare condition: their rowids in order, one per table.
    std::vector<qint64> ids;
    StmtHandle rowStmt;

    void addColumn(sqlite3_stmt *s, int i)
    {
        EnginePages::addColumn(QString::fromUtf8(sqlite3_column_name(s, i)), isDateColumn(s, i));
    }

    bool page(const PageKey *after, const PageKey *upTo, PageRows &out, int budgetMs, bool *timedOut) override
    {
        Budget budget(budgetMs, kOrderedMinSteps);
        if (budgetMs > 0)
            sqlite3_progress_handler(conn->get(), kStepsPerCall, &Budget::check, &budget);
        const int variant = (after ? 1 : 0) | (upTo ? 2 : 0);
        const bool read = run(
            stmt[variant], [&] { return sq.pageStatement(after, upTo, kPageRows); }, after, upTo, !upTo, out,
            budgetMs > 0 ? timedOut : nullptr);
        if (budgetMs > 0)
            restoreProgressHandler(conn->get());
        return read;
    }

    bool pageAt(int place, const PageKey *known, int knownRows, PageRows &out) override
    {
        // A statement of its own, used once: the rows after the key known,
        // skipping those before the page in one pass in the engine.
        StmtHandle once;
        return run(
            once,
            [&] {
                return sq.pageStatement(known != nullptr, false, kPageRows)
                       + QStringLiteral(" offset %1").arg(place - knownRows);
            },
            known, nullptr, false, out, nullptr);
    }

    int findRows() override
    {
        const ForegroundRead foreground;
        StmtHandle s = conn->prepare(sq.scanStatement());
        if (!s)
            return failed(), -1;
        const int t = int(sq.tables.size());
        std::vector<qint64> found;
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            for (int i = 0; i < t; ++i)
                found.push_back(sqlite3_column_int64(s.get(), i));
        s.reset();
        if (rc != SQLITE_DONE)
            return failed(), -1;
        found.shrink_to_fit();
        ids = std::move(found);
        return int(ids.size() / size_t(t));
    }

    // Each row looked up by its rowids, all in one short read transaction.
    bool foundRows(int first, int rows, PageRows &out) override
    {
        const ForegroundRead foreground;
        if (!rowStmt && !(rowStmt = conn->prepare(sq.rowStatement())))
            return failed();
        sqlite3_stmt *s = rowStmt.get();
        const int t = int(sq.tables.size());
        out = PageRows{};
        out.rows = rows;
        conn->exec("BEGIN");
        for (int r = 0; r < rows; ++r) {
            for (int i = 0; i < t; ++i)
                sqlite3_bind_int64(s, i + 1, ids[size_t(first + r) * size_t(t) + size_t(i)]);
            const bool found = sqlite3_step(s) == SQLITE_ROW;
            addRow(
                out.cells, [&](int i) { return !found || sqlite3_column_type(s, i) == SQLITE_NULL; },
                [&](int i) { return columnText(s, i); });
            sqlite3_reset(s);
        }
        conn->exec("COMMIT");
        return true;
    }

    std::optional<int> quickCount() override
    {
        const ForegroundRead foreground;
        StmtHandle c = conn->prepare(sq.keptCountStatement());
        if (!c)
            c = conn->prepare(sq.countStatement());
        if (c && sqlite3_step(c.get()) == SQLITE_ROW)
            return sqlite3_column_int(c.get(), 0);
        return std::nullopt;
    }

    std::unique_ptr<KeyPass> keyPass() override { return std::make_unique<SqliteKeyPass>(path, sq); }

    bool readWhole(const std::function<void(std::vector<QString> &)> &take) override
    {
        const ForegroundRead foreground;
        StmtHandle s = conn->prepare(whole_);
        if (!s || !sqlite3_stmt_readonly(s.get()))
            return failed();
        const int n = sqlite3_column_count(s.get());
        for (int i = 0; i < n; ++i)
            addColumn(s.get(), i);
        std::vector<QString> row;
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            row.clear();
            addRow(
                row, [&](int i) { return sqlite3_column_type(s.get(), i) == SQLITE_NULL; },
                [&](int i) { return columnText(s.get(), i); });
            take(row);
        }
        return rc == SQLITE_DONE || failed();
    }

    // The failure the connection last met, told to the listener.
    bool failed()
    {
        return fail(faultOf(conn->lastCode() == SQLITE_OK ? SQLITE_ERROR : conn->lastCode()), conn->lastError());
    }

    void setWhole(const QString &sql, PagedQuery q)
    {
        whole_ = sql;
        q_ = std::move(q);
    }

private:
    // Runs a page statement (prepared into `s` by `sql` when it is not yet)
    // to its end: its read transaction ends with it.
    template <typename Sql>
    bool run(StmtHandle &s, const Sql &sql, const PageKey *after, const PageKey *upTo, bool wantLast, PageRows &out,
             bool *timedOut)
    {
        const ForegroundRead foreground;
        if (!s && !(s = conn->prepare(sql())))
            return failed();
        const int m = int(sq.keys.size());
        if (after)
            static_cast<const SqliteKey *>(after)->bind(s.get(), 1);
        if (upTo)
            static_cast<const SqliteKey *>(upTo)->bind(s.get(), m + 1);
        const int n = int(names_.size());
        out = PageRows{};
        out.cells.reserve(size_t(kPageRows) * size_t(n));
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            addRow(
                out.cells, [&](int i) { return sqlite3_column_type(s.get(), i) == SQLITE_NULL; },
                [&](int i) { return columnText(s.get(), i); });
            if (++out.rows == kPageRows && wantLast)
                out.last = std::make_unique<SqliteKey>(s.get(), n, m);
        }
        // Reset at once: the page's read transaction ends here.
        sqlite3_reset(s.get());
        sqlite3_clear_bindings(s.get());
        if (rc != SQLITE_DONE) {
            if (rc == SQLITE_INTERRUPT && timedOut && !ReadingDeadline::overdue())
                *timedOut = true;  // the budget is spent
            else
                failed();
            return false;
        }
        out.cells.shrink_to_fit();
        return true;
    }
};

}  // namespace

std::unique_ptr<PageSource> openSqlitePages(const QString &path, const QString &sql, SqlOutcome &out)
{
    const auto translated = translateSql(sql.trimmed());
    if (!translated) {
        out.fault = DbFault::Other;
        out.error = QStringLiteral("语句无法解析");
        return {};
    }
    auto p = std::make_unique<SqlitePageSource>();
    p->path = path;
    try {
        p->conn = std::make_shared<Connection>(Connection::open(p->path));
    } catch (const DbError &e) {
        out.fault = e.fault();
        out.error = e.message();
        reportFault(out.fault, out.error);
        return {};
    }
    PagedQuery q = PagedQuery::parse(*translated);
    q.rowidAfterUniqueJoinKey(
        [&p](const QString &table, const QString &column) { return hasUniqueIndex(*p->conn, table, column); });
    p->sq = SqliteQuery(q);
    if (q.ok) {
        StmtHandle first = p->conn->prepare(p->sq.pageStatement(false, false, kPageRows));
        if (!first || !sqlite3_stmt_readonly(first.get())) {
            q.ok = false;  // read it as it stands
        } else {
            const int n = sqlite3_column_count(first.get()) - int(q.keys.size());
            for (int i = 0; i < n; ++i)
                p->addColumn(first.get(), i);
            p->stmt[0] = std::move(first);
        }
    }
    p->setWhole(q.ok ? QString() : *translated, std::move(q));
    return p;
}

namespace {

// A report's rows from the file: one statement in one read transaction.
class SqliteRows final : public RowStream {
public:
    std::optional<Connection> conn;
    StmtHandle stmt;  // declared after conn: finalized before the connection closes
    std::atomic<bool> reading{false};

    ~SqliteRows() override { end(); }
    int columns() const override { return sqlite3_column_count(stmt.get()); }
    QString name(int i) const override { return QString::fromUtf8(sqlite3_column_name(stmt.get(), i)); }
    bool isDate(int i) const override { return isDateColumn(stmt.get(), i); }
    Step next() override
    {
        // Each row is bounded in time (a sort before the first one included).
        const ReadingDeadline deadline;
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_ROW)
            return Row;
        if (rc == SQLITE_DONE)
            return Done;
        fault_ = faultOf(conn->lastCode());
        error_ = conn->lastError();
        return Failed;
    }
    bool isNull(int i) const override { return sqlite3_column_type(stmt.get(), i) == SQLITE_NULL; }
    QByteArray utf8(int i) const override
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt.get(), i));
        return p ? QByteArray(p, sqlite3_column_bytes(stmt.get(), i)) : QByteArray("");
    }
    void interrupt() override { sqlite3_interrupt(conn->get()); }
    bool inTransaction() const override { return reading.load(); }
    void end() override
    {
        stmt.reset();
        if (conn && reading.exchange(false))
            conn->exec("ROLLBACK");
    }
};

}  // namespace

std::unique_ptr<RowStream> openSqliteRows(const QString &dbFile, const QString &sql, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<RowStream>();
    };
    const auto translated = translateSql(sql.trimmed());
    if (!translated)
        return fail(QStringLiteral("语句无法解析"));
    auto rows = std::make_unique<SqliteRows>();
    // A file that cannot be read is told as such (never an empty report that
    // looks like "no records"); a statement the engine refuses only prints nothing.
    try {
        rows->conn.emplace(Connection::open(dbFile));
    } catch (const DbError &e) {
        reportFault(e.fault(), e.message());
        return fail(e.message());
    }
    auto failConn = [&] {
        const QString why = rows->conn->lastError();
        reportFault(faultOf(rows->conn->lastCode()), why);
        return fail(why);
    };
    // One read transaction for the pass: every row comes from the same state.
    if (!rows->conn->exec("BEGIN"))
        return failConn();
    rows->reading = true;
    rows->stmt = rows->conn->prepare(*translated);
    if (!rows->stmt)
        return failConn();
    if (!sqlite3_stmt_readonly(rows->stmt.get()) || sqlite3_column_count(rows->stmt.get()) == 0)
        return fail(QStringLiteral("不是查询语句"));
    return rows;
}

}  // namespace xs
