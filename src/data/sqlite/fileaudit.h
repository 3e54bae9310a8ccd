#pragma once
#include "data/audit.h"

#include <QStringList>

struct sqlite3;

// The trail in the file (data/audit.h says what it records and how).
namespace xs {

// Where the file keeps its trail.
const AuditTrailSide &fileAuditTrail();
// Registers the trail's SQL functions on a connection.
void registerAuditFunctions(sqlite3 *db);
// The statements adding the trail (table, index, triggers) to a file, or
// putting back a trigger missing or not as written here; none when all is in place.
QStringList auditTrailWork(sqlite3 *db);
// Whether the file has the trail table.
bool hasAuditTrail(sqlite3 *db);
// Recomputes the chain over the whole trail (reading only) and checks that
// the triggers writing it are the program's.
AuditVerification verifyAuditTrail(sqlite3 *db);
// The trail's position (data/audit.h) in this file.
bool readAuditPosition(sqlite3 *db, qint64 number, AuditTrailPosition *out, QString *why);

}  // namespace xs
