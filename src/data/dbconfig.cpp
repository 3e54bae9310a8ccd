#include "data/dbconfig.h"

#include "data/sqlite.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

namespace xs {

namespace {
QString g_systemFolder = QStringLiteral("/etc/chengheng");
}

void setSystemConfigFolderForTesting(const QString &folder)
{
    g_systemFolder = folder.isEmpty() ? QStringLiteral("/etc/chengheng") : folder;
}

QStringList configurationFiles()
{
    return {appDir() + QStringLiteral("/chengheng.conf"), g_systemFolder + QStringLiteral("/chengheng.conf")};
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
    const QString conninfo = s.value(QStringLiteral("server/connection")).toString().trimmed();
    if (conninfo.isEmpty()) {
        if (s.contains(QStringLiteral("server/connection")))
            c.error = QStringLiteral("配置文件 %1 的 [server] connection 是空的。请填写服务器的连接串或删去这一行。")
                          .arg(file);
        return c;  // no server named: the file beside the program
    }
    static const QRegularExpression password(QStringLiteral(R"((^|\s)password\s*=)"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (password.match(conninfo).hasMatch()
        || conninfo.contains(QRegularExpression(QStringLiteral(R"(://[^/@]*:[^/@]*@)")))) {
        c.error = QStringLiteral("配置文件 %1 中写有服务器密码。密码不能放在配置文件里，请删去它，"
                                 "改放在 ~/.pgpass 或 pg_service.conf 中。")
                      .arg(file);
        return c;
    }
    c.server = true;
    c.conninfo = conninfo;
    c.room = s.value(QStringLiteral("server/room")).toString().trimmed();
    if (c.room.isEmpty())
        c.room = QStringLiteral("1");
    return c;
}

DatabaseChoice loadDatabaseChoice()
{
    for (const QString &f : configurationFiles())
        if (QFileInfo::exists(f))
            return readDatabaseChoice(f);
    return {};
}

}  // namespace xs
