#pragma once
#include <QStringList>

// The commands of chengheng-db. Each takes the words after its own name and
// returns the process exit code; messages go to stdout and stderr.
namespace xs::tool {
int runInit(const QStringList &args);
// The shared server database: init --server CONNINFO, migrate --from FILE --to CONNINFO.
int runServerInit(const QStringList &args);
int runMigrate(const QStringList &args);
int runUser(const QStringList &args);
int runCatalogue(const QStringList &args);
int runBackup(const QStringList &args);
int runRestore(const QStringList &args);
int runCheck(const QStringList &args);
int runConfig(const QStringList &args);
int runAudit(const QStringList &args);
// user hash-passwords: every plain password of the file replaced by its hash.
int userHashPasswords(const QStringList &args);
// How the audit trail names the changes of this tool: the system account.
QString systemAccount();
}  // namespace xs::tool
