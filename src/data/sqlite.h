#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

struct sqlite3;
struct sqlite3_stmt;

// RAII over the SQLite C API. Every handle and statement of the system is owned
// by one of these types; nothing else calls sqlite3_close or sqlite3_finalize.
namespace xs {

// What kind of fault a SQLite result code stands for. Everything the user is
// told about a failed statement comes from this one mapping.
// Lost is the server engine's own: the connection to the database server broke.
// Timeout: a statement ran past its bound (a reading, a check at start-up) and
// was stopped, or the server did not answer in time.
enum class DbFault { None, Busy, Full, ReadOnly, Damaged, Unique, Gone, NotOurs, Io, Lost, Timeout, Other };

// Fault kind of a (primary or extended) result code.
DbFault faultOf(int rc);
// The Chinese text for a result code: what happened and what to do. The
// engine's own text, when given, follows as detail only when it is the
// system's own (a trigger or check of the schema speaks Chinese); the
// engine's English goes to the program's log (standard error) for whoever
// looks after the installation.
QString faultText(int rc, const QString &engineDetail = QString());
// `text` followed by the detail when that is the system's own Chinese text;
// an English detail is written to the log instead.
QString withDetail(const QString &text, const QString &detail, const QString &separator = QStringLiteral("\n"));
// Whether English details go to standard error (on unless turned off): the
// database tool's standard error is what its user reads, so it turns it off.
void setEngineDetailLog(bool on);
// The Chinese text of a fault kind alone (no detail).
QString faultReasonText(DbFault f);
// A fault of the file itself (damaged, gone, I/O, not ours, full, read-only,
// busy), as opposed to a statement the engine refuses.
bool isFileFault(DbFault f);

// The process-wide listener for file-level faults met while reading. The
// interface layer sets it at start-up so that a read that failed is told and
// never looks like "no records"; unset, faults are only returned as values.
using FaultListener = std::function<void(DbFault, const QString &message)>;
void setFaultListener(FaultListener listener);
// Tells the listener (if any) about a fault; nothing for statement faults.
void reportFault(DbFault f, const QString &message);

// The database file cannot be opened: missing, unreadable, read-only or not a
// database. Thrown only by Connection::open/create (the database tool's own
// code paths); runsql and the recordsets turn it into an outcome.
class DbError : public std::runtime_error {
public:
    DbError(QString path, QString reason, DbFault fault = DbFault::Other);
    const QString &path() const { return path_; }
    const QString &reason() const { return reason_; }
    DbFault fault() const { return fault_; }
    // "无法打开数据库文件 PATH：REASON" — what the user is shown.
    QString message() const;

private:
    QString path_;
    QString reason_;
    DbFault fault_;
};

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
    // The last failure in Chinese (engine text as a detail line) and its code.
    QString lastError() const;
    int lastCode() const;
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
// The file a path stands for once its symbolic links are followed (the
// installed program's xs.mdb is a link into /var/lib/chengheng), as an
// absolute path; the target need not exist or be readable.
QString realFilePath(const QString &path);
// The database file every connection of the system opens.
QString dbPath();
// Test seam: points the application folder somewhere else. Nothing but the
// test fixtures calls it.
void setAppDirForTesting(const QString &dir);
// Test seam: how long a connection waits for another program's lock (5 s
// unless set; 0 puts the default back).
void setBusyTimeoutForTesting(int ms);

// How long one reading may run before it is stopped (a grid's page, a
// recordset's next row, a report's rows, chengheng-db report --sql): on the
// server a statement_timeout, on the file a deadline checked by the engine's
// progress handler. The longest reading the windows make at 1,000,000 records
// takes well under a second (the rare query's pass over the archive, 0.6 s
// on the server); 30 s cuts only a statement that would never end.
constexpr int kReadingTimeoutMs = 30000;
// The background passes of a grid (the count, every page's key, the pass that
// finds a rare condition's rows) read the whole listing while nobody waits on
// them: ten times the bound of a reading.
constexpr int kBackgroundReadingFactor = 10;
int readingTimeoutMs();
inline int backgroundReadingTimeoutMs() { return readingTimeoutMs() * kBackgroundReadingFactor; }
// Sets the reading bound of this process (chengheng-db report --timeout, and
// the tests); 0 puts the default back.
void setReadingTimeoutMs(int ms);

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

// Makes sure the file at path is a 澄衡 database (checkOurs, before anything is
// written) and in WAL mode (the application calls it once at start-up on a
// file an older tool may have created in another mode).
void ensureWal(const QString &path);

}  // namespace xs
