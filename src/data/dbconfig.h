#pragma once
#include <QString>

// Where the archive lives. Without a configuration file the program opens
// xs.mdb beside itself. A configuration file (QSettings INI) named
// chengheng.conf beside the program, else /etc/chengheng/chengheng.conf, may
// name a PostgreSQL server instead:
//
//   [server]
//   connection = service=chengheng        ; a libpq connection string or service name
//   room = 1                              ; this consulting room's work table
//
//   [prescription]
//   institution = 青禾医院                 ; the name on the printed 处方笺
//
// A password in the file, in any form libpq takes, is refused: libpq takes it
// from ~/.pgpass or pg_service.conf, which only the account can read. So are
// a connection text libpq cannot read and a room name that is empty or too
// long for the server's schema names.
namespace xs {

struct DatabaseChoice {
    bool server = false;
    QString conninfo;  // with server
    QString room;      // with server; "1" when the file names none
    QString source;    // the configuration file read, empty without one
    QString error;     // in Chinese: the file could not be used (the program refuses to start)
    // The name the printed prescription (处方笺) carries: [prescription]
    // institution, "青禾医院" when the file names none.
    QString institution = QStringLiteral("青禾医院");
};

// Reads the first configuration file that exists (beside the program, then
// in the system's folder).
DatabaseChoice loadDatabaseChoice();
// Reads one configuration file (tests and the tool name it).
DatabaseChoice readDatabaseChoice(const QString &file);
// Test seam: the folder of the system-wide file instead of /etc/chengheng.
void setSystemConfigFolderForTesting(const QString &folder);

}  // namespace xs
