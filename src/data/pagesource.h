#pragma once
#include "data/value.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What the pager and the report's rows read through, whatever the engine: a
// statement's parts, its pages after a key, the background pass over its
// keys, and a straight reading of all its rows. Each engine renders the
// statements in its own dialect (data/sqlite/sqlitepages.h, data/pg/serverpages.h).
namespace xs {

// The rows of one page of every listing (a grid's page, a key of the
// background pass every so many rows).
constexpr int kPageRows = 64;
// How long the first page of a statement with a condition may take in key
// order before its rows are found by one pass instead (the engine may give
// it longer: PageSource::orderedBudgetMs).
constexpr int kOrderedBudgetMs = 20;

// The parts of a "select LIST from FROM [where COND] [order by KEYS]" statement
// that keyset pages are built from. ok is false for any other shape (distinct,
// group by, limit, a compound or a from clause other than one table or one
// join of two), which is then read whole.
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
    // The keys, comma-separated: each one's `name` (its expression unless
    // given), followed by "desc" for a descending key when `withDirection`.
    QString keyList(bool withDirection, const std::function<QString(int)> &name = {}) const;
    // "select COLUMNS from FROM" with the statement's condition and `more`,
    // in the order `order` when one is given.
    QString select(const QString &columns, const QStringList &more = {}, const QString &order = {}) const;
    // In a join on "a.x=b.y" ordered by a column of the join that is unique in
    // its table (`unique` says which are), every joined row with one value of
    // that key comes from one row of that table: its rowid may follow the key
    // at once without changing the order of any rows. With it there, the rows
    // of each such value come in the other table's index order, and the
    // engine need not read and sort all of them before the first.
    void rowidAfterUniqueJoinKey(const std::function<bool(const QString &table, const QString &column)> &unique);
};

// The sort key of one row, as the engine that read it keeps it: the pager
// only hands it back to the same source.
class PageKey {
public:
    virtual ~PageKey() = default;
};
using KeyPtr = std::unique_ptr<const PageKey>;

// The rows of one page: `rows` x columns texts (null as empty, dates in the
// short form), and the key of its last row when the page is full and the
// reader asked for it.
struct PageRows {
    int rows = 0;
    std::vector<QString> cells;
    KeyPtr last;
};

// The background pass over a listing's keys: its count and the key of every
// kPageRows-th row. run() runs in a thread of the pager's own.
class KeyPass {
public:
    virtual ~KeyPass() = default;
    // In the pass's thread. `early` is told the count when it comes before
    // the keys. False when the pass did not end (cancelled, failed).
    virtual bool run(const std::function<void(int)> &early) = 0;
    // From the window's thread while run() may be running: makes it end
    // soon. Called again until it has ended (a cancel that came before the
    // reading started is sent again).
    virtual void cancel() = 0;
    // In the window's thread once run() has returned: gives back what the
    // pass held.
    virtual void handBack() {}
    // Whether a cancel ends the pass at once (the window then waits for it;
    // otherwise a thread of its own waits, so that the window does not).
    virtual bool endsAtOnce() const = 0;

    // The engine could not count a whole table at once: the pass counts its
    // rows before it reads the keys (and tells `early`).
    bool countFirst = false;
    int count = 0;
    std::vector<KeyPtr> keys;
};

// The reading of one statement in pages, on one engine.
class PageSource {
public:
    virtual ~PageSource() = default;
    // The statement's parts (query().ok false: it is read whole).
    const PagedQuery &query() const { return q_; }
    // The listed columns (known once something has been read).
    const std::vector<QString> &names() const { return names_; }
    // Why the last reading that failed failed (also told to the fault listener).
    const SqlOutcome &failure() const { return failure_; }

