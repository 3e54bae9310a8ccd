#pragma once
#include <QString>

// The file's rendering of the structure (data/schema.h) and its steps from
// version to version. The version is the header's PRAGMA user_version: no
// table to make, and written in the transaction of the step that reaches it.
namespace xs {
class Connection;

// Creates the tables and indexes in an empty file, in WAL mode; false (nothing
// kept) on failure. migrateFile then makes it current (after its first rows,
// which the trail does not record).
bool createSchema(const Connection &c);

// Current; Newer: refused, not changed; Failed: not brought up (why tells), used as it is.
enum class SchemaOutcome { Current, Newer, Failed };
// Brings the file to this program's version: refuses a newer one before
// writing anything, puts it in WAL mode, runs each missing step in a
// transaction of its own, then puts back what no longer holds (a trail
// trigger missing or altered, a kept count astray) in one transaction.
SchemaOutcome migrateFile(const Connection &c, QString *why);
}  // namespace xs
