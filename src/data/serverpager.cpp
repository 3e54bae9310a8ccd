#include "data/serverpager.h"

#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/pgschema.h"

#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace xs {

namespace {

QString alias(int i) { return QStringLiteral("xs_k%1").arg(i + 1); }

bool isCtid(const QString &expr) { return expr.endsWith(QLatin1String(".ctid")); }

// Parameters of one statement, numbered in the order they are added.
struct PageParams {
    QList<std::optional<QString>> list;
    QString add(const QString &v)
    {
        list << v;
        return QStringLiteral("$%1").arg(list.size());
    }
};

QString orderList(const std::vector<PagedQuery::Key> &keys, bool aliases)
{
    QStringList parts;
    for (int i = 0; i < int(keys.size()); ++i) {
        const QString e = aliases ? alias(i) : keys[size_t(i)].expr;
        parts << (keys[size_t(i)].desc ? e + QStringLiteral(" desc") : e);
    }
    return parts.join(QStringLiteral(", "));
}

// "The row comes after key v" in pieces, in key order: the rows that share
// the longest prefix of the key come first. Each piece fixes keys 0..i-1 and
// bounds key i, so that it is a range of an index on those keys.
QStringList afterPieces(const std::vector<PagedQuery::Key> &keys, const ServerPages::Key &v, PageParams &p)
{
    const int m = int(keys.size());
    std::vector<QString> ph(static_cast<size_t>(m));
    for (int i = 0; i < m; ++i)
        if (v[size_t(i)])
            ph[size_t(i)] = p.add(*v[size_t(i)]);
    const auto equal = [&](int i) {
        const QString &k = keys[size_t(i)].expr;
        return v[size_t(i)] ? k + QStringLiteral("=") + ph[size_t(i)] : k + QStringLiteral(" IS NULL");
    };
    QStringList pieces;
    for (int i = m - 1; i >= 0; --i) {
        QString prefix;
        for (int j = 0; j < i; ++j)
            prefix += equal(j) + QStringLiteral(" AND ");
        const QString &k = keys[size_t(i)].expr;
        if (keys[size_t(i)].desc) {
            // Descending: NULL first, then the values from the largest down.
            pieces << prefix
                          + (v[size_t(i)] ? k + QStringLiteral("<") + ph[size_t(i)]
                                          : k + QStringLiteral(" IS NOT NULL"));
        } else if (v[size_t(i)]) {
            // Ascending: the larger values, then NULL (a ctid is never NULL).
            pieces << prefix + k + QStringLiteral(">") + ph[size_t(i)];
            if (!isCtid(k))
                pieces << prefix + k + QStringLiteral(" IS NULL");
        }
        // Nothing comes after NULL ascending.
    }
    return pieces;
}

// The same "after v" as one expression over the key columns of a page
// (never NULL, so that it can be negated); for the few rows of a page only.
QString exactAfter(const std::vector<PagedQuery::Key> &keys, const ServerPages::Key &v, PageParams &p)
{
    QString expr;
    for (int i = int(keys.size()) - 1; i >= 0; --i) {
        const QString a = alias(i);
        const QString ph = v[size_t(i)] ? p.add(*v[size_t(i)]) : QString();
        QString strict;
        if (keys[size_t(i)].desc)
            strict =
                v[size_t(i)] ? QStringLiteral("coalesce(%1<%2,false)").arg(a, ph) : a + QStringLiteral(" IS NOT NULL");
        else
            strict = v[size_t(i)] ? QStringLiteral("(%1 IS NULL OR %1>%2)").arg(a, ph) : QStringLiteral("false");
        const QString equal =
            v[size_t(i)] ? QStringLiteral("coalesce(%1=%2,false)").arg(a, ph) : a + QStringLiteral(" IS NULL");
        expr = expr.isEmpty() ? strict : QStringLiteral("(%1) OR (%2 AND (%3))").arg(strict, equal, expr);
    }
    return expr;
}

ServerPages::Key keyAt(const PgResult &r, int row, int first, int m)
{
    ServerPages::Key key;
    key.reserve(size_t(m));
    for (int i = 0; i < m; ++i)
        key.push_back(r.isNull(row, first + i) ? std::nullopt : std::optional<QString>(r.text(row, first + i)));
    return key;
}

}  // namespace

