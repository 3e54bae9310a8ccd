#pragma once
#include <QString>
#include <QStringList>

namespace xs {
class Connection;

// Adds the demo departments (in several groups) and a few dozen case records,
// always the same ones; one record names a department that does not exist.
bool seedDemoRecords(const Connection &c, QString *error = nullptr);
// Adds only the demo departments (the archive generator brings its own records).
bool seedDemoDepartments(const Connection &c, QString *error = nullptr);
// Adds a user to a file (bound parameters), the password as the file keeps
// them (plain or hashed); false with a reason when the name exists or the
// insert fails.
bool insertUser(const Connection &c, const QString &name, const QString &password, const QStringList &flags,
                QString *error = nullptr);
}  // namespace xs
