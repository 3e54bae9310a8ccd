// What only the shared server has among the everyday commands: its check of
// tables, columns and keys in the server's catalogue, and its backup through
// pg_dump. Messages and outcomes are those of the file's commands.
#include "data/pg/pgaudit.h"
#include "data/pg/pgconninfo.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"
#include "dbcommands.h"
#include "toolsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

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

namespace {

qint64 serverCount(PgConnection &c, const QString &table)
{
    const PgResult r = c.exec(QStringLiteral("select count(*) from %1").arg(table));
    return r.ok() ? r.text(0, 0).toLongLong() : -1;
}

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

}  // namespace xs::tool