// More rows than this are not a rare condition: they are read in key order
// (a page of them is found quickly).
constexpr int kMaxCtidRows = 20'000;
// How long the ordered reading of a condition runs alone before the pass
// that finds the condition's rows starts beside it.
constexpr int kPassDelayMs = 50;
// The background pass over a listing's keys starts this long after the
// listing's first page: a window closed or replaced sooner (a prescription
// stored, the next node clicked) never pays for it, and the pass does not
// take a processor from the window while it is being built. A page far
// beyond the keys read meanwhile is read by its place (keyAtPlace).
constexpr int kWalkDelayMs = 300;

ServerPages::ServerPages(const QString &serverSql) : q_(PagedQuery::parse(serverSql))
{
    if (!q_.ok)
        return;
    for (PagedQuery::Key &k : q_.keys)
        if (k.expr.endsWith(QLatin1String(".rowid"))) {
            k.expr.chop(6);
            k.expr += QStringLiteral(".ctid");
        }
    physical_ = q_.orderKeys == 0 && q_.tables.size() == 1;
}

ServerPages::Statement ServerPages::page(const Key *after, const Key *upTo, int limit) const
{
    PageParams p;
    QStringList pieces;
    if (after)
        pieces = afterPieces(q_.keys, *after, p);
    else
        // A ctid range makes the server read the table from its start in
        // ctid order (a plain scan may start where another scan is).
        pieces << (physical_ ? q_.tables[0] + QStringLiteral(".ctid>'(0,0)'") : QString());
    QStringList keyCols;
    for (int i = 0; i < int(q_.keys.size()); ++i)
        keyCols << q_.keys[size_t(i)].expr + QStringLiteral(" as ") + alias(i);
    QStringList parts;
    for (int i = 0; i < int(pieces.size()); ++i) {
        QStringList conds;
        if (!q_.where.isEmpty())
            conds << QStringLiteral("(") + q_.where + QStringLiteral(")");
        if (!pieces[i].isEmpty())
            conds << pieces[i];
        QString s = QStringLiteral("(select %1 as xs_seg, ").arg(i) + q_.list + QStringLiteral(", ")
                    + keyCols.join(QStringLiteral(", ")) + QStringLiteral(" from ") + q_.from;
        if (!conds.isEmpty())
            s += QStringLiteral(" where ") + conds.join(QStringLiteral(" AND "));
        // The ctid range is read in ctid order as it is; sorting by ctid
        // would sort the rest of the table.
        if (!physical_)
            s += QStringLiteral(" order by ") + orderList(q_.keys, false);
        parts << s + QStringLiteral(" limit %1)").arg(limit);
    }
    Statement st;
    st.sql =
        QStringLiteral("select * from (") + parts.join(QStringLiteral(" union all ")) + QStringLiteral(") xs_page");
    if (upTo)
        st.sql += QStringLiteral(" where NOT (") + exactAfter(q_.keys, *upTo, p) + QStringLiteral(")");
    st.sql += QStringLiteral(" order by xs_seg, ") + orderList(q_.keys, true) + QStringLiteral(" limit %1").arg(limit);
    st.params = p.list;
    return st;
}

namespace {

// The key columns under their aliases, as a select list.
QString keySelect(const PagedQuery &q)
{
    QStringList cols;
    for (int i = 0; i < int(q.keys.size()); ++i)
        cols << q.keys[size_t(i)].expr + QStringLiteral(" as ") + alias(i);
    return cols.join(QStringLiteral(", "));
}

// " where ..." for the statement's condition (empty when there is none).
// A table read whole in ctid order is read by a plain scan from its first
// block: the connections do not join a scan already running
// (synchronize_seqscans off) and run() keeps such a statement serial, so it
// comes in ctid order. A plain scan reads through a small ring of the
// server's buffers; a ctid range would go through all of them, which costs a
// connection that has not touched them yet several times as much.
QString whereOf(const PagedQuery &q)
{
    return q.where.isEmpty() ? QString() : QStringLiteral(" where (") + q.where + QStringLiteral(")");
}

}  // namespace

ServerPages::Statement ServerPages::keyAtPlace(int place) const
{
    Statement st;
    st.sql = QStringLiteral("select 0 as xs_seg, ") + keySelect(q_) + QStringLiteral(" from ") + q_.from + whereOf(q_);
    if (!physical_)
        st.sql += QStringLiteral(" order by ") + orderList(q_.keys, false);
    st.sql += QStringLiteral(" limit 1 offset %1").arg(place);
    st.serial = physical_;
    return st;
}

