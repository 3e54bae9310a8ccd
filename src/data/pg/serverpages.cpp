#include "data/pg/serverpages.h"

#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/recordset.h"
#include "data/sqltext.h"

#include <QCoreApplication>
#include <QThread>
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

// The key columns under their aliases, as a select list.
QString keySelect(const PagedQuery &q)
{
    return q.keyList(false, [&q](int i) { return q.keys[size_t(i)].expr + QStringLiteral(" as ") + alias(i); });
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
// beyond the keys read meanwhile is read by its place (keyAtPlace). The
// file's pass starts at once: it costs no connection of a pool and no
// server process, and it yields to the window's reading step by step.
constexpr int kWalkDelayMs = 300;
// The ordered first page's budget: a statement_timeout that also covers the
// round trip and the planning, where the file's budget counts only the
// engine's own steps after a minimum of them; so it is longer.
constexpr int kServerOrderedBudgetMs = 150;

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
    QStringList parts;
    // The ctid range is read in ctid order as it is; sorting by ctid would
    // sort the rest of the table.
    for (int i = 0; i < int(pieces.size()); ++i)
        parts << QStringLiteral("(")
                     + q_.select(QStringLiteral("%1 as xs_seg, ").arg(i) + q_.list + QStringLiteral(", ")
                                     + keySelect(q_),
                                 pieces[i].isEmpty() ? QStringList() : QStringList{pieces[i]},
                                 physical_ ? QString() : q_.keyList(true))
                     + QStringLiteral(" limit %1)").arg(limit);
    Statement st;
    st.sql =
        QStringLiteral("select * from (") + parts.join(QStringLiteral(" union all ")) + QStringLiteral(") xs_page");
    if (upTo)
        st.sql += QStringLiteral(" where NOT (") + exactAfter(q_.keys, *upTo, p) + QStringLiteral(")");
    st.sql += QStringLiteral(" order by xs_seg, ") + q_.keyList(true, alias) + QStringLiteral(" limit %1").arg(limit);
    st.params = p.list;
    return st;
}

// A table read whole in ctid order is read by a plain scan from its first
// block: the connections do not join a scan already running
// (synchronize_seqscans off) and run() keeps such a statement serial, so it
// comes in ctid order. A plain scan reads through a small ring of the
// server's buffers; a ctid range would go through all of them, which costs a
// connection that has not touched them yet several times as much.
ServerPages::Statement ServerPages::keyAtPlace(int place) const
{
    Statement st;
    st.sql = q_.select(QStringLiteral("0 as xs_seg, ") + keySelect(q_), {}, physical_ ? QString() : q_.keyList(true));
    st.sql += QStringLiteral(" limit 1 offset %1").arg(place);
    st.serial = physical_;
    return st;
}

ServerPages::Statement ServerPages::walk(int every) const
{
    const QString inner =
        q_.select(QStringLiteral("row_number() over xs_w as xs_n, lead(1) over xs_w is null as xs_last, ")
                  + keySelect(q_))
        + QStringLiteral(" window xs_w as (") + (physical_ ? QString() : QStringLiteral("order by ") + q_.keyList(true))
        + QStringLiteral(")");
    Statement st;
    st.sql = QStringLiteral("select * from (") + inner + QStringLiteral(") xs_walk where xs_n % ")
             + QString::number(every) + QStringLiteral(" = 0 or xs_last");
    st.serial = physical_;
    return st;
}

ServerPages::Statement ServerPages::scan() const
{
    QStringList ids;
    for (int i = q_.orderKeys; i < int(q_.keys.size()); ++i)
        ids << alias(i);
    // Materialized: the rows are found without regard to the order (a scan
    // and a hash join), and only the few found are sorted.
    const QString inner = q_.select(keySelect(q_));
    // The count comes first, in every row (one row of NULL ctids when there
    // are none or too many); only a few rows are sorted (a sort of many
    // letter-case insensitive keys costs more than the pass).
    Statement st;
    st.sql = QStringLiteral("with xs_m as materialized (") + inner
             + QStringLiteral(") select xs_c.n, xs_r.* from (select count(*) as n from xs_m) xs_c left join lateral "
                              "(select ")
             + ids.join(QStringLiteral(", "))
             + QStringLiteral(" from xs_m where xs_c.n <= %1 order by ").arg(kMaxCtidRows) + q_.keyList(true, alias)
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
    Statement st;
    st.sql =
        q_.select(QStringLiteral("0 as xs_seg, ") + q_.list + QStringLiteral(", ") + keySelect(q_),
                  {QStringLiteral("%1.ctid >= $1::tid AND %1.ctid < $2::tid").arg(q_.tables[0])}, q_.keyList(true));
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
    return c.read(st.sql, st.params, 0, settings(st, budgetMs));
}

