// backup, restore, check and config: keeping the database file safe.
#include "data/sqlite/backup.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"
#include "dbcommands.h"
#include "toolsupport.h"

#include <QDateTime>
#include <QFileInfo>

namespace xs::tool {

namespace {

QString describeCounts(const QList<TableCount> &counts)
{
    QStringList parts;
    for (const TableCount &c : counts)
        parts << QStringLiteral("%1 %2 行").arg(c.table, QString::number(c.rows));
    return parts.join(QStringLiteral("，"));
}

}  // namespace

int runBackup(const QStringList &args)
{
    Options o;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (o.positional.size() != 1)
        return error(ExitUsage, QStringLiteral("用法：backup [--db FILE | --server CONNINFO] DEST"));
    int code = ExitOk;
    const std::optional<Target> target = chooseTarget(o, &code);
    if (!target)
        return code;
    // The server is copied by pg_dump, the file by the engine's online backup.
    if (target->server)
        return serverBackup(target->name, o.positional[0]);
    const QString source = target->name;
    const BackupResult r = backupDatabase(source, o.positional[0]);
    if (!r.ok)
        return error(ExitFailed, QStringLiteral("备份失败，没有留下备份文件：%1").arg(r.error));
    out(QStringLiteral("已把 %1 备份到 %2：%3 字节，检查通过；%4")
            .arg(source, o.positional[0], QString::number(r.bytes), describeCounts(r.counts)));
    // The backup is made whatever becomes of its anchor.
    QString why;
    if (!writeBackupAnchor(o.positional[0], &why))
        error(ExitOk, QStringLiteral("备份已做好，但它的审计锚点没有写成：%1").arg(why));
    else
        out(QStringLiteral("审计锚点写在 %1").arg(backupAnchorPath(o.positional[0])));
    return ExitOk;
}

int runRestore(const QStringList &args)
{
    Options o;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (o.has(QStringLiteral("--server")))
        return error(ExitUsage, QStringLiteral("服务器数据库不用 restore 恢复：把 backup --server 做的备份用 "
                                               "pg_restore --dbname CONNINFO 备份文件 恢复到一个空数据库，"
                                               "再让各诊室的 chengheng.conf 指向它。"));
    if (o.positional.size() != 1)
        return error(ExitUsage, QStringLiteral("用法：restore BACKUP [--db FILE]"));
    const QString target = databasePath(o);
    const RestoreResult r = restoreDatabase(o.positional[0], target);
    if (!r.ok)
        return error(ExitFailed, QStringLiteral("没有恢复，数据库保持原样：%1").arg(r.error));
    out(QStringLiteral("已用 %1 恢复 %2：%3").arg(o.positional[0], target, describeCounts(r.counts)));
    if (!r.keptAs.isEmpty())
        out(QStringLiteral("原来的数据库保留为 %1").arg(r.keptAs));
    return ExitOk;
}

int runCheck(const QStringList &args)
{
    Options o;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("check 不接受参数 %1").arg(o.positional[0]));
    int code = ExitOk;
    const std::optional<Target> target = chooseTarget(o, &code);
    if (!target)
        return code;
    // The server's tables are checked in its catalogue, the file page by page.
    if (target->server)
        return serverCheck(target->name);
    const QString path = target->name;
    const DbCheck r = checkDatabaseFile(path);
    if (r.ok()) {
        out(QStringLiteral("%1 检查通过：完整性、表和列、唯一键都正常；%2").arg(path, describeCounts(r.counts)));
        return ExitOk;
    }
    QStringList lines = {QStringLiteral("%1 没有通过检查：").arg(path)};
    for (const QString &p : r.problems)
        lines << QStringLiteral("  ") + p;
    if (!r.damaged.isEmpty())
        lines << QStringLiteral("损坏的表：%1").arg(r.damaged.join(u' '));
    const QString newest = newestBackup(path);
    const QString folder = backupFolder(path);
    lines << (newest.isEmpty()
                  ? (QFileInfo(folder).isDir() ? QStringLiteral("%1 中没有备份。").arg(folder)
                                               : QStringLiteral("没有备份：备份文件夹 %1 不存在。").arg(folder))
                  : QStringLiteral("最新的备份：%1（%2）；可用 chengheng-db restore %1 --db %3 恢复")
                        .arg(newest, QFileInfo(newest).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                             path));
    return error(ExitFailed, lines.join(u'\n'));
}

int runConfig(const QStringList &args)
{
    Options o;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (o.has(QStringLiteral("--server")))
        return error(ExitUsage, QStringLiteral("每日自动备份只用于数据库文件；服务器数据库请定时运行 "
                                               "chengheng-db backup --server CONNINFO 备份文件（例如用 cron）。"));
    const QString keepName = QString::fromLatin1(kBackupKeepSetting);
    if (o.positional.size() > 2 || (!o.positional.isEmpty() && o.positional[0] != keepName))
        return error(
            ExitUsage,
            QStringLiteral("用法：config [%1 [N]] [--db FILE]（N 为保留的每日备份数，1 到 3650）").arg(keepName));
    std::optional<Connection> c = openDatabase(databasePath(o));
    if (!c)
        return ExitFailed;
    if (o.positional.size() == 2) {
        bool ok = false;
        const int n = o.positional[1].toInt(&ok);
        if (!ok || n < 1 || n > 3650)
            return error(ExitUsage,
                         QStringLiteral("%1 要是 1 到 3650 之间的整数，不是 %2").arg(keepName, o.positional[1]));
        QString why;
        if (!writeSetting(c->get(), keepName, QString::number(n), &why))
            return error(ExitFailed, QStringLiteral("无法保存设置：%1").arg(why));
    }
    out(QStringLiteral("%1 = %2").arg(keepName, QString::number(backupKeep(c->get()))));
    return ExitOk;
}

}  // namespace xs::tool
