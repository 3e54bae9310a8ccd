#include "data/pgsql.h"

#include "data/sqltext.h"

#include <QRegularExpression>
#include <libpq-fe.h>
#include <vector>

namespace xs {

namespace {
constexpr unsigned kDateOid = 1082;  // the server's date type
}  // namespace

void PgFinisher::operator()(pg_conn *c) const { PQfinish(c); }
void PgClearer::operator()(pg_result *r) const { PQclear(r); }
void PgCancelFree::operator()(pg_cancel *c) const { PQfreeCancel(c); }

bool PgCanceller::cancel() const
{
    char error[256];
    return c_ && PQcancel(c_.get(), error, int(sizeof error)) == 1;
}

DbFault faultOfSqlState(const QByteArray &s)
{
    if (s.size() != 5)
        return DbFault::Other;
    if (s == "23505")
        return DbFault::Unique;  // unique_violation
    if (s == "40001" || s == "40P01" || s == "55P03")
        return DbFault::Busy;  // serialization failure, deadlock, lock not available
    if (s == "53100")
        return DbFault::Full;  // disk full
    if (s == "25006" || s == "42501")
        return DbFault::ReadOnly;  // read-only transaction, insufficient privilege
    if (s == "XX001" || s == "XX002")
        return DbFault::Damaged;  // data or index corrupted
    if (s.startsWith("08") || s == "57P01" || s == "57P02" || s == "57P03")
        return DbFault::Lost;  // connection exceptions, server shut down or starting
    if (s.startsWith("58"))
        return DbFault::Io;  // system errors
    return DbFault::Other;
}

QString pgFaultText(DbFault f, const QString &serverDetail)
{
    QString text = f == DbFault::Unique ? QStringLiteral("已经存在相同编号的记录，不能重复保存。")
                                        : faultReasonText(f == DbFault::None ? DbFault::Other : f);
    // The file texts speak of the file; on the server some say it otherwise.
    if (f == DbFault::Damaged)
        text = QStringLiteral("数据库服务器报告数据已损坏。请联系数据库管理员检查服务器，或从备份恢复。");
    else if (f == DbFault::ReadOnly)
        text = QStringLiteral("数据库服务器不允许写入（只读或没有权限），数据没有保存。请联系数据库管理员。");
    else if (f == DbFault::Gone)
        text = QStringLiteral("无法连接数据库服务器。请检查配置文件中的服务器设置、网络和服务器是否在运行。");
    return withDetail(text, serverDetail);
}

int PgResult::rows() const { return res_ ? PQntuples(res_.get()) : 0; }
int PgResult::columns() const { return res_ ? PQnfields(res_.get()) : 0; }
QString PgResult::columnName(int c) const { return res_ ? QString::fromUtf8(PQfname(res_.get(), c)) : QString(); }
bool PgResult::isNull(int r, int c) const { return !res_ || PQgetisnull(res_.get(), r, c); }

QString PgResult::text(int r, int c) const
{
    if (isNull(r, c))
        return {};
    return QString::fromUtf8(PQgetvalue(res_.get(), r, c), PQgetlength(res_.get(), r, c));
}

QByteArray PgResult::sqlState() const
{
    const char *s = res_ ? PQresultErrorField(res_.get(), PG_DIAG_SQLSTATE) : nullptr;
    return s ? QByteArray(s) : QByteArray();
}

bool PgResult::isDateColumn(int c) const { return res_ && PQftype(res_.get(), c) == kDateOid; }

int PgResult::changes() const { return res_ ? QByteArray(PQcmdTuples(res_.get())).toInt() : 0; }

PgConnection::PgConnection(QString conninfo) : conninfo_(std::move(conninfo)) {}

bool PgConnection::connected() const { return conn_ && PQstatus(conn_.get()) == CONNECTION_OK; }

void PgConnection::fail(DbFault f, const QString &detail)
{
    fault_ = f;
    error_ = pgFaultText(f, detail);
}

void PgConnection::failFrom(const pg_result *r)
{
    const char *state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    DbFault f = state ? faultOfSqlState(state) : DbFault::Other;
    const QString detail = QString::fromUtf8(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_.get()));
    // The server went away under the statement: the next one connects again.
    if (PQstatus(conn_.get()) != CONNECTION_OK) {
        f = DbFault::Lost;
        conn_.reset();
    }
    fail(f, detail);
}