ServerPages::Statement ServerPages::walk(int every) const
{
    QString inner = QStringLiteral("select row_number() over xs_w as xs_n, lead(1) over xs_w is null as xs_last, ")
                    + keySelect(q_) + QStringLiteral(" from ") + q_.from + whereOf(q_);
    inner += QStringLiteral(" window xs_w as (")
             + (physical_ ? QString() : QStringLiteral("order by ") + orderList(q_.keys, false)) + QStringLiteral(")");
    Statement st;
    st.sql = QStringLiteral("select * from (") + inner + QStringLiteral(") xs_walk where xs_n % ")
             + QString::number(every) + QStringLiteral(" = 0 or xs_last");
    st.serial = physical_;
    return st;
}

ServerPages::Statement ServerPages::scan() const
{
    QStringList keyCols, ids;
    for (int i = 0; i < int(q_.keys.size()); ++i) {
        keyCols << q_.keys[size_t(i)].expr + QStringLiteral(" as ") + alias(i);
        if (i >= q_.orderKeys)
            ids << alias(i);
    }
    // Materialized: the rows are found without regard to the order (a scan
    // and a hash join), and only the few found are sorted.
    QString inner = QStringLiteral("select ") + keyCols.join(QStringLiteral(", ")) + QStringLiteral(" from ") + q_.from;
    if (!q_.where.isEmpty())
        inner += QStringLiteral(" where (") + q_.where + QStringLiteral(")");
    // The count comes first, in every row (one row of NULL ctids when there
    // are none or too many); only a few rows are sorted (a sort of many
    // letter-case insensitive keys costs more than the pass).
    Statement st;
    st.sql = QStringLiteral("with xs_m as materialized (") + inner
             + QStringLiteral(") select xs_c.n, xs_r.* from (select count(*) as n from xs_m) xs_c left join lateral "
                              "(select ")
             + ids.join(QStringLiteral(", "))
             + QStringLiteral(" from xs_m where xs_c.n <= %1 order by ").arg(kMaxCtidRows) + orderList(q_.keys, true)
             + QStringLiteral(") xs_r on true");
    return st;
}

ServerPages::Statement ServerPages::byCtids(const std::vector<QString> &ctids, int firstRow, int rows) const
{
    const int t = int(q_.tables.size());
    Statement st;
    QStringList match, ids;
    for (int i = 0; i < t; ++i) {
        QStringList items;
        for (int r = firstRow; r < firstRow + rows; ++r)
            items << QLatin1Char('"') + ctids[size_t(r) * size_t(t) + size_t(i)] + QLatin1Char('"');
        st.params << QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
        match << q_.tables[i] + QStringLiteral(".ctid = any($%1::tid[])").arg(i + 1);
        ids << q_.tables[i] + QStringLiteral(".ctid");
    }
    // Each table's rows by their ctids (a TID scan); the rows come in any
    // order and are put in the pass's order by their ctids.
    st.sql = QStringLiteral("select 0 as xs_seg, ") + q_.list + QStringLiteral(", ") + ids.join(QStringLiteral(", "))
             + QStringLiteral(" from ") + q_.from + QStringLiteral(" where ") + match.join(QStringLiteral(" AND "));
    return st;
}

ServerPages::Statement ServerPages::blockCount() const
{
    Statement st;
    st.sql = QStringLiteral("select pg_relation_size('%1'::regclass) / current_setting('block_size')::bigint")
                 .arg(q_.tables[0]);
    return st;
}

ServerPages::Statement ServerPages::blocks(qint64 first, int count) const
{
    QStringList keyCols;
    for (int i = 0; i < int(q_.keys.size()); ++i)
        keyCols << q_.keys[size_t(i)].expr + QStringLiteral(" as ") + alias(i);
    Statement st;
    st.sql = QStringLiteral("select 0 as xs_seg, ") + q_.list + QStringLiteral(", ")
             + keyCols.join(QStringLiteral(", ")) + QStringLiteral(" from ") + q_.from + QStringLiteral(" where ");
    if (!q_.where.isEmpty())
        st.sql += QStringLiteral("(") + q_.where + QStringLiteral(") AND ");
    st.sql += QStringLiteral("%1.ctid >= $1::tid AND %1.ctid < $2::tid order by ").arg(q_.tables[0])
              + orderList(q_.keys, false);
    st.params << QStringLiteral("(%1,0)").arg(first) << QStringLiteral("(%1,0)").arg(first + count);
    return st;
}

