#include "data/pg/pgschema.h"

#include "data/pg/pgsql.h"
#include "data/schema.h"

#include <QRegularExpression>
#include <algorithm>

namespace xs {

namespace {
const QString kVersionMark = QStringLiteral("澄衡数据库结构版本 ");

const char *const kColumnTypes[kColumnKinds] = {"text", "citext", "text", "date", "integer"};

QString versionDdl()
{
    return QStringLiteral("COMMENT ON SCHEMA chengheng IS '%1%2';").arg(kVersionMark).arg(kSchemaVersion);
}
}  // namespace

QString serverSharedDdl()
{
    QString ddl = QStringLiteral("CREATE SCHEMA chengheng;");
    for (const QString &t : kSchemaTables)
        if (!isRoomTable(t))
            ddl += createTable(t, QStringLiteral("chengheng.") + t, false, kColumnTypes);
    return ddl + createIndexes(0, true) + serverRowCountDdl() + versionDdl();
}

QString serverRoomTableDdl(const QString &room)
{
    const QString schema = roomSchema(room);
    QString ddl = QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1;").arg(schema);
    for (const QString &t : kSchemaTables)
        if (isRoomTable(t))
            ddl += createTable(t, schema + QLatin1Char('.') + t, true, kColumnTypes);
    return ddl;
}

QString serverMigrationDdl(int from)
{
    // 1 to 2: the listings' index an older tool's server lacks (the kept
    // counts come with every upgrade, made again as the owner's). 2 to 3:
    // the drug catalogue, filled with the built-in one, and the archive's
    // prescription lines (each room's lines come with its work table).
    QString ddl;
    for (int to = from + 1; to <= kSchemaVersion; ++to) {
        if (to == 3) {
            for (const QString &t : QStringList{"drugs", "xjrx"})
                ddl += createTable(t, QStringLiteral("chengheng.") + t, true, kColumnTypes);
            QString why;
            ddl += drugSeedSql(QStringLiteral("chengheng.drugs"), &why);
        }
        ddl += createIndexes(to, true);
    }
    return ddl + versionDdl();
}

int serverSchemaVersion(PgConnection &c, QString *error)
{
    const PgResult r = c.exec(
        QStringLiteral("select coalesce(obj_description(oid, 'pg_namespace'), '') from pg_namespace where nspname = "
                       "'chengheng'"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return -1;
    }
    if (r.rows() == 0)
        return 0;
    const QString comment = r.text(0, 0);
    const int version = comment.startsWith(kVersionMark) ? std::max(1, comment.mid(kVersionMark.size()).toInt()) : 1;
    if (version <= kSchemaVersion)
        return version;
    if (error)
        *error = newerSchemaText(QStringLiteral("服务器上的澄衡数据库"), version);
    return -1;
}

// The number of rows of the archive, kept by the server as rows come and go:
// every statement that adds or removes rows of xj appends one row (+n or -n)
// to row_counts, so that the archive grid's count is a sum over a few rows
// instead of a pass over a million. Only rows are appended (no row is
// updated), so rooms writing at once never wait for each other here; the
// rows are summed into one at start-up (compactServerRowCounts). A reader
// sees the rows of the transactions its snapshot sees, as it sees xj's.
//
// The rooms may not write row_counts themselves: the triggers' functions and
// the compaction run with the owner's rights (SECURITY DEFINER, with a fixed
// search path so that nothing a caller puts first is run in their place).
QString serverRowCountDdl()
{
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS chengheng.row_counts(tbl text NOT NULL, n bigint NOT NULL);"
        "CREATE OR REPLACE FUNCTION chengheng.row_counts_added() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
        " SET search_path = pg_catalog, pg_temp AS $xs$"
        "BEGIN INSERT INTO chengheng.row_counts SELECT TG_TABLE_NAME, count(*) FROM xs_new HAVING count(*) > 0;"
        " RETURN NULL; END $xs$;"
        "CREATE OR REPLACE FUNCTION chengheng.row_counts_removed() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
        " SET search_path = pg_catalog, pg_temp AS $xs$"
        "BEGIN INSERT INTO chengheng.row_counts SELECT TG_TABLE_NAME, -count(*) FROM xs_old HAVING count(*) > 0;"
        " RETURN NULL; END $xs$;"
        "CREATE OR REPLACE FUNCTION chengheng.row_counts_emptied() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
        " SET search_path = pg_catalog, pg_temp AS $xs$"
        "BEGIN DELETE FROM chengheng.row_counts WHERE tbl = TG_TABLE_NAME;"
        " INSERT INTO chengheng.row_counts VALUES (TG_TABLE_NAME, 0); RETURN NULL; END $xs$;"
        "CREATE OR REPLACE FUNCTION chengheng.row_counts_compact() RETURNS void LANGUAGE sql SECURITY DEFINER"
        " SET search_path = pg_catalog, pg_temp AS $xs$"
        "WITH xs_old AS (DELETE FROM chengheng.row_counts RETURNING tbl, n)"
        " INSERT INTO chengheng.row_counts SELECT tbl, sum(n) FROM xs_old GROUP BY tbl $xs$;"
        // Counted again when rows were written past the triggers; writers
        // wait meanwhile, so that no row is counted twice or missed.
        "CREATE OR REPLACE FUNCTION chengheng.row_counts_recount() RETURNS void LANGUAGE plpgsql SECURITY DEFINER"
        " SET search_path = pg_catalog, pg_temp AS $xs$"
        "BEGIN LOCK TABLE chengheng.xj IN SHARE ROW EXCLUSIVE MODE;"
        " IF (SELECT count(*) FROM chengheng.xj) <> (SELECT coalesce(sum(n), 0) FROM chengheng.row_counts"
        " WHERE tbl = 'xj') THEN DELETE FROM chengheng.row_counts WHERE tbl = 'xj';"
        " INSERT INTO chengheng.row_counts SELECT 'xj', count(*) FROM chengheng.xj; END IF; END $xs$;"
        "CREATE OR REPLACE TRIGGER row_counts_insert AFTER INSERT ON chengheng.xj REFERENCING NEW TABLE AS xs_new"
        " FOR EACH STATEMENT EXECUTE FUNCTION chengheng.row_counts_added();"
        "CREATE OR REPLACE TRIGGER row_counts_delete AFTER DELETE ON chengheng.xj REFERENCING OLD TABLE AS xs_old"
        " FOR EACH STATEMENT EXECUTE FUNCTION chengheng.row_counts_removed();"
        "CREATE OR REPLACE TRIGGER row_counts_truncate AFTER TRUNCATE ON chengheng.xj"
        " FOR EACH STATEMENT EXECUTE FUNCTION chengheng.row_counts_emptied();"
        "DELETE FROM chengheng.row_counts WHERE tbl = 'xj';"
        "INSERT INTO chengheng.row_counts SELECT 'xj', count(*) FROM chengheng.xj;");
}

bool checkServerRowCounts(PgConnection &c)
{
    // Whether the kept count is the archive's number of rows (both read in
    // one snapshot). Rows written past the triggers (an administrator's bulk
    // load with triggers off, a data-only restore without them) make it drift.
    const PgResult holds =
        c.exec(QStringLiteral("select (select count(*) from chengheng.xj) = (select coalesce(sum(n), 0) from "
                              "chengheng.row_counts where tbl = 'xj')"));
    return holds.ok()
           && (holds.text(0, 0) == QLatin1String("t")
               || c.exec(QStringLiteral("select chengheng.row_counts_recount()")).ok())
           && compactServerRowCounts(c);
}

QString serverRowCountSql(const QString &table)
{
    const QString t = table.trimmed();
    static const QRegularExpression plain(QStringLiteral("^[\\w]+$"));
    const QString all = QStringLiteral("(select count(*) from %1)").arg(t);
    if (!plain.match(t).hasMatch())
        return QStringLiteral("select ") + all;
    // The kept count when there are rows for the table (its first row is
    // made with the triggers); count(*) is then never run.
    return QStringLiteral(
               "select coalesce((select sum(n) from chengheng.row_counts where tbl='%1' having count(*) > 0), "
               "%2)")
        .arg(t, all);
}

bool compactServerRowCounts(PgConnection &c)
{
    // The rows of each table summed into one. Rows another room appends
    // meanwhile are not seen and stay; two rooms compacting at once each sum
    // the rows they took (the second skips those the first removed).
    return c.exec(QStringLiteral("select chengheng.row_counts_compact()")).ok();
}

}  // namespace xs
