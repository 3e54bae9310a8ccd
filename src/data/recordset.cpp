#include "data/recordset.h"

#include "data/audit.h"
#include "data/dates.h"
#include "data/pg/pgsql.h"
#include "data/serverdb.h"
#include "data/sqltext.h"

#include <QRegularExpression>
#include <sqlite3.h>

namespace xs {

namespace {
std::shared_ptr<Connection> g_txConnection;  // the connection of the live Transaction
std::shared_ptr<PgConnection> g_txServer;    // the same, on the shared server
// Set while a Transaction lives whose connection could not be opened: its
// writes are refused with this text instead of each being kept on its own.
QString g_txOpenFailure;

void fillFault(SqlOutcome &out, int code, const QString &text)
{
    out.ok = false;
    out.code = code;
    out.fault = faultOf(code);
    out.error = text;
}

void fillFault(SqlOutcome &out, const DbError &e)
{
    out.ok = false;
    out.code = 0;
    out.fault = e.fault();
    out.error = e.message();
}

void fillFault(SqlOutcome &out, const Connection &c)
{
    int code = c.lastCode();
    if (code == SQLITE_OK)
        code = SQLITE_ERROR;
    fillFault(out, code, c.lastError());
}

void fillServerFault(SqlOutcome &out, DbFault f, const QString &text)
{
    out.ok = false;
    out.code = 0;
    out.fault = f == DbFault::None ? DbFault::Other : f;
    out.error = text;
}

// The server connection a statement runs on: the live Transaction's, else one
// of the pool. Null with the outcome filled when the server cannot be reached.
std::shared_ptr<PgConnection> serverForStatement(SqlOutcome &out)
{
    if (g_txServer)
        return g_txServer;
    DbFault f = DbFault::None;
    QString why;
    std::shared_ptr<PgConnection> c = takeServerConnection(&f, &why);
    if (!c)
        fillServerFault(out, f, why);
    return c;
}

// A Transaction on the server whose connection broke: the connection met
// again is a new one, in autocommit, where a write would be kept on its own.
bool serverTransactionLost(const PgConnection &c) { return g_txServer && g_txServer.get() == &c && c.idle(); }

// A fresh connection to the database file, or null with the outcome filled
// when the file cannot be opened. Nothing is thrown past this point.
std::shared_ptr<Connection> openFresh(SqlOutcome &out)
{
    try {
        return std::make_shared<Connection>(Connection::open(dbPath()));
    } catch (const DbError &e) {
        fillFault(out, e);
        return {};
    }
}

std::shared_ptr<Connection> connectionForStatement(SqlOutcome &out)
{
    if (g_txConnection)
        return g_txConnection;
    return openFresh(out);
}

// A Transaction whose BEGIN failed (the file stayed locked past the busy
// wait), or that the engine rolled back after an error, leaves its connection
// in autocommit: a write there would be kept on its own, part of a change that
// must be whole. Such writes are refused.
bool transactionLost(const Connection &c)
{
    return g_txConnection && g_txConnection.get() == &c && sqlite3_get_autocommit(c.get()) != 0;
}

const QString kNoTransaction = QStringLiteral("数据库被占用，修改没有进行。请稍后再试。");

// Runs one prepared write statement to its end; the statement's own result
// code (SQLITE_DONE on success).
int stepToEnd(sqlite3_stmt *stmt)
{
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    }
    return rc;
}

// Outside a Transaction every write runs in a write transaction of its own:
// BEGIN IMMEDIATE takes the write lock first, under the busy wait, so a write
// of another program makes this one wait instead of fail.
class OwnWrite {
public:
    explicit OwnWrite(const Connection &c) : c_(c), own_(!g_txConnection) {}
    ~OwnWrite()
    {
        if (begun_ && !done_)
            c_.exec("ROLLBACK");
    }
    bool begin()
    {
        if (!own_)
            return true;
        begun_ = c_.exec("BEGIN IMMEDIATE");
        return begun_;
    }
    bool commit()
    {
        if (!own_)
            return true;
        done_ = c_.exec("COMMIT");
        return done_;
    }

private:
    const Connection &c_;
    bool own_;
    bool begun_ = false;
    bool done_ = false;
};
}  // namespace

