#pragma once
#include <QString>
#include <optional>

namespace xs {
class Connection;

// Fills 表1 with the built-in drug catalogue (all seventeen categories). A
// category with fewer entries than the longest leaves null cells below its
// last entry: the categories share the rows.
bool seedCatalogue(const Connection &c, QString *error = nullptr);
// Replaces 表1 with the rows of a CSV file whose header names the seventeen
// columns (in any order); nothing changes when the file is missing or malformed.
// Inside the caller's transaction on c, as a part of it.
bool importCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);
// The same on the engine of this process, in one transaction; the rows loaded.
// A file whose header names the drug columns (编码, 表1名称, 类别, 通用名 …)
// is a whole drug catalogue: it replaces the drugs, and the menu columns of
// the categories it holds list its drugs in file order (withdrawn ones left
// out); the other menu columns stay as they are.
std::optional<int> importCatalogue(const QString &path, QString *error = nullptr);
// Writes 表1 of the engine of this process in stored row order as CSV, header
// first, columns in menu order; with `drugs`, the drug catalogue instead
// (编码 order, the columns of a whole catalogue's import). The rows written.
std::optional<int> exportCatalogue(const QString &path, QString *error = nullptr, bool drugs = false);
}  // namespace xs