    // The page after `after` (null: from the first), none after `upTo`
    // (null: no bound), at most kPageRows rows; out.last is the key of its
    // last row when the page is full and there is no upTo. With a budget
    // (ms > 0) the reading gives way when it takes longer: false with
    // *timedOut set.
    virtual bool page(const PageKey *after, const PageKey *upTo, PageRows &out, int budgetMs = -1,
                      bool *timedOut = nullptr) = 0;
    // The page that starts at row `place` of the order, read before the keys
    // of the pages before it are known: `known` is the key of row
    // `knownRows` - 1 (null when none is known), where the source may start.
    virtual bool pageAt(int place, const PageKey *known, int knownRows, PageRows &out) = 0;
    // The rows of a rare condition, found by one pass: how many (kTooMany:
    // too many for that, read them in key order; -1: failed).
    static constexpr int kTooMany = -2;
    virtual int findRows() = 0;
    // Rows [first, first + rows) of those found; a row gone since shows empty.
    virtual bool foundRows(int first, int rows, PageRows &out) = 0;
    // The number of rows of a whole table when the engine knows it at once.
    virtual std::optional<int> quickCount() = 0;
    // The background pass (null when it cannot run: the pages are then
    // counted as they are read).
    virtual std::unique_ptr<KeyPass> keyPass() = 0;
    // Every row of a statement that cannot be paged, one at a time.
    virtual bool readWhole(const std::function<void(std::vector<QString> &row)> &take) = 0;

    // How long the first page of a condition may take in key order on this
    // engine before the rows are found by one pass (`asked` > 0).
    virtual int orderedBudgetMs(int asked) const { return asked; }
    // How long after the first page the background pass starts.
    virtual int passDelayMs() const { return 0; }

protected:
    PagedQuery q_;
    std::vector<QString> names_;
    SqlOutcome failure_;
};

// What the engines' page sources share: the listed columns' kinds, the
// failure kept and told, and the texts of a page's rows.
class EnginePages : public PageSource {
protected:
    // The statement read whole (when it cannot be paged).
    QString whole_;
    std::vector<bool> isDate_;

    void addColumn(const QString &name, bool date)
    {
        names_.push_back(name);
        isDate_.push_back(date);
    }
    // Keeps why a reading failed and tells the fault listener; false.
    bool fail(DbFault f, const QString &why);
    // A listed column's text as the windows show it (dates in the short form).
    QString shown(int col, const QString &text) const;
    // Appends one row of the listed columns: column i is null when isNull(i),
    // else text(i); null shows empty.
    template <typename Null, typename Text>
    void addRow(std::vector<QString> &cells, const Null &isNull, const Text &text) const
    {
        for (int i = 0; i < int(names_.size()); ++i)
            cells.push_back(isNull(i) ? QString() : shown(i, text(i)));
    }
};

// The page source of `sql` (the windows' dialect) on the engine the process
// uses; null with `out` saying why when it cannot be read at all.
std::unique_ptr<PageSource> openPageSource(const QString &sql, SqlOutcome &out);

// Every row of one statement, read straight through (a report's rows): on
// the file in one read transaction, on the server in keyset pages or through
// a cursor.
class RowStream {
public:
    enum Step { Row, Done, Failed };
    virtual ~RowStream() = default;
    virtual int columns() const = 0;
    virtual QString name(int i) const = 0;
    virtual bool isDate(int i) const = 0;
    virtual Step next() = 0;
    // Column i of the current row.
    virtual bool isNull(int i) const = 0;
    virtual QByteArray utf8(int i) const = 0;
    // From another thread: makes next() end soon.
    virtual void interrupt() {}
    // Whether the statement still holds a read transaction.
    virtual bool inTransaction() const { return false; }
    // Ends the read transaction (the rows read stay).
    virtual void end() {}
    // Why next() failed.
    DbFault fault() const { return fault_; }
    const QString &error() const { return error_; }

protected:
    DbFault fault_ = DbFault::None;
    QString error_;
};

// The rows of `sql` (the windows' dialect) on the engine the process uses. Null with *error set when it cannot be read;
// engine faults are told to the fault listener.
std::unique_ptr<RowStream> openRowStream(const QString &sql, QString *error);

}  // namespace xs
