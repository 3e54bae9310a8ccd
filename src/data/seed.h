#pragma once
#include <QString>

namespace xs {
class Connection;
// Fills 表1 with the built-in drug catalogue (all seventeen categories).
bool seedCatalogue(const Connection &c, QString *error = nullptr);
// Adds the demo departments (in several groups) and a few dozen case records.
bool seedDemoRecords(const Connection &c, QString *error = nullptr);
// Replaces 表1 with the rows of a CSV file whose header names the seventeen
// columns; nothing changes when the file is missing or malformed.
bool importCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);
bool exportCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);
}  // namespace xs