ServerPages::Key ServerPages::keyOf(const PgResult &page, int r) const
{
    const int m = keyColumns();
    return keyAt(page, r, page.columns() - m, m);
}

// Work of another thread on a connection of its own, which can be cancelled
// from the window's thread.
struct BackgroundWork {
    std::mutex m;
    std::thread thread;
    std::shared_ptr<PgConnection> conn;
    std::unique_ptr<PgCanceller> canceller;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};

    // In the work's thread, first: waits `delayMs` before the work starts;
    // false when cancelled meanwhile.
    bool waitToStart(int delayMs)
    {
        const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        while (!cancelled && std::chrono::steady_clock::now() < start)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return !cancelled;
    }
    // In the work's thread: connects (unless cancelled) and makes the
    // statement that will run cancellable; false when there is no connection.
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
    // Marks the work cancelled and cancels its statement when one runs.
    void cancel()
    {
        std::lock_guard<std::mutex> lock(m);
        cancelled = true;
        if (canceller)
            canceller->cancel();
    }
    // Cancels the running statement and waits until the work has ended; a
    // cancel that came before its statement started is sent again.
    void cancelAndJoin()
    {
        for (cancel(); !finished.load(); cancel())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
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

namespace {

// A row's key as the server prints its values.
struct ServerKey : PageKey {
    explicit ServerKey(ServerPages::Key v) : values(std::move(v)) {}
    ServerPages::Key values;
};

const ServerPages::Key *valuesOf(const PageKey *k) { return k ? &static_cast<const ServerKey *>(k)->values : nullptr; }

// The background pass: the count and the key of every page, by one
// statement on a connection of its own (a spare one of the pool, warm and
// connected, or a new one it connects itself).
class ServerKeyPass final : public KeyPass {
public:
    ServerKeyPass(std::shared_ptr<PgConnection> c, ServerPages::Statement st, QString settings, int m, QString count)
        : st_(std::move(st)), settings_(std::move(settings)), m_(m), count_(std::move(count))
    {
        work_.conn = std::move(c);
    }
    bool run(const std::function<void(int)> &early) override
    {
        bool ok = false;
        const bool connected = work_.connect();
        if (connected && countFirst) {
            const PgResult r = work_.conn->read(count_, {}, backgroundReadingTimeoutMs());
            if (r.ok() && r.rows() == 1)
                early(r.text(0, 0).toInt());
        }
        if (!work_.cancelled && work_.conn->connected()) {
            const PgResult r = work_.conn->read(st_.sql, st_.params, backgroundReadingTimeoutMs(), settings_);
            if (r.ok()) {
                for (int row = 0; row < r.rows(); ++row) {
                    const int n = r.text(row, 0).toInt();
                    if (n % kPageRows == 0)
                        keys.push_back(std::make_unique<ServerKey>(keyAt(r, row, 2, m_)));
                    if (r.text(row, 1) == QLatin1String("t"))
                        count = n;
                }
                ok = true;
            }
        }
        work_.done();
        return ok && !work_.cancelled;
    }
    void cancel() override { work_.cancel(); }
    void handBack() override { giveBackServerConnection(std::move(work_.conn), PoolEnd::Background); }
    // A cancel reaches the server through a process the server starts for it.
    bool endsAtOnce() const override { return false; }

private:
    BackgroundWork work_;
    ServerPages::Statement st_;
    QString settings_;
    int m_;
    QString count_;  // the count(*) run first when countFirst
};

class ServerPageSource final : public EnginePages {
public:
    explicit ServerPageSource(const QString &serverSql) : pages(serverSql) { q_ = pages.query(); }

    ServerPages pages;
    // The rows of a rare condition: their ctids in order, one per table.
    int stride = 0;
    std::vector<QString> ctids;
    // The pass that finds a condition's rows, started beside the ordered
    // first page on a connection of its own, so that a rare condition costs
    // the pass and not the budget and then the pass; it is cancelled when
    // the ordered reading finds its page in time. A condition many rows
    // meet has its page well before the pass starts (kPassDelayMs), so that
    // the two do not share the processor then.
    std::unique_ptr<BackgroundStatement> pass;

    void setWhole(const QString &sql) { whole_ = sql; }

    bool page(const PageKey *after, const PageKey *upTo, PageRows &out, int budgetMs, bool *timedOut) override
    {
        if (budgetMs > 0)
            if (std::shared_ptr<PgConnection> c = takeSpareServerConnection())
                pass = std::make_unique<BackgroundStatement>(std::move(c), pages.scan(), kPassDelayMs);
        bool spent = false;
        const bool read = run(pages.page(valuesOf(after), valuesOf(upTo), kPageRows), !upTo, out, budgetMs, &spent);
        if (timedOut)
            *timedOut = spent;
        if (!spent)
            pass.reset();
        return read;
    }

    bool pageAt(int place, const PageKey * /*known*/, int /*knownRows*/, PageRows &out) override
    {
        // The key of the row before it first, found by skipping the rows
        // before it in the server with only their keys read.
        PgResult r;
        if (!pooled([&](PgConnection &c) { return pages.run(c, pages.keyAtPlace(place - 1)); }, r))
            return false;
        out = PageRows{};
        if (r.rows() == 0)
            return true;  // the rows have gone meanwhile: the page is empty
        const ServerPages::Key before = pages.keyOf(r, 0);
        return run(pages.page(&before, nullptr, kPageRows), false, out);
    }

    int findRows() override
    {
        PgResult r;
        // The pass already running, when it has run well; else it runs here.
        if (pass)
            r = pass->take();
        pass.reset();
        if (!r.ok()
            && !pooled(
                [&](PgConnection &c) {
                    const ServerPages::Statement st = pages.scan();
                    return c.read(st.sql, st.params, backgroundReadingTimeoutMs());
                },
                r))
            return -1;
        const int found = r.rows() > 0 ? r.text(0, 0).toInt() : 0;
        // Many rows meet the condition after all (the ordered reading was
        // slow for another reason): key order finds a page of them quickly.
        if (found > kMaxCtidRows)
            return kTooMany;
        const int t = r.columns() - 1;
        const int rows = found > 0 ? r.rows() : 0;
        std::vector<QString> ids;
        ids.reserve(size_t(rows) * size_t(t));
        for (int row = 0; row < rows; ++row)
            for (int i = 0; i < t; ++i)
                ids.push_back(r.text(row, 1 + i));
        ctids = std::move(ids);
        stride = t;
        return rows;
    }

    bool foundRows(int first, int rows, PageRows &out) override
    {
        const ServerPages::Statement st = pages.byCtids(ctids, first, rows);
        PgResult r;
        if (!pooled([&](PgConnection &c) { return c.read(st.sql, st.params); }, r))
            return false;
        takeColumns(r, stride);
        // Each row in its place; a row gone since the pass leaves its line empty.
        const int n = int(names_.size());
        const auto idOf = [&](const auto &part) {
            QString id;
            for (int i = 0; i < stride; ++i)
                id += part(i) + QLatin1Char(' ');
            return id;
        };
        std::map<QString, int> at;
        for (int row = 0; row < r.rows(); ++row)
            at.emplace(idOf([&](int i) { return r.text(row, 1 + n + i); }), row);
        out = PageRows{};
        out.rows = rows;
        for (int i = 0; i < rows; ++i) {
            const auto found =
                at.find(idOf([&](int j) { return ctids[size_t(first + i) * size_t(stride) + size_t(j)]; }));
            const int row = found == at.end() ? -1 : found->second;
            addRow(
                out.cells, [&](int col) { return row < 0 || r.isNull(row, 1 + col); },
                [&](int col) { return r.text(row, 1 + col); });
        }
        return true;
    }

    // A whole table's count is kept by the server: it is read at once (a
    // fraction of a millisecond). A server without the kept counts (made by
    // an older tool that could not add them) is counted row by row in the
    // background pass, before the keys.
    std::optional<int> quickCount() override
    {
        DbFault f = DbFault::None;
        QString why;
        if (std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why)) {
            const PgResult r = c->read(serverRowCountSql(q_.from));
            giveBackServerConnection(std::move(c));
            if (r.ok() && r.rows() == 1)
                return r.text(0, 0).toInt();
        }
        return std::nullopt;
    }

    std::unique_ptr<KeyPass> keyPass() override
    {
        std::shared_ptr<PgConnection> c = takeSpareServerConnection();
        if (!c)
            return {};
        const ServerPages::Statement st = pages.walk(kPageRows);
        return std::make_unique<ServerKeyPass>(std::move(c), st, pages.settings(st, -1), pages.keyColumns(),
                                               QStringLiteral("select count(*) from ") + q_.from);
    }

    // Through the statement runner (a server cursor read in batches).
    bool readWhole(const std::function<void(std::vector<QString> &)> &take) override
    {
        // A reading, whatever the statement's first word: a DELETE ... RETURNING
        // given to a grid is refused, not run as the runner's action.
        SqlOutcome out;
        RecordsetPtr rs = openQuery(whole_, &out);
        if (!rs) {
            failure_ = out;
            return false;
        }
        const int n = rs->fieldCount();
        for (int i = 0; i < n; ++i)
            names_.push_back(rs->fieldName(i));
        std::vector<QString> row;
        for (; !rs->atEOF(); rs->MoveNext()) {
            row.clear();
            for (int i = 0; i < n; ++i)
                row.push_back(rs->text(i));
            take(row);
        }
        if (rs->lastFault() != DbFault::None) {
            failure_ = SqlOutcome{};
            failure_.fault = rs->lastFault();
            failure_.error = rs->lastError();
            return false;
        }
        return true;
    }

    int orderedBudgetMs(int /*asked*/) const override { return kServerOrderedBudgetMs; }
    int passDelayMs() const override { return kWalkDelayMs; }

private:
    // `read` on a connection of the pool, given back after; false when there
    // is none or the reading failed, the failure told unless a reading with
    // a budget was cancelled (query canceled: the budget is spent).
    template <typename Read>
    bool pooled(const Read &read, PgResult &r, bool budgeted = false)
    {
        DbFault f = DbFault::None;
        QString why;
        std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why);
        if (!c)
            return fail(f, why);
        r = read(*c);
        giveBackServerConnection(std::move(c));
        return r.ok() || (budgeted && r.sqlState() == "57014") ? r.ok() : fail(r.fault(), r.error());
    }
    void takeColumns(const PgResult &r, int trailing)
    {
        if (!names_.empty())
            return;
        const int n = r.columns() - 1 - trailing;
        for (int i = 0; i < n; ++i)
            addColumn(r.columnName(1 + i), r.isDateColumn(1 + i));
    }
    // One page statement, in a transaction of its own on a connection of the
    // pool: nothing stays open after it.
    bool run(const ServerPages::Statement &st, bool wantLast, PageRows &out, int budgetMs = -1,
             bool *timedOut = nullptr)
    {
        PgResult r;
        if (!pooled([&](PgConnection &c) { return pages.run(c, st, budgetMs); }, r, budgetMs > 0)) {
            if (timedOut && budgetMs > 0 && r.sqlState() == "57014")
                *timedOut = true;
            return false;
        }
        takeColumns(r, pages.keyColumns());
        out = PageRows{};
        out.rows = r.rows();
        out.cells.reserve(size_t(out.rows) * names_.size());
        for (int row = 0; row < out.rows; ++row)
            addRow(
                out.cells, [&](int i) { return r.isNull(row, 1 + i); }, [&](int i) { return r.text(row, 1 + i); });
        if (wantLast && out.rows == kPageRows)
            out.last = std::make_unique<ServerKey>(pages.keyOf(r, out.rows - 1));
        return true;
    }
};

}  // namespace

