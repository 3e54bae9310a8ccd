#include "data/listing.h"

#include "data/sqlite/sqlite.h"

#include <sqlite3.h>

namespace xs {

namespace {
const QString kJoinedByDepartment = QStringLiteral("from xj inner join class on xj.科室=class.科室  where xj.科室='");
const QString kClassDepartment = QStringLiteral("from xj inner join class on xj.科室=class.科室  where class.科室='");
}  // namespace

QString listingStatement(const QString &sql)
{
    // Only the browser's own node listing: a join on 科室 whose condition
    // starts with the archive's 科室. A typed value never contains the head,
    // since it follows it.
    const qsizetype at = sql.indexOf(kJoinedByDepartment);
    if (at < 0)
        return sql;
    QString out = sql;
    out.replace(at, kJoinedByDepartment.size(), kClassDepartment);
    return out;
}

bool ensureListingIndexes(const Connection &c)
{
    // 年级 nodes of both browsers start from class(年级); the records of each
    // department come in 门诊号 order from xj(科室, 门诊号). Listings sorted by
    // group and department read class in that order from class(年级, 科室),
    // so only the records of one department are sorted at a time.
    const bool made = c.exec("CREATE INDEX IF NOT EXISTS class_nianji ON class(年级);"
                             "CREATE INDEX IF NOT EXISTS class_nianji_keshi ON class(年级, 科室);"
                             "CREATE INDEX IF NOT EXISTS xj_keshi_menzhenhao ON xj(科室, 门诊号);");
    // Statistics let the planner drive a listing from the small table.
    c.exec("PRAGMA optimize");
    return made;
}

bool ensureRowCounts(const Connection &c)
{
    const auto has = [&c] {
        StmtHandle s = c.prepare(QStringLiteral(
            "select count(*) from sqlite_master where type='trigger' and name in ('row_counts_xj_insert',"
            " 'row_counts_xj_delete')"));
        return s && sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_int(s.get(), 0) == 2;
    };
    const auto holds = [&c] {
        StmtHandle s =
            c.prepare(QStringLiteral("select (select count(*) from xj) = (select n from row_counts where tbl='xj')"));
        return s && sqlite3_step(s.get()) == SQLITE_ROW && sqlite3_column_int(s.get(), 0) == 1;
    };
    if (has() && holds())
        return true;
    // Made, or counted again, in one write transaction: no row is added or
    // removed between the count and the triggers.
    if (!c.exec("BEGIN IMMEDIATE"))
        return false;
    const bool made = (has() && holds())
                      || c.exec("CREATE TABLE IF NOT EXISTS row_counts(tbl TEXT PRIMARY KEY, n INTEGER NOT NULL);"
                                "CREATE TRIGGER IF NOT EXISTS row_counts_xj_insert AFTER INSERT ON xj"
                                " BEGIN UPDATE row_counts SET n = n + 1 WHERE tbl = 'xj'; END;"
                                "CREATE TRIGGER IF NOT EXISTS row_counts_xj_delete AFTER DELETE ON xj"
                                " BEGIN UPDATE row_counts SET n = n - 1 WHERE tbl = 'xj'; END;"
                                "INSERT OR REPLACE INTO row_counts VALUES('xj', (SELECT count(*) FROM xj));");
    if (!c.exec(made ? "COMMIT" : "ROLLBACK"))
        return false;
    return made;
}

}  // namespace xs
