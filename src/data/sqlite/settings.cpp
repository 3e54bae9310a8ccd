#include "data/sqlite/settings.h"

#include "data/passwords.h"

#include "data/sqlite/sqlite.h"

#include <sqlite3.h>

namespace xs {

std::optional<QString> readSetting(sqlite3 *db, const QString &name)
{
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM settings WHERE name=?", -1, &raw, nullptr) != SQLITE_OK)
        return std::nullopt;
    StmtHandle s(raw);
    bindText(raw, 1, name);
    if (sqlite3_step(raw) != SQLITE_ROW)
        return std::nullopt;
    return columnText(raw, 0);
}

bool writeSetting(sqlite3 *db, const QString &name, const QString &value, QString *why)
{
    const auto failed = [&] {
        if (why)
            *why = faultText(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db)));
        return false;
    };
    if (sqlite3_exec(db, "CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT)", nullptr, nullptr,
                     nullptr)
        != SQLITE_OK)
        return failed();
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO settings(name, value) VALUES(?, ?)", -1, &raw, nullptr)
        != SQLITE_OK)
        return failed();
    StmtHandle s(raw);
    bindText(raw, 1, name);
    bindText(raw, 2, value);
    if (sqlite3_step(raw) != SQLITE_DONE)
        return failed();
    return true;
}

int backupKeep(sqlite3 *db)
{
    bool ok = false;
    const int n = readSetting(db, QString::fromLatin1(kBackupKeepSetting)).value_or(QString()).toInt(&ok);
    return ok && n >= 1 && n <= 3650 ? n : kDefaultBackupKeep;
}

bool fileHashesPasswords(sqlite3 *db)
{
    return readSetting(db, QString::fromLatin1(kPasswordHashSetting)) == QLatin1String("argon2id");
}

QString storedPasswordFor(sqlite3 *db, const QString &typed)
{
    return fileHashesPasswords(db) ? hashPassword(typed) : typed.trimmed();
}

}  // namespace xs