QString ServerPages::settings(const Statement &st, int budgetMs) const
{
    QString settings;
    if (q_.orderKeys > 0)
        settings += QStringLiteral(
            ";SET LOCAL enable_seqscan = off;SET LOCAL enable_hashjoin = off;SET LOCAL enable_mergejoin = off");
    // A table read in ctid order by a plain scan: one process reads it.
    if (st.serial)
        settings += QStringLiteral(";SET LOCAL max_parallel_workers_per_gather = 0");
    if (budgetMs > 0)
        settings += QStringLiteral(";SET LOCAL statement_timeout = %1").arg(budgetMs);
    return settings;
}

PgResult ServerPages::run(PgConnection &c, const Statement &st, int budgetMs) const
{
    return runWith(c, st, settings(st, budgetMs));
}

PgResult ServerPages::runWith(PgConnection &c, const Statement &st, const QString &settings, int timeoutMs)
{
    return c.read(st.sql, st.params, timeoutMs, settings);
}

ServerPages::Key ServerPages::keyOf(const PgResult &page, int r) const
{
    const int m = keyColumns();
    return keyAt(page, r, page.columns() - m, m);
}

int ServerPages::listedColumns(const PgResult &page) const { return page.columns() - 1 - keyColumns(); }

// ---------------------------------------------------------------------------
// The pager's reading on the server.

