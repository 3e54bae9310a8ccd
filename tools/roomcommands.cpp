// The rooms of the shared server and their login roles (room add, list,
// remove) and the move of a server made by an earlier version to the roles
// (upgrade). These are the administration's: they run as a superuser or a
// member of chengheng_admin.
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "dbcommands.h"
#include "toolsupport.h"

namespace xs::tool {

namespace {
const QString kRoomUsage = QStringLiteral("用法：room add 诊室名 --server CONNINFO [--password-file FILE|-]\n"
                                          "      room list --server CONNINFO\n"
                                          "      room remove 诊室名 --server CONNINFO");

// The options of a room command with its one room name (or none for list).
bool roomOptions(const QStringList &args, bool named, bool password, Options *o)
{
    QString why;
    QStringList valued = {QStringLiteral("--server")};
    if (password)
        valued << QStringLiteral("--password-file");
    if (!parseOptions(args, valued, {}, o, &why)) {
        error(ExitUsage, why);
        return false;
    }
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
}  // namespace

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
    if (!parseOptions(args, {QStringLiteral("--server")}, {}, &o, &why))
        return error(ExitUsage, why);
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