QString Value::text() const
{
    switch (kind_) {
    case Kind::Null:
        return {};
    case Kind::Text:
        return raw_;
    case Kind::Date:
        if (raw_.size() == 10 && raw_[4] == QLatin1Char('-') && raw_[7] == QLatin1Char('-'))
            return raw_;
        if (const auto d = parseDate(raw_))
            return shortDate(*d);
        return raw_;
    }
    return {};
}

QDate Value::date() const
{
    if (kind_ != Kind::Date)
        return {};
    return parseDate(raw_).value_or(QDate());
}

QString connstr()
{
    return QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0;Data source =") + appDir() + QStringLiteral("/xs.mdb");
}

Recordset::~Recordset() { Close(); }

void Recordset::step()
{
    if (cursor_) {
        eof_ = !cursor_->next();
        if (!cursor_->ok()) {
            fault_ = cursor_->fault();
            error_ = cursor_->error();
            reportFault(fault_, error_);
        }
        return;
    }
    if (!stmt_) {
        eof_ = true;
        return;
    }
    int rc;
    {
        // Each next row is bounded in time, as a FETCH is on the server.
        const ReadingDeadline deadline;
        rc = sqlite3_step(stmt_.get());
    }
    eof_ = rc != SQLITE_ROW;
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        // A read stopped by a fault (a damaged page, say) is not the end of
        // the records: keep why and tell the listener.
        const int code = conn_->lastCode();
        fault_ = faultOf(code);
        error_ = conn_->lastError();
        reportFault(fault_, error_);
    }
}

void Recordset::MoveFirst()
{
    if (cursor_) {
        if (!cursor_->rewind()) {
            eof_ = true;
            fault_ = cursor_->fault();
            error_ = cursor_->error();
            reportFault(fault_, error_);
            return;
        }
        step();
        return;
    }
    if (!stmt_)
        return;
    sqlite3_reset(stmt_.get());
    step();
}

void Recordset::MoveNext()
{
    if (!eof_)
        step();
}

QString Recordset::fieldName(int i) const { return i >= 0 && i < fieldCount() ? names_[size_t(i)] : QString(); }

