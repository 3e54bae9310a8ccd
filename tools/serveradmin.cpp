// The everyday commands on the shared server (--server CONNINFO in place of
// --db): users, the drug catalogue, check, backup through pg_dump and the
// audit trail. Messages and outcomes are those of the file's commands.
#include "data/accounts.h"
#include "data/audit.h"
#include "data/catalogue.h"
#include "data/passwords.h"
#include "data/pg/pgconninfo.h"
#include "data/pg/pgsql.h"
#include "data/pgaudit.h"
#include "data/pgschema.h"
#include "data/schema.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "dbcommands.h"
#include "toolsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <sqlite3.h>

namespace xs::tool {

std::unique_ptr<PgConnection> connectServer(const QString &conninfo)
{
    if (conninfo.trimmed().isEmpty()) {
        error(ExitUsage, QStringLiteral("--server 后面要跟服务器的连接串或服务名（如 service=chengheng）"));
        return {};
    }
    if (!conninfoWithoutPassword(conninfo, QStringLiteral("--server")))
        return {};
    auto c = std::make_unique<PgConnection>(conninfo);
    // The trail names the account the tool runs as.
    c->setAuditUser(auditActor());
    if (!c->ensure()) {
        error(ExitFailed, c->lastError());
        return {};
    }
    QString why;
    if (!serverHasSchema(*c, &why)) {
        error(ExitFailed, why.isEmpty()
                              ? QStringLiteral("服务器上还没有澄衡数据库。请先用 chengheng-db init --server 或 "
                                               "chengheng-db migrate 建立它。")
                              : why);
        return {};
    }
    return c;
}

bool pickServer(const Options &o, int *code)
{
    if (!o.has(QStringLiteral("--server")))
        return false;
    if (o.has(QStringLiteral("--db")))
        *code = error(ExitUsage, QStringLiteral("--db 和 --server 只能给一个：一个命令只处理一个数据库"));
    return true;
}

namespace {

qint64 serverCount(PgConnection &c, const QString &table)
{
    const PgResult r = c.exec(QStringLiteral("select count(*) from %1").arg(table));
    return r.ok() ? r.text(0, 0).toLongLong() : -1;
}

std::optional<QString> serverUserName(PgConnection &c, const QString &name, QString *why)
{
    const PgResult r = c.exec(QStringLiteral("select username from chengheng.use where username=$1"), {name});
    if (!r.ok()) {
        *why = r.error();
        return std::nullopt;
    }
    return r.rows() ? std::optional<QString>(r.text(0, 0)) : std::nullopt;
}

QString serverFlags(PgConnection &c, const QString &name)
{
    const PgResult r =
        c.exec(QStringLiteral("select %1 from chengheng.use where username=$1").arg(rightFlags().join(u',')), {name});
    QStringList flags;
    if (r.ok() && r.rows())
        for (int i = 0; i < int(rightFlags().size()); ++i)
            if (r.text(0, i) == QLatin1String("y"))
                flags << rightFlags()[i];
    return flags.isEmpty() ? QStringLiteral("（无）") : flags.join(u' ');
}

}  // namespace

int serverUserAdd(const QString &conninfo, const QString &name, const std::function<std::optional<QString>()> &password)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    QString why;
    if (const auto existing = serverUserName(*c, name, &why))
        return error(ExitFailed, QStringLiteral("用户 %1 已存在").arg(*existing));
    if (!why.isEmpty())
        return error(ExitFailed, why);
    const std::optional<QString> typed = password();
    if (!typed)
        return ExitFailed;
    // The server keeps passwords only as hashes.
    const QString stored = hashPassword(*typed);
    if (stored.isEmpty())
        return error(ExitFailed, QStringLiteral("密码散列失败（内存不足），没有添加用户"));
    const PgResult r =
        c->exec(QStringLiteral("insert into chengheng.use(username, password) values($1, $2)"), {name, stored});
    if (!r.ok())
        return error(ExitFailed, r.fault() == DbFault::Unique ? QStringLiteral("用户 %1 已存在").arg(name)
                                                              : QStringLiteral("无法添加用户：%1").arg(r.error()));
    out(QStringLiteral("已添加用户 %1，权限：（无）").arg(name));
    return ExitOk;
}

