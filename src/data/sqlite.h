#pragma once
#include <QString>
#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// RAII over the SQLite C API. Every handle and statement of the system is owned
// by one of these types; nothing else calls sqlite3_close or sqlite3_finalize.
namespace xs {

// The database file cannot be opened: missing, unreadable, read-only or not a
// database. Caught in one place (the application's event dispatch).
class DbError : public std::runtime_error {
public:
    DbError(QString path, QString reason);
    const QString &path() const { return path_; }
    const QString &reason() const { return reason_; }
    // "无法打开数据库文件 PATH：REASON" — what the user is shown.
    QString message() const;

private:
    QString path_;
    QString reason_;
};

struct DbCloser { void operator()(sqlite3 *db) const; };
struct StmtFinalizer { void operator()(sqlite3_stmt *s) const; };
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;
using StmtHandle = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// One open connection. Opening never creates a file.
class Connection {
public:
    // Opens an existing file read-write with the system's pragmas
    // (busy timeout, synchronous=FULL); throws DbError when it cannot.
    static Connection open(const QString &path);
    // Creates a new file (the database tool only); throws DbError.
    static Connection create(const QString &path);

    sqlite3 *get() const { return db_.get(); }
    // Runs one or more statements without results; false on failure.
    bool exec(const char *sql) const;
    bool exec(const QString &sql) const { return exec(sql.toUtf8().constData()); }
    // Compiles exactly one statement; null when it does not compile or when
    // anything but blanks follows the first statement.
    StmtHandle prepare(const QString &sql) const;
    QString lastError() const;
    static Connection fromHandle(DbHandle db);

private:
    explicit Connection(DbHandle db) : db_(std::move(db)) {}
    DbHandle db_;
};

// Reads column i of the current row of a statement as a QString.
QString columnText(sqlite3_stmt *s, int i);
bool bindText(sqlite3_stmt *s, int i, const QString &v);

// Folder of the running program, where xs.mdb lies.
QString appDir();
// The database file every connection of the system opens.
QString dbPath();
// Test seam: points the application folder somewhere else. Nothing but the
// test fixtures calls it.
void setAppDirForTesting(const QString &dir);

// Makes sure the file at path is in WAL mode (the application calls it once at
// start-up on a file an older tool may have created in another mode).
void ensureWal(const QString &path);

}  // namespace xs
