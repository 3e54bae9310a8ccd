#include "data/sqlite/fileschema.h"

#include "data/audit.h"
#include "data/schema.h"
#include "data/sqlite/fileaudit.h"
#include "data/sqlite/sqlite.h"

#include <algorithm>
#include <iterator>
#include <sqlite3.h>

namespace xs {

namespace {

const char *const kColumnTypes[kColumnKinds] = {"TEXT", "TEXT COLLATE NOCASE", "TEXT COLLATE NOCASE", "DATE",
                                                "INTEGER"};

// The kept counts: a row per table, moved by triggers as rows come and go, counted when made.
QString rowCountDdl()
{
    QString ddl = QStringLiteral("CREATE TABLE IF NOT EXISTS row_counts(tbl TEXT PRIMARY KEY, n INTEGER NOT NULL);");
    for (const QString &t : kCountedTables)
        ddl += QStringLiteral("CREATE TRIGGER IF NOT EXISTS row_counts_%1_insert AFTER INSERT ON %1"
                              " BEGIN UPDATE row_counts SET n = n + 1 WHERE tbl = '%1'; END;"
                              "CREATE TRIGGER IF NOT EXISTS row_counts_%1_delete AFTER DELETE ON %1"
                              " BEGIN UPDATE row_counts SET n = n - 1 WHERE tbl = '%1'; END;"
                              "INSERT OR REPLACE INTO row_counts VALUES('%1', (SELECT count(*) FROM %1));")
                   .arg(t);
    return ddl;
}

// Whether every counted table has its triggers and its count is its number of rows.
bool rowCountsHold(const Connection &c)
{
    return std::ranges::all_of(kCountedTables, [&c](const QString &t) {
        return c.scalar(QStringLiteral("select (select count(*) from sqlite_master where type='trigger' and name in"
                                       " ('row_counts_%1_insert', 'row_counts_%1_delete')) = 2 and (select count(*)"
                                       " from %1) = (select n from row_counts where tbl='%1')")
                            .arg(t))
               == QLatin1String("1");
    });
}

// 1 to 2: what the earlier program added at start-up to the file of any
// older tool: the listings' indexes, the kept counts and the audit trail.
QStringList toVersion2(const Connection &c)
{
    return QStringList{createIndexes(2, false), rowCountDdl()} + auditTrailWork(c.get());
}

// 2 to 3: the drug catalogue (the built-in one) and the prescriptions' lines.
QStringList toVersion3(const Connection &)
{
    QStringList work;
    for (const QString &t : QStringList{"drugs", "xjrx", "ycrx"})
        work << createTable(t, t, true, kColumnTypes);
    QString why;
    return work << createIndexes(3, false) << drugSeedSql(QStringLiteral("drugs"), &why);
}

// The steps, in order: kSteps[N - 1] takes version N to N + 1.
using Step = QStringList (*)(const Connection &);
const Step kSteps[] = {toVersion2, toVersion3};
static_assert(std::size(kSteps) == kSchemaVersion - 1, "one step for each version after the first");

// Runs the statements of `work` (asked under the write lock) in one transaction; false, none kept, on failure.
template <typename Work>
bool inTransaction(const Connection &c, QString *why, Work work)
{
    bool ok = c.exec("BEGIN IMMEDIATE");
    for (const QString &sql : ok ? work() : QStringList())
        ok = ok && c.exec(sql);
    if (ok && c.exec("COMMIT"))
        return true;
    if (why)
        *why = c.lastError();
    c.exec("ROLLBACK");
    return false;
}

}  // namespace

bool createSchema(const Connection &c)
{
    QString ddl = QStringLiteral("PRAGMA journal_mode=WAL;PRAGMA application_id=%1;BEGIN;").arg(kApplicationId);
    for (const QString &t : kSchemaTables)
        ddl += createTable(t, t, false, kColumnTypes);
    if (!c.exec(ddl + createIndexes(0, false) + QStringLiteral("COMMIT;"))) {
        c.exec("ROLLBACK");
        return false;
    }
    return true;
}

SchemaOutcome migrateFile(const Connection &c, QString *why)
{
    // None (0) in a file of an earlier program: version 1.
    const int version = std::max(1, c.scalar(QStringLiteral("PRAGMA user_version")).value_or(QString()).toInt());
    if (version > kSchemaVersion) {
        if (why)
            *why = newerSchemaText(
                QStringLiteral("数据库文件 %1 ").arg(QString::fromUtf8(sqlite3_db_filename(c.get(), "main"))), version);
        return SchemaOutcome::Newer;
    }
    // Several connections read and write the file at once; a file an older
    // tool made in another mode is put in WAL mode.
    c.exec("PRAGMA journal_mode=WAL");
    for (int from = version; from < kSchemaVersion; ++from)
        if (!inTransaction(
                c, why, [&] { return kSteps[from - 1](c) << QStringLiteral("PRAGMA user_version=%1").arg(from + 1); }))
            return SchemaOutcome::Failed;
    // Asked again under the write lock: no row is added or removed between
    // the count and the triggers.
    const auto repairs = [&] {
        return auditTrailWork(c.get()) + (rowCountsHold(c) ? QStringList() : QStringList{rowCountDdl()});
    };
    if (!repairs().isEmpty() && !inTransaction(c, why, repairs))
        return SchemaOutcome::Failed;
    // Statistics let the planner drive a listing from the small table.
    c.exec("PRAGMA optimize");
    return SchemaOutcome::Current;
}

}  // namespace xs
