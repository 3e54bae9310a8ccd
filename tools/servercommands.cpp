// The shared server database from a shell: `init --server` makes the tables
// on a PostgreSQL server, `migrate` moves a clinic's file onto one; the rooms
// and their login roles (room add, list, remove) and the move of a server
// made by an earlier version to the roles (upgrade), which the administration
// runs as a superuser or a member of chengheng_admin; and what only the
// server has among the everyday commands: its check of tables, columns and
// keys in the server's catalogue, and its backup through pg_dump (messages
// and outcomes are those of the file's commands).
#include "data/audit.h"
#include "data/filetoserver.h"
#include "data/passwords.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgconninfo.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"
#include "data/sqlite/sqlite.h"
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

// A schema or table name as a quoted identifier.
QString roomQuoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(u'"', QLatin1String("\"\"")) + QLatin1Char('"');
}

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

const QString kDefaultRoom = QStringLiteral("1");

// The room of --room (1 without the option); nothing, after a message, when
// the name is empty or too long for the server.
std::optional<QString> roomOf(const Options &o)
{
    if (!o.has(QStringLiteral("--room")))
        return kDefaultRoom;
    const QString room = o.value(QStringLiteral("--room")).trimmed();
    if (const QString problem = roomNameProblem(room); !problem.isEmpty()) {
        error(ExitUsage, QStringLiteral("--room：") + problem);
        return std::nullopt;
    }
    return room;
}

// The password of the room's login role, read from --room-password-file
// (nothing without the option: the role is made without one).
std::optional<QString> roomPasswordOf(const Options &o, const QString &room)
{
    if (!o.has(QStringLiteral("--room-password-file")))
        return std::nullopt;
    std::optional<QString> p = obtainPassword(o, QStringLiteral("--room-password-file"),
                                              QStringLiteral("诊室 %1 的服务器账户的密码：").arg(room));
    if (p && p->trimmed().isEmpty()) {
        error(ExitFailed, QStringLiteral("诊室账户的密码不能为空"));
        return std::nullopt;
    }
    return p;
}

void tellRoomAccount(const QString &room, bool withPassword)
{
    if (withPassword)
        out(QStringLiteral("诊室 %1 的程序以账户 %2 连接服务器（连接串中写 user=%2，密码写在 ~/.pgpass 中）。")
                .arg(room, roomRole(room)));
    else
        out(QStringLiteral("诊室 %1 的账户 %2 还没有密码：请运行 chengheng-db room add %1 --server … 设定，"
                           "程序只以诊室账户连接服务器。")
                .arg(room, roomRole(room)));
}

const QString kRoomUsage = QStringLiteral("用法：room add 诊室名 --server CONNINFO [--password-file FILE|-]\n"
                                          "      room list --server CONNINFO\n"
                                          "      room remove 诊室名 --server CONNINFO");

// The options of a room command with its one room name (or none for list).
bool roomOptions(const QStringList &args, bool named, bool password, Options *o)
{
    QStringList valued = {QStringLiteral("--server")};
    if (password)
        valued << QStringLiteral("--password-file");
    if (!parseOptions(args, valued, {}, o))
        return false;
    if (o->positional.size() != (named ? 1 : 0) || !o->has(QStringLiteral("--server"))) {
        error(ExitUsage, kRoomUsage);
        return false;
    }
    if (named) {
        if (const QString problem = roomNameProblem(o->positional[0]); !problem.isEmpty()) {
            error(ExitUsage, problem);
            return false;
        }
    }
    return true;
}

int roomAdd(const QStringList &args)
{
    Options o;
    if (args.contains(QStringLiteral("--password")))
        return refusePasswordOption(QStringLiteral("--password"), QStringLiteral("--password-file"));
    if (!roomOptions(args, true, true, &o))
        return ExitUsage;
    const QString room = o.positional[0].trimmed();
    const auto server = connectServer(o.value(QStringLiteral("--server")));
    if (!server)
        return ExitFailed;
    const std::optional<QString> password =
        obtainPassword(o, QStringLiteral("--password-file"),
                       QStringLiteral("诊室 %1 的服务器账户 %2 的密码：").arg(room, roomRole(room)));
    if (!password)
        return ExitFailed;
    if (password->trimmed().isEmpty())
        return error(ExitFailed, QStringLiteral("诊室账户的密码不能为空"));
    QString why;
    if (!addServerRoom(*server, room, password, &why))
        return error(ExitFailed, why);
    out(QStringLiteral("诊室 %1 可以使用了：它的程序以账户 %2 连接服务器（连接串中写 user=%2，密码写在该诊室电脑的 "
                       "~/.pgpass 中），只能读写共用的表和本诊室的处方工作表。")
            .arg(room, roomRole(room)));
    return ExitOk;
}