bool PgConnection::ensure()
{
    if (connected())
        return true;
    conn_.reset(PQconnectdb(conninfo_.toUtf8().constData()));
    if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) {
        fail(DbFault::Gone, conn_ ? QString::fromUtf8(PQerrorMessage(conn_.get())) : QString());
        conn_.reset();
        return false;
    }
    PQsetClientEncoding(conn_.get(), "UTF8");
    // The server's notices (in English) are not for the user.
    PQsetNoticeProcessor(
        conn_.get(), [](void *, const char *) {}, nullptr);
    if (!onConnect_.isEmpty()) {
        std::unique_ptr<pg_result, PgClearer> r(PQexec(conn_.get(), onConnect_.toUtf8().constData()));
        if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
            failFrom(r.get());
            conn_.reset();
            return false;
        }
    }
    auditUserApplied_ = false;
    if (auditUser_ && !applyAuditUser()) {
        conn_.reset();
        return false;
    }
    fault_ = DbFault::None;
    error_.clear();
    return true;
}

bool PgConnection::applyAuditUser()
{
    const QByteArray who = auditUser_->toUtf8();
    const char *values[] = {who.constData()};
    std::unique_ptr<pg_result, PgClearer> r(
        PQexecParams(conn_.get(), "select set_config('xs.user', $1, false)", 1, nullptr, values, nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        failFrom(r.get());
        return false;
    }
    auditUserApplied_ = true;
    return true;
}

bool PgConnection::setAuditUser(const QString &who)
{
    if (auditUser_ && *auditUser_ == who && (auditUserApplied_ || !connected()))
        return true;
    auditUser_ = who;
    auditUserApplied_ = false;
    return !connected() || applyAuditUser();
}

bool PgConnection::idle() const { return connected() && PQtransactionStatus(conn_.get()) == PQTRANS_IDLE; }

bool PgConnection::inFailedTransaction() const
{
    return connected() && PQtransactionStatus(conn_.get()) == PQTRANS_INERROR;
}

std::unique_ptr<PgCanceller> PgConnection::canceller() const
{
    if (!connected())
        return {};
    return std::make_unique<PgCanceller>(PQgetCancel(conn_.get()));
}

PgResult PgConnection::exec(const QString &sql, const QList<std::optional<QString>> &params)
{
    PgResult out;
    if (!ensure()) {
        out.fault_ = fault_;
        out.error_ = error_;
        return out;
    }
    std::vector<QByteArray> values;
    values.reserve(size_t(params.size()));
    std::vector<const char *> pointers;
    for (const auto &p : params) {
        values.push_back(p ? p->toUtf8() : QByteArray());
        pointers.push_back(p ? values.back().constData() : nullptr);
    }
    out.res_.reset(PQexecParams(conn_.get(), sql.toUtf8().constData(), int(pointers.size()), nullptr, pointers.data(),
                                nullptr, nullptr, 0));
    const ExecStatusType st = out.res_ ? PQresultStatus(out.res_.get()) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) {
        out.fault_ = DbFault::None;
        fault_ = DbFault::None;
        error_.clear();
        return out;
    }
    failFrom(out.res_.get());
    out.fault_ = fault_;
    out.error_ = error_;
    return out;
}

bool PgConnection::run(const QString &sql)
{
    if (!ensure())
        return false;
    std::unique_ptr<pg_result, PgClearer> r(PQexec(conn_.get(), sql.toUtf8().constData()));
    const ExecStatusType st = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) {
        fault_ = DbFault::None;
        error_.clear();
        return true;
    }
    failFrom(r.get());
    return false;
}

// A value in COPY's text format: backslash, tab and line breaks escaped.
static void appendCopyValue(QByteArray &line, const std::optional<QString> &v)
{
    if (!v) {
        line += "\\N";
        return;
    }
    for (const char ch : v->toUtf8()) {
        switch (ch) {
        case '\\':
            line += "\\\\";
            break;
        case '\t':
            line += "\\t";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        default:
            line += ch;
            break;
        }
    }
}

