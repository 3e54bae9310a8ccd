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

// The version the file stores (1 for a file made by an earlier program).
int fileSchemaVersion(const Connection &c);

enum class SchemaOutcome {
    Current,  // the file is of this program's version
    Newer,    // made by a newer program: refused, not changed
    Failed,   // could not be brought up (why tells); it is used as it is
};
// Brings the file to this program's version: refuses a newer one before
// writing anything, puts it in WAL mode, runs each missing step in a
// transaction of its own, then puts back what no longer holds (a trail
// trigger missing or altered, a kept count astray) in one transaction.
SchemaOutcome migrateFile(const Connection &c, QString *why);
}  // namespace xs
