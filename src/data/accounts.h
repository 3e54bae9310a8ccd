#pragma once
#include <QString>
#include <QStringList>
#include <vector>

namespace xs {
class Connection;

// The flag columns of table use that rights are made of.
const QStringList &rightFlags();  // admin, readonly, qx1..qx4

struct DemoAccount {
    QString name;
    QString password;
    QStringList flags;
    QString role;  // what the account shows, for the README and the tool
};
// One account of each kind: super administrator, read-only administrator,
// ordinary user with qx2, ordinary user with qx1, user with no right.
const std::vector<DemoAccount> &demoAccounts();

// Adds a user (bound parameters), the password as the file keeps them (plain
// or hashed); false with a reason when the name exists or the insert fails.
bool insertUser(const Connection &c, const QString &name, const QString &password, const QStringList &flags,
                QString *error = nullptr);
// Sets (on) or clears the given flags of an existing user.
bool setUserFlags(const Connection &c, const QString &name, const QStringList &flags, bool on,
                  QString *error = nullptr);
}  // namespace xs
