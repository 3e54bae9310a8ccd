#pragma once
#include <QString>

namespace xs {
class Connection;

// Adds the demo departments (in several groups) and a few dozen case records,
// always the same ones; one record names a department that does not exist.
bool seedDemoRecords(const Connection &c, QString *error = nullptr);
// Adds only the demo departments (the archive generator brings its own records).
bool seedDemoDepartments(const Connection &c, QString *error = nullptr);
}  // namespace xs
