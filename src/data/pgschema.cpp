#include "data/pgschema.h"

#include <QRegularExpression>

#include "data/audit.h"
#include "data/caserecord.h"
#include "data/catalogue.h"
#include "data/passwords.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"
#include "data/sqlite/sqlite.h"

#include <sqlite3.h>

namespace xs {

static QString quoted(const QString &name)
{
    QString n = name;
    n.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString roomSchema(const QString &room) { return quoted(QStringLiteral("room_") + room.trimmed()); }

QString roomNameProblem(const QString &room)
{
    const QString name = room.trimmed();
    if (name.isEmpty())
        return QStringLiteral("诊室名不能为空。请给出诊室名，如 1 或 诊室三。");
    // The longest of the names made from it is the room's login role.
    const qsizetype bytes = roomRole(name).toUtf8().size();
    if (bytes <= kServerNameBytes)
        return {};
    const int most = kServerNameBytes - int(roomRole(QString()).toUtf8().size());
    return QStringLiteral("诊室名“%1”太长：服务器上它的登录账户 %2 有 %3 字节，而服务器只保留前 %4 字节，"
                          "名字相近的两个诊室会共用一个账户。请用不超过 %5 字节的诊室名"
                          "（一个汉字占 3 字节，即不超过 %6 个汉字）。")
        .arg(name, roomRole(name))
        .arg(bytes)
        .arg(kServerNameBytes)
        .arg(most)
        .arg(most / 3);
}

QString searchPathFor(const QString &room)
{
    return QStringLiteral("SET search_path = %1, chengheng, public").arg(roomSchema(room));
}

static QString caseTable(const QString &qualifiedName)
{
    QStringList cols;
    for (int i = 0; i < caseColumns().size(); ++i)
        cols << caseColumns()[i] + (isDateColumn(i) ? QStringLiteral(" date") : QStringLiteral(" citext"));
    return QStringLiteral("CREATE TABLE %1(%2);").arg(qualifiedName, cols.join(QLatin1Char(',')));
}

static bool fail(PgConnection &c, QString *error, const QString &what)
{
    if (error)
        *error = what + c.lastError();
    c.run(QStringLiteral("ROLLBACK"));
    return false;
}

bool serverHasSchema(PgConnection &c, QString *error)
{
    const PgResult r = c.exec(QStringLiteral("select 1 from pg_namespace where nspname='chengheng'"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return false;
    }
    return r.rows() > 0;
}

QString serverRoomTableDdl(const QString &room)
{
    const QString schema = roomSchema(room);
    return QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1;").arg(schema)
           + caseTable(schema + QStringLiteral(".yc"))
                 .replace(QStringLiteral("CREATE TABLE "), QStringLiteral("CREATE TABLE IF NOT EXISTS "));
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

static QString sharedDdl()
{
    QStringList cls, cat;
    for (const QString &col : classColumns())
        cls << col + QStringLiteral(" citext");
    for (const QString &col : catalogueColumns())
        cat << col + QStringLiteral(" text");
    return QStringLiteral("CREATE SCHEMA chengheng;"
                          "CREATE TABLE chengheng.use(username citext, password text, admin text, readonly text,"
                          " qx1 text, qx2 text, qx3 text, qx4 text);"
                          "CREATE UNIQUE INDEX use_username ON chengheng.use(username);")
           + QStringLiteral("CREATE TABLE chengheng.class(%1);CREATE UNIQUE INDEX class_keshi ON chengheng.class(科室);"
                            "CREATE INDEX class_nianji ON chengheng.class(年级);"
                            "CREATE INDEX class_nianji_keshi ON chengheng.class(年级, 科室);")
                 .arg(cls.join(QLatin1Char(',')))
           + caseTable(QStringLiteral("chengheng.xj"))
           + QStringLiteral("CREATE UNIQUE INDEX xj_menzhenhao ON chengheng.xj(门诊号);"
                            "CREATE INDEX xj_keshi_menzhenhao ON chengheng.xj(科室, 门诊号);")
           + serverRowCountDdl() + QStringLiteral("CREATE TABLE chengheng.表1(%1);").arg(cat.join(QLatin1Char(',')));
}

// Run first, as the session's own role (a superuser or the database's
// owner): the text type the tables use, and the roles.
static QString beforeObjectsDdl()
{
    return QStringLiteral("CREATE EXTENSION IF NOT EXISTS citext;") + rolesDdl() + QStringLiteral("SET LOCAL ROLE ")
           + kOwnerRole + QLatin1Char(';');
}

bool createServerSchema(PgConnection &c, const QString &room, QString *error,
                        const std::optional<QString> &roomPassword)
{
    if (const QString problem = roomNameProblem(room); !problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    QString why;
    if (serverHasSchema(c, &why)) {
        if (error)
            *error = QStringLiteral("服务器上已经有澄衡数据库（模式 chengheng），init 不改动已有的数据库");
        return false;
    }
    if (!why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    QString verifier;
    if (roomPassword) {
        verifier = c.passwordVerifier(roomPassword->trimmed(), roomRole(room));
        if (verifier.isEmpty()) {
            if (error)
                *error = QStringLiteral("无法生成诊室账户的密码：") + c.lastError();
            return false;
        }
    }
    const QString ddl = QStringLiteral("BEGIN;") + beforeObjectsDdl() + sharedDdl() + roomsTableDdl() + serverAuditDdl()
                        + sharedGrantsDdl() + roomDdl(room, verifier) + serverDdlTrailDdl();
    if (!c.run(ddl))
        return fail(c, error, QStringLiteral("建表失败："));
    if (!c.run(QStringLiteral("COMMIT")))
        return fail(c, error, QStringLiteral("建表失败："));
    return true;
}

namespace {
struct TableCopy {
    const char *fileTable;
    QString serverTable;
    const QStringList &columns;
};

// Reads a table of the file row by row for COPY; empty texts in date columns
// become NULL (the server's date type has no empty value).
class FileRows {
public:
    FileRows(const Connection &c, const char *table, const QStringList &columns)
    {
        stmt_ = c.prepare(
            QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QLatin1Char(',')), QString::fromUtf8(table)));
        // Only the case record tables (xj, yc) have date columns.
        const bool caseTable = columns == caseColumns();
        for (int i = 0; i < columns.size(); ++i)
            date_.push_back(caseTable && isDateColumn(i));
    }
    bool valid() const { return stmt_ != nullptr; }
    bool failed() const { return rc_ != SQLITE_DONE && rc_ != SQLITE_ROW; }
    bool next(QList<std::optional<QString>> &row)
    {
        rc_ = sqlite3_step(stmt_.get());
        if (rc_ != SQLITE_ROW)
            return false;
        const int n = sqlite3_column_count(stmt_.get());
        for (int i = 0; i < n; ++i) {
            if (sqlite3_column_type(stmt_.get(), i) == SQLITE_NULL) {
                row << std::nullopt;
                continue;
            }
            const QString v = columnText(stmt_.get(), i);
            row << (date_[size_t(i)] && v.trimmed().isEmpty() ? std::nullopt : std::optional<QString>(v));
        }
        return true;
    }

private:
    StmtHandle stmt_;
    std::vector<bool> date_;
    int rc_ = SQLITE_ROW;
};

qint64 fileCount(const Connection &c, const char *table)
{
    StmtHandle s = c.prepare(QStringLiteral("SELECT count(*) FROM %1").arg(QString::fromUtf8(table)));
    return s && sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int64(s.get(), 0) : -1;
}
}  // namespace

bool copyFileToServer(const Connection &file, PgConnection &server, const QString &room, QStringList *summary,
                      QString *error, const std::optional<QString> &roomPassword)
{
    auto refuse = [&](const QString &why) {
        if (error)
            *error = why;
        server.run(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (const QString problem = roomNameProblem(room); !problem.isEmpty())
        return refuse(problem);
    QString verifier;
    if (roomPassword) {
        verifier = server.passwordVerifier(roomPassword->trimmed(), roomRole(room));
        if (verifier.isEmpty())
            return refuse(QStringLiteral("无法生成诊室账户的密码：") + server.lastError());
    }
    QString why;
    const bool exists = serverHasSchema(server, &why);
    if (!why.isEmpty())
        return refuse(why);
    if (exists) {
        const PgResult r =
            server.exec(QStringLiteral("select (select count(*) from chengheng.xj) + (select count(*) from "
                                       "chengheng.class) + (select count(*) from chengheng.use)"));
        if (!r.ok())
            return refuse(r.error());
        if (r.text(0, 0).toLongLong() > 0)
            return refuse(
                QStringLiteral("服务器上的澄衡数据库已有记录，migrate 不覆盖已有的记录；请迁移到一个空的数据库"));
    }
    // The copied rows are the server's first state, not changes: the trail's
    // triggers start once they are in, and the file's own trail comes along
    // whole (same entries, same chain).
    if (!server.run(QStringLiteral("BEGIN;") + beforeObjectsDdl() + (exists ? QString() : sharedDdl()) + roomsTableDdl()
                    + serverAuditDdl() + dropServerAuditTriggers() + serverRoomTableDdl(room)
                    + QStringLiteral("DROP TRIGGER IF EXISTS audit_trail ON %1.yc;").arg(roomSchema(room))))
        return refuse(QStringLiteral("建表失败：") + server.lastError());
    {
        const PgResult trail = server.exec(QStringLiteral("select count(*) from chengheng.audit"));
        if (!trail.ok())
            return refuse(trail.error());
        if (trail.text(0, 0).toLongLong() > 0)
            return refuse(
                QStringLiteral("服务器上的澄衡数据库已有审计记录，migrate 不覆盖已有的记录；请迁移到一个空的数据库"));
    }
    const TableCopy tables[] = {
        {"use", QStringLiteral("chengheng.use"), useColumns()},
        {"class", QStringLiteral("chengheng.class"), classColumns()},
        {"xj", QStringLiteral("chengheng.xj"), caseColumns()},
        {"表1", QStringLiteral("chengheng.表1"), catalogueColumns()},
        {"yc", roomSchema(room) + QStringLiteral(".yc"), caseColumns()},
    };
    QStringList lines;
    for (const TableCopy &t : tables) {
        FileRows rows(file, t.fileTable, t.columns);
        if (!rows.valid())
            return refuse(QStringLiteral("无法读取文件中的表 %1：").arg(QString::fromUtf8(t.fileTable))
                          + file.lastError());
        // The server keeps passwords only as hashes: a plain one is hashed on its way.
        const bool accounts = t.columns == useColumns();
        bool hashFailed = false;
        const qint64 copied = server.copyIn(t.serverTable, t.columns, [&](QList<std::optional<QString>> &row) {
            if (!rows.next(row))
                return false;
            if (accounts && row.size() > 1 && row[1] && !isPasswordHash(*row[1])) {
                row[1] = hashPassword(*row[1]);
                hashFailed = hashFailed || row[1]->isEmpty();
            }
            return true;
        });
        if (hashFailed)
            return refuse(QStringLiteral("密码散列失败（内存不足）"));
        if (rows.failed())
            return refuse(QStringLiteral("读取文件中的表 %1 时出错：").arg(QString::fromUtf8(t.fileTable))
                          + file.lastError());
        if (copied < 0)
            return refuse(QStringLiteral("表 %1 没有复制成功：").arg(QString::fromUtf8(t.fileTable))
                          + server.lastError());
        const qint64 inFile = fileCount(file, t.fileTable);
        const PgResult onServer = server.exec(QStringLiteral("select count(*) from %1").arg(t.serverTable));
        if (!onServer.ok())
            return refuse(onServer.error());
        if (inFile != copied || onServer.text(0, 0).toLongLong() != inFile)
            return refuse(QStringLiteral("表 %1 的行数不符：文件 %2 行，服务器 %3 行，没有迁移任何数据")
                              .arg(QString::fromUtf8(t.fileTable), QString::number(inFile), onServer.text(0, 0)));
        lines << QStringLiteral("%1：%2 行").arg(QString::fromUtf8(t.fileTable), QString::number(inFile));
    }
    if (hasAuditTrail(file.get())) {
        static const QStringList kTrail = {QStringLiteral("序号"), QStringLiteral("时间"),  QStringLiteral("用户"),
                                           QStringLiteral("操作"), QStringLiteral("表名"),  QStringLiteral("记录"),
                                           QStringLiteral("改动"), QStringLiteral("校验值")};
        FileRows rows(file, "audit", kTrail);
        if (!rows.valid())
            return refuse(QStringLiteral("无法读取文件中的审计记录：") + file.lastError());
        const qint64 copied = server.copyIn(QStringLiteral("chengheng.audit"), kTrail,
                                            [&](QList<std::optional<QString>> &row) { return rows.next(row); });
        if (rows.failed() || copied < 0)
            return refuse(QStringLiteral("审计记录没有复制成功：") + server.lastError());
        qint64 given = 0;
        if (StmtHandle seq = file.prepare(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name='audit'"));
            seq && sqlite3_step(seq.get()) == SQLITE_ROW)
            given = sqlite3_column_int64(seq.get(), 0);
        const PgResult counter = server.exec(
            QStringLiteral(
                "update chengheng.audit_counter set given=greatest($1::bigint, (select coalesce(max(序号),0) from"
                " chengheng.audit)), last_hash=coalesce((select 校验值 from chengheng.audit order by 序号 desc"
                " limit 1), '')"),
            {QString::number(given)});
        if (!counter.ok())
            return refuse(QStringLiteral("审计记录没有复制成功：") + counter.error());
        lines << QStringLiteral("审计记录：%1 条").arg(copied);
    }
    if (!server.run(serverAuditTriggers() + sharedGrantsDdl() + roomDdl(room, verifier) + serverDdlTrailDdl()))
        return refuse(QStringLiteral("建立审计触发器失败：") + server.lastError());
    if (!server.run(QStringLiteral("COMMIT")))
        return refuse(QStringLiteral("提交失败：") + server.lastError());
    if (summary)
        *summary = lines;
    return true;
}

bool seedServerCatalogue(PgConnection &server, QString *error)
{
    try {
        Connection mem = Connection::create(QStringLiteral(":memory:"));
        QString why;
        if (!createSchema(mem) || !seedCatalogue(mem, &why)) {
            if (error)
                *error = why.isEmpty() ? mem.lastError() : why;
            return false;
        }
        FileRows rows(mem, "表1", catalogueColumns());
        if (server.copyIn(QStringLiteral("chengheng.表1"), catalogueColumns(),
                          [&](QList<std::optional<QString>> &row) { return rows.next(row); })
            < 0) {
            if (error)
                *error = server.lastError();
            return false;
        }
        return true;
    } catch (const DbError &e) {
        if (error)
            *error = e.message();
        return false;
    }
}

bool ensureServerListingIndexes(PgConnection &c)
{
    // Looked up first: creating an index locks the table against writers.
    const PgResult r = c.exec(
        QStringLiteral("select 1 from pg_indexes where schemaname='chengheng' and indexname='class_nianji_keshi'"));
    if (r.ok() && r.rows() > 0)
        return true;
    return c.run(QStringLiteral("CREATE INDEX IF NOT EXISTS class_nianji_keshi ON chengheng.class(年级, 科室)"));
}

static bool hasRowCounts(PgConnection &c, bool *known)
{
    const PgResult r = c.exec(QStringLiteral(
        "select 1 from pg_trigger t join pg_class k on k.oid=t.tgrelid join pg_namespace n on n.oid=k.relnamespace"
        " where n.nspname='chengheng' and k.relname='xj' and t.tgname='row_counts_truncate'"));
    *known = r.ok();
    return r.ok() && r.rows() > 0;
}

// Whether the kept count is the archive's number of rows (both read in one
// snapshot). Rows written past the triggers (an administrator's bulk load
// with triggers off, a data-only restore without them) make it drift.
static bool rowCountHolds(PgConnection &c)
{
    const PgResult r =
        c.exec(QStringLiteral("select (select count(*) from chengheng.xj) = (select coalesce(sum(n), 0) from "
                              "chengheng.row_counts where tbl = 'xj')"));
    return !r.ok() || r.text(0, 0) == QLatin1String("t");
}

bool ensureServerRowCounts(PgConnection &c)
{
    bool known = false;
    if (hasRowCounts(c, &known))
        return (rowCountHolds(c) || c.exec(QStringLiteral("select chengheng.row_counts_recount()")).ok())
               && compactServerRowCounts(c);
    if (!known)
        return false;
    // Made by the owner (only an administration may); writers wait while the
    // triggers are made and the first count is taken, so that no row is
    // counted twice or missed; a second start at the same moment finds the
    // triggers once it has the lock.
    if (!c.run(QStringLiteral("BEGIN;SET LOCAL ROLE %1;LOCK TABLE chengheng.xj IN SHARE ROW EXCLUSIVE MODE")
                   .arg(kOwnerRole))) {
        c.run(QStringLiteral("ROLLBACK"));
        return false;
    }
    const bool made = (hasRowCounts(c, &known) && rowCountHolds(c)) || (known && c.run(serverRowCountDdl()));
    if (!c.run(made ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")))
        return false;
    return made;
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

bool ensureRoom(PgConnection &c, const QString &room, QString *error)
{
    if (const QString problem = roomNameProblem(room); !problem.isEmpty()) {
        if (error)
            *error = problem;
        return false;
    }
    // A room already set up needs no DDL (and no lock on its table).
    const PgResult r = c.exec(
        QStringLiteral("select 1 from chengheng.rooms k join pg_trigger t on t.tgname='audit_trail' join pg_class c on"
                       " c.oid=t.tgrelid join pg_namespace n on n.oid=c.relnamespace where k.room=$1 and k.removed is"
                       " null and n.nspname=$2 and c.relname='yc'"),
        {room.trimmed(), QStringLiteral("room_") + room.trimmed()});
    if (r.ok() && r.rows() > 0)
        return true;
    return addServerRoom(c, room, std::nullopt, error);
}

}  // namespace xs
