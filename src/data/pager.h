#pragma once
#include "data/recordset.h"
#include "data/sqlite/sqlite.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <list>
#include <memory>
#include <vector>

struct sqlite3_value;

namespace xs {

class PgResult;

struct SqlValueFree {
    void operator()(sqlite3_value *v) const;
};
using SqlValuePtr = std::unique_ptr<sqlite3_value, SqlValueFree>;
// The sort key of one row: its ORDER BY values, then the rowids that break ties.
using RowKey = std::vector<SqlValuePtr>;

// The parts of a "select LIST from FROM [where COND] [order by KEYS]" statement
// that keyset pages are built from. ok is false for any other shape (distinct,
// group by, limit, a compound or a from clause other than one table or one
// join of two), which is then read whole.
struct BackgroundStatement;  // a statement running on the server in another thread

struct PagedQuery {
    bool ok = false;
    QString list, from, where;
    struct Key {
        QString expr;
        bool desc = false;
    };
    std::vector<Key> keys;  // the statement's ORDER BY, then the rowid of each table
    int orderKeys = 0;      // how many of keys are the statement's own
    QStringList tables;     // one table, or the two of the join
    QString on;             // the join condition (empty for one table)

    static PagedQuery parse(const QString &sql);
    // In a join on "a.x=b.y" ordered by a column of the join that is unique in
    // its table (`unique` says which are), every joined row with one value of
    // that key comes from one row of that table: its rowid may follow the key
    // at once without changing the order of any rows. With it there, the rows
    // of each such value come in the other table's index order, and the
    // engine need not read and sort all of them before the first.
    void rowidAfterUniqueJoinKey(const std::function<bool(const QString &table, const QString &column)> &unique);
    // One page: the rows after key ?1.. (when `after`), up to and including
    // the key that follows (when `upTo`), at most `limit` rows, in key order.
    // The listed columns come first, the key's values after them.
    QString pageStatement(bool after, bool upTo, int limit) const;
    // Only the keys of every row, in order: what the background pass reads
    // (with `scan`, by one pass over the first table).
    QString keyStatement(bool scan = false) const;
    // The rowids of every row in order, the first table read straight through
    // (no index) and the second looked up: one pass over the first table.
    QString scanStatement() const;
    // The listed columns of the one row with the rowids ?1 (and ?2).
    QString rowStatement() const;
    // The number of rows (a statement without a condition only).
    QString countStatement() const;
    // The same from the count the file keeps for the table (row_counts),
    // else by counting; for a table named alone.
    QString keptCountStatement() const;
};

// A query shown as a window of its result. The first page is read when it
// opens; further pages are read on demand, each by one statement run to its
// end (so each page is its own short read transaction and no read stays open
// between calls), and kept in a cache of a few pages. Pages follow keys, never
// an offset: page k holds the rows after the last key of page k - 1, so page
// 1,000 costs what page 1 costs. While the first pages are read, a background
// pass on a connection of its own reads the keys of every row and so learns
// the row count and the first key of every page.
//
// What it shows when another program changes the rows while it is open: a
// page read later holds the rows now in its key range (a deleted row leaves
// the range one row short, shown empty at the end of its page; a row added
// inside the range shows after the next listing); the page of the pinned row
// is never read again, so the row the user chose stays that record. Opening
// the query again shows the truth.
//
// On the shared server (serverpager.cpp) the same pages are read by keyset
// statements of the server's own dialect, a row's ctid breaking the ties; each
// page is one statement in a transaction of its own on a connection of the
// pool, and the background pass is one statement on a connection of its own
// that brings the count and every page's key. A whole table is not counted
// at once there (the server counts by reading every row): the count comes
// with the pass. A row that another room updates moves to a new ctid: in a
// listing sorted by unchanged keys it may then show in a later page's range
// as well as where it was read before, or not at all until the next listing.
class Pager : public QObject {
    Q_OBJECT
public:
    static constexpr int kPageRows = 64;
    static constexpr int kCachedPages = 16;

    // How long the first page of a statement with a condition may take in key
    // order before its rows are found by one pass instead. A page that costs
    // the engine few steps (a listing served by its indexes) is never cut
    // short, however busy the machine or cold the disk: only a reading that
    // has worked through many rows and is still short of a page gives way.
    static constexpr int kOrderedBudgetMs = 20;
    static constexpr int kOrderedMinSteps = 60'000;

    // Translates and opens `sql` (a query in the windows' dialect) on the
    // application's database and reads its first page; one table without a
    // condition is counted at once (from its smallest index). Null when it
    // cannot be read; `outcome` says why.
    static std::unique_ptr<Pager> open(const QString &sql, SqlOutcome *outcome = nullptr,
                                       int orderedBudgetMs = kOrderedBudgetMs);
    ~Pager() override;

