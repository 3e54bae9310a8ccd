#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace xs {
class Connection;

// Fills 表1 with the built-in drug catalogue (all seventeen categories). A
// category with fewer entries than the longest leaves null cells below its
// last entry: the categories share the rows.
bool seedCatalogue(const Connection &c, QString *error = nullptr);
// Adds the demo departments (in several groups) and a few dozen case records,
// always the same ones; one record names a department that does not exist.
bool seedDemoRecords(const Connection &c, QString *error = nullptr);
// Adds only the demo departments (the archive generator brings its own records).
bool seedDemoDepartments(const Connection &c, QString *error = nullptr);
// Replaces 表1 with the rows of a CSV file whose header names the seventeen
// columns (in any order); nothing changes when the file is missing or malformed.
bool importCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);
// Writes 表1 in stored row order as CSV, header first, columns in menu order.
bool exportCatalogueCsv(const Connection &c, const QString &path, QString *error = nullptr);

// CSV as the catalogue files use it: UTF-8, RFC 4180 (fields separated by
// commas, records by CRLF or LF, a field holding a comma, quote or line break
// quoted with its quotes doubled). An empty unquoted field is a null cell,
// "" is the empty text, so null and empty survive a round trip.
using CsvCell = std::optional<QString>;
using CsvRecord = std::vector<CsvCell>;
// Parses a whole file (a leading byte-order mark is ignored; empty lines are
// skipped). False with the reason and line number when it is malformed.
bool parseCsv(const QByteArray &utf8, std::vector<CsvRecord> *records, QString *error = nullptr);
QByteArray formatCsv(const std::vector<CsvRecord> &records);
}  // namespace xs
