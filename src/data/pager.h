#pragma once
#include "data/pagesource.h"

#include <QObject>
#include <QString>
#include <list>
#include <memory>
#include <vector>

namespace xs {

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
// The engine reads the pages (PageSource): on the file a row's rowid breaks
// the ties of the keys; on the shared server its ctid does, and a row that
// another room updates moves to a new ctid: in a listing sorted by unchanged
// keys it may then show in a later page's range as well as where it was read
// before, or not at all until the next listing.
class Pager : public QObject {
    Q_OBJECT
public:
    static constexpr int kPageRows = xs::kPageRows;
    static constexpr int kCachedPages = 16;
    static constexpr int kOrderedBudgetMs = xs::kOrderedBudgetMs;

    // Translates and opens `sql` (a query in the windows' dialect) on the
    // application's database and reads its first page; one table without a
    // condition is counted at once. Null when it cannot be read; `outcome`
    // says why. A budget of 0 finds a condition's rows by one pass at once;
    // -1 reads them in key order however long that takes.
    static std::unique_ptr<Pager> open(const QString &sql, SqlOutcome *outcome = nullptr,
                                       int orderedBudgetMs = kOrderedBudgetMs);
    // The same from a page source already made.
    static std::unique_ptr<Pager> open(std::unique_ptr<PageSource> source, SqlOutcome *outcome = nullptr,
                                       int orderedBudgetMs = kOrderedBudgetMs);
    ~Pager() override;

    int columnCount() const { return int(source_->names().size()); }
    QString columnName(int c) const { return c >= 0 && c < columnCount() ? source_->names()[size_t(c)] : QString(); }
    // Rows known to exist: all of them once the count is known.
    int knownRows() const { return complete_ ? total_ : int(lastKey_.size()) * kPageRows; }
    bool countKnown() const { return complete_; }
    bool isEmpty() const { return complete_ && total_ == 0; }
    // Waits for the count: the background pass's, or reads on to the end
    // without it.
    void waitForCount();
    // Whether the key of every page is known (the background pass is over, or
    // there was none). Until then a page far ahead is read by its place in the
    // order: it holds the rows at that place when it is read, where a page
    // read by its keys holds the rows of its key range.
    bool keysKnown() const { return !walk_; }
    // Reads the page after the known rows; false when there is none.
    bool fetchMore();
    // The text of column c of data row `row` (0-based); reads its page when it
    // is not cached, and the pages before it when their keys are not known yet.
    QString cell(int row, int c);
    // The page of `row` stays cached until another row is pinned (-1: none).
    void pin(int row);
    // Whether the statement runs in keyset pages (false: read whole).
    bool paged() const { return source_->query().ok; }
    // Whether the rows are found by one pass that keeps the ids of every
    // row (a condition that the ordered reading meets too rarely).
    bool byRowids() const { return found_; }
    // How many page statements ran so far.
    int pagesRead() const { return pagesRead_; }
    // Which pages are cached, the most recently used first.
    std::vector<int> cachedPages() const;

signals:
    // knownRows() or countKnown() changed.
    void rowsChanged();

public:
    struct Walk;  // the background pass (pager.cpp)

private:
    explicit Pager(std::unique_ptr<PageSource> source) : source_(std::move(source)) {}
    // Page k; with `far`, read by its place in the order (a page far ahead
    // of the keys, read before the background pass has brought them).
    bool readPage(int k, bool far = false, int budgetMs = -1, bool *timedOut = nullptr);
    bool readFound();
    bool readWhole();
    void keep(int k, PageRows page);
    void startWalk(std::unique_ptr<KeyPass> pass);
    void takeWalk();
    void takeCount(int count);
    // Page k from the cache, else read (with `far`: see readPage).
    const PageRows *page(int k, bool far = false);

    std::unique_ptr<PageSource> source_;
    // lastKey_[k]: the key of the last row of page k, known for every full
    // page read or passed by the background walk.
    std::vector<KeyPtr> lastKey_;
    bool complete_ = false;
    int total_ = 0;
    std::list<std::pair<int, PageRows>> cache_;  // most recent first
    int pinnedPage_ = -1;
    int pagesRead_ = 0;
    bool found_ = false;  // the rows are those findRows() found
    std::shared_ptr<Walk> walk_;
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
