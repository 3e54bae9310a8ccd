#include "data/pg/pgengine.h"
#include "data/sqltext.h"

#include "data/audit.h"
#include "data/pagesource.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/pg/serverpages.h"

namespace xs {

namespace {

const QString kNoTransaction = QStringLiteral("数据库被占用，修改没有进行。请稍后再试。");

void fillFault(SqlOutcome &out, DbFault f, const QString &text)
{
    out.ok = false;
    out.fault = f == DbFault::None ? DbFault::Other : f;
    out.error = text;
}

// Gives a statement's connection back to the pool when it is not the open
// transaction's.
void release(std::shared_ptr<PgConnection> c, const std::shared_ptr<PgConnection> &tx)
{
    if (c && c != tx)
        giveBackServerConnection(std::move(c));
}

// A reading through a server-side cursor; its connection goes back to the
// pool when the reading ends.
class CursorRows : public Rows {
public:
    CursorRows(std::unique_ptr<PgCursor> cursor, std::shared_ptr<PgConnection> tx)
        : cursor_(std::move(cursor)), tx_(std::move(tx))
    {}
    ~CursorRows() override
    {
        std::shared_ptr<PgConnection> c = cursor_->connection();
        cursor_.reset();
        release(std::move(c), tx_);
    }
    CursorRows(const CursorRows &) = delete;
    CursorRows &operator=(const CursorRows &) = delete;
    int columns() const override { return int(cursor_->names().size()); }
    QString name(int c) const override { return cursor_->names().value(c); }
    bool isDate(int c) const override { return c >= 0 && c < columns() && cursor_->dateColumns()[size_t(c)]; }
    bool next() override { return cursor_->next(); }
    bool rewind() override { return cursor_->rewind(); }
    bool isNull(int c) const override { return cursor_->isNull(c); }
    QString text(int c) const override { return cursor_->text(c); }
    DbFault fault() const override { return cursor_->ok() ? DbFault::None : cursor_->fault(); }
    QString error() const override { return cursor_->error(); }
    // The connection, once the reading is over, for a write that follows it.
    std::shared_ptr<PgConnection> connection() const { return cursor_->connection(); }

private:
    std::unique_ptr<PgCursor> cursor_;
    std::shared_ptr<PgConnection> tx_;
};

// The rows of a statement with parameters, as the server sent them whole.
class ResultRows : public Rows {
public:
    explicit ResultRows(PgResult r) : r_(std::move(r))
    {
        for (int c = 0; c < r_.columns(); ++c)
            names_ << r_.columnName(c);
    }
    int columns() const override { return int(names_.size()); }
    QString name(int c) const override { return names_.value(c); }
    bool isDate(int c) const override { return r_.isDateColumn(c); }
    bool next() override { return ++row_ < r_.rows(); }
    bool rewind() override
    {
        row_ = -1;
        return true;
    }
    bool isNull(int c) const override { return row_ < 0 || row_ >= r_.rows() || r_.isNull(row_, c); }
    QString text(int c) const override { return isNull(c) ? QString() : r_.text(row_, c); }
    DbFault fault() const override { return DbFault::None; }
    QString error() const override { return {}; }

private:
    PgResult r_;
    QStringList names_;
    int row_ = -1;
};

class ServerEngine : public Engine {
public:
    std::unique_ptr<Rows> query(const QString &sql, SqlOutcome &out) override
    {
        const auto translated = translateSql(sql, SqlDialect::Server, out);
        if (!translated)
            return {};
        std::shared_ptr<PgConnection> conn = connectionForStatement(out);
        if (!conn)
            return {};
        const bool inTransaction = conn == tx_;
        auto cursor = std::make_unique<PgCursor>(conn, *translated, !inTransaction);
        if (!cursor->ok()) {
            fillFault(out, cursor->fault(), cursor->error());
            cursor.reset();
            release(std::move(conn), tx_);
            return {};
        }
        out.ok = true;
        return std::make_unique<CursorRows>(std::move(cursor), tx_);
    }

    void action(const QString &sql, SqlOutcome &out) override
    {
        if (const auto translated = translateSql(sql, SqlDialect::Server, out))
            run(*translated, {}, out, nullptr);
    }

    std::unique_ptr<Rows> exec(const QString &sql, const Params &params, SqlOutcome &out) override
    {
        PgResult r;
        if (!run(sql, params, out, &r) || r.columns() == 0)
            return {};
        return std::make_unique<ResultRows>(std::move(r));
    }

