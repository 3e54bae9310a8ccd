#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace xs {

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

// The accounts on the engine of this process (the file or the server alike).
// The name of the user as stored (the look-up ignores letter case, as the
// unique key does); nothing when there is none, or with `why` set when the
// table cannot be read.
std::optional<QString> storedUserName(const QString &name, QString *why);
// Adds a user without rights, the password kept as the engine keeps them.
bool addUser(const QString &name, const QString &password, QString *why);
// Sets (on) or clears the given flags of a user; the flags the user holds
// afterwards (those that are exactly "y").
std::optional<QStringList> setUserFlags(const QString &name, const QStringList &flags, bool on, QString *why);
struct Account {
    QString name;
    QStringList flags;
};
// Every user with the flags held, ordered by name.
std::optional<QList<Account>> listUsers(QString *why);
}  // namespace xs
