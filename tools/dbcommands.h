#pragma once
#include <QStringList>
#include <memory>
#include <optional>

namespace xs {
class PgConnection;
struct AuditAnchor;
struct AuditTrailPosition;
}  // namespace xs

// The commands of chengheng-db. Each takes the words after its own name and
// returns the process exit code; messages go to stdout and stderr.
namespace xs::tool {
struct Options;
int runInit(const QStringList &args);
// The shared server database: init --server CONNINFO, migrate --from FILE --to CONNINFO.
int runServerInit(const QStringList &args);
// The super administrator of a new database: --admin-name (else asked) and
// the password (--admin-password-file, else asked); false after a message,
// `unread` when no name could be read.
bool askAdmin(const Options &o, const QString &unread, QString *name, QString *password);
int runMigrate(const QStringList &args);
// room add|list|remove --server CONNINFO, and upgrade --server CONNINFO.
int runRoom(const QStringList &args);
int runUpgrade(const QStringList &args);
int runUser(const QStringList &args);
int runCatalogue(const QStringList &args);
int runBackup(const QStringList &args);
int runRestore(const QStringList &args);
int runCheck(const QStringList &args);
int runConfig(const QStringList &args);
int runAudit(const QStringList &args);
// report cases|departments|prescription --out FILE.pdf: one of the three
// reports drawn into a PDF file without a window, from the rows of its own
// command (Command1, Command2, Command3 of the data environment) or of --sql.
// Needs the offscreen QGuiApplication. 0 written (an empty result still gives
// its one page, with a note on stderr), 1 the database, the statement or the
// output file failed, 2 the command line is wrong.
int runReport(const QStringList &args);
// user hash-passwords: every plain password of the file (or the server) replaced by its hash.
int userHashPasswords(const QStringList &args);
// Connects to the server, names the tool's account for the trail and checks
// the schema; null after a message on stderr.
std::unique_ptr<PgConnection> connectServer(const QString &conninfo);
// What only the server has: check in its catalogue, backup through pg_dump.
int serverCheck(const QString &conninfo);
int serverBackup(const QString &conninfo, const QString &dest);
// An anchor file read for audit verify --anchor; nothing after a message.
std::optional<AuditAnchor> loadAnchor(const QString &file);
// Tells whether the trail at `p` meets the anchor (`database`: what was
// checked); the exit code.
int anchorOutcome(const AuditAnchor &anchor, const AuditTrailPosition &p, const QString &database);
// How the audit trail names the changes of this tool: the system account.
QString systemAccount();
}  // namespace xs::tool
