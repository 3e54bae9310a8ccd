#pragma once
#include <QString>
#include <optional>

struct sqlite3;

// Small named settings kept in the database file itself (table `settings`),
// so that every copy of the program on one file behaves alike.
namespace xs {

// Names in use.
inline constexpr const char *kBackupKeepSetting = "backup.keep";      // daily backups kept (default 14)
inline constexpr const char *kPasswordHashSetting = "password.hash";  // "argon2id" once passwords are hashed

inline constexpr int kDefaultBackupKeep = 14;

// The value, or nothing when the setting (or the table) is missing or the
// file cannot be read.
std::optional<QString> readSetting(sqlite3 *db, const QString &name);
// Creates the table when needed; false with a reason on failure.
bool writeSetting(sqlite3 *db, const QString &name, const QString &value, QString *why = nullptr);

// The number of daily backups to keep: the setting when it is a whole
// number from 1 to 3650, else the default.
int backupKeep(sqlite3 *db);

// Whether the file stores new passwords as hashes.
bool fileHashesPasswords(sqlite3 *db);
// What to write into the password column for a typed password: its hash when
// the file hashes, else the trimmed text. Empty when hashing failed.
QString storedPasswordFor(sqlite3 *db, const QString &typed);

}  // namespace xs
