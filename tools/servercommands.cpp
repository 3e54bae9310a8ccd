// The shared server database from a shell: `init --server` makes the tables
// on a PostgreSQL server, `migrate` moves a clinic's file onto one.
#include "data/audit.h"
#include "data/filetoserver.h"
#include "data/passwords.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/sqlite/sqlite.h"
#include "dbcommands.h"
#include "toolsupport.h"

namespace xs::tool {

namespace {
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
}  // namespace

int runServerInit(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--server"), QStringLiteral("--room"), QStringLiteral("--admin-name"),
                       QStringLiteral("--admin-password"), QStringLiteral("--admin-password-file"),
                       QStringLiteral("--room-password-file")},
                      {}, &o, &why))
        return error(ExitUsage, why);
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
    const std::optional<QString> name = o.has(QStringLiteral("--admin-name"))
                                            ? o.value(QStringLiteral("--admin-name"))
                                            : ask(QStringLiteral("超级管理员用户名："), false);
    if (!name || name->trimmed().isEmpty())
        return error(ExitFailed, QStringLiteral("超级管理员用户名不能为空"));
    const std::optional<QString> password = obtainPassword(
        o, QStringLiteral("--admin-password-file"), QStringLiteral("超级管理员 %1 的密码：").arg(name->trimmed()));
    if (!password)
        return ExitFailed;

    // A new server database keeps passwords only as hashes.
    const QString stored = hashPassword(*password);
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
                                     {name->trimmed(), stored})
                               .ok()
                        && server.run(QStringLiteral("COMMIT"));
    if (!seeded) {
        server.run(QStringLiteral("ROLLBACK"));
        return error(ExitFailed, QStringLiteral("表已建好，但药品目录或超级管理员没有写入：%1")
                                     .arg(seedWhy.isEmpty() ? server.lastError() : seedWhy));
    }
    out(QStringLiteral("已在服务器上建立澄衡数据库（诊室 %1），超级管理员 %2").arg(*room, name->trimmed()));
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
                      {}, &o, &why))
        return error(ExitUsage, why);
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

}  // namespace xs::tool
