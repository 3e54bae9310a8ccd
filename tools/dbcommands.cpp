#include "dbcommands.h"

#include "data/accounts.h"
#include "data/audit.h"
#include "data/catalogue.h"
#include "data/schema.h"
#include "data/sqlite/backup.h"
#include "data/sqlite/demoarchive.h"
#include "data/sqlite/demodata.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"
#include "data/statements.h"
#include "toolsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace xs::tool {

namespace {

const QStringList kJournalSuffixes = {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")};

int count(const Connection &c, const QString &table)
{
    const std::optional<QString> n = c.scalar(QStringLiteral("SELECT count(*) FROM ") + table);
    return n ? n->toInt() : -1;
}

QString describeFlags(const QStringList &flags)
{
    return flags.isEmpty() ? QStringLiteral("（无）") : flags.join(u' ');
}

void removeDatabaseFiles(const QString &path)
{
    QFile::remove(path);
    for (const QString &suffix : kJournalSuffixes)
        QFile::remove(path + suffix);
}

struct InitPlan {
    bool demo = false;
    int records = -1;  // --records N: a generated archive of N case records
    QString adminName;
    QString adminPassword;
};

bool buildDatabase(const Connection &c, const InitPlan &plan, QString *why)
{
    if (!createSchema(c))
        return falseWith(why, QStringLiteral("建表失败：%1").arg(c.lastError()));
    // Several connections read and write the file at once: it must be in WAL mode.
    const std::optional<QString> mode = c.scalar(QStringLiteral("PRAGMA journal_mode"));
    if (!mode || mode->compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        return falseWith(why, QStringLiteral("无法把文件设为 WAL 日志模式"));

    if (!c.exec("BEGIN IMMEDIATE"))
        return falseWith(why, c.lastError());
    const auto abandon = [&](const QString &text) {
        c.exec("ROLLBACK");
        return falseWith(why, text);
    };
    QString err;
    // A new file keeps only hashes of its passwords.
    if (!writeSetting(c.get(), QString::fromLatin1(kPasswordHashSetting), QStringLiteral("argon2id"), &err))
        return abandon(QStringLiteral("设置：%1").arg(err));
    if (!seedCatalogue(c, &err))
        return abandon(QStringLiteral("药品目录：%1").arg(err));
    if (plan.demo) {
        const bool seeded =
            plan.records >= 0 ? fillDemoArchive(c, demoArchiveFor(plan.records), &err) : seedDemoRecords(c, &err);
        if (!seeded)
            return abandon(QStringLiteral("演示数据：%1").arg(err));
        for (const DemoAccount &a : demoAccounts())
            if (!insertUser(c, a.name, a.password, a.flags, &err))
                return abandon(QStringLiteral("演示账户 %1：%2").arg(a.name, err));
    } else if (!insertUser(c, plan.adminName, plan.adminPassword, {QStringLiteral("admin")}, &err)) {
        return abandon(QStringLiteral("超级管理员：%1").arg(err));
    }
    if (!c.exec("COMMIT"))
        return abandon(c.lastError());
    // The records the file starts with are its first state; every change
    // after this one is recorded.
    if (migrateFile(c, &err) != SchemaOutcome::Current)
        return falseWith(why, QStringLiteral("审计记录：%1").arg(err));
    return true;
}

int userAdd(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--password"), QStringLiteral("--password-file"), QStringLiteral("--db"),
                       QStringLiteral("--server")},
                      {}, &o))
        return ExitUsage;
    if (o.has(QStringLiteral("--password")))
        return refusePasswordOption(QStringLiteral("--password"), QStringLiteral("--password-file"));
    if (o.positional.size() != 1)
        return error(ExitUsage,
                     QStringLiteral("用法：user add NAME [--password-file FILE|-] [--db PATH | --server CONNINFO]"));
    const QString name = o.positional[0].trimmed();
    if (name.isEmpty())
        return error(ExitFailed, QStringLiteral("用户名不能为空"));
    int code = ExitOk;
    if (!openTarget(o, &code))
        return code;
    if (const auto existing = storedUserName(name, &why))
        return error(ExitFailed, QStringLiteral("用户 %1 已存在").arg(*existing));
    if (!why.isEmpty())
        return error(ExitFailed, why);
    const std::optional<QString> password =
        obtainPassword(o, QStringLiteral("--password-file"), QStringLiteral("用户 %1 的密码：").arg(name));
    if (!password)
        return ExitFailed;
    if (!addUser(name, *password, &why))
        return error(ExitFailed, QStringLiteral("无法添加用户：%1").arg(why));
    out(QStringLiteral("已添加用户 %1，权限：（无）").arg(name));
    return ExitOk;
}

