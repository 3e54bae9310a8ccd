#pragma once
#include <QString>

namespace xs {
class Connection;

// Fills 表1 with the built-in drug catalogue (all seventeen categories). A
// category with fewer entries than the longest leaves null cells below its
// last entry: the categories share the rows.
bool seedCatalogue(const Connection &c, QString *error = nullptr);
// Replaces 表1 with the rows of a CSV file whose header names the seventeen
// columns (in any order); nothing changes when the file is missing or malformed.
bool importCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);
// Writes 表1 in stored row order as CSV, header first, columns in menu order.
bool exportCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);
}  // namespace xs
