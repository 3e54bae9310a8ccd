#pragma once
#include "data/audit.h"
#include "data/auditanchor.h"

#include <QString>

// The audit trail of the shared server: the append-only table chengheng.audit,
// written by plpgsql triggers on chengheng.xj, class, use and every room's yc
// in the changing statement's transaction. Entries hold what the file's
// trail holds (time, user, action, table, key, changed columns) and are
// chained with the same SHA-256 hash, so one check verifies both. The user
// comes from the session setting xs.user (PgConnection::setAuditUser); a
// change made past the program (psql) names the server account instead.
// Writers of every room take one lock on the chain, so the chain stays whole
// however many rooms write at once.
namespace xs {
class PgConnection;

// Statements that make the trail's table, counter and functions, and the
// triggers on the shared tables (run inside the caller's transaction).
QString serverAuditDdl();
// The event triggers that write every change of structure into the trail,
// made when the session is a superuser (only one may); run last, it leaves
// the transaction under the session's own role.
QString serverDdlTrailDdl();
// The trail's triggers on a room's work table (made again when present).
QString serverRoomAuditDdl(const QString &room);
// The triggers on the shared tables, dropped (a migration loads its rows
// before the trail starts) or made again.
QString dropServerAuditTriggers();
QString serverAuditTriggers();
// Where the server keeps its trail.
const AuditTrailSide &serverAuditTrail();
// Recomputes the server's chain (reading through cursors) and checks its
// counter and what the trail depends on (data/pg/pgaudit.cpp).
AuditVerification verifyServerAuditTrail(PgConnection &c);
}  // namespace xs
