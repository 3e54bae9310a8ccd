#pragma once
#include "data/audit.h"

#include <QStringList>

struct sqlite3;

// The trail in the file (data/audit.h says what it records and how).
namespace xs {

// Registers the trail's SQL functions on a connection.
void registerAuditFunctions(sqlite3 *db);
// The statements adding the trail (table, index, triggers) to a file, or
// putting back a trigger missing or not as written here; none when all is in place.
QStringList auditTrailWork(sqlite3 *db);
// Whether the file has the trail table.
bool hasAuditTrail(sqlite3 *db);
// Recomputes the chain over the whole trail (reading only).
AuditVerification verifyAuditTrail(sqlite3 *db);
// The trail's newest entry and the entry numbered `number` (none asked for
// with 0), for an anchor (data/auditanchor.h); false with a reason when the
// trail cannot be read.
bool readAuditPosition(sqlite3 *db, qint64 number, AuditTrailPosition *out, QString *why);

}  // namespace xs
