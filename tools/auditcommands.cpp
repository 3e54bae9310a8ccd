// audit verify, audit anchor, audit show and user hash-passwords: the records
// of who changed what, and passwords no one can read.
#include "data/audit.h"
#include "data/auditanchor.h"
#include "data/dates.h"
#include "data/passwords.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgsql.h"
#include "data/sqlite/fileaudit.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"
#include "data/statements.h"
#include "dbcommands.h"
#include "toolsupport.h"

#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace xs::tool {

namespace {

// The trail's table names as a reader of the list knows them.
QString tableTitle(const QString &table)
{
    static const QHash<QString, QString> titles = {{QStringLiteral("xj"), QStringLiteral("病例档案")},
                                                   {QStringLiteral("yc"), QStringLiteral("处方打印库")},
                                                   {QStringLiteral("class"), QStringLiteral("科室设置")},
                                                   {QStringLiteral("use"), QStringLiteral("用户")}};
    return titles.value(table, table);
}

const QString kVerifyUsage = QStringLiteral("用法：audit verify [--anchor FILE] [--db FILE | --server CONNINFO]");
const QString kAnchorUsage = QStringLiteral("用法：audit anchor [--out FILE] [--db FILE | --server CONNINFO]");

// The trail's chain checked entry by entry (reading only: the trail is not
// added or repaired here), and the target then opened for reading; none after
// a message. How the chain's surroundings are checked is the engine's own:
// the file's triggers, the server's counter, functions and grants.
std::optional<Target> verifyTrail(const Options &o, int *code, AuditVerification *v, QString *database)
{
    const std::optional<Target> target = chooseTarget(o, code);
    if (!target)
        return std::nullopt;
    *code = ExitFailed;
    if (target->server) {
        const auto c = connectServer(target->name);
        if (!c)
            return std::nullopt;
        *v = verifyServerAuditTrail(*c);
        *database = target->name;
    } else {
        try {
            *v = verifyAuditTrail(Connection::open(target->name).get());
        } catch (const DbError &e) {
            error(ExitFailed, e.message());
            return std::nullopt;
        }
        *database = QFileInfo(target->name).absoluteFilePath();
    }
    return openTarget(o, code, Repair::None);
}

// Where the target keeps its trail.
const AuditTrailSide &sideOf(const Target &t) { return t.server ? serverAuditTrail() : fileAuditTrail(); }

int auditVerify(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server"), QStringLiteral("--anchor")}, {}, &o,
                      &why))
        return error(ExitUsage, why);
    if (!o.positional.isEmpty())
        return error(ExitUsage, kVerifyUsage);
    // The anchor is read first: one that cannot be used is told before the
    // database is opened.
    std::optional<AuditAnchor> anchor;
    if (o.has(QStringLiteral("--anchor"))) {
        anchor = loadAnchor(o.value(QStringLiteral("--anchor")));
        if (!anchor)
            return ExitFailed;
    }
    int code = ExitOk;
    AuditVerification v;
    QString database;
    const std::optional<Target> target = verifyTrail(o, &code, &v, &database);
    if (!target)
        return code;
    if (!v.ok)
        return error(ExitFailed, QStringLiteral("审计记录校验不通过：%1").arg(v.problem));
    out(QStringLiteral("审计记录完好：共 %1 条，逐条校验一致。最后一条的校验值：%2")
            .arg(v.entries)
            .arg(v.lastHash.isEmpty() ? QStringLiteral("（无）") : v.lastHash));
    if (!anchor)
        return ExitOk;
    AuditTrailPosition p;
    if (!readAuditPosition(readOnEngine, sideOf(*target), anchor->number, &p, &why))
        return error(ExitFailed, QStringLiteral("无法读取审计记录：%1").arg(why));
    return anchorOutcome(*anchor, p, database);
}