std::unique_ptr<PageSource> openServerPages(const QString &sql, SqlOutcome &out)
{
    const auto translated = translateSql(sql.trimmed(), SqlDialect::Server);
    if (!translated) {
        out.fault = DbFault::Other;
        out.error = QStringLiteral("语句无法解析");
        return {};
    }
    auto p = std::make_unique<ServerPageSource>(*translated);
    // Shapes that cannot be paged (distinct, group by, ...) are read whole.
    if (!p->pages.ok())
        p->setWhole(sql.trimmed());
    return p;
}

namespace {

// Rows of one keyset page of a report on the server.
constexpr int kServerPageRows = 500;
// Blocks of the first table read at a time for a join without ORDER BY.
constexpr int kServerBlocks = 8;

// A report's rows on the server: keyset pages, each page one statement of
// its own, or a cursor in a read-only transaction of its own, on a
// connection that stays with this pass until it ends (the pool belongs to
// the main thread: the connection goes back there only).
class ServerRows final : public RowStream {
public:
    std::shared_ptr<PgConnection> server;
    std::unique_ptr<PgCursor> cursor;
    std::optional<ServerPages> pages;
    PgResult page;
    int pageRow = -1;
    bool lastPage = false;
    ServerPages::Key lastKey;
    qint64 nextBlock = 0;
    qint64 blockEnd = -1;

