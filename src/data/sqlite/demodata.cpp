#include "data/sqlite/demodata.h"
#include "data/accounts.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"
#include <sqlite3.h>

#include "data/builtin.h"
#include "data/schema.h"
#include "data/sqlite/bulkwrite.h"

namespace xs {

bool seedDemoRecords(const Connection &c, QString *error)
{
    std::vector<CsvRecord> departments, cases;
    if (!readBuiltinTable(QStringLiteral(":/seed/departments.csv"), classColumns(), &departments, error)
        || !readBuiltinTable(QStringLiteral(":/seed/cases.csv"), caseColumns(), &cases, error))
        return false;
    return atomically(c, error, [&](QString *why) {
        return insertRows(c, QStringLiteral("class"), classColumns(), departments, why)
               && insertRows(c, QStringLiteral("xj"), caseColumns(), cases, why);
    });
}

bool seedDemoDepartments(const Connection &c, QString *error)
{
    std::vector<CsvRecord> departments;
    if (!readBuiltinTable(QStringLiteral(":/seed/departments.csv"), classColumns(), &departments, error))
        return false;
    return atomically(c, error, [&](QString *why) {
        return insertRows(c, QStringLiteral("class"), classColumns(), departments, why);
    });
}

bool insertUser(const Connection &c, const QString &name, const QString &password, const QStringList &flags,
                QString *error)
{
    QStringList cols = {"username", "password"};
    QStringList marks = {"?", "?"};
    for (const QString &f : flags) {
        if (!rightFlags().contains(f))
            return failWith(error, QStringLiteral("未知的权限标志：%1").arg(f));
        cols << f;
        marks << QStringLiteral("'y'");
    }
    // The file decides whether the password is kept as typed or as its hash.
    const QString stored = storedPasswordFor(c.get(), password);
    if (stored.isEmpty() && !password.trimmed().isEmpty())
        return failWith(error, QStringLiteral("计算密码散列时内存不足，用户没有添加。请关闭其他程序后再试。"));
    StmtHandle s = c.prepare(QStringLiteral("INSERT INTO use(%1) VALUES(%2)").arg(cols.join(','), marks.join(',')));
    if (!s)
        return failWith(error, c.lastError());
    bindText(s.get(), 1, name);
    bindText(s.get(), 2, stored);
    if (sqlite3_step(s.get()) != SQLITE_DONE) {
        if (sqlite3_errcode(c.get()) == SQLITE_CONSTRAINT)
            return failWith(error, QStringLiteral("用户 %1 已存在").arg(name));
        return failWith(error, c.lastError());
    }
    return true;
}

}  // namespace xs
