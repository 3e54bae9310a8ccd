#pragma once
#include "data/fault.h"

#include <QString>
#include <memory>

// The shared server as this process's database, in place of the file. Set once
// at start-up from the database choice; every statement of the system
// (runsql, the recordsets, transactions) then runs on the server, on
// connections of a small pool that put the room's work table first on the
// search path.
namespace xs {
class PgConnection;

void useServer(const QString &conninfo, const QString &room);
// Connects to the server, checks that it holds a 澄衡 database, gives the room
// its work table when it has none yet, and then uses it. False with why (in
// Chinese, with what to do) when the server cannot be used.
bool openServerDatabase(const QString &conninfo, const QString &room, QString *why);
// Leaves the server: the pool's connections close (data/engines.h useFile()
// then sets the file).
void stopServer();
bool onServer();
QString serverRoom();

// A live connection of the pool, or null with `fault` and `error` set.
std::shared_ptr<PgConnection> takeServerConnection(DbFault *fault, QString *error);
// A connection set up as the pool's are, not connected yet and not from the
// pool: for another thread, which connects on its first statement (and pays
// the connection's start there, not the window). Null when not on a server.
std::shared_ptr<PgConnection> newServerConnection();
// For work in the background: a connected idle connection of the pool when
// the pool holds more than one (the next statement of the windows still finds
// one), else a new connection not yet connected (it connects on first use, in
// the thread that uses it). Null when no server is in use.
std::shared_ptr<PgConnection> takeSpareServerConnection();
// Gives a connection back to the pool (dropped when it is not idle, when
// anything else still holds it, or when the pool is full). A connection of
// background work goes where takeSpareServerConnection looks first.
enum class PoolEnd { Windows, Background };
void giveBackServerConnection(std::shared_ptr<PgConnection> c, PoolEnd end = PoolEnd::Windows);
}  // namespace xs