qint64 PgConnection::copyIn(const QString &table, const QStringList &columns,
                            const std::function<bool(QList<std::optional<QString>> &row)> &next)
{
    if (!ensure())
        return -1;
    const QString sql = QStringLiteral("COPY %1(%2) FROM STDIN").arg(table, columns.join(QLatin1Char(',')));
    {
        std::unique_ptr<pg_result, PgClearer> r(PQexec(conn_.get(), sql.toUtf8().constData()));
        if (!r || PQresultStatus(r.get()) != PGRES_COPY_IN) {
            failFrom(r.get());
            return -1;
        }
    }
    qint64 rows = 0;
    QList<std::optional<QString>> row;
    QByteArray buffer;
    bool sent = true;
    while (sent) {
        row.clear();
        if (!next(row))
            break;
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i)
                buffer += '\t';
            appendCopyValue(buffer, row[i]);
        }
        buffer += '\n';
        ++rows;
        if (buffer.size() >= (1 << 20)) {
            sent = PQputCopyData(conn_.get(), buffer.constData(), int(buffer.size())) == 1;
            buffer.clear();
        }
    }
    if (sent && !buffer.isEmpty())
        sent = PQputCopyData(conn_.get(), buffer.constData(), int(buffer.size())) == 1;
    PQputCopyEnd(conn_.get(), sent ? nullptr : "client failed");
    bool ok = sent;
    while (pg_result *raw = PQgetResult(conn_.get())) {
        std::unique_ptr<pg_result, PgClearer> r(raw);
        if (PQresultStatus(raw) != PGRES_COMMAND_OK) {
            ok = false;
            failFrom(raw);
        }
    }
    if (!connected()) {
        fail(DbFault::Lost, QString());
        conn_.reset();
        return -1;
    }
    return ok ? rows : -1;
}

namespace {
// The first batch is small: many queries read one row (a check, the head of
// a table to append to); the rest come in larger batches.
constexpr int kFirstBatch = 20;
constexpr int kCursorBatch = 500;
}  // namespace

PgCursor::PgCursor(std::shared_ptr<PgConnection> conn, QString sql, bool ownTransaction)
    : conn_(std::move(conn)), sql_(std::move(sql)), ownTransaction_(ownTransaction)
{
    static unsigned serial = 0;
    name_ = QStringLiteral("xs_rows_%1").arg(++serial);
    open();
}

PgCursor::~PgCursor() { close(); }

bool PgCursor::open()
{
    auto failed = [&](const QString &why, DbFault f) {
        fault_ = f;
        error_ = why;
        close();
        return false;
    };
    exhausted_ = false;
    batch_ = PgResult();
    row_ = -1;
    if (ownTransaction_ && !conn_->run(QStringLiteral("BEGIN READ ONLY")))
        return failed(conn_->lastError(), conn_->lastFault());
    open_ = true;
    const PgResult declared = conn_->exec(QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR ").arg(name_) + sql_);
    if (!declared.ok())
        return failed(declared.error(), declared.fault());
    row_ = -1;
    if (!fetch(kFirstBatch))
        return false;
    names_.clear();
    isDate_.clear();
    for (int c = 0; c < batch_.columns(); ++c) {
        names_ << batch_.columnName(c);
        isDate_.push_back(PQftype(batch_.res_.get(), c) == kDateOid);
    }
    return true;
}

bool PgCursor::fetch(int rows)
{
    batch_ = conn_->exec(QStringLiteral("FETCH FORWARD %1 FROM %2").arg(rows).arg(name_));
    if (!batch_.ok()) {
        fault_ = batch_.fault();
        error_ = batch_.error();
        close();
        return false;
    }
    exhausted_ = batch_.rows() < rows;
    row_ = -1;
    // A result read to its end ends its own transaction at once: the rows
    // left to step through are in the batch, and the connection is free for
    // the next statement (a write to the table just read, say) instead of
    // holding a snapshot while the caller works through them.
    if (exhausted_ && ownTransaction_)
        close();
    return true;
}

bool PgCursor::next()
{
    if (!open_ && !exhausted_)
        return false;
    if (row_ + 1 < batch_.rows()) {
        ++row_;
        return true;
    }
    if (exhausted_) {
        row_ = batch_.rows();
        return false;
    }
    if (!fetch(kCursorBatch))
        return false;
    if (batch_.rows() == 0) {
        row_ = 0;
        return false;
    }
    row_ = 0;
    return true;
}

bool PgCursor::rewind()
{
    close();
    fault_ = DbFault::None;
    error_.clear();
    return open();
}

void PgCursor::close()
{
    if (!open_)
        return;
    open_ = false;
    if (!conn_->connected())
        return;
    if (ownTransaction_)
        conn_->run(QStringLiteral("COMMIT"));
    else
        conn_->run(QStringLiteral("CLOSE ") + name_);
}

std::optional<QString> translateForServer(const QString &sql) { return translateSql(sql, SqlDialect::Server); }

}  // namespace xs
