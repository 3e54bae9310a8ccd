#include "data/dbconfig.h"

#include "data/fault.h"
#include "data/pg/pgconninfo.h"
#include "data/pg/pgschema.h"

#include <QFileInfo>
#include <QSettings>

namespace xs {

namespace {
QString g_systemFolder = QStringLiteral("/etc/chengheng");
}

void setSystemConfigFolderForTesting(const QString &folder)
{
    g_systemFolder = folder.isEmpty() ? QStringLiteral("/etc/chengheng") : folder;
}

DatabaseChoice readDatabaseChoice(const QString &file)
{
    DatabaseChoice c;
    c.source = file;
    QSettings s(file, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        c.error = QStringLiteral("配置文件 %1 无法读取或格式不对。请检查该文件。").arg(file);
        return c;
    }
    if (const QString name = s.value(QStringLiteral("prescription/institution")).toString().trimmed(); !name.isEmpty())
        c.institution = name;
    const QString conninfo = s.value(QStringLiteral("server/connection")).toString().trimmed();
    if (conninfo.isEmpty()) {
        if (s.contains(QStringLiteral("server/connection")))
            c.error = QStringLiteral("配置文件 %1 的 [server] connection 是空的。请填写服务器的连接串或删去这一行。")
                          .arg(file);
        return c;  // no server named: the file beside the program
    }
    // The text is read as libpq reads it: a password is found in whatever
    // form libpq would take it (password=, a URI's user:password@ or its
    // query, a percent-encoded key), and a text libpq would refuse is told
    // here rather than as a failed connection.
    switch (checkConninfo(conninfo)) {
    case ConninfoVerdict::HoldsPassword:
        c.error = QStringLiteral("配置文件 %1 中写有服务器密码。密码不能放在配置文件里，请删去它，"
                                 "改放在 ~/.pgpass（权限 0600）或服务文件 pg_service.conf 中。")
                      .arg(file);
        return c;
    case ConninfoVerdict::Unreadable:
        c.error = QStringLiteral("配置文件 %1 的 [server] connection 不是有效的连接串：请检查其中的选项名、"
                                 "引号和等号，写成 host=服务器 user=用户 dbname=chengheng、service=名称 或 "
                                 "postgresql://服务器/chengheng 的形式。")
                      .arg(file);
        return c;
    case ConninfoVerdict::Fine:
        break;
    }
    const bool roomNamed = s.contains(QStringLiteral("server/room"));
    const QString room = s.value(QStringLiteral("server/room")).toString().trimmed();
    // A room named is used as named (an empty one is refused); without one
    // the room is 1.
    if (const QString problem = roomNamed ? roomNameProblem(room) : QString(); !problem.isEmpty()) {
        c.error = QStringLiteral("配置文件 %1 的 [server] room 不能使用：%2").arg(file, problem);
        return c;
    }
    c.server = true;
    c.conninfo = conninfo;
    c.room = roomNamed ? room : QStringLiteral("1");
    return c;
}

DatabaseChoice loadDatabaseChoice()
{
    for (const QString &f :
         {appDir() + QStringLiteral("/chengheng.conf"), g_systemFolder + QStringLiteral("/chengheng.conf")})
        if (QFileInfo::exists(f))
            return readDatabaseChoice(f);
    return {};
}

}  // namespace xs
