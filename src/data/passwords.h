#pragma once
#include <QString>
#include <functional>
#include <optional>

// Passwords of table use. A file keeps them either as typed (plain rows, as
// older files do) or as salted Argon2id hashes in the same column, told apart
// by the hash's own prefix "$argon2id$". Which one new rows get is the file's
// setting password.hash. Sign-in ignores blanks at the ends of what is typed
// and letter case (as the column's NOCASE comparison always did), so a hash is
// taken of the trimmed, case-folded password.
namespace xs {

// The cost of one hash, chosen so that a sign-in stays well under 300 ms on a
// small two-core machine (about 60 ms there) while staying above OWASP's
// minimum for Argon2id (19 MiB, two passes).
inline constexpr unsigned long long kPasswordOps = 2;
inline constexpr size_t kPasswordMemory = size_t(32) << 20;

// A stored value that is a hash (and not a password typed as "$argon2id$...").
bool isPasswordHash(const QString &stored);

// The hash of a typed password; empty only when the machine is out of memory.
QString hashPassword(const QString &typed);

// Whether a typed password opens an account whose column holds `stored`
// (plain or hashed). A null stored value opens nothing.
bool passwordMatches(const QString &stored, bool storedIsNull, const QString &typed);

// The same for the database in use: nullopt with `why` when it cannot be
// read; empty when hashing failed.
std::optional<QString> passwordToKeep(const QString &typed, QString *why);

// The sign-in's password check for the account(s) named `name`, read through
// the system's statement runner: true when the typed password opens one of
// them. On a file that hashes, a plain row that matched is replaced by its
// hash (a failure there leaves the row as it was; it is tried again at the
// next sign-in).
bool signInPasswordMatches(const QString &name, const QString &typed);

struct HashConversion {
    bool ok = false;
    int converted = 0;  // plain rows replaced by their hash
    int kept = 0;       // rows that already held a hash or no password
    QString error;      // in Chinese when !ok
};
// Replaces every plain password of the database by its hash and runs
// `keepHashes` (a file marks itself as hashing), all in one transaction of the
// engine: on failure nothing changed.
HashConversion convertPasswordsToHashes(const std::function<bool(QString *why)> &keepHashes);

}  // namespace xs
