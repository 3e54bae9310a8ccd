#pragma once
#include <QString>
#include <functional>
#include <stdexcept>

// What every engine's faults are told with: the kinds, their Chinese texts,
// the listener the windows set, and the bounds of a reading. Nothing here
// knows which engine runs.
namespace xs {

// What kind of fault a statement met, whatever the engine. Everything the user
// is told about a failed statement comes from this kind and its text.
// Lost is the server engine's own: the connection to the database server broke.
// Timeout: a statement ran past its bound (a reading, a check at start-up) and
// was stopped, or the server did not answer in time.
enum class DbFault { None, Busy, Full, ReadOnly, Damaged, Unique, Gone, NotOurs, Io, Lost, Timeout, Other };

// `text` followed by the detail when that is the system's own Chinese text;
// an English detail is written to the log instead.
QString withDetail(const QString &text, const QString &detail, const QString &separator = QStringLiteral("\n"));
// Whether English details go to standard error (on unless turned off): the
// database tool's standard error is what its user reads, so it turns it off.
void setEngineDetailLog(bool on);
// The Chinese text of a fault kind alone (no detail).
QString faultReasonText(DbFault f);
// A refusal of the operating system (errno) in words the user reads: its
// own text is English.
QString systemReason(int err);
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

}  // namespace xs