int auditAnchor(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server"), QStringLiteral("--out")}, {}, &o,
                      &why))
        return error(ExitUsage, why);
    if (!o.positional.isEmpty())
        return error(ExitUsage, kAnchorUsage);
    if (o.has(QStringLiteral("--out")) && o.value(QStringLiteral("--out")).isEmpty())
        return error(ExitUsage, QStringLiteral("--out 后面要跟锚点文件的名字"));
    int code = ExitOk;
    AuditVerification v;
    QString database;
    if (!verifyTrail(o, &code, &v, &database))
        return code;
    // An anchor of a trail that does not hold together would vouch for it.
    if (!v.ok)
        return error(ExitFailed, QStringLiteral("审计记录校验不通过，没有取锚点：%1").arg(v.problem));
    // The chain numbers its entries 1, 2, 3...: the last one read is number `entries`.
    AuditTrailPosition p;
    p.last = v.entries;
    p.lastHash = v.lastHash;
    const AuditAnchor anchor = anchorOf(p, database);
    if (!o.has(QStringLiteral("--out"))) {
        const QString text = formatAuditAnchor(anchor);
        out(text.left(text.size() - 1));
        return ExitOk;
    }
    const QString file = o.value(QStringLiteral("--out"));
    if (!writeAuditAnchor(file, anchor, &why))
        return error(ExitFailed, QStringLiteral("审计锚点没有写成：%1").arg(why));
    out(QStringLiteral("已把审计锚点写入 %1：第 %2 条，%3 取。请把它复制到另一台计算机或打印出来保存，"
                       "日后用 chengheng-db audit verify --anchor %1 核对")
            .arg(file)
            .arg(anchor.number)
            .arg(anchor.taken));
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
    const std::optional<Target> target = openTarget(o, &code, Repair::None);
    if (!target)
        return code;
    if (!hasAuditTrail(readOnEngine, sideOf(*target), &why) || !readAuditTrail(filter, &entries, &why))
        return error(ExitFailed, QStringLiteral("无法读取审计记录：%1").arg(why));
    if (entries.isEmpty()) {
        out(QStringLiteral("没有符合条件的审计记录"));
        return ExitOk;
    }
    // On the server each entry also names the role that really connected;
    // one that is not a room's program's is marked, since a name it gave
    // (xs.user) is not vouched for by any program's sign-in.
    const bool roles =
        std::any_of(entries.cbegin(), entries.cend(), [](const AuditEntry &e) { return !e.role.isEmpty(); });
    QStringList head = {QStringLiteral("序号"), QStringLiteral("时间"), QStringLiteral("用户")};
    if (roles)
        head << QStringLiteral("服务器账户");
    head << QStringLiteral("操作") << QStringLiteral("表") << QStringLiteral("记录") << QStringLiteral("改动");
    QList<QStringList> table = {head};
    for (const AuditEntry &e : entries) {
        QStringList row = {QString::number(e.id), e.time, e.user.isEmpty() ? QStringLiteral("（未登录）") : e.user};
        if (roles)
            row << (e.role.isEmpty() ? QStringLiteral("—")
                                     : e.role + (e.outsideProgram ? QStringLiteral("（非诊室程序）") : QString()));
        row << e.action << tableTitle(e.table) << e.key << describeChanges(e);
        table << row;
    }
    out(formatTable(table));
    out(QStringLiteral("共 %1 条").arg(entries.size()));
    return ExitOk;
}

}  // namespace

std::optional<AuditAnchor> loadAnchor(const QString &file)
{
    if (file.isEmpty()) {
        error(ExitUsage, QStringLiteral("--anchor 后面要跟锚点文件的名字"));
        return std::nullopt;
    }
    QString why;
    std::optional<AuditAnchor> a = readAuditAnchor(file, &why);
    if (!a)
        error(ExitFailed,
              QStringLiteral("审计锚点 %1 不能用：%2。请用 chengheng-db audit anchor 写出的原文件核对").arg(file, why));
    return a;
}

int anchorOutcome(const AuditAnchor &anchor, const AuditTrailPosition &p, const QString &database)
{
    const AuditAnchorCheck check = checkAuditAnchor(anchor, p);
    if (check.ok) {
        out(QStringLiteral("审计记录与锚点相符：%1（锚点取自 %2）").arg(check.text, anchor.database));
        return ExitOk;
    }
    // An anchor of another database tells nothing about this one.
    const QString other =
        anchor.database != database
            ? QStringLiteral("。锚点取自 %1，这里核对的是 %2：请确认二者是同一个数据库").arg(anchor.database, database)
            : QStringLiteral("。请把审计记录与锚点同一天的备份对照，查明被删改的记录");
    return error(ExitFailed, QStringLiteral("审计记录校验不通过：%1%2").arg(check.text, other));
}

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
    if (sub == QLatin1String("anchor"))
        return auditAnchor(args.mid(1));
    if (sub == QLatin1String("show"))
        return auditShow(args.mid(1));
    if (sub.isEmpty() || sub.startsWith(u'-'))
        return error(ExitUsage, QStringLiteral("audit 后面要跟 verify、anchor 或 show"));
    return error(ExitUsage, QStringLiteral("未知的 audit 子命令 %1（可用：verify anchor show）").arg(sub));
}

int userHashPasswords(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o, &why))
        return error(ExitUsage, why);
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("用法：user hash-passwords [--db PATH | --server CONNINFO]"));
    int code = ExitOk;
    const std::optional<Target> target = openTarget(o, &code);
    if (!target)
        return code;
    // A file marks itself as keeping only hashes from now on; the server
    // keeps nothing else in any case.
    const HashConversion r = convertPasswordsToHashes([&](QString *failure) {
        return target->server
               || (runStatement(
                       QStringLiteral("CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT)"), {},
                       failure)
                   && runStatement(QStringLiteral("INSERT OR REPLACE INTO settings(name, value) VALUES($1, $2)"),
                                   {QString::fromLatin1(kPasswordHashSetting), QStringLiteral("argon2id")}, failure));
    });
    if (!r.ok)
        return error(ExitFailed, QStringLiteral("密码没有转换，文件没有改动：%1").arg(r.error));
    out(QStringLiteral("已把 %1 个用户的密码换成散列（另有 %2 个已是散列或没有密码）；此后新增的用户也只保存散列")
            .arg(r.converted)
            .arg(r.kept));
    return ExitOk;
}

}  // namespace xs::tool