int roomList(const QStringList &args)
{
    Options o;
    if (!roomOptions(args, false, false, &o))
        return ExitUsage;
    const auto server = connectServer(o.value(QStringLiteral("--server")));
    if (!server)
        return ExitFailed;
    QList<ServerRoom> rooms;
    QString why;
    if (!listServerRooms(*server, &rooms, &why))
        return error(ExitFailed, QStringLiteral("无法读取诊室：%1").arg(why));
    if (rooms.isEmpty()) {
        out(QStringLiteral("服务器上还没有诊室（用 chengheng-db room add 建立）"));
        return ExitOk;
    }
    QList<QStringList> table = {
        {QStringLiteral("诊室"), QStringLiteral("账户"), QStringLiteral("建立时间"), QStringLiteral("状态")}};
    for (const ServerRoom &r : std::as_const(rooms)) {
        QString state = QStringLiteral("在用");
        if (!r.removed.isEmpty())
            state = QStringLiteral("%1 停用").arg(r.removed);
        else if (!r.canLogin)
            state = QStringLiteral("账户不能登录");
        table << QStringList{r.room, r.role, r.added, state};
    }
    out(formatTable(table));
    return ExitOk;
}

int roomRemove(const QStringList &args)
{
    Options o;
    if (!roomOptions(args, true, false, &o))
        return ExitUsage;
    const QString room = o.positional[0].trimmed();
    const auto server = connectServer(o.value(QStringLiteral("--server")));
    if (!server)
        return ExitFailed;
    QString why;
    if (!removeServerRoom(*server, room, &why))
        return error(ExitFailed, why);
    out(QStringLiteral("诊室 %1 已停用：账户 %2 不能再登录；它的处方工作表和审计记录都留在服务器上。")
            .arg(room, roomRole(room)));
    return ExitOk;
}

// The tables of the shared schema and of every room, as the server holds them.
bool serverTables(PgConnection &c, QList<ServerTable> *tables, QString *why)
{
    const QString shared = QStringLiteral("chengheng");
    *tables = {{shared, QStringLiteral("use"), useColumns()},    {shared, QStringLiteral("class"), classColumns()},
               {shared, QStringLiteral("xj"), caseColumns()},    {shared, QStringLiteral("表1"), catalogueColumns()},
               {shared, QStringLiteral("drugs"), drugColumns()}, {shared, QStringLiteral("xjrx"), rxLineColumns()}};
    const PgResult rooms =
        c.exec(QStringLiteral("select nspname from pg_namespace where nspname like 'room\\_%' order by 1"));
    if (!rooms.ok()) {
        *why = rooms.error();
        return false;
    }
    for (int i = 0; i < rooms.rows(); ++i)
        *tables << ServerTable{rooms.text(i, 0), QStringLiteral("yc"), caseColumns()}
                << ServerTable{rooms.text(i, 0), QStringLiteral("ycrx"), rxLineColumns()};
    return true;
}
}  // namespace

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