HashConversion serverConvertPasswords(PgConnection &c)
{
    // The program and the tool store only hashes on the server; a plain row
    // can only have been written past them (psql, an old import). All rows
    // change in one transaction, the rows locked against a sign-in's rehash.
    HashConversion r;
    const auto failed = [&](const QString &why) {
        c.run(QStringLiteral("ROLLBACK"));
        r.ok = false;
        r.error = why;
        return r;
    };
    if (!c.run(QStringLiteral("BEGIN")))
        return failed(c.lastError());
    const PgResult rows = c.exec(QStringLiteral("select username, password from chengheng.use for update"));
    if (!rows.ok())
        return failed(rows.error());
    for (int i = 0; i < rows.rows(); ++i) {
        const QString stored = rows.text(i, 1);
        if (rows.isNull(i, 1) || stored.isEmpty() || isPasswordHash(stored)) {
            ++r.kept;
            continue;
        }
        const QString hash = hashPassword(stored);
        if (hash.isEmpty())
            return failed(QStringLiteral("密码散列失败（内存不足）"));
        const PgResult u =
            c.exec(QStringLiteral("update chengheng.use set password=$2 where username=$1"), {rows.text(i, 0), hash});
        if (!u.ok())
            return failed(u.error());
        ++r.converted;
    }
    if (!c.run(QStringLiteral("COMMIT")))
        return failed(c.lastError());
    r.ok = true;
    return r;
}

int serverUserFlags(const QString &conninfo, const QString &name, const QStringList &flags, bool on)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    QString why;
    const std::optional<QString> stored = serverUserName(*c, name, &why);
    if (!stored)
        return error(ExitFailed, why.isEmpty() ? QStringLiteral("没有名为 %1 的用户").arg(name) : why);
    QStringList sets;
    for (const QString &f : flags)
        sets << f + (on ? QStringLiteral("='y'") : QStringLiteral("=NULL"));
    const PgResult r =
        c->exec(QStringLiteral("update chengheng.use set %1 where username=$1").arg(sets.join(u',')), {*stored});
    if (!r.ok())
        return error(ExitFailed, r.error());
    out(QStringLiteral("用户 %1 的权限：%2").arg(*stored, serverFlags(*c, *stored)));
    return ExitOk;
}

int serverUserList(const QString &conninfo)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    const PgResult r = c->exec(QStringLiteral("select username from chengheng.use order by username"));
    if (!r.ok())
        return error(ExitFailed, QStringLiteral("无法读取用户表：%1").arg(r.error()));
    QList<QStringList> table = {{QStringLiteral("用户名"), QStringLiteral("权限")}};
    for (int i = 0; i < r.rows(); ++i)
        table << QStringList{r.text(i, 0), serverFlags(*c, r.text(i, 0))};
    out(formatTable(table));
    return ExitOk;
}

int serverCatalogue(const QString &conninfo, bool exporting, const QString &csv)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    // The catalogue passes through a database in memory, so the CSV reads
    // and writes exactly as the file's.
    Connection mem = Connection::create(QStringLiteral(":memory:"));
    if (!createSchema(mem))
        return error(ExitFailed, mem.lastError());
    const QStringList &cols = catalogueColumns();
    QString why;
    if (exporting) {
        const PgResult r = c->exec(QStringLiteral("select %1 from chengheng.表1 order by ctid").arg(cols.join(u',')));
        if (!r.ok())
            return error(ExitFailed, QStringLiteral("导出失败：%1").arg(r.error()));
        QStringList marks;
        for (int i = 0; i < int(cols.size()); ++i)
            marks << QStringLiteral("?");
        mem.exec("BEGIN");
        StmtHandle ins =
            mem.prepare(QStringLiteral("INSERT INTO 表1(%1) VALUES(%2)").arg(cols.join(u','), marks.join(u',')));
        for (int row = 0; ins && row < r.rows(); ++row) {
            sqlite3_reset(ins.get());
            for (int i = 0; i < int(cols.size()); ++i)
                if (r.isNull(row, i))
                    sqlite3_bind_null(ins.get(), i + 1);
                else
                    bindText(ins.get(), i + 1, r.text(row, i));
            sqlite3_step(ins.get());
        }
        ins.reset();
        mem.exec("COMMIT");
        if (!exportCatalogueCsv(mem, csv, &why))
            return error(ExitFailed, QStringLiteral("导出失败：%1").arg(why));
        out(QStringLiteral("已把药品目录（%1 行）导出到 %2").arg(r.rows()).arg(csv));
        return ExitOk;
    }
    if (!importCatalogueCsv(mem, csv, &why))
        return error(ExitFailed, QStringLiteral("导入失败，药品目录没有改动：%1").arg(why));
    StmtHandle rows = mem.prepare(QStringLiteral("SELECT %1 FROM 表1 ORDER BY rowid").arg(cols.join(u',')));
    if (!rows)
        return error(ExitFailed, mem.lastError());
    if (!c->run(QStringLiteral("BEGIN; DELETE FROM chengheng.表1")))
        return error(ExitFailed, QStringLiteral("导入失败，药品目录没有改动：%1").arg(c->lastError()));
    const qint64 loaded = c->copyIn(QStringLiteral("chengheng.表1"), cols, [&](QList<std::optional<QString>> &row) {
        if (sqlite3_step(rows.get()) != SQLITE_ROW)
            return false;
        for (int i = 0; i < int(cols.size()); ++i)
            row << (sqlite3_column_type(rows.get(), i) == SQLITE_NULL
                        ? std::nullopt
                        : std::optional<QString>(columnText(rows.get(), i)));
        return true;
    });
    if (loaded < 0 || !c->run(QStringLiteral("COMMIT"))) {
        const QString text = c->lastError();
        c->run(QStringLiteral("ROLLBACK"));
        return error(ExitFailed, QStringLiteral("导入失败，药品目录没有改动：%1").arg(text));
    }
    out(QStringLiteral("已从 %1 导入药品目录，共 %2 行").arg(csv).arg(loaded));
    return ExitOk;
}

