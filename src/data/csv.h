#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace xs {

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

// Reads CSV text whose header names every one of `columns` exactly once (in
// any order, blanks around a name ignored) and returns its data rows with the
// cells put into the order of `columns`. False with the reason otherwise.
bool readTableCsv(const QByteArray &utf8, const QStringList &columns, std::vector<CsvRecord> *rows, QString *error);
}  // namespace xs
