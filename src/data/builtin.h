#pragma once
// The program's built-in tables (drug catalogue, demo departments and case
// records), compiled in from resources/seed.
#include "data/csv.h"

namespace xs {
// Loads one built-in CSV table (":/seed/NAME.csv") with cells in `columns`
// order; its faults are the program's own, so the message names the resource.
bool readBuiltinTable(const QString &name, const QStringList &columns, std::vector<CsvRecord> *rows, QString *error);
}  // namespace xs
