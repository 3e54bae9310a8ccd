#pragma once
#include <QStringList>

namespace xs {
class Connection;

// Column names of the tables, in their stored order.
const QStringList &useColumns();
const QStringList &classColumns();
const QStringList &caseColumns();       // xj and yc: the twenty CaseRecord columns
const QStringList &catalogueColumns();  // 表1: the seventeen drug categories, menu order

// Creates the five tables and the unique indexes in an empty file and puts it
// in WAL mode. False (and nothing half-made kept) on failure.
bool createSchema(const Connection &c);
}  // namespace xs