// Work of another thread on a connection of its own, which can be cancelled
// from the window's thread.
struct BackgroundWork {
    std::mutex m;
    std::thread thread;
    std::shared_ptr<PgConnection> conn;
    std::unique_ptr<PgCanceller> canceller;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};

    // In the work's thread: connects (unless cancelled) and makes the
    // statement that will run cancellable; false when there is no connection.
    // In the work's thread, first: waits `delayMs` before the work starts
    // (ending early when `hurry` is set); false when cancelled meanwhile.
    bool waitToStart(int delayMs, const std::atomic<bool> *hurry = nullptr)
    {
        const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        while (!cancelled && !(hurry && *hurry) && std::chrono::steady_clock::now() < start)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return !cancelled;
    }
    bool connect()
    {
        if (!cancelled && conn->ensure()) {
            std::lock_guard<std::mutex> lock(m);
            canceller = conn->canceller();
        }
        return !cancelled && conn->connected();
    }
    // In the work's thread, last: nothing is left to cancel.
    void done()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            canceller.reset();
        }
        finished = true;
    }
    // In the work's thread: runs `post` (which posts to the window) unless
    // the work was cancelled. A cancel takes the same lock, so nothing is
    // posted to a window once its pager has gone.
    template <typename F>
    void postUnlessCancelled(F &&post)
    {
        std::lock_guard<std::mutex> lock(m);
        if (!cancelled)
            post();
    }
    void markCancelled()
    {
        std::lock_guard<std::mutex> lock(m);
        cancelled = true;
    }
    // Cancels the running statement and waits until the work has ended; a
    // cancel that came before its statement started is sent again.
    void cancelAndJoin()
    {
        markCancelled();
        while (!finished.load()) {
            {
                std::lock_guard<std::mutex> lock(m);
                if (canceller)
                    canceller->cancel();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (thread.joinable())
            thread.join();
    }
};

// One statement run in the background: the pass that finds a condition's rows
// while the ordered reading tries its budget.
struct BackgroundStatement : BackgroundWork {
    PgResult result;

    // The statement starts after `delayMs` unless cancelled before.
    BackgroundStatement(std::shared_ptr<PgConnection> c, const ServerPages::Statement &st, int delayMs)
    {
        conn = std::move(c);
        thread = std::thread([this, st, delayMs] {
            if (waitToStart(delayMs) && connect())
                result = conn->read(st.sql, st.params, backgroundReadingTimeoutMs());
            done();
        });
    }
    BackgroundStatement(const BackgroundStatement &) = delete;
    BackgroundStatement &operator=(const BackgroundStatement &) = delete;
    // Waits for the result; its connection goes back to the pool.
    PgResult take()
    {
        thread.join();
        giveBackServerConnection(std::move(conn), PoolEnd::Background);
        return std::move(result);
    }
    // A pass not taken is cancelled; its connection, which a late cancel
    // could still reach, is not used again.
    ~BackgroundStatement()
    {
        if (thread.joinable())
            cancelAndJoin();
    }
};

// Background works whose window has gone: each is cancelled by a thread of
// its own, so that the window's thread does not wait for the cancel to reach
// the server (the server starts a process for each cancel request) and for
// the work to end. Their connections go back to the pool once they have
// ended; the process waits for the rest when it ends.
class RetiredWorks {
public:
    void retire(std::shared_ptr<BackgroundWork> w)
    {
        sweep();
        w->markCancelled();
        auto r = std::make_unique<Retired>();
        r->work = std::move(w);
        r->reaper = std::thread([work = r->work, ended = &r->ended] {
            work->cancelAndJoin();
            *ended = true;
        });
        retired_.push_back(std::move(r));
    }
    // In the windows' thread: the works that have ended give their
    // connection back (the cancel left it idle; a cancel that reaches an
    // idle connection is dropped by the server).
    void sweep()
    {
        for (auto it = retired_.begin(); it != retired_.end();) {
            if (!(*it)->ended) {
                ++it;
                continue;
            }
            (*it)->reaper.join();
            giveBackServerConnection(std::move((*it)->work->conn), PoolEnd::Background);
            it = retired_.erase(it);
        }
    }
    ~RetiredWorks()
    {
        for (auto &r : retired_)
            r->reaper.join();
    }

private:
    struct Retired {
        std::shared_ptr<BackgroundWork> work;
        std::thread reaper;
        std::atomic<bool> ended{false};
    };
    std::vector<std::unique_ptr<Retired>> retired_;
};

RetiredWorks &retiredWorks()
{
    static RetiredWorks r;
    return r;
}

struct Pager::Server {
    explicit Server(const QString &sql) : pages(sql) {}
    ~Server()
    {
        if (walk)
            retiredWorks().retire(std::move(walk));
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    // The background pass: the count and the key of every page, by one
    // statement on a connection of its own.
    struct Walk : BackgroundWork {
        std::atomic<bool> hurry{false};  // someone waits for it: no delay
        bool ok = false;
        int count = 0;
        std::vector<ServerPages::Key> keys;
    };

    ServerPages pages;
    // lastKeys[k]: the key of the last row of page k.
    std::vector<ServerPages::Key> lastKeys;
    // By ctids: those of every row in order, one per table.
    std::vector<QString> ctids;
    std::shared_ptr<Walk> walk;
};

std::unique_ptr<Pager> Pager::openOnServer(const QString &sql, SqlOutcome &out, int budgetMs)
{
    const auto translated = translateForServer(sql.trimmed());
    std::unique_ptr<Pager> p(new Pager);
    if (!translated) {
        out.fault = DbFault::Other;
        out.error = QStringLiteral("语句无法解析");
        return {};
    }
    auto server = std::make_shared<Server>(*translated);
    if (!server->pages.ok()) {
        // Shapes that cannot be paged (distinct, group by, ...) are read whole.
        if (!p->readWholeFromServer(sql.trimmed(), out))
            return {};
        out.ok = true;
        return p;
    }
    p->server_ = std::move(server);
    p->query_ = p->server_->pages.query();
    // A condition that few rows meet makes the ordered reading walk the
    // whole archive through its indexes, row by row; past a short budget the
    // rows are found by one pass instead. (A whole table is not counted at
    // once as on the file: the server counts by reading every row.)
    // The pass starts beside the ordered reading, on a connection of its own,
    // so that a rare condition costs the pass and not the budget and then
    // the pass; it is cancelled when the ordered reading finds its page in
    // time. A condition many rows meet has its page well before the pass
    // starts (kPassDelayMs), so that the two do not share the processor then.
    const bool limited = !p->query_.where.isEmpty() && budgetMs >= 0;
    bool timedOut = limited && budgetMs == 0;
    std::unique_ptr<BackgroundStatement> pass;
    if (limited && !timedOut)
        if (std::shared_ptr<PgConnection> c = takeSpareServerConnection())
            pass = std::make_unique<BackgroundStatement>(std::move(c), p->server_->pages.scan(), kPassDelayMs);
    if (!timedOut && !p->readServerPage(0, &out, limited ? budgetMs : -1, &timedOut) && !timedOut)
        return {};
    if (timedOut) {
        out = SqlOutcome{};
        if (!p->readServerCtids(out, pass.get()))
            return {};
    } else {
        pass.reset();
        if (p->knownRows() > kPageRows || !p->complete_)
            p->startServerWalk();
    }
    out.ok = true;
    return p;
}

bool Pager::serverWalking() const { return server_ && server_->walk; }

int Pager::serverKnownRows() const { return complete_ ? total_ : int(server_->lastKeys.size()) * kPageRows; }

bool Pager::readServerPage(int k, SqlOutcome *outcome, int budgetMs, bool *timedOut, int skip)
{
    if (stride_ > 0)
        return readServerPageByCtids(k, outcome);
    std::vector<ServerPages::Key> &lastKeys = server_->lastKeys;
    if (skip > 0 ? k <= int(lastKeys.size()) : k > int(lastKeys.size()))
        return false;
    const ServerPages::Key *after = k > 0 && skip == 0 ? &lastKeys[size_t(k - 1)] : nullptr;
    const ServerPages::Key *upTo = k < int(lastKeys.size()) ? &lastKeys[size_t(k)] : nullptr;
    const auto fail = [&](DbFault f, const QString &why) {
        reportFault(f, why);
        if (outcome) {
            outcome->fault = f;
            outcome->error = why;
        }
        return false;
    };
    DbFault f = DbFault::None;
    QString why;
    std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why);
    if (!c)
        return fail(f, why);
    // A page at a place in the order: the key of the row before it first.
    ServerPages::Key before;
    if (skip > 0) {
        const PgResult r = server_->pages.run(*c, server_->pages.keyAtPlace(skip - 1));
        if (!r.ok()) {
            giveBackServerConnection(std::move(c));
            return fail(r.fault(), r.error());
        }
        if (r.rows() == 0) {
            // The rows have gone meanwhile: the page is empty.
            giveBackServerConnection(std::move(c));
            keepServerPage(k, Page{});
            return true;
        }
        before = server_->pages.keyOf(r, 0);
        after = &before;
    }
    const ServerPages::Statement st = server_->pages.page(after, upTo, kPageRows);
    // One statement, its own transaction: nothing stays open after it.
    const PgResult r = server_->pages.run(*c, st, budgetMs);
    giveBackServerConnection(std::move(c));
    ++pagesRead_;
    if (!r.ok() && budgetMs > 0 && r.sqlState() == "57014") {
        if (timedOut)
            *timedOut = true;
        return false;  // query canceled: the budget is spent
    }
    if (!r.ok())
        return fail(r.fault(), r.error());
    takePageColumns(r);
    Page page = pageOf(r);
    if (!upTo && skip == 0) {
        if (page.rows == kPageRows) {
            lastKeys.push_back(server_->pages.keyOf(r, page.rows - 1));
            if (complete_ && total_ < (k + 1) * kPageRows)
                total_ = (k + 1) * kPageRows;  // rows added after the count
        } else if (!complete_) {
            complete_ = true;
            total_ = k * kPageRows + page.rows;
        }
    }
    keepServerPage(k, std::move(page));
    return true;
}

void Pager::takePageColumns(const PgResult &r)
{
    if (!names_.empty())
        return;
    const int n = r.columns() - 1 - (stride_ > 0 ? stride_ : server_->pages.keyColumns());
    for (int i = 0; i < n; ++i) {
        names_.push_back(r.columnName(1 + i));
        isDate_.push_back(r.isDateColumn(1 + i));
    }
}

Pager::Page Pager::pageOf(const PgResult &r) const
{
    const int n = columnCount();
    Page page;
    page.rows = r.rows();
    page.cells.reserve(size_t(page.rows) * size_t(n));
    for (int row = 0; row < page.rows; ++row)
        for (int i = 0; i < n; ++i)
            page.cells.push_back(
                r.isNull(row, 1 + i)
                    ? QString()
                    : Value(isDate_[size_t(i)] ? Value::Kind::Date : Value::Kind::Text, r.text(row, 1 + i)).text());
    return page;
}

void Pager::keepServerPage(int k, Page page)
{
    cache_.emplace_front(k, std::move(page));
    while (int(cache_.size()) > kCachedPages) {
        auto victim = std::prev(cache_.end());
        if (victim->first == pinnedPage_ && cache_.size() > 1)
            victim = std::prev(victim);
        cache_.erase(victim);
    }
}

// One pass finds the ctids of every row in order; the pages then look their
// rows up by ctid. The count is known at once.
bool Pager::readServerCtids(SqlOutcome &out, BackgroundStatement *started)
{
    PgResult r;
    // The pass already running, when it has run well; else it runs here.
    if (started)
        r = started->take();
    if (!r.ok()) {
        DbFault f = DbFault::None;
        QString why;
        std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why);
        if (!c) {
            reportFault(f, why);
            out.fault = f;
            out.error = why;
            return false;
        }
        const ServerPages::Statement st = server_->pages.scan();
        r = c->read(st.sql, st.params, backgroundReadingTimeoutMs());
        giveBackServerConnection(std::move(c));
    }
    if (!r.ok()) {
        reportFault(r.fault(), r.error());
        out.fault = r.fault();
        out.error = r.error();
        return false;
    }
    const int found = r.rows() > 0 ? r.text(0, 0).toInt() : 0;
    if (found > kMaxCtidRows) {
        // Many rows meet the condition after all (the ordered reading was
        // slow for another reason): key order finds a page of them quickly.
        if (!readServerPage(0, &out))
            return false;
        if (knownRows() > kPageRows || !complete_)
            startServerWalk();
        return true;
    }
    const int t = r.columns() - 1;
    const int rows = found > 0 ? r.rows() : 0;
    std::vector<QString> ids;
    ids.reserve(size_t(rows) * size_t(t));
    for (int row = 0; row < rows; ++row)
        for (int i = 0; i < t; ++i)
            ids.push_back(r.text(row, 1 + i));
    server_->ctids = std::move(ids);
    stride_ = t;
    complete_ = true;
    total_ = rows;
    cache_.clear();
    return readServerPageByCtids(0, &out);
}

