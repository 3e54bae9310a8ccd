#pragma once
#include "data/fault.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// RAII over libpq for the shared server database. Every connection and result
// of the server engine is owned by one of these types; nothing else calls
// PQfinish or PQclear. Faults come back as values with the same fault kinds
// and Chinese texts as the file engine's.
struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace xs {

struct PgFinisher {
    void operator()(pg_conn *c) const;
};
struct PgClearer {
    void operator()(pg_result *r) const;
};
using PgHandle = std::unique_ptr<pg_conn, PgFinisher>;
struct PgCancelFree {
    void operator()(pg_cancel *c) const;
};
// Stops the statement running on a connection, from any thread.
class PgCanceller {
public:
    explicit PgCanceller(pg_cancel *c) : c_(c) {}
    // Asks the server to cancel; the statement then fails (query canceled).
    bool cancel() const;

private:
    std::unique_ptr<pg_cancel, PgCancelFree> c_;
};

// How long a connection waits for the server to answer while connecting
// (libpq's connect_timeout, for the whole start-up exchange).
constexpr int kConnectTimeoutMs = 5000;
// How long each statement of the checks at start-up may run.
constexpr int kStartupStatementTimeoutMs = 5000;

// The parameters a connection is opened with (libpq's keywords and values,
// in order, the connection text itself last as an expanded dbname, so that
// whatever it sets wins): a connect_timeout, and sslmode=verify-full for a
// server on another host when the text sets no sslmode (needsVerifiedTls).
std::vector<std::pair<QByteArray, QByteArray>> connectParameters(const QString &conninfo);

// The Chinese text for a server fault: what happened and what to do; the
// server's own text, when given, follows as detail only when it is the
// system's own Chinese text (see withDetail).
QString pgFaultText(DbFault f, const QString &serverDetail = QString());

// The outcome of one statement on the server.
class PgResult {
public:
    PgResult() = default;
    bool ok() const { return fault_ == DbFault::None && res_ != nullptr; }
    DbFault fault() const { return fault_; }
    const QString &error() const { return error_; }
    int rows() const;
    int columns() const;
    QString columnName(int c) const;
    bool isNull(int r, int c) const;
    QString text(int r, int c) const;
    // The SQLSTATE of a failure (five characters; empty when there is none).
    QByteArray sqlState() const;
    // Whether column c has the server's date type.
    bool isDateColumn(int c) const;
    // Rows changed by an action statement.
    int changes() const;

private:
    friend class PgConnection;
    friend class PgCursor;
    friend void tellReadingWrote(PgResult &r);
    friend void refuseWrite(PgResult &r);
    std::unique_ptr<pg_result, PgClearer> res_;
    DbFault fault_ = DbFault::Other;
    QString error_;
};

// One connection to the server, named by a libpq connection string or a
// service name ("service=chengheng"). Passwords come from libpq's own places
// (~/.pgpass, pg_service.conf). A connection lost (server restarted, network
// gone) reports DbFault::Lost once; the next statement connects again.
class PgConnection {
public:
    explicit PgConnection(QString conninfo);
    // Connects (again) when there is no live connection; false with lastError().
    bool ensure();
    bool connected() const;
    // Runs one statement with text parameters ($1, $2, ...; a null optional
    // is SQL NULL). Never throws.
    PgResult exec(const QString &sql, const QList<std::optional<QString>> &params = {});
    // Runs one reading in a read-only transaction of its own, bounded by
    // statement_timeout (`timeoutMs`, the reading bound unless given), with
    // further `settings` (";SET LOCAL ..."): a statement that would write,
    // through a function say, is refused by the server, and none runs on for
    // ever. Inside a transaction already open it joins it as it is.
    PgResult read(const QString &sql, const QList<std::optional<QString>> &params = {}, int timeoutMs = 0,
                  const QString &settings = QString());
    // Runs several statements (separated by ';', no parameters) in one round
    // trip; the result of each, up to the first that failed.
    std::vector<PgResult> execAll(const QString &sql);
    // Ends a reading's transaction (rolled back); false when the reading
    // wrote anything all the same.
    bool endReading();
    // Runs statements without results (several, separated by ';').
    bool run(const QString &sql);
    // Loads rows into a table with COPY: `next` fills one row's values (a
    // null optional is SQL NULL) and returns false after the last row. The
    // rows loaded, or -1 on failure (lastError() says why).
    qint64 copyIn(const QString &table, const QStringList &columns,
                  const std::function<bool(QList<std::optional<QString>> &row)> &next);
    QString lastError() const { return error_; }
    DbFault lastFault() const { return fault_; }
    // A statement since the last connection was stopped by its time bound
    // (statement_timeout), even when later statements succeeded.
    bool timedOut() const { return timedOut_; }
    const QString &conninfo() const { return conninfo_; }
    // Statements run on every (re)connection before anything else (the
    // room's search path, say).
    void setOnConnect(const QString &sql) { onConnect_ = sql; }
    // The user the server's audit trail names for this connection's changes
    // (the session setting xs.user), set now and after every reconnection.
    // Call it outside a transaction; false with lastError() on failure.
    bool setAuditUser(const QString &who);
    // The SCRAM verifier of `password` for login role `role`, computed here so
    // that the password itself never reaches the server (nor its log).
    // Empty with lastError() on failure.
    QString passwordVerifier(const QString &password, const QString &role);
    // No transaction is open on the connection (so it may go back to a pool).
    bool idle() const;
    // A statement failed inside the open transaction: it can only be rolled back.
    bool inFailedTransaction() const;
    // What cancels the statement that runs on this connection (null when not
    // connected); good until the connection is dropped.
    std::unique_ptr<PgCanceller> canceller() const;

private:
    void fail(DbFault f, const QString &detail);
    // A result carrying the connection's last failure.
    PgResult failed() const;
    // Records the failure a result (or, without one, the connection) tells;
    // a connection that died on the way is dropped and the fault is Lost.
    void failFrom(const pg_result *r);
    QString conninfo_;
    bool applyAuditUser();
    QString onConnect_;
    std::optional<QString> auditUser_;
    bool auditUserApplied_ = false;
    PgHandle conn_;
    QString error_;
    DbFault fault_ = DbFault::None;
    bool timedOut_ = false;
};

// A query read forward in batches through a server-side cursor, so a large
// result never lies whole in memory. Outside a caller's transaction it opens
// a read-only transaction of its own, which ends when the cursor closes (a
// server snapshot blocks no writer).
class PgCursor {
public:
    // Opens the query; on failure ok() is false and error() says why.
    // In its own transaction (read-only, every statement of it bounded by
    // the reading bound, so each FETCH is) or in the caller's.
    PgCursor(std::shared_ptr<PgConnection> conn, QString sql, bool ownTransaction);
    ~PgCursor();
    PgCursor(const PgCursor &) = delete;
    PgCursor &operator=(const PgCursor &) = delete;
    bool ok() const { return fault_ == DbFault::None; }
    DbFault fault() const { return fault_; }
    const QString &error() const { return error_; }
    const QStringList &names() const { return names_; }
    const std::vector<bool> &dateColumns() const { return isDate_; }
    // Moves to the next row; false at the end or on a fault (then !ok()).
    bool next();
    bool atRow() const { return row_ >= 0 && row_ < batch_.rows(); }
    bool isNull(int c) const { return !atRow() || batch_.isNull(row_, c); }
    QString text(int c) const { return atRow() ? batch_.text(row_, c) : QString(); }
    // Back to the first row (the query runs again).
    bool rewind();
    void close();
    const std::shared_ptr<PgConnection> &connection() const { return conn_; }

private:
    bool open();
    bool fetch(int rows);
    std::shared_ptr<PgConnection> conn_;
    QString sql_;
    QString name_;  // of the server-side cursor, unique in the process
    bool ownTransaction_;
    bool open_ = false;
    PgResult batch_;
    int row_ = -1;
    bool exhausted_ = false;
    QStringList names_;
    std::vector<bool> isDate_;
    DbFault fault_ = DbFault::None;
    QString error_;
};

}  // namespace xs