    // The connection that read the rows, once their reading is over, writes
    // the new one: it is warm for this table, and no other is taken from the
    // pool or opened for it.
    void insert(const QString &table, const QStringList &columns, const Params &values, SqlOutcome &out,
                Rows *readBy) override
    {
        const QString sql = insertStatement(table, columns, values.size());
        std::shared_ptr<PgConnection> reader;
        if (const auto *cursor = dynamic_cast<CursorRows *>(readBy); cursor && !tx_)
            reader = cursor->connection();
        if (reader && reader->idle() && reader->setAuditUser(auditActor()))
            run(sql, values, out, nullptr, reader);
        else
            run(sql, values, out, nullptr);
    }

    std::unique_ptr<PageSource> pages(const QString &sql, SqlOutcome &out) override
    {
        return openServerPages(sql, out);
    }

    std::unique_ptr<RowStream> rowStream(const QString &sql, QString *error) override
    {
        return openServerRows(sql, error);
    }

    bool begin(QString *failure) override
    {
        DbFault f = DbFault::None;
        QString why;
        tx_ = takeServerConnection(&f, &why);
        if (!tx_ || !tx_->run(QStringLiteral("BEGIN"))) {
            txFailure_ = tx_ ? tx_->lastError() : why;
            if (failure)
                *failure = txFailure_;
            tx_.reset();
            return false;
        }
        return true;
    }

    bool commit() override
    {
        if (!tx_) {
            txFailure_.clear();
            return false;
        }
        // A connection that broke inside the transaction lost it: nothing to
        // commit; after a failed statement the server would answer COMMIT
        // with a rollback.
        const bool done = !tx_->idle() && !tx_->inFailedTransaction() && tx_->run(QStringLiteral("COMMIT"));
        if (!done && !tx_->idle())
            tx_->run(QStringLiteral("ROLLBACK"));
        giveBackServerConnection(std::move(tx_));
        tx_.reset();
        return done;
    }

    void rollback() override
    {
        if (tx_) {
            tx_->run(QStringLiteral("ROLLBACK"));
            giveBackServerConnection(std::move(tx_));
            tx_.reset();
        }
        txFailure_.clear();
    }

    // The shared server keeps only hashes.
    std::optional<bool> hashesPasswords(QString *) override { return true; }

    QString rowLock() const override { return QStringLiteral(" for update"); }

    // The clinic's own server backups take the place of the daily copy.
    void afterSignIn(const std::function<void(const QString &why)> &) override {}

private:
    // The live transaction's connection, else one of the pool. Null with the
    // outcome filled when the server cannot be reached.
    std::shared_ptr<PgConnection> connectionForStatement(SqlOutcome &out)
    {
        if (tx_)
            return tx_;
        DbFault f = DbFault::None;
        QString why;
        std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why);
        if (!c)
            fillFault(out, f, why);
        return c;
    }

    // One statement: in the open transaction, else on its own (the server's
    // autocommit).
    bool run(const QString &sql, const Params &params, SqlOutcome &out, PgResult *result,
             const std::shared_ptr<PgConnection> &on = nullptr)
    {
        if (!txFailure_.isEmpty()) {
            fillFault(out, DbFault::Gone, txFailure_);
            return false;
        }
        std::shared_ptr<PgConnection> conn = on ? on : connectionForStatement(out);
        if (!conn)
            return false;
        // A transaction whose connection broke: the connection met again is
        // a new one, in autocommit, where a write would be kept on its own.
        if (conn == tx_ && conn->idle()) {
            fillFault(out, DbFault::Lost, kNoTransaction);
            return false;
        }
        PgResult r = conn->exec(sql, params);
        if (conn != on)
            release(std::move(conn), tx_);
        if (!r.ok()) {
            fillFault(out, r.fault(), r.error());
            return false;
        }
        out.ok = true;
        out.changes = r.changes();
        if (result)
            *result = std::move(r);
        return true;
    }

    std::shared_ptr<PgConnection> tx_;  // the open transaction's connection
    QString txFailure_;                 // why the open transaction could not begin
};

}  // namespace

std::unique_ptr<Engine> makeServerEngine() { return std::make_unique<ServerEngine>(); }

}  // namespace xs