    int columnCount() const { return int(names_.size()); }
    QString columnName(int c) const { return c >= 0 && c < columnCount() ? names_[size_t(c)] : QString(); }
    // Rows known to exist: all of them once the count is known.
    int knownRows() const;
    bool countKnown() const { return complete_; }
    bool isEmpty() const { return complete_ && total_ == 0; }
    // Waits for the count: the background pass's, or reads on to the end
    // without it.
    void waitForCount();
    // Whether the key of every page is known (the background pass is over, or
    // there was none). Until then a page far ahead is read by its place in the
    // order: it holds the rows at that place when it is read, where a page
    // read by its keys holds the rows of its key range.
    bool keysKnown() const { return !walk_ && !serverWalking(); }
    // Reads the page after the known rows; false when there is none.
    bool fetchMore();
    // The text of column c of data row `row` (0-based); reads its page when it
    // is not cached, and the pages before it when their keys are not known yet.
    QString cell(int row, int c);
    // The page of `row` stays cached until another row is pinned (-1: none).
    void pin(int row);
    // Whether the statement runs in keyset pages (false: read whole).
    bool paged() const { return query_.ok; }
    // Whether the rows are found by one pass that keeps the rowids of every
    // row (a condition that the ordered reading meets too rarely).
    bool byRowids() const { return stride_ > 0; }
    // How many page statements ran so far.
    int pagesRead() const { return pagesRead_; }

signals:
    // knownRows() or countKnown() changed.
    void rowsChanged();

private:
    struct Page {
        int rows = 0;
        std::vector<QString> cells;  // rows x columnCount()
    };
    struct Walk;
    struct WholeRows;
    // The reading on the shared server (serverpager.cpp).
    struct Server;
    static constexpr int kServerOrderedBudgetMs = 150;
    static std::unique_ptr<Pager> openOnServer(const QString &sql, SqlOutcome &out, int budgetMs);
    bool serverWalking() const;
    bool readServerPage(int k, SqlOutcome *outcome = nullptr, int budgetMs = -1, bool *timedOut = nullptr,
                        int skip = 0);
    bool readServerCtids(SqlOutcome &out, BackgroundStatement *started = nullptr);
    bool readServerPageByCtids(int k, SqlOutcome *outcome = nullptr);
    void takePageColumns(const PgResult &r);
    Page pageOf(const PgResult &r) const;
    void keepServerPage(int k, Page page);
    int serverKnownRows() const;
    bool serverFetchMore();
    QString serverCell(int row, int c);
    void serverWaitForCount();
    void startServerWalk();
    void takeServerWalk();
    void takeServerCount(int count);
    Pager() = default;
    // Page k; with `skip`, the page that starts `skip` rows after the last
    // key known (a page far ahead of the keys, read before the background
    // pass has brought them).
    bool readPage(int k, int skip = 0);
    bool readRowids();
    bool readPageByRowids(int k);
    bool readWhole(const QString &sql);
    bool readWholeFromServer(const QString &sql, SqlOutcome &out);
    void startWalk();
    void takeWalk();
    // Page k from the cache, else read (with `skip`: see readPage).
    const Page *page(int k, int skip = 0);

    QString path_;
    PagedQuery query_;
    std::shared_ptr<Connection> conn_;
    StmtHandle stmt_[4];  // by (after ? 1 : 0) | (upTo ? 2 : 0)
    std::vector<QString> names_;
    std::vector<bool> isDate_;
    // lastKey_[k]: the key of the last row of page k, known for every full
    // page read or passed by the background walk.
    std::vector<RowKey> lastKey_;
    bool complete_ = false;
    int total_ = 0;
    std::list<std::pair<int, Page>> cache_;  // most recent first
    int pinnedPage_ = -1;
    int pagesRead_ = 0;
    std::shared_ptr<Walk> walk_;
    // By rowids: the rowids of every row in order, `stride_` per row.
    int stride_ = 0;
    std::vector<qint64> ids_;
    StmtHandle rowStmt_;
    std::shared_ptr<Server> server_;  // on the shared server: its keys and pass
};

// Holds a listing opened ahead of the window that shows it: a query dialog
// that has already read the first page to know whether anything matched hands
// it to the browser, which would otherwise read the same statement again.
// take() gives it back only for the same statement text, once.
class PrefetchedListing {
public:
    static void put(const QString &sql, std::unique_ptr<Pager> pager);
    static std::unique_ptr<Pager> take(const QString &sql);
    static void drop();
};

}  // namespace xs
