#include "data/sqlite/sqliteengine.h"

#include "data/pagesource.h"
#include "data/passwords.h"
#include "data/sqlite/backup.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"
#include "data/sqlite/sqlitepages.h"
#include "data/sqltext.h"

#include <sqlite3.h>

namespace xs {

namespace {

const QString kNoTransaction = QStringLiteral("数据库被占用，修改没有进行。请稍后再试。");

void fillFault(SqlOutcome &out, int code, const QString &text)
{
    out.ok = false;
    out.fault = faultOf(code);
    out.error = text;
}

void fillFault(SqlOutcome &out, const Connection &c)
{
    int code = c.lastCode();
    if (code == SQLITE_OK)
        code = SQLITE_ERROR;
    fillFault(out, code, c.lastError());
}

// Runs one prepared write statement to its end; the statement's own result
// code (SQLITE_DONE on success).
int stepToEnd(sqlite3_stmt *stmt)
{
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    return rc;
}

bool bindAll(sqlite3_stmt *s, const Params &params)
{
    for (int k = 0; k < params.size(); ++k) {
        const bool bound = params[k] ? bindText(s, k + 1, *params[k]) : sqlite3_bind_null(s, k + 1) == SQLITE_OK;
        if (!bound)
            return false;
    }
    return true;
}

// The rows of one prepared reading, stepped one at a time. Each step is
// bounded in time, as a FETCH is on the server.
class FileRows : public Rows {
public:
    FileRows(std::shared_ptr<Connection> conn, StmtHandle stmt) : conn_(std::move(conn)), stmt_(std::move(stmt))
    {
        const int n = sqlite3_column_count(stmt_.get());
        for (int i = 0; i < n; ++i) {
            names_ << QString::fromUtf8(sqlite3_column_name(stmt_.get(), i));
            const char *decl = sqlite3_column_decltype(stmt_.get(), i);
            isDate_.push_back(decl && QByteArray(decl).compare("DATE", Qt::CaseInsensitive) == 0);
        }
    }
    int columns() const override { return int(names_.size()); }
    QString name(int c) const override { return names_.value(c); }
    bool isDate(int c) const override { return c >= 0 && c < columns() && isDate_[size_t(c)]; }
    bool next() override
    {
        int rc;
        {
            const ReadingDeadline deadline;
            rc = sqlite3_step(stmt_.get());
        }
        atRow_ = rc == SQLITE_ROW;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            // A read stopped by a fault (a damaged page, say) is not the end
            // of the records.
            fault_ = faultOf(conn_->lastCode());
            error_ = conn_->lastError();
        }
        return atRow_;
    }
    bool rewind() override
    {
        sqlite3_reset(stmt_.get());
        atRow_ = false;
        return true;
    }
    bool isNull(int c) const override
    {
        return !atRow_ || c < 0 || c >= columns() || sqlite3_column_type(stmt_.get(), c) == SQLITE_NULL;
    }
    QString text(int c) const override { return atRow_ ? columnText(stmt_.get(), c) : QString(); }
    DbFault fault() const override { return fault_; }
    QString error() const override { return error_; }

private:
    std::shared_ptr<Connection> conn_;
    StmtHandle stmt_;
    QStringList names_;
    std::vector<bool> isDate_;
    bool atRow_ = false;
    DbFault fault_ = DbFault::None;
    QString error_;
};

class FileEngine : public Engine {
public:
    explicit FileEngine(QString path) : path_(std::move(path)) {}

    std::unique_ptr<Rows> query(const QString &sql, SqlOutcome &out) override
    {
        const auto translated = translateSql(sql, SqlDialect::File, out);
        return translated ? read(*translated, {}, out, true) : nullptr;
    }

    void action(const QString &sql, SqlOutcome &out) override
    {
        if (const auto translated = translateSql(sql, SqlDialect::File, out))
            write(*translated, {}, out);
    }

    std::unique_ptr<Rows> exec(const QString &sql, const Params &params, SqlOutcome &out) override
    {
        return read(sql, params, out, false);
    }

    // The INSERT never runs on the reading's connection: outside a
    // transaction it gets one of its own, on which no read is open, so its
    // write transaction can wait for another program's.
    void insert(const QString &table, const QStringList &columns, const Params &values, SqlOutcome &out,
                Rows *) override
    {
        write(insertStatement(table, columns, values.size()), values, out);
    }

    std::unique_ptr<PageSource> pages(const QString &sql, SqlOutcome &out) override
    {
        return openSqlitePages(file(), sql, out);
    }

    std::unique_ptr<RowStream> rowStream(const QString &sql, QString *error) override
    {
        return openSqliteRows(file(), sql, error);
    }