bool Pager::readServerPageByCtids(int k, SqlOutcome *outcome)
{
    const int first = k * kPageRows;
    const int rows = std::max(std::min(total_, first + kPageRows) - first, 0);
    DbFault f = DbFault::None;
    QString why;
    std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why);
    PgResult r;
    const bool connected = c != nullptr;
    if (connected) {
        const ServerPages::Statement st = server_->pages.byCtids(server_->ctids, first, rows);
        r = c->read(st.sql, st.params);
        giveBackServerConnection(std::move(c));
        f = r.fault();
        why = r.error();
    }
    ++pagesRead_;
    if (!connected || !r.ok()) {
        reportFault(f, why);
        if (outcome) {
            outcome->fault = f;
            outcome->error = why;
        }
        return false;
    }
    takePageColumns(r);
    // Each row in its place; a row gone since the pass leaves its line empty.
    const int n = columnCount();
    std::map<QString, int> at;
    for (int row = 0; row < r.rows(); ++row) {
        QString id;
        for (int i = 0; i < stride_; ++i)
            id += r.text(row, 1 + n + i) + QLatin1Char(' ');
        at.emplace(id, row);
    }
    Page page;
    page.rows = rows;
    page.cells.resize(size_t(rows) * size_t(n));
    for (int i = 0; i < rows; ++i) {
        QString id;
        for (int j = 0; j < stride_; ++j)
            id += server_->ctids[size_t(first + i) * size_t(stride_) + size_t(j)] + QLatin1Char(' ');
        const auto found = at.find(id);
        if (found == at.end())
            continue;
        for (int col = 0; col < n; ++col)
            if (!r.isNull(found->second, 1 + col))
                page.cells[size_t(i) * size_t(n) + size_t(col)] =
                    Value(isDate_[size_t(col)] ? Value::Kind::Date : Value::Kind::Text, r.text(found->second, 1 + col))
                        .text();
    }
    keepServerPage(k, std::move(page));
    return true;
}