    ~ServerRows() override
    {
        // The pass's server connection goes back to the pool once the pass
        // is over and the connection idle: the windows' next statement then
        // runs on a server process that has run statements before, not on a
        // new one that must connect and load its caches first.
        std::shared_ptr<PgConnection> used = server ? server : cursor ? cursor->connection() : nullptr;
        end();
        server.reset();
        const QCoreApplication *app = QCoreApplication::instance();
        if (used && app && QThread::currentThread() == app->thread())
            giveBackServerConnection(std::move(used));
    }
    int columns() const override
    {
        return pages ? page.columns() - 1 - pages->keyColumns() : cursor ? int(cursor->names().size()) : 0;
    }
    QString name(int i) const override { return pages ? page.columnName(1 + i) : cursor->names()[i]; }
    bool isDate(int i) const override { return pages ? page.isDateColumn(1 + i) : cursor->dateColumns()[size_t(i)]; }
    Step next() override
    {
        if (pages)
            return stepPages();
        if (cursor->next())
            return Row;
        if (cursor->ok())
            return Done;
        fault_ = cursor->fault();
        error_ = cursor->error();
        return Failed;
    }
    bool isNull(int i) const override { return pages ? page.isNull(pageRow, 1 + i) : cursor->isNull(i); }
    QByteArray utf8(int i) const override
    {
        return pages ? page.text(pageRow, 1 + i).toUtf8() : cursor->text(i).toUtf8();
    }
    bool inTransaction() const override { return reading_.load(); }
    void end() override
    {
        reading_ = false;
        cursor.reset();
    }