namespace {
struct ServerTable {
    QString schema;
    QString name;
    QStringList columns;
};

QString countsOf(PgConnection &c, const QList<ServerTable> &tables)
{
    QStringList parts;
    for (const ServerTable &t : tables)
        parts << QStringLiteral("%1.%2 %3 行")
                     .arg(t.schema, t.name)
                     .arg(serverCount(c, QStringLiteral("%1.%2").arg(roomQuoted(t.schema), roomQuoted(t.name))));
    return parts.join(QStringLiteral("，"));
}
}  // namespace

QString roomQuoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(u'"', QLatin1String("\"\"")) + QLatin1Char('"');
}

// The tables of the shared schema and of every room, as the server holds them.
static bool serverTables(PgConnection &c, QList<ServerTable> *tables, QString *why)
{
    const QString shared = QStringLiteral("chengheng");
    *tables = {{shared, QStringLiteral("use"), useColumns()},
               {shared, QStringLiteral("class"), classColumns()},
               {shared, QStringLiteral("xj"), caseColumns()},
               {shared, QStringLiteral("表1"), catalogueColumns()}};
    const PgResult rooms =
        c.exec(QStringLiteral("select nspname from pg_namespace where nspname like 'room\\_%' order by 1"));
    if (!rooms.ok()) {
        *why = rooms.error();
        return false;
    }
    for (int i = 0; i < rooms.rows(); ++i)
        *tables << ServerTable{rooms.text(i, 0), QStringLiteral("yc"), caseColumns()};
    return true;
}

int serverCheck(const QString &conninfo)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    QList<ServerTable> tables;
    QString why;
    if (!serverTables(*c, &tables, &why))
        return error(ExitFailed, why);
    QStringList problems;
    QList<ServerTable> present;
    for (const ServerTable &t : tables) {
        const PgResult cols = c->exec(QStringLiteral("select column_name from information_schema.columns"
                                                     " where table_schema=$1 and table_name=$2"),
                                      {t.schema, t.name});
        if (!cols.ok())
            return error(ExitFailed, cols.error());
        if (cols.rows() == 0) {
            problems << QStringLiteral("缺少表 %1.%2").arg(t.schema, t.name);
            continue;
        }
        present << t;
        QStringList have;
        for (int i = 0; i < cols.rows(); ++i)
            have << cols.text(i, 0);
        QStringList missing;
        for (const QString &col : t.columns)
            if (!have.contains(col, Qt::CaseInsensitive))
                missing << col;
        if (!missing.isEmpty())
            problems << QStringLiteral("表 %1.%2 缺少列：%3").arg(t.schema, t.name, missing.join(u' '));
    }
    const struct {
        const char *table, *column;
    } keys[] = {{"use", "username"}, {"class", "科室"}, {"xj", "门诊号"}};
    for (const auto &k : keys) {
        const PgResult r =
            c->exec(QStringLiteral(
                        "select 1 from pg_index i join pg_attribute a on a.attrelid=i.indrelid and a.attnum=i.indkey[0]"
                        " where i.indrelid=to_regclass($1) and i.indisunique and i.indnatts=1 and a.attname=$2"),
                    {QStringLiteral("chengheng.") + QString::fromUtf8(k.table), QString::fromUtf8(k.column)});
        if (!r.ok())
            return error(ExitFailed, r.error());
        if (r.rows() == 0)
            problems << QStringLiteral("表 chengheng.%1 的 %2 没有唯一键：同一个%2可能存了两次")
                            .arg(QString::fromUtf8(k.table), QString::fromUtf8(k.column));
    }
    const AuditVerification v = verifyServerAuditTrail(*c);
    if (!v.ok)
        problems << QStringLiteral("审计记录：%1").arg(v.problem);
    const QString counts = countsOf(*c, present);
    if (problems.isEmpty()) {
        out(QStringLiteral("服务器数据库检查通过：表和列、唯一键、审计记录都正常；%1").arg(counts));
        return ExitOk;
    }
    QStringList lines = {QStringLiteral("服务器数据库没有通过检查：")};
    for (const QString &p : problems)
        lines << QStringLiteral("  ") + p;
    if (!counts.isEmpty())
        lines << counts;
    return error(ExitFailed, lines.join(u'\n'));
}

