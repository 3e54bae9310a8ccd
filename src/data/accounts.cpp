#include "data/accounts.h"

#include "data/passwords.h"
#include "data/sqlite/sqlite.h"
#include "data/statements.h"

#include <sqlite3.h>

namespace xs {

const QStringList &rightFlags()
{
    static const QStringList f = {"admin", "readonly", "qx1", "qx2", "qx3", "qx4"};
    return f;
}

const std::vector<DemoAccount> &demoAccounts()
{
    static const std::vector<DemoAccount> a = {
        {"admin", "admin123", {"admin"}, "超级管理员"},
        {"viewer", "viewer123", {"readonly"}, "只读管理员"},
        {"doctor", "doctor123", {"qx2"}, "普通用户（科室与病例档案权限 qx2）"},
        {"clerk", "clerk123", {"qx1"}, "普通用户（用户管理权限 qx1）"},
        {"guest", "guest123", {}, "无任何权限的用户"},
    };
    return a;
}

static bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

bool insertUser(const Connection &c, const QString &name, const QString &password, const QStringList &flags,
                QString *error)
{
    for (const QString &f : flags)
        if (!rightFlags().contains(f))
            return fail(error, QStringLiteral("未知的权限标志：%1").arg(f));
    QStringList cols = {"username", "password"};
    QStringList marks = {"?", "?"};
    for (const QString &f : flags) {
        cols << f;
        marks << QStringLiteral("'y'");
    }
    // The file decides whether the password is kept as typed or as its hash.
    const QString stored = storedPasswordFor(c.get(), password);
    if (stored.isEmpty() && !password.trimmed().isEmpty())
        return fail(error, QStringLiteral("计算密码散列时内存不足，用户没有添加。请关闭其他程序后再试。"));
    StmtHandle s = c.prepare(QStringLiteral("INSERT INTO use(%1) VALUES(%2)").arg(cols.join(','), marks.join(',')));
    if (!s)
        return fail(error, c.lastError());
    bindText(s.get(), 1, name);
    bindText(s.get(), 2, stored);
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        if (sqlite3_errcode(c.get()) == SQLITE_CONSTRAINT)
            return fail(error, QStringLiteral("用户 %1 已存在").arg(name));
        return fail(error, c.lastError());
    }
    return true;
}

std::optional<QString> storedUserName(const QString &name, QString *why)
{
    std::optional<QString> stored;
    if (!eachRow(
            QStringLiteral("SELECT username FROM use WHERE username=$1"), {name},
            [&](const Cells &row) {
                stored = row.value(0).value_or(QString());
                return false;
            },
            why))
        return std::nullopt;
    return stored;
}

bool addUser(const QString &name, const QString &password, QString *why)
{
    const std::optional<QString> stored = passwordToKeep(password, why);
    if (!stored)
        return false;
    if (stored->isEmpty() && !password.trimmed().isEmpty())
        return fail(why, QStringLiteral("计算密码散列时内存不足，用户没有添加。请关闭其他程序后再试。"));
    DbFault fault = DbFault::None;
    if (runStatement(QStringLiteral("INSERT INTO use(username, password) VALUES($1, $2)"), {name, *stored}, why,
                     nullptr, &fault))
        return true;
    if (fault == DbFault::Unique)
        return fail(why, QStringLiteral("用户 %1 已存在").arg(name));
    return false;
}

namespace {
QStringList heldFlags(const Cells &row, int first)
{
    QStringList held;
    for (int i = 0; i < int(rightFlags().size()); ++i)
        if (row.value(first + i) == QLatin1String("y"))
            held << rightFlags()[i];
    return held;
}
}  // namespace

std::optional<QStringList> setUserFlags(const QString &name, const QStringList &flags, bool on, QString *why)
{
    QStringList sets;
    for (const QString &f : flags)
        sets << f + (on ? QStringLiteral("='y'") : QStringLiteral("=NULL"));
    if (!runStatement(QStringLiteral("UPDATE use SET %1 WHERE username=$1").arg(sets.join(u',')), {name}, why))
        return std::nullopt;
    QStringList held;
    if (!eachRow(
            QStringLiteral("SELECT %1 FROM use WHERE username=$1").arg(rightFlags().join(u',')), {name},
            [&](const Cells &row) {
                held = heldFlags(row, 0);
                return false;
            },
            why))
        return std::nullopt;
    return held;
}

std::optional<QList<Account>> listUsers(QString *why)
{
    QList<Account> users;
    if (!eachRow(
            QStringLiteral("SELECT username,%1 FROM use ORDER BY username").arg(rightFlags().join(u',')), {},
            [&](const Cells &row) {
                users << Account{row.value(0).value_or(QString()), heldFlags(row, 1)};
                return true;
            },
            why))
        return std::nullopt;
    return users;
}

}  // namespace xs
