#pragma once
#include "data/pagesource.h"

// Keyset pages of a query on the database file: the statement's ORDER BY,
// then the rowid of each table breaking the ties. Each page is one statement
// run to its end, so each is its own short read transaction and no read
// stays open between calls.
namespace xs {

// The statements of one query's pages in the file's dialect.
struct SqliteQuery : PagedQuery {
    explicit SqliteQuery(PagedQuery q) : PagedQuery(std::move(q)) {}
    // One page: the rows after key ?1.. (when `after`), up to and including
    // the key that follows (when `upTo`), at most `limit` rows, in key order.
    // The listed columns come first, the key's values after them.
    QString pageStatement(bool after, bool upTo, int limit) const;
    // Only the keys of every row, in order: what the background pass reads
    // (with `scan`, by one pass over the first table).
    QString keyStatement(bool scan = false) const;
    // The rowids of every row in order (or the `columns` given), the first
    // table read straight through (no index) and the second looked up: one
    // pass over the first table.
    QString scanStatement(const QString &columns = {}) const;
    // The listed columns of the one row with the rowids ?1 (and ?2).
    QString rowStatement() const;
    // The number of rows (a statement without a condition only).
    QString countStatement() const;
    // The same from the count the file keeps for the table (row_counts),
    // else by counting; for a table named alone.
    QString keptCountStatement() const;
};

// The ordered first page gives way to one pass (kOrderedBudgetMs) only
// after this many steps: a page that costs the engine few steps (a listing
// served by its indexes) is never cut short, however busy the machine or
// cold the disk; only a reading that has worked through many rows and is
// still short of a page gives way.
constexpr int kOrderedMinSteps = 60'000;

std::unique_ptr<PageSource> openSqlitePages(const QString &path, const QString &sql, SqlOutcome &out);
std::unique_ptr<RowStream> openSqliteRows(const QString &dbFile, const QString &sql, QString *error);

}  // namespace xs