bool Pager::serverFetchMore()
{
    if (complete_)
        return false;
    const int before = knownRows();
    const bool read = readServerPage(int(server_->lastKeys.size()));
    if (knownRows() != before || complete_)
        emit rowsChanged();
    return read && (knownRows() != before || !complete_);
}

QString Pager::serverCell(int row, int c)
{
    if (row < 0 || c < 0 || c >= columnCount())
        return {};
    const int k = row / kPageRows;
    if (stride_ > 0) {
        if (row >= total_)
            return {};
        const Page *p = page(k);
        const int i = row % kPageRows;
        return p && i < p->rows ? p->cells[size_t(i) * size_t(columnCount()) + size_t(c)] : QString();
    }
    std::vector<ServerPages::Key> &lastKeys = server_->lastKeys;
    // A page far beyond the keys known while the background pass still runs
    // (the archive grid's scroll bar dragged at once to its middle): that one
    // page is read by its place in the order, skipping the rows before it in
    // the server, instead of waiting for the pass.
    if (k > int(lastKeys.size()) + 1 && server_->walk) {
        const Page *p = page(k, k * kPageRows);
        const int i = row % kPageRows;
        return p && i < p->rows ? p->cells[size_t(i) * size_t(columnCount()) + size_t(c)] : QString();
    }
    while (k > int(lastKeys.size())) {
        const size_t had = lastKeys.size();
        const int before = knownRows();
        if (!readServerPage(int(had)) || lastKeys.size() == had)
            break;
        if (knownRows() != before)
            emit rowsChanged();
    }
    if (k > int(lastKeys.size()))
        return {};
    const Page *p = page(k);
    const int i = row % kPageRows;
    if (!p || i >= p->rows)
        return {};
    return p->cells[size_t(i) * size_t(columnCount()) + size_t(c)];
}

