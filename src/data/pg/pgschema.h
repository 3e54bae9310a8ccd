#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// The shared server database: the tables every consulting room shares (use,
// class, xj, 表1) live in the schema "chengheng"; each room has a schema of its
// own holding its prescription work table yc. A room's connection puts its own
// schema first on the search path, so the windows see the same table names and
// columns as in a file. Text columns are citext: comparisons and LIKE ignore
// letter case as they do in the file.
namespace xs {
class PgConnection;

// The schema of a room's work table: "room_" and the room name, as a quoted identifier.
QString roomSchema(const QString &room);
// The longest name (of a schema or role) the server keeps (it cuts longer ones, so two long
// room names could end in one work table), in bytes of UTF-8.
inline constexpr int kServerNameBytes = 63;
// Why a room name cannot be used (in Chinese, with what to do): it is empty
// or its schema name would be longer than the server keeps. Empty when fine.
QString roomNameProblem(const QString &room);
// The statement that makes a room's connection see its own yc and the shared tables.
QString searchPathFor(const QString &room);

// Creates the shared schema, its tables, unique keys and indexes, and the
// first room, in one transaction. Refuses (false, why in Chinese) a server
// that already holds a 澄衡 database; nothing is left half-made.
// The room's login role is made too, with `roomPassword` when given (else
// without one: `chengheng-db room add` sets it later).
bool createServerSchema(PgConnection &c, const QString &room, QString *error,
                        const std::optional<QString> &roomPassword = std::nullopt);
// Run first, as the session's own role (a superuser or the database's
// owner), before the shared objects are made: the text type the tables use,
// and the roles.
QString beforeObjectsDdl();
// The built-in drug catalogue into the server's 表1 (a new server database).
bool seedServerCatalogue(PgConnection &server, QString *error);

// The server's rendering of the structure (data/schema.h), in data/pg/. The
// version is the schema chengheng's comment: only its owner sets it, in the
// step's transaction; every role reads it; a dump carries it.
// The shared schema, its tables, indexes and kept counts, and its version
// (run as the owner, inside the caller's transaction).
QString serverSharedDdl();
// A room's schema and work table, when absent (inside the caller's transaction).
QString serverRoomTableDdl(const QString &room);
// The kept counts' table, functions and triggers (recounted when made).
QString serverRowCountDdl();
// The steps from version `from` to this program's, and the version stored
// (run as the owner by `chengheng-db upgrade`, inside its transaction).
QString serverMigrationDdl(int from);

// The version the server's database stores: 1 when none, 0 when the server
// holds no 澄衡 database (no schema chengheng), -1 with why when unread or
// newer than this program knows (why naming both versions).
int serverSchemaVersion(PgConnection &c, QString *error);

// At start-up: a kept count that no longer holds (rows written with the
// triggers off) is taken again, and its rows summed into one per table.
// False when the server keeps no count (the grid then counts the archive).
bool checkServerRowCounts(PgConnection &c);
// Sums the rows of row_counts into one per table (done at start-up).
bool compactServerRowCounts(PgConnection &c);
// The statement giving the number of rows of `table` (one row, one column):
// the kept count when the server keeps one for it, else count(*).
QString serverRowCountSql(const QString &table);

// Whether the server already holds a 澄衡 database (the shared schema exists).
inline bool serverHasSchema(PgConnection &c, QString *error) { return serverSchemaVersion(c, error) > 0; }
}  // namespace xs
