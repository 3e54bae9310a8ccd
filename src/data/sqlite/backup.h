#pragma once
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// Copies, checks and restores the database file: the database tool's
// backup, restore and check commands and the program's daily backup.
namespace xs {

struct TableCount {
    QString table;
    qint64 rows = 0;
};

// What a check of a database file found.
struct DbCheck {
    bool opened = false;
    QStringList problems;      // in Chinese, one line each; empty when all holds
    QStringList damaged;       // the tables that cannot be read in full
    QList<TableCount> counts;  // rows of this system's tables that could be counted
    bool ok() const { return opened && problems.isEmpty(); }
};
// Opens the file read-only (not a byte changes) and checks: the engine's
// integrity check, this system's tables and columns, and the unique keys
// (user name, department, 门诊号).
DbCheck checkDatabaseFile(const QString &path);

struct BackupResult {
    bool ok = false;
    QString error;  // in Chinese when !ok
    qint64 bytes = 0;
    QList<TableCount> counts;
};
// Copies the database at `source` into the new file `dest` with the engine's
// online backup (writers on the source go on), checks the copy and only then
// gives it its name. A failed or partial copy is removed: nothing that looks
// like a backup stays behind. `dest` must not exist yet.
BackupResult backupDatabase(const QString &source, const QString &dest);

// The anchor kept beside a backup (BACKUP.anchor), and writing it: the
// number and hash of the newest audit entry of that copy, so that the trail
// of the backup and of the database can later be held against it. False with
// a Chinese reason; the backup itself stays as it is.
QString backupAnchorPath(const QString &backup);
bool writeBackupAnchor(const QString &backup, QString *why);

struct RestoreResult {
    bool ok = false;
    QString error;   // in Chinese when !ok
    QString keptAs;  // where the replaced file was kept ("" when there was none)
    QList<TableCount> counts;
};
// Replaces the database at `target` (the file a link there leads to; the
// link stays) by the backup: checks the backup, refuses while another process
// holds the target open, keeps the replaced file as TARGET.before-restore,
// writes the copy beside the target with the replaced file's owner, group and
// mode, syncs it and renames it into place.
RestoreResult restoreDatabase(const QString &backup, const QString &target);

// The folder of the daily backups beside the real database file (a link is
// followed), and the newest backup in it ("" when there is none).
QString backupFolder(const QString &databasePath);
QString newestBackup(const QString &databasePath);

// Gives a file the mode of the system's files: read and write for the owner
// and the group of the program's users, nothing for others.
bool setSharedFileMode(const QString &path);

// Free space the daily backup leaves on its disk beyond the copy, for the
// records saved after it.
constexpr qint64 kDailyBackupReserve = qint64(64) * 1024 * 1024;

// The program's daily backup: when the folder holds no backup of today yet,
// copies the database in the background into backups/xs-YYYY-MM-DD.mdb,
// writes its audit anchor beside it (xs-YYYY-MM-DD.mdb.anchor) and removes
// the oldest beyond the kept number with their anchors. An anchor that cannot
// be written leaves the backup in place and is told like a failed backup. A disk that would keep less
// than kDailyBackupReserve free after the copy gets no copy: that is told. `failed` is called in the
// thread that started it (from its event loop) with a Chinese text when the
// backup fails; it is tried once per day and process.
void startDailyBackup(const QString &databasePath, std::function<void(const QString &)> failed);
// Waits for a daily backup still running (the application's end and tests).
void waitForDailyBackup();
// Forgets the attempts of this process (tests that sign in on several days' files).
void resetDailyBackupForTesting();

}  // namespace xs