int runServerInit(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--server"), QStringLiteral("--room"), QStringLiteral("--admin-name"),
                       QStringLiteral("--admin-password"), QStringLiteral("--admin-password-file"),
                       QStringLiteral("--room-password-file")},
                      {}, &o))
        return ExitUsage;
    if (o.has(QStringLiteral("--admin-password")))
        return refusePasswordOption(QStringLiteral("--admin-password"), QStringLiteral("--admin-password-file"));
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("init --server 不接受文件路径：%1").arg(o.positional[0]));
    const QString conninfo = o.value(QStringLiteral("--server"));
    if (conninfo.trimmed().isEmpty())
        return error(ExitUsage, QStringLiteral("--server 后面要跟服务器的连接串或服务名（如 service=chengheng）"));
    if (!conninfoWithoutPassword(conninfo, QStringLiteral("--server")))
        return ExitUsage;
    const std::optional<QString> room = roomOf(o);
    if (!room)
        return ExitUsage;
    QString name;
    QString password;
    if (!askAdmin(o, QStringLiteral("超级管理员用户名不能为空"), &name, &password))
        return ExitFailed;

    // A new server database keeps passwords only as hashes.
    const QString stored = hashPassword(password);
    if (stored.isEmpty())
        return error(ExitFailed, QStringLiteral("密码散列失败（内存不足），没有建立数据库"));
    PgConnection server(conninfo);
    server.setAuditUser(auditActor());
    if (!server.ensure())
        return error(ExitFailed, server.lastError());
    const std::optional<QString> roomPassword = roomPasswordOf(o, *room);
    if (o.has(QStringLiteral("--room-password-file")) && !roomPassword)
        return ExitFailed;
    if (!createServerSchema(server, *room, &why, roomPassword))
        return error(ExitFailed, why);
    QString seedWhy;
    const bool seeded = server.run(QStringLiteral("BEGIN")) && seedServerCatalogue(server, &seedWhy)
                        && server
                               .exec(QStringLiteral("INSERT INTO chengheng.use(username, password, admin) "
                                                    "VALUES($1, $2, 'y')"),
                                     {name, stored})
                               .ok()
                        && server.run(QStringLiteral("COMMIT"));
    if (!seeded) {
        server.run(QStringLiteral("ROLLBACK"));
        return error(ExitFailed, QStringLiteral("表已建好，但药品目录或超级管理员没有写入：%1")
                                     .arg(seedWhy.isEmpty() ? server.lastError() : seedWhy));
    }
    out(QStringLiteral("已在服务器上建立澄衡数据库（诊室 %1），超级管理员 %2").arg(*room, name));
    tellRoomAccount(*room, roomPassword.has_value());
    return ExitOk;
}

int runMigrate(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--room"),
                       QStringLiteral("--room-password-file")},
                      {}, &o))
        return ExitUsage;
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("多出的参数：%1").arg(o.positional[0]));
    if (!o.has(QStringLiteral("--from")) || !o.has(QStringLiteral("--to")))
        return error(ExitUsage, QStringLiteral("migrate 需要 --from 数据库文件 和 --to 服务器连接串"));
    if (!conninfoWithoutPassword(o.value(QStringLiteral("--to")), QStringLiteral("--to")))
        return ExitUsage;
    const std::optional<QString> room = roomOf(o);
    if (!room)
        return ExitUsage;
    std::optional<Connection> file = openDatabase(o.value(QStringLiteral("--from")));
    if (!file)
        return ExitFailed;
    const std::optional<QString> roomPassword = roomPasswordOf(o, *room);
    if (o.has(QStringLiteral("--room-password-file")) && !roomPassword)
        return ExitFailed;
    PgConnection server(o.value(QStringLiteral("--to")));
    server.setAuditUser(auditActor());
    if (!server.ensure())
        return error(ExitFailed, server.lastError());
    QStringList summary;
    if (!copyFileToServer(*file, server, *room, &summary, &why, roomPassword))
        return error(ExitFailed, QStringLiteral("迁移没有完成，服务器上的数据没有改动：%1").arg(why));
    out(QStringLiteral("已把 %1 迁移到服务器（诊室 %2）：%3")
            .arg(o.value(QStringLiteral("--from")), *room, summary.join(QStringLiteral("，"))));
    tellRoomAccount(*room, roomPassword.has_value());
    return ExitOk;
}

int runRoom(const QStringList &args)
{
    const QString sub = args.value(0);
    if (sub == QLatin1String("add"))
        return roomAdd(args.mid(1));
    if (sub == QLatin1String("list"))
        return roomList(args.mid(1));
    if (sub == QLatin1String("remove"))
        return roomRemove(args.mid(1));
    if (sub.isEmpty() || sub.startsWith(u'-'))
        return error(ExitUsage, QStringLiteral("room 后面要跟 add、list 或 remove"));
    return error(ExitUsage, QStringLiteral("未知的 room 子命令 %1（可用：add list remove）").arg(sub));
}

int runUpgrade(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (!o.positional.isEmpty() || !o.has(QStringLiteral("--server")))
        return error(ExitUsage, QStringLiteral("用法：upgrade --server CONNINFO"));
    const auto server = connectServer(o.value(QStringLiteral("--server")));
    if (!server)
        return ExitFailed;
    QStringList rooms;
    if (!upgradeServerRoles(*server, &rooms, &why))
        return error(ExitFailed, why);
    out(QStringLiteral("服务器已升级：所有的表和函数归 %1 所有，审计记录保持完整。").arg(kOwnerRole));
    for (const QString &room : std::as_const(rooms))
        out(QStringLiteral("诊室 %1 的账户 %2：若它还没有密码，请运行 chengheng-db room add %1 --server … 设定。")
                .arg(room, roomRole(room)));
    return ExitOk;
}

}  // namespace xs::tool
