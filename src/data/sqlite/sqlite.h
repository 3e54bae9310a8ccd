#pragma once
#include "data/fault.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// RAII over the SQLite C API. Every handle and statement of the system is owned
// by one of these types; nothing else calls sqlite3_close or sqlite3_finalize.
namespace xs {

// Fault kind of a (primary or extended) result code.
DbFault faultOf(int rc);
// The Chinese text for a result code: what happened and what to do. The
// engine's own text, when given, follows as detail only when it is the
// system's own (a trigger or check of the schema speaks Chinese); the
// engine's English goes to the program's log (standard error) for whoever
// looks after the installation.
QString faultText(int rc, const QString &engineDetail = QString());
struct DbCloser {
    void operator()(sqlite3 *db) const;
};
struct StmtFinalizer {
    void operator()(sqlite3_stmt *s) const;
};
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
    // The first column of the first row of a reading; nullopt when it fails
    // or gives no row.
    std::optional<QString> scalar(const QString &sql) const;
    // The last failure in Chinese (engine text as a detail line) and its code.
    QString lastError() const;
    int lastCode() const;
    explicit Connection(DbHandle db) : db_(std::move(db)) {}

private:
    DbHandle db_;
};

// The rows of a table's columns, one at a time, each value a text or nullopt
// for NULL: for copying a file's tables elsewhere. An empty text in a date
// column reads as NULL (the server's date type has no empty value).
class RowReader {
public:
    RowReader(const Connection &c, const QString &table, const QStringList &columns);
    bool valid() const { return stmt_ != nullptr; }
    // Appends the next row's values; false at the end or on a failure.
    bool next(QList<std::optional<QString>> &row);
    bool failed() const { return failed_; }

private:
    StmtHandle stmt_;
    std::vector<bool> date_;
    bool failed_ = false;
};

// Columns of a table as the file holds them (empty when there is no such
// table); `rc`, when given, gets the engine's result.
QStringList columnsOf(sqlite3 *db, const QString &table, int *rc = nullptr);
// Reads column i of the current row of a statement as a QString.
QString columnText(sqlite3_stmt *s, int i);
bool bindText(sqlite3_stmt *s, int i, const QString &v);

// Test seam: how long a connection waits for another program's lock (5 s
// unless set; 0 puts the default back).
void setBusyTimeoutForTesting(int ms);

// While one lives, the file's statements that this thread steps are stopped
// (SQLITE_INTERRUPT, told as DbFault::Timeout) once `ms` have passed. Nested
// bounds keep the earliest deadline. Writes never run under one.
class ReadingDeadline {
public:
    explicit ReadingDeadline(int ms = readingTimeoutMs());
    ~ReadingDeadline();
    ReadingDeadline(const ReadingDeadline &) = delete;
    ReadingDeadline &operator=(const ReadingDeadline &) = delete;
    // Whether this thread's reading has run past its deadline (for a
    // progress handler of its own that replaces the connection's).
    static bool overdue();

private:
    long long previous_;
};
// Puts the connection's own progress handler back (the one that checks the
// reading deadline), after a handler of the caller's.
void restoreProgressHandler(sqlite3 *db);

// The mark every file made by `chengheng-db init` carries (PRAGMA application_id).
constexpr int kApplicationId = 0x43484847;

// Checks, reading only, that the file at path is a 澄衡 database: marked with
// kApplicationId, or unmarked with the system's tables and their columns.
// Throws DbError (NotOurs) when it is not; never changes a byte.
void checkOurs(const QString &path);

}  // namespace xs