    bool begin(QString *failure) override
    {
        SqlOutcome o;
        tx_ = openFresh(o);
        if (!tx_) {
            // No connection: every write of this transaction is refused with
            // the reason, none is kept on its own.
            txFailure_ = o.error;
            if (failure)
                *failure = o.error;
            return false;
        }
        tx_->exec("BEGIN IMMEDIATE");
        return true;
    }

    bool commit() override
    {
        if (!tx_) {
            txFailure_.clear();
            return false;
        }
        const bool done = tx_->exec("COMMIT");
        tx_.reset();
        return done;
    }

    void rollback() override
    {
        if (tx_)
            tx_->exec("ROLLBACK");
        tx_.reset();
        txFailure_.clear();
    }

    std::optional<bool> hashesPasswords(QString *why) override
    {
        try {
            return fileHashesPasswords(Connection::open(file()).get());
        } catch (const DbError &e) {
            if (why)
                *why = e.message();
            return std::nullopt;
        }
    }

    // BEGIN IMMEDIATE holds the file's write lock for the whole transaction.
    QString rowLock() const override { return {}; }

    void afterSignIn(const std::function<void(const QString &why)> &failed) override
    {
        startDailyBackup(file(), failed);
    }

private:
    QString file() const { return path_.isEmpty() ? dbPath() : path_; }

    // A fresh connection to the file, or null with the outcome filled when
    // the file cannot be opened. Nothing is thrown past this point.
    std::shared_ptr<Connection> openFresh(SqlOutcome &out) const
    {
        try {
            return std::make_shared<Connection>(Connection::open(file()));
        } catch (const DbError &e) {
            out.ok = false;
            out.fault = e.fault();
            out.error = e.message();
            return {};
        }
    }

    std::shared_ptr<Connection> connectionForStatement(SqlOutcome &out) const
    {
        if (tx_)
            return tx_;
        return openFresh(out);
    }

    // A transaction whose BEGIN failed (the file stayed locked past the busy
    // wait), or that the engine rolled back after an error, leaves its
    // connection in autocommit: a write there would be kept on its own, part
    // of a change that must be whole. Such writes are refused.
    bool transactionLost() const { return tx_ && sqlite3_get_autocommit(tx_->get()) != 0; }

    // A reading (only ever read: a statement that would change the file is
    // refused), or, when `readingOnly` is false, a statement that writes runs
    // to its end as write() runs it.
    std::unique_ptr<Rows> read(const QString &sql, const Params &params, SqlOutcome &out, bool readingOnly)
    {
        std::shared_ptr<Connection> conn = connectionForStatement(out);
        if (!conn)
            return {};
        StmtHandle stmt = conn->prepare(sql);
        if (!stmt) {
            fillFault(out, *conn);
            return {};
        }
        if (!sqlite3_stmt_readonly(stmt.get()) && !readingOnly) {
            stmt.reset();
            write(sql, params, out);
            return {};
        }
        if (!sqlite3_stmt_readonly(stmt.get()) || !bindAll(stmt.get(), params)) {
            fillFault(out, *conn);
            return {};
        }
        out.ok = true;
        return std::make_unique<FileRows>(std::move(conn), std::move(stmt));
    }

    // Outside a transaction every write runs in a write transaction of its
    // own on a connection with no read open: BEGIN IMMEDIATE takes the write
    // lock first, under the busy wait, so a write of another program makes
    // this one wait instead of fail.
    void write(const QString &sql, const Params &params, SqlOutcome &out)
    {
        if (!txFailure_.isEmpty()) {
            fillFault(out, SQLITE_CANTOPEN, txFailure_);
            return;
        }
        if (transactionLost()) {
            fillFault(out, SQLITE_BUSY, kNoTransaction);
            return;
        }
        std::shared_ptr<Connection> conn = connectionForStatement(out);
        if (!conn)
            return;
        const bool own = !tx_;
        if (own && !conn->exec("BEGIN IMMEDIATE")) {
            fillFault(out, *conn);
            return;
        }
        const auto failed = [&] {
            fillFault(out, *conn);
            if (own)
                conn->exec("ROLLBACK");
        };
        StmtHandle stmt = conn->prepare(sql);
        if (!stmt || !bindAll(stmt.get(), params) || stepToEnd(stmt.get()) != SQLITE_DONE)
            return failed();
        const int changes = sqlite3_changes(conn->get());
        stmt.reset();
        if (own && !conn->exec("COMMIT"))
            return failed();
        out.ok = true;
        out.changes = changes;
    }

    QString path_;
    std::shared_ptr<Connection> tx_;  // the open transaction's connection
    QString txFailure_;               // why the open transaction could not begin
};

}  // namespace

std::unique_ptr<Engine> makeFileEngine(const QString &path) { return std::make_unique<FileEngine>(path); }

}  // namespace xs