    // The next row of the keyset pages, reading the next page when one ends.
    Step stepPages()
    {
        if (++pageRow < page.rows())
            return Row;
        if (pages->byBlocks())
            return stepBlocks();
        if (lastPage)
            return Done;
        const ServerPages::Statement st = pages->page(page.rows() > 0 ? &lastKey : nullptr, nullptr, kServerPageRows);
        page = pages->run(*server, st);
        if (!page.ok())
            return failed(page);
        pageRow = 0;
        if (page.rows() == kServerPageRows)
            lastKey = pages->keyOf(page, page.rows() - 1);
        else
            lastPage = true;
        return page.rows() > 0 ? Row : Done;
    }

    // The next row of a join read in ranges of its first table's blocks.
    Step stepBlocks()
    {
        if (blockEnd < 0) {
            const ServerPages::Statement st = pages->blockCount();
            const PgResult r = server->read(st.sql, st.params);
            if (!r.ok() || r.rows() != 1)
                return failed(r);
            blockEnd = r.text(0, 0).toLongLong();
        }
        while (nextBlock < blockEnd) {
            const ServerPages::Statement st = pages->blocks(nextBlock, kServerBlocks);
            page = pages->run(*server, st);
            if (!page.ok())
                return failed(page);
            nextBlock += kServerBlocks;
            pageRow = 0;
            if (page.rows() > 0 || nextBlock >= blockEnd)
                return page.rows() > 0 ? Row : Done;
        }
        return Done;
    }

    std::atomic<bool> reading_{false};

private:
    Step failed(const PgResult &r)
    {
        fault_ = r.fault();
        error_ = r.error();
        return Failed;
    }
};

}  // namespace

std::unique_ptr<RowStream> openServerRows(const QString &sql, QString *error)
{
    auto fail = [&](DbFault f, const QString &why) {
        reportFault(f, why);
        if (error)
            *error = why;
        return std::unique_ptr<RowStream>();
    };
    const auto translated = translateSql(sql.trimmed(), SqlDialect::Server);
    if (!translated) {
        if (error)
            *error = QStringLiteral("语句无法解析");
        return {};
    }
    DbFault f = DbFault::None;
    QString why;
    std::shared_ptr<PgConnection> conn = takeServerConnection(&f, &why);
    if (!conn)
        return fail(f, why);
    auto rows = std::make_unique<ServerRows>();
    const QString run = *translated;
    if (ServerPages pages(run); pages.ok()) {
        // Keyset pages: the first one tells the columns.
        rows->pages.emplace(std::move(pages));
        rows->server = conn;
        if (rows->stepPages() == RowStream::Failed)
            return fail(rows->fault(), rows->error());
        rows->pageRow = -1;
        return rows;
    }
    // A server cursor takes queries only: an action statement fails here.
    rows->cursor = std::make_unique<PgCursor>(conn, run, true);
    if (!rows->cursor->ok())
        return fail(rows->cursor->fault(), rows->cursor->error());
    rows->reading_ = true;
    return rows;
}

}  // namespace xs