int Recordset::fieldIndex(const QString &name) const
{
    for (int i = 0; i < fieldCount(); ++i)
        if (names_[size_t(i)].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

Value Recordset::field(int i) const
{
    if (cursor_) {
        if (eof_ || i < 0 || i >= fieldCount() || cursor_->isNull(i))
            return {};
        return Value(isDate_[size_t(i)] ? Value::Kind::Date : Value::Kind::Text, cursor_->text(i));
    }
    if (eof_ || !stmt_ || i < 0 || i >= fieldCount())
        return {};
    if (sqlite3_column_type(stmt_.get(), i) == SQLITE_NULL)
        return {};
    return Value(isDate_[size_t(i)] ? Value::Kind::Date : Value::Kind::Text, columnText(stmt_.get(), i));
}

Value Recordset::field(const QString &name) const { return field(fieldIndex(name)); }

static QString tableOfSource(const QString &source)
{
    static const QRegularExpression re(QStringLiteral(R"(^select\s+\*\s*from\s+([^\s;]+)$)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(source.trimmed());
    return m.hasMatch() ? m.captured(1) : QString();
}

bool Recordset::AddNew()
{
    if (!isOpen() || tableOfSource(source_).isEmpty()) {
        error_ = QStringLiteral("结果集不可追加记录");
        return false;
    }
    adding_ = true;
    pending_.assign(names_.size(), std::nullopt);
    return true;
}

bool Recordset::setField(int i, const QString &value)
{
    if (!adding_ || i < 0 || i >= fieldCount()) {
        error_ = QStringLiteral("字段不存在");
        return false;
    }
    pending_[size_t(i)] = value;
    return true;
}

bool Recordset::setField(const QString &name, const QString &value) { return setField(fieldIndex(name), value); }

bool Recordset::Update()
{
    if (!adding_) {
        error_ = QStringLiteral("没有要保存的新记录");
        return false;
    }
    adding_ = false;
    QStringList cols, marks;
    std::vector<std::optional<QString>> values;
    for (int i = 0; i < fieldCount(); ++i) {
        const auto &v = pending_[size_t(i)];
        if (!v)
            continue;
        cols << QLatin1Char('"') + QString(names_[size_t(i)]).replace(QLatin1Char('"'), QLatin1String("\"\""))
                    + QLatin1Char('"');
        marks << QStringLiteral("?");
        if (isDate_[size_t(i)]) {
            if (v->trimmed().isEmpty()) {
                values.emplace_back(std::nullopt);
            } else if (const auto d = parseDate(*v)) {
                values.emplace_back(shortDate(*d));
            } else {
                error_ = QStringLiteral("“%1”不是日期").arg(*v);
                return false;
            }
        } else {
            values.emplace_back(*v);
        }
    }
    if (!g_txOpenFailure.isEmpty()) {
        error_ = g_txOpenFailure;
        fault_ = DbFault::Gone;
        return false;
    }
    if (cursor_)
        return updateOnServer(cols, values);
    if (transactionLost(*conn_)) {
        error_ = kNoTransaction;
        fault_ = DbFault::Busy;
        return false;
    }
    // Inside a Transaction the INSERT joins it; otherwise it gets a connection
    // of its own, on which no read is open, so its write transaction can wait.
    std::shared_ptr<Connection> writer = g_txConnection ? conn_ : nullptr;
    if (!writer) {
        SqlOutcome o;
        writer = openFresh(o);
        if (!writer) {
            error_ = o.error;
            fault_ = o.fault;
            return false;
        }
    }
    const auto failWith = [&](const Connection &c) {
        fault_ = faultOf(c.lastCode());
        error_ = c.lastError();
        return false;
    };
    OwnWrite write(*writer);
    if (!write.begin())
        return failWith(*writer);
    const QString table = tableOfSource(source_);
    const QString sql = cols.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                                       : QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                                             .arg(table, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    StmtHandle ins = writer->prepare(sql);
    if (!ins)
        return failWith(*writer);
    for (size_t k = 0; k < values.size(); ++k) {
        if (values[k])
            bindText(ins.get(), int(k) + 1, *values[k]);
        else
            sqlite3_bind_null(ins.get(), int(k) + 1);
    }
    if (stepToEnd(ins.get()) != SQLITE_DONE)
        return failWith(*writer);
    ins.reset();
    if (!write.commit())
        return failWith(*writer);
    fault_ = DbFault::None;
    return true;
}

// The INSERT of Update on the server: inside a Transaction it joins it,
// otherwise it is a statement of its own (the server's autocommit), on a
// connection with no cursor open.
bool Recordset::updateOnServer(const QStringList &cols, const std::vector<std::optional<QString>> &values)
{
    SqlOutcome o;
    // The connection that read the rows, once their reading is over, writes
    // the new one: it is warm for this table, and no other is taken from the
    // pool or opened for it.
    std::shared_ptr<PgConnection> writer;
    if (!g_txServer && cursor_ && cursor_->connection()->idle() && cursor_->connection()->setAuditUser(auditActor()))
        writer = cursor_->connection();
    else
        writer = serverForStatement(o);
    if (!writer) {
        error_ = o.error;
        fault_ = o.fault;
        return false;
    }
    if (serverTransactionLost(*writer)) {
        error_ = kNoTransaction;
        fault_ = DbFault::Lost;
        return false;
    }
    QStringList marks;
    QList<std::optional<QString>> params;
    for (size_t k = 0; k < values.size(); ++k) {
        marks << QStringLiteral("$%1").arg(k + 1);
        params << values[k];
    }
    const QString table = tableOfSource(source_);
    const QString sql = cols.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                                       : QStringLiteral("INSERT INTO %1(%2) VALUES(%3)")
                                             .arg(table, cols.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    const PgResult r = writer->exec(sql, params);
    if (writer != g_txServer && (!cursor_ || writer != cursor_->connection()))
        giveBackServerConnection(std::move(writer));
    if (!r.ok()) {
        fault_ = r.fault();
        error_ = r.error();
        return false;
    }
    fault_ = DbFault::None;
    return true;
}

void Recordset::Close()
{
    if (cursor_) {
        std::shared_ptr<PgConnection> c = cursor_->connection();
        cursor_.reset();
        if (c != g_txServer)
            giveBackServerConnection(std::move(c));
    }
    stmt_.reset();
    conn_.reset();
    eof_ = true;
    adding_ = false;
}

RecordsetPtr openRecordset(std::shared_ptr<Connection> conn, const QString &source, SqlOutcome *outcome)
{
    const auto translated = translateSql(source);
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    if (!translated) {
        fillFault(out, SQLITE_ERROR, QStringLiteral("语句无法解析"));
        return {};
    }
    StmtHandle stmt = conn->prepare(*translated);
    // A query is only ever read: a statement that would change the file is not
    // run as one.
    if (!stmt || !sqlite3_stmt_readonly(stmt.get())) {
        fillFault(out, *conn);
        // A schema that cannot be read (a damaged file) fails here already.
        reportFault(out.fault, out.error);
        return {};
    }
    RecordsetPtr rs(new Recordset);
    const int n = sqlite3_column_count(stmt.get());
    rs->names_.reserve(size_t(n));
    rs->isDate_.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
        rs->names_.push_back(QString::fromUtf8(sqlite3_column_name(stmt.get(), i)));
        const char *decl = sqlite3_column_decltype(stmt.get(), i);
        rs->isDate_.push_back(decl && QByteArray(decl).compare("DATE", Qt::CaseInsensitive) == 0);
    }
    rs->conn_ = std::move(conn);
    rs->stmt_ = std::move(stmt);
    rs->source_ = source;
    int rc;
    {
        const ReadingDeadline deadline;
        rc = sqlite3_step(rs->stmt_.get());
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        fillFault(out, *rs->conn_);
        reportFault(out.fault, out.error);
        return {};
    }
    rs->eof_ = rc != SQLITE_ROW;
    out.ok = true;
    return rs;
}

RecordsetPtr openServerRecordset(const QString &source, SqlOutcome *outcome)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    const auto translated = translateForServer(source);
    if (!translated) {
        fillServerFault(out, DbFault::Other, QStringLiteral("语句无法解析"));
        return {};
    }
    std::shared_ptr<PgConnection> conn = serverForStatement(out);
    if (!conn) {
        reportFault(out.fault, out.error);
        return {};
    }
    const bool inTransaction = conn == g_txServer;
    auto cursor = std::make_unique<PgCursor>(conn, *translated, !inTransaction);
    if (!cursor->ok()) {
        fillServerFault(out, cursor->fault(), cursor->error());
        reportFault(out.fault, out.error);
        cursor.reset();
        if (!inTransaction)
            giveBackServerConnection(std::move(conn));
        return {};
    }
    RecordsetPtr rs(new Recordset);
    for (const QString &n : cursor->names())
        rs->names_.push_back(n);
    rs->isDate_ = cursor->dateColumns();
    rs->source_ = source;
    rs->cursor_ = std::move(cursor);
    rs->step();
    if (rs->fault_ != DbFault::None) {
        fillServerFault(out, rs->fault_, rs->error_);
        return {};
    }
    out.ok = true;
    return rs;
}

RecordsetPtr openQuery(const QString &sql, SqlOutcome *outcome)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    if (onServer())
        return openServerRecordset(sql.trimmed(), &out);
    std::shared_ptr<Connection> conn = connectionForStatement(out);
    if (!conn) {
        reportFault(out.fault, out.error);
        return {};
    }
    return openRecordset(std::move(conn), sql.trimmed(), &out);
}

// An action statement on the server: its own transaction (autocommit) or the
// live Transaction's.
static void runServerAction(const QString &sql, SqlOutcome &out)
{
    const auto translated = translateForServer(sql);
    if (!translated) {
        fillServerFault(out, DbFault::Other, QStringLiteral("语句无法解析"));
        return;
    }
    std::shared_ptr<PgConnection> conn = serverForStatement(out);
    if (!conn)
        return;
    if (serverTransactionLost(*conn)) {
        fillServerFault(out, DbFault::Lost, kNoTransaction);
        return;
    }
    const PgResult r = conn->exec(*translated);
    if (conn != g_txServer)
        giveBackServerConnection(std::move(conn));
    if (!r.ok()) {
        fillServerFault(out, r.fault(), r.error());
        return;
    }
    out.ok = true;
    out.changes = r.changes();
}

RecordsetPtr runsql(const QString &sql, SqlOutcome *outcome)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    const bool action = isActionStatement(sql);
    if (onServer()) {
        if (!action)
            return openServerRecordset(sql.trimmed(), &out);
        if (!g_txOpenFailure.isEmpty()) {
            fillServerFault(out, DbFault::Gone, g_txOpenFailure);
            return {};
        }
        runServerAction(sql, out);
        return {};
    }
    if (action && !g_txOpenFailure.isEmpty()) {
        fillFault(out, SQLITE_CANTOPEN, g_txOpenFailure);
        return {};
    }
    std::shared_ptr<Connection> conn = connectionForStatement(out);
    if (!conn) {
        // The file cannot be opened: a read tells the listener (it must not
        // look like "no records"); a write is told by its window.
        if (!action)
            reportFault(out.fault, out.error);
        return {};
    }

    if (!action)
        return openRecordset(std::move(conn), sql.trimmed(), &out);

    const auto translated = translateSql(sql);
    if (!translated) {
        fillFault(out, SQLITE_ERROR, QStringLiteral("语句无法解析"));
        return {};
    }
    if (transactionLost(*conn)) {
        fillFault(out, SQLITE_BUSY, kNoTransaction);
        return {};
    }
    OwnWrite write(*conn);
    if (!write.begin()) {
        fillFault(out, *conn);
        return {};
    }
    StmtHandle stmt = conn->prepare(*translated);
    if (!stmt) {
        fillFault(out, *conn);
        return {};
    }
    if (stepToEnd(stmt.get()) != SQLITE_DONE) {
        fillFault(out, *conn);
        return {};
    }
    const int changes = sqlite3_changes(conn->get());
    stmt.reset();
    if (!write.commit()) {
        fillFault(out, *conn);
        return {};
    }
    out.ok = true;
    out.changes = changes;
    return {};
}

Transaction::Transaction()
{
    if (onServer()) {
        DbFault f = DbFault::None;
        QString why;
        server_ = takeServerConnection(&f, &why);
        if (!server_ || !server_->run(QStringLiteral("BEGIN"))) {
            g_txOpenFailure = server_ ? server_->lastError() : why;
            server_.reset();
            return;
        }
        g_txServer = server_;
        return;
    }
    SqlOutcome o;
    conn_ = openFresh(o);
    if (!conn_) {
        // No connection: every write of this transaction is refused with the
        // reason, none is kept on its own.
        g_txOpenFailure = o.error;
        return;
    }
    conn_->exec("BEGIN IMMEDIATE");
    g_txConnection = conn_;
}

Transaction::~Transaction()
{
    if (server_) {
        if (!done_)
            server_->run(QStringLiteral("ROLLBACK"));
        if (g_txServer == server_)
            g_txServer.reset();
        giveBackServerConnection(std::move(server_));
        return;
    }
    if (!conn_) {
        g_txOpenFailure.clear();
        return;
    }
    if (!done_)
        conn_->exec("ROLLBACK");
    if (g_txConnection == conn_)
        g_txConnection.reset();
}

bool Transaction::commit()
{
    if (done_)
        return false;
    if (server_) {
        // A connection that broke inside the transaction lost it: nothing to commit.
        // after a failed statement the server would answer COMMIT with a rollback.
        done_ = !server_->idle() && !server_->inFailedTransaction() && server_->run(QStringLiteral("COMMIT"));
        if (g_txServer == server_)
            g_txServer.reset();
        return done_;
    }
    if (!conn_)
        return false;
    done_ = conn_->exec("COMMIT");
    if (g_txConnection == conn_)
        g_txConnection.reset();
    return done_;
}

}  // namespace xs