void Pager::startServerWalk()
{
    retiredWorks().sweep();
    auto w = std::make_shared<Server::Walk>();
    // A connection of its own: a spare one of the pool (warm, connected), or
    // a new one the pass connects itself.
    w->conn = takeSpareServerConnection();
    if (!w->conn)
        return;  // the pages are then counted as they are read
    server_->walk = w;
    const ServerPages::Statement st = server_->pages.walk(kPageRows);
    const QString settings = server_->pages.settings(st, -1);
    const int m = server_->pages.keyColumns();
    // A whole table's count is kept by the server: it is read at once (a
    // fraction of a millisecond). A server without the kept counts (made by
    // an older tool that could not add them) is counted row by row in the
    // pass, before the keys.
    QString count;
    if (query_.where.isEmpty() && query_.tables.size() == 1) {
        count = QStringLiteral("select count(*) from ") + query_.from;
        DbFault f = DbFault::None;
        QString why;
        if (std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why)) {
            const PgResult r = c->read(serverRowCountSql(query_.from));
            giveBackServerConnection(std::move(c));
            if (r.ok() && r.rows() == 1) {
                takeServerCount(r.text(0, 0).toInt());
                count.clear();
            }
        }
    }
    w->thread = std::thread([w, st, settings, m, count, self = this] {
        const bool connected = w->waitToStart(kWalkDelayMs, &w->hurry) && w->connect();
        if (connected && !count.isEmpty()) {
            const PgResult r = w->conn->read(count, {}, backgroundReadingTimeoutMs());
            if (r.ok() && r.rows() == 1) {
                const int n = r.text(0, 0).toInt();
                w->postUnlessCancelled([self, n] {
                    QMetaObject::invokeMethod(
                        self, [self, n] { self->takeServerCount(n); }, Qt::QueuedConnection);
                });
            }
        }
        if (!w->cancelled && w->conn->connected()) {
            const PgResult r = ServerPages::runWith(*w->conn, st, settings, backgroundReadingTimeoutMs());
            if (r.ok()) {
                for (int row = 0; row < r.rows(); ++row) {
                    const int n = r.text(row, 0).toInt();
                    if (n % kPageRows == 0)
                        w->keys.push_back(keyAt(r, row, 2, m));
                    if (r.text(row, 1) == QLatin1String("t"))
                        w->count = n;
                }
                w->ok = true;
            }
        }
        w->postUnlessCancelled([self] {
            QMetaObject::invokeMethod(
                self, [self] { self->takeServerWalk(); }, Qt::QueuedConnection);
        });
        w->done();
    });
}

void Pager::takeServerWalk()
{
    if (!server_ || !server_->walk)
        return;
    std::shared_ptr<Server::Walk> w = std::move(server_->walk);
    if (w->thread.joinable())
        w->thread.join();
    giveBackServerConnection(std::move(w->conn), PoolEnd::Background);
    if (!w->ok)
        return;
    std::vector<ServerPages::Key> &lastKeys = server_->lastKeys;
    for (size_t k = lastKeys.size(); k < w->keys.size(); ++k)
        lastKeys.push_back(std::move(w->keys[k]));
    if (!complete_) {
        total_ = std::max(w->count, int(lastKeys.size()) * kPageRows);
        complete_ = true;
        emit rowsChanged();
    }
}

void Pager::takeServerCount(int count)
{
    if (complete_)
        return;
    total_ = std::max(count, knownRows());
    complete_ = true;
    emit rowsChanged();
}

void Pager::serverWaitForCount()
{
    if (complete_)
        return;
    if (server_ && server_->walk)
        server_->walk->hurry = true;
    takeServerWalk();
    while (!complete_ && serverFetchMore()) {
    }
}

}  // namespace xs