int userSetFlags(const QStringList &args, bool on)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (o.positional.size() < 2)
        return error(ExitUsage, QStringLiteral("用法：user %1 NAME FLAG... [--db PATH]")
                                    .arg(on ? QStringLiteral("grant") : QStringLiteral("revoke")));
    const QString name = o.positional[0].trimmed();
    QStringList flags;
    for (const QString &f : o.positional.mid(1)) {
        if (!rightFlags().contains(f))
            return error(ExitUsage, QStringLiteral("未知的权限标志 %1（可用：%2）").arg(f, rightFlags().join(u' ')));
        if (!flags.contains(f))
            flags << f;
    }
    int code = ExitOk;
    if (!openTarget(o, &code))
        return code;
    const std::optional<QString> stored = storedUserName(name, &why);
    if (!stored)
        return error(ExitFailed, why.isEmpty() ? QStringLiteral("没有名为 %1 的用户").arg(name) : why);
    const std::optional<QStringList> held = setUserFlags(*stored, flags, on, &why);
    if (!held)
        return error(ExitFailed, why);
    out(QStringLiteral("用户 %1 的权限：%2").arg(*stored, describeFlags(*held)));
    return ExitOk;
}

int userList(const QStringList &args)
{
    Options o;
    QString why;
    if (!parseOptions(args, {QStringLiteral("--db"), QStringLiteral("--server")}, {}, &o))
        return ExitUsage;
    if (!o.positional.isEmpty())
        return error(ExitUsage, QStringLiteral("user list 不接受参数 %1").arg(o.positional[0]));
    int code = ExitOk;
    if (!openTarget(o, &code))
        return code;
    const std::optional<QList<Account>> users = listUsers(&why);
    if (!users)
        return error(ExitFailed, QStringLiteral("无法读取用户表：%1").arg(why));
    QList<QStringList> table = {{QStringLiteral("用户名"), QStringLiteral("权限")}};
    for (const Account &a : *users)
        table << QStringList{a.name, describeFlags(a.flags)};
    out(formatTable(table));
    return ExitOk;
}

}  // namespace

bool askAdmin(const Options &o, const QString &unread, QString *name, QString *password)
{
    const std::optional<QString> typed = o.has(QStringLiteral("--admin-name"))
                                             ? o.value(QStringLiteral("--admin-name"))
                                             : ask(QStringLiteral("超级管理员用户名："), false);
    if (!typed || typed->trimmed().isEmpty()) {
        error(ExitFailed, typed ? QStringLiteral("超级管理员用户名不能为空") : unread);
        return false;
    }
    *name = typed->trimmed();
    const std::optional<QString> p =
        obtainPassword(o, QStringLiteral("--admin-password-file"), QStringLiteral("超级管理员 %1 的密码：").arg(*name));
    if (p)
        *password = *p;
    return p.has_value();
}

int runInit(const QStringList &args)
{
    for (const QString &a : args)
        if (a == QLatin1String("--server") || a.startsWith(QLatin1String("--server=")))
            return runServerInit(args);
    Options o;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--admin-name"), QStringLiteral("--admin-password"),
                       QStringLiteral("--admin-password-file"), QStringLiteral("--records")},
                      {QStringLiteral("--demo")}, &o))
        return ExitUsage;
    if (o.has(QStringLiteral("--admin-password")))
        return refusePasswordOption(QStringLiteral("--admin-password"), QStringLiteral("--admin-password-file"));
    if (o.positional.size() != 1)
        return error(ExitUsage, o.positional.isEmpty()
                                    ? QStringLiteral("init 需要新数据库文件的路径")
                                    : QStringLiteral("init 只接受一个路径，多出的参数：%1").arg(o.positional[1]));
    InitPlan plan;
    plan.demo = o.has(QStringLiteral("--demo"));
    if (plan.demo && (o.has(QStringLiteral("--admin-name")) || o.has(QStringLiteral("--admin-password-file"))))
        return error(ExitUsage,
                     QStringLiteral("--demo 自带五个演示账户，不能与 --admin-name、--admin-password-file 同用"));
    if (o.has(QStringLiteral("--records"))) {
        bool number = false;
        plan.records = o.value(QStringLiteral("--records")).toInt(&number);
        if (!plan.demo)
            return error(ExitUsage, QStringLiteral("--records 只能与 --demo 同用"));
        if (!number || plan.records < 0)
            return error(ExitUsage, QStringLiteral("--records 后面要跟病例档案的份数（0 或正整数）"));
    }

    const QString path = o.positional[0];
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink())
        return error(ExitFailed, QStringLiteral("文件 %1 已存在；init 只创建新文件，不改动已有的文件").arg(path));
    // A journal left by another database would be taken for this file's own.
    for (const QString &suffix : kJournalSuffixes)
        if (QFileInfo::exists(path + suffix))
            return error(ExitFailed, QStringLiteral("%1 旁边有残留的日志文件 %2，请先移走它").arg(path, path + suffix));
    if (!info.absoluteDir().exists())
        return error(ExitFailed, QStringLiteral("文件夹 %1 不存在").arg(info.absolutePath()));

    if (!plan.demo && !askAdmin(o, QStringLiteral("没有读到超级管理员的用户名"), &plan.adminName, &plan.adminPassword))
        return ExitFailed;

    bool ok = false;
    bool opened = false;
    try {
        Connection c = Connection::create(path);
        opened = true;
        // Before the log files exist: the engine gives them the file's mode.
        setSharedFileMode(path);
        ok = buildDatabase(c, plan, &why);
    } catch (const DbError &e) {
        why = e.reason();
    }
    // Nothing half-made stays behind. (When the file could not even be
    // opened, only an empty file that the attempt itself left is removed.)
    if (!ok) {
        if (opened || QFileInfo(path).size() == 0)
            removeDatabaseFiles(path);
        return error(ExitFailed, QStringLiteral("无法创建数据库 %1：%2").arg(path, why));
    }

    std::optional<Connection> c = openDatabase(path);
    if (!c)
        return ExitFailed;
    if (plan.demo)
        out(QStringLiteral("已创建演示数据库 %1：科室 %2 个，病例档案 %3 份，药品目录 %4 行，账户 %5 个")
                .arg(path, QString::number(count(*c, QStringLiteral("class"))),
                     QString::number(count(*c, QStringLiteral("xj"))),
                     QString::number(count(*c, QStringLiteral("表1"))),
                     QString::number(count(*c, QStringLiteral("use")))));
    else
        out(QStringLiteral("已创建数据库 %1：药品目录 %2 行，超级管理员 %3")
                .arg(path, QString::number(count(*c, QStringLiteral("表1"))), plan.adminName));
    return ExitOk;
}

