#include "data/accounts.h"

#include "data/passwords.h"
#include "data/statements.h"

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
        return falseWith(why, QStringLiteral("计算密码散列时内存不足，用户没有添加。请关闭其他程序后再试。"));
    DbFault fault = DbFault::None;
    if (runStatement(QStringLiteral("INSERT INTO use(username, password) VALUES($1, $2)"), {name, *stored}, why,
                     nullptr, &fault))
        return true;
    if (fault == DbFault::Unique)
        return falseWith(why, QStringLiteral("用户 %1 已存在").arg(name));
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