int serverBackup(const QString &conninfo, const QString &dest)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    if (QFileInfo::exists(dest) || QFileInfo(dest).isSymLink())
        return error(ExitFailed, QStringLiteral("%1 已存在；备份不覆盖已有的文件").arg(dest));
    const auto refuse = [&](const QString &why) {
        QFile::remove(dest);
        return error(ExitFailed, QStringLiteral("备份失败，没有留下备份文件：%1").arg(why));
    };
    QProcess dump;
    // pg_dump connects on its own: to another host it too checks the
    // server's certificate (libpq takes PGSSLMODE only when the text sets
    // no sslmode, as the tool's own connection does).
    if (needsVerifiedTls(conninfo)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGSSLMODE"), QStringLiteral("verify-full"));
        dump.setProcessEnvironment(env);
    }
    dump.start(QStringLiteral("pg_dump"), {QStringLiteral("--format=custom"), QStringLiteral("--file"), dest,
                                           QStringLiteral("--dbname"), conninfo});
    if (!dump.waitForStarted())
        return refuse(QStringLiteral("找不到 pg_dump（请安装 postgresql-client）"));
    dump.waitForFinished(-1);
    if (dump.exitStatus() != QProcess::NormalExit || dump.exitCode() != 0)
        return refuse(
            QStringLiteral("pg_dump 没有完成（退出码 %1）；请检查服务器连接、服务器账户的读权限和目标文件夹的空间")
                .arg(dump.exitCode()));
    // The copy must read back: its table of contents lists the data of every table.
    QProcess list;
    list.start(QStringLiteral("pg_restore"), {QStringLiteral("--list"), dest});
    if (!list.waitForStarted())
        return refuse(QStringLiteral("找不到 pg_restore（请安装 postgresql-client）"));
    list.waitForFinished(-1);
    const QString contents = QString::fromUtf8(list.readAllStandardOutput());
    if (list.exitStatus() != QProcess::NormalExit || list.exitCode() != 0)
        return refuse(QStringLiteral("备份文件无法读回（pg_restore --list 失败）"));
    QList<ServerTable> tables;
    QString why;
    if (!serverTables(*c, &tables, &why))
        return refuse(why);
    tables << ServerTable{QStringLiteral("chengheng"), QStringLiteral("audit"), {}};
    for (const ServerTable &t : tables)
        if (!contents.contains(QStringLiteral("TABLE DATA %1 %2 ").arg(t.schema, t.name)))
            return refuse(QStringLiteral("备份中缺少表 %1.%2 的数据").arg(t.schema, t.name));
    QFile::setPermissions(dest, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
    out(QStringLiteral("已把服务器数据库备份到 %1：%2 字节，pg_restore --list 检查通过；%3")
            .arg(dest, QString::number(QFileInfo(dest).size()), countsOf(*c, tables)));
    return ExitOk;
}

int serverAuditVerify(const QString &conninfo, const std::optional<AuditAnchor> &anchor)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return ExitFailed;
    const AuditVerification v = verifyServerAuditTrail(*c);
    if (!v.ok)
        return error(ExitFailed, QStringLiteral("审计记录校验不通过：%1").arg(v.problem));
    out(QStringLiteral("审计记录完好：共 %1 条，逐条校验一致。最后一条的校验值：%2")
            .arg(v.entries)
            .arg(v.lastHash.isEmpty() ? QStringLiteral("（无）") : v.lastHash));
    if (!anchor)
        return ExitOk;
    AuditTrailPosition p;
    QString why;
    if (!readServerAuditPosition(*c, anchor->number, &p, &why))
        return error(ExitFailed, QStringLiteral("无法读取审计记录：%1").arg(why));
    return anchorOutcome(*anchor, p, conninfo);
}

bool serverAuditChain(const QString &conninfo, AuditVerification *v)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return false;
    *v = verifyServerAuditTrail(*c);
    return true;
}

bool serverAuditEntries(const QString &conninfo, const AuditFilter &filter, QList<AuditEntry> *entries)
{
    const auto c = connectServer(conninfo);
    if (!c)
        return false;
    QString why;
    if (!readServerAuditTrail(*c, filter, entries, &why)) {
        error(ExitFailed, QStringLiteral("无法读取审计记录：%1").arg(why));
        return false;
    }
    return true;
}

}  // namespace xs::tool