int runUser(const QStringList &args)
{
    const QString sub = args.value(0);
    const QStringList rest = args.mid(1);
    if (sub == QLatin1String("add"))
        return userAdd(rest);
    if (sub == QLatin1String("grant"))
        return userSetFlags(rest, true);
    if (sub == QLatin1String("revoke"))
        return userSetFlags(rest, false);
    if (sub == QLatin1String("list"))
        return userList(rest);
    if (sub == QLatin1String("hash-passwords"))
        return userHashPasswords(rest);
    if (sub.isEmpty() || sub.startsWith(u'-'))
        return error(ExitUsage, QStringLiteral("user 后面要跟 add、grant、revoke、list 或 hash-passwords"));
    return error(ExitUsage,
                 QStringLiteral("未知的 user 子命令 %1（可用：add grant revoke list hash-passwords）").arg(sub));
}

int runCatalogue(const QStringList &args)
{
    const QString sub = args.value(0);
    if (sub != QLatin1String("export") && sub != QLatin1String("import"))
        return error(ExitUsage, sub.isEmpty() || sub.startsWith(u'-')
                                    ? QStringLiteral("catalogue 后面要跟 export 或 import")
                                    : QStringLiteral("未知的 catalogue 子命令 %1（可用：export import）").arg(sub));
    Options o;
    QString why;
    const bool exporting = sub == QLatin1String("export");
    if (!parseOptions(args.mid(1), {QStringLiteral("--db"), QStringLiteral("--server")},
                      exporting ? QStringList{QStringLiteral("--drugs")} : QStringList(), &o))
        return ExitUsage;
    if (o.positional.size() != 1)
        return error(ExitUsage, QStringLiteral("用法：catalogue %1 FILE.csv%2 [--db PATH | --server CONNINFO]")
                                    .arg(sub, exporting ? QStringLiteral(" [--drugs]") : QString()));
    const QString csv = o.positional[0];
    int code = ExitOk;
    const std::optional<Target> target = openTarget(o, &code);
    if (!target)
        return code;
    if (sub == QLatin1String("export")) {
        // Writing the CSV over the database file itself would destroy it.
        const QString file = QFileInfo(csv).canonicalFilePath();
        if (!target->server && !file.isEmpty() && file == QFileInfo(target->name).canonicalFilePath())
            return error(ExitFailed, QStringLiteral("导出失败：%1 是数据库文件本身，不能写入 CSV").arg(csv));
        const std::optional<int> rows = exportCatalogue(csv, &why, o.has(QStringLiteral("--drugs")));
        if (!rows)
            return error(ExitFailed, QStringLiteral("导出失败：%1").arg(why));
        out(QStringLiteral("已把药品目录（%1 行）导出到 %2").arg(*rows).arg(csv));
    } else {
        const std::optional<int> rows = importCatalogue(csv, &why);
        if (!rows)
            return error(ExitFailed, QStringLiteral("导入失败，药品目录没有改动：%1").arg(why));
        out(QStringLiteral("已从 %1 导入药品目录，共 %2 行").arg(csv, QString::number(*rows)));
    }
    return ExitOk;
}

}  // namespace xs::tool
