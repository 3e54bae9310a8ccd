#pragma once
#include "data/pagesource.h"

#include <QList>
#include <QString>
#include <optional>
#include <vector>

// Keyset pages of a query on the shared server. The server's tables have no
// rowid: a row's ctid (its place in the table) breaks the ties of the
// statement's ORDER BY instead, and a statement without ORDER BY runs in ctid
// order, the order in which the server reads the table itself.
//
// A page is one statement: the rows after the key of the row before it, at
// most a page of them, in key order. "After" is cut into pieces that each fix
// the leading keys to the key's values and bound the next one, so that every
// piece is a range of the listing's indexes (PostgreSQL cannot use an index
// for a condition over NULLs and values of mixed directions as a whole); the
// pieces are read in key order, each up to a page, and the first page of rows
// among them is kept. NULL sorts last when ascending and first when
// descending, as PostgreSQL orders it; comparisons take the key's own type
// (citext compares letter case insensitively, as its ordering does).
namespace xs {

class PgConnection;
class PgResult;

class ServerPages {
public:
    // One key: its values as the server prints them; nullopt is NULL.
    using Key = std::vector<std::optional<QString>>;
    struct Statement {
        QString sql;
        QList<std::optional<QString>> params;
        bool serial = false;  // a plain scan that must come in ctid order: no parallel workers
    };

    // `serverSql` is already in the server's dialect.
    explicit ServerPages(const QString &serverSql);
    // False for a statement that cannot be read in pages (read it whole).
    bool ok() const { return q_.ok; }
    const PagedQuery &query() const { return q_; }
    // The key has this many values, the last columns of a page's rows.
    int keyColumns() const { return int(q_.keys.size()); }

    // The rows after `after` (null: from the first), none after `upTo` (null:
    // no bound), at most `limit`. Columns: a piece number, the listed
    // columns, the key.
    Statement page(const Key *after, const Key *upTo, int limit) const;
    // The key of the row at `place` (0-based) in the order, found by skipping
    // the rows before it with only their keys read (no row is built).
    // Columns: a piece number and the key.
    Statement keyAtPlace(int place) const;
    // The number of every row whose number is a multiple of `every`, with its
    // key, and the last row's: what the count and the page keys come from.
    // Columns: the row number, a flag for the last row, the key.
    Statement walk(int every) const;
    // The number of rows, then the ctids of every row in order (one column
    // per table), found by one pass over the tables in whatever way is
    // quickest and sorted after: for a condition that few rows meet. Columns:
    // the count, the ctids; one row of NULL ctids when there are no rows or
    // more than a rare condition meets (the ctids are then not sorted).
    Statement scan() const;
    // The listed columns of the rows with the given ctids (`tables` per row),
    // then their ctids, in no order (the reader puts them in place; a row
    // gone since is not among them).
    Statement byCtids(const std::vector<QString> &ctids, int firstRow, int rows) const;
    // A join without ORDER BY comes in the order of the first table's rows
    // (as the server's join of the whole statement gives it); sorting by
    // ctids for a page would sort the whole join, so it is read in ranges of
    // the first table's blocks instead, each range sorted by itself.
    bool byBlocks() const { return q_.ok && q_.orderKeys == 0 && q_.tables.size() > 1; }
    // The number of blocks of the first table (one row, one column).
    Statement blockCount() const;
    // The rows of blocks [first, first + count) of the first table, in ctid
    // order; columns as in page().
    Statement blocks(qint64 first, int count) const;
    // Runs a statement of page() or blocks(). A statement with ORDER BY runs
    // in the listing's order: through the indexes, the rows taken as they
    // come in key order up to a page (the server's estimate of how many rows
    // a condition such as LIKE '%王%' meets is a guess that would otherwise
    // make it read and sort the whole archive for every page). With a budget
    // (ms > 0) the statement is cancelled when it runs longer. Each runs in
    // a read-only transaction of its own that ends with it.
    PgResult run(PgConnection &c, const Statement &st, int budgetMs = -1) const;
    // The session settings `st` runs with (";SET LOCAL ...", which may bound
    // it more tightly than the reading bound), for another thread that runs
    // it itself.
    QString settings(const Statement &st, int budgetMs) const;
    // The key of row r of a page result.
    Key keyOf(const PgResult &page, int r) const;

private:
    PagedQuery q_;
    bool physical_ = false;  // no ORDER BY: the key is the table's ctid
};

std::unique_ptr<PageSource> openServerPages(const QString &sql, SqlOutcome &out);
std::unique_ptr<RowStream> openServerRows(const QString &sql, QString *error);

}  // namespace xs
