#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// Moving a database file onto the shared server: the one place that reads
// with one engine and writes with the other.
namespace xs {
class Connection;
class PgConnection;

// Copies every table of a database file onto the server: the shared tables
// into the shared schema (made here when absent), yc into the room's work
// table, all in one transaction, and compares the counts. Refuses a server
// whose shared tables hold rows already. `summary` gets one line per table.
bool copyFileToServer(const Connection &file, PgConnection &server, const QString &room, QStringList *summary,
                      QString *error, const std::optional<QString> &roomPassword = std::nullopt);
}  // namespace xs
