// audit verify, audit show and user hash-passwords: the records of who changed
// what, and passwords no one can read.
#include "data/audit.h"
#include "data/dates.h"
#include "data/passwords.h"
#include "data/pgsql.h"
#include "data/sqlite.h"
#include "dbcommands.h"
#include "toolsupport.h"

#include <pwd.h>
#include <unistd.h>

namespace xs::tool {

namespace {

// The trail's table names as a reader of the list knows them.
QString tableTitle(const QString &table)
{
    if (table == QLatin1String("xj"))
        return QStringLiteral("病例档案");
    if (table == QLatin1String("yc"))
        return QStringLiteral("处方打印库");
    if (table == QLatin1String("class"))
        return QStringLiteral("科室设置");
    if (table == QLatin1String("use"))
        return QStringLiteral("用户");
    return table;
}

int auditVerify(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o, &why))
        return error(ExitUsage, why);
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("用法：audit verify [--db FILE | --server CONNINFO]"));
    int code = ExitOk;
    if (pickServer(o, &code))
        return code != ExitOk ? code : serverAuditVerify(o.value(QStringLiteral("--server")));
    // Reading only: the trail is not added or repaired here.
    const QString path = databasePath(o);
    std::optional<Connection> c;
    try {
        c.emplace(Connection::open(path));
    } catch (const DbError &e) {
        return error(ExitFailed, e.message());
    }
    const AuditVerification v = verifyAuditTrail(c->get());
    if (!v.ok)
        return error(ExitFailed, QStringLiteral("审计记录校验不通过：%1").arg(v.problem));
    out(QStringLiteral("审计记录完好：共 %1 条，逐条校验一致。最后一条的校验值：%2")
            .arg(v.entries)
            .arg(v.lastHash.isEmpty() ? QStringLiteral("（无）") : v.lastHash));
    return ExitOk;
}

int auditShow(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--db"), QStringLiteral("--server"), QStringLiteral("--record"),
                       QStringLiteral("--user"), QStringLiteral("--since")},
                      {}, &o, &why))
        return error(ExitUsage, why);
    if (!o.positional.isEmpty())
        return error(
            ExitUsage,
            QStringLiteral(
                "用法：audit show [--record 门诊号] [--user NAME] [--since DATE] [--db FILE | --server CONNINFO]"));
    AuditFilter filter;
    filter.record = o.value(QStringLiteral("--record")).trimmed();
    filter.user = o.value(QStringLiteral("--user")).trimmed();
    if (o.has(QStringLiteral("--since"))) {
        const auto d = parseDate(o.value(QStringLiteral("--since")));
        if (!d)
            return error(ExitUsage, QStringLiteral("--since 后面要跟日期，例如 2026-12-01"));
        filter.since = *d;
    }
    QList<AuditEntry> entries;
    int code = ExitOk;
    if (pickServer(o, &code)) {
        if (code != ExitOk)
            return code;
        if (!serverAuditEntries(o.value(QStringLiteral("--server")), filter, &entries))
            return ExitFailed;
    } else {
        std::optional<Connection> c;
        try {
            c.emplace(Connection::open(databasePath(o)));
        } catch (const DbError &e) {
            return error(ExitFailed, e.message());
        }
        if (!readAuditTrail(c->get(), filter, &entries, &why))
            return error(ExitFailed, QStringLiteral("无法读取审计记录：%1").arg(why));
    }
    if (entries.isEmpty()) {
        out(QStringLiteral("没有符合条件的审计记录"));
        return ExitOk;
    }
    QList<QStringList> table = {{QStringLiteral("序号"), QStringLiteral("时间"), QStringLiteral("用户"),
                                 QStringLiteral("操作"), QStringLiteral("表"), QStringLiteral("记录"),
                                 QStringLiteral("改动")}};
    for (const AuditEntry &e : entries)
        table << QStringList{QString::number(e.id),
                             e.time,
                             e.user.isEmpty() ? QStringLiteral("（未登录）") : e.user,
                             e.action,
                             tableTitle(e.table),
                             e.key,
                             describeChanges(e)};
    out(formatTable(table));
    out(QStringLiteral("共 %1 条").arg(entries.size()));
    return ExitOk;
}

}  // namespace

QString systemAccount()
{
    const passwd *pw = getpwuid(geteuid());
    const QString name = pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(geteuid());
    return QStringLiteral("chengheng-db:") + name;
}

int runAudit(const QStringList &args)
{
    const QString sub = args.value(0);
    if (sub == QLatin1String("verify"))
        return auditVerify(args.mid(1));
    if (sub == QLatin1String("show"))
        return auditShow(args.mid(1));
    if (sub.isEmpty() || sub.startsWith(u'-'))
        return error(ExitUsage, QStringLiteral("audit 后面要跟 verify 或 show"));
    return error(ExitUsage, QStringLiteral("未知的 audit 子命令 %1（可用：verify show）").arg(sub));
}

int userHashPasswords(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o, &why))
        return error(ExitUsage, why);
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("用法：user hash-passwords [--db PATH | --server CONNINFO]"));
    HashConversion r;
    int code = ExitOk;
    if (pickServer(o, &code)) {
        if (code != ExitOk)
            return code;
        const auto server = connectServer(o.value(QStringLiteral("--server")));
        if (!server)
            return ExitFailed;
        r = serverConvertPasswords(*server);
    } else {
        std::optional<Connection> c = openDatabase(databasePath(o));
        if (!c)
            return ExitFailed;
        r = convertPasswordsToHashes(c->get());
    }
    if (!r.ok)
        return error(ExitFailed, QStringLiteral("密码没有转换，文件没有改动：%1").arg(r.error));
    out(QStringLiteral("已把 %1 个用户的密码换成散列（另有 %2 个已是散列或没有密码）；此后新增的用户也只保存散列")
            .arg(r.converted)
            .arg(r.kept));
    return ExitOk;
}

}  // namespace xs::tool
