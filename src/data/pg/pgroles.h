#pragma once
#include <QList>
#include <QString>
#include <optional>

// Who may do what on the shared server. Four roles of the cluster:
//
// - chengheng_owner (no login) owns the schemas, tables, functions and
//   triggers. Nobody signs in as it; the administration takes it on with
//   SET ROLE for the statements that make or change objects.
// - chengheng_admin (no login, member of the owner, may make roles) is what a
//   clinic's administrator's own login role is made a member of; the tool's
//   administration (init, migrate, upgrade, room add/remove) runs under it.
// - chengheng_rooms (no login) holds what every room's program may do on the
//   shared tables: read and write accounts, departments and the archive as
//   the windows do, read the catalogue and the kept counts. Nothing on the
//   trail or its counter: the trail's functions write them with the owner's
//   rights (SECURITY DEFINER, fixed search_path).
// - chengheng_room_<room> (login), one per room, member of chengheng_rooms,
//   with every right on its own room's work table and none on another's.
//
// No role has CREATE anywhere; PUBLIC may not connect to the database.
namespace xs {
class PgConnection;

inline const QString kOwnerRole = QStringLiteral("chengheng_owner");
inline const QString kAdminRole = QStringLiteral("chengheng_admin");
inline const QString kRoomsRole = QStringLiteral("chengheng_rooms");
// The login role of a room's program.
QString roomRole(const QString &room);

// The statements, run inside the caller's transaction by a superuser or the
// database's owner, that make the owner, administrator and rooms roles when
// the cluster lacks them, let only them connect, and give the owner CREATE on
// the database (the objects are then made under SET LOCAL ROLE owner).
QString rolesDdl();
// The table of rooms (room, its login role, when it was added or removed).
QString roomsTableDdl();
// The grants on the shared schema, its tables and functions (run as owner).
QString sharedGrantsDdl();
// A room's schema, work table, grants and row in the rooms table, and its
// login role (made when absent; the password set only when a SCRAM verifier,
// PgConnection::passwordVerifier's text, is given). Run inside a transaction
// by a superuser or an administrator.
QString roomDdl(const QString &room, const QString &verifier);

// Adds room `room` (or takes a removed one back into use): its schema, work
// table, trail trigger, login role and grants, in one transaction. The
// password, when given, becomes the login role's. False with why in Chinese.
bool addServerRoom(PgConnection &c, const QString &room, const std::optional<QString> &password, QString *why);
// Takes a room out of use: its login role may no longer sign in and loses its
// grants; its work table and its rows stay (readable by the administration).
bool removeServerRoom(PgConnection &c, const QString &room, QString *why);

struct ServerRoom {
    QString room;
    QString role;
    QString added;
    QString removed;  // empty while in use
    bool canLogin = false;
};
bool listServerRooms(PgConnection &c, QList<ServerRoom> *out, QString *why);

// Moves a server made by an earlier version to the roles: makes the roles,
// gives every object to the owner, puts the trail's functions in as
// SECURITY DEFINER, adds the trail's role column, registers a room (with a
// login role without password) for every room schema found and grants, in
// one transaction; the trail's entries are kept as they are. `rooms` gets
// the rooms registered.
bool upgradeServerRoles(PgConnection &c, QStringList *rooms, QString *why);

// Whether the connected role may run the program for `room`: not a
// superuser, not the owner nor an administrator, a room's login role, and the
// room named in the settings. Empty when it may; else why and what to do, in
// Chinese.
QString programRoleProblem(PgConnection &c, const QString &room);
}  // namespace xs
