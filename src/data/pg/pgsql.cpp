#include "data/pg/pgsql.h"

#include "data/pg/pgconninfo.h"
#include "data/sqltext.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
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

// The fault kind of a server error, from its SQLSTATE (five characters).
static DbFault faultOfSqlState(const QByteArray &s)
{
    if (s.size() != 5)
        return DbFault::Other;
    if (s == "23505")
        return DbFault::Unique;  // unique_violation
    if (s == "40001" || s == "40P01" || s == "55P03")
        return DbFault::Busy;  // serialization failure, deadlock, lock not available
    if (s == "53100")
        return DbFault::Full;  // disk full
    if (s == "57014")
        return DbFault::Timeout;  // query canceled: statement_timeout, or a cancel
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
        text = QStringLiteral("无法连接数据库服务器。请检查服务器设置、网络和服务器是否在运行。");
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
    // A statement stopped by its time bound: the server's text adds nothing.
    if (f == DbFault::Timeout) {
        timedOut_ = true;
        fail(f, QString());
        return;
    }
    fail(f, detail);
}

// What failed when a connection could not be made, in Chinese, from what
// libpq tells (its own texts may come in the user's language, the system's
// error texts too, the server's in the server's): the host name unknown, the
// connection refused, no answer in time, the login refused, no such database.
// The engine's text goes to the log only when none of these is recognised.
static QString connectFailure(pg_conn *c, qint64 elapsedMs)
{
    const QString message = c ? QString::fromUtf8(PQerrorMessage(c)) : QString();
    const auto has = [&](const QString &s) { return !s.isEmpty() && message.contains(s, Qt::CaseInsensitive); };
    const auto hasSystem = [&](int error) { return has(QString::fromLocal8Bit(std::strerror(error))); };
    const QString host = c && PQhost(c) ? QString::fromUtf8(PQhost(c)) : QString();
    // Who did not answer, as it stands before the verb (a blank after a
    // Latin name, none after a closing bracket).
    QString server = QStringLiteral("数据库服务器");
    if (host.startsWith(QLatin1Char('/')))
        server = QStringLiteral("本机（套接字目录 %1）").arg(host);
    else if (!host.isEmpty())
        server = QStringLiteral("服务器 ") + host
                 + (c && PQport(c) && *PQport(c) ? QLatin1Char(':') + QString::fromUtf8(PQport(c)) : QString())
                 + QLatin1Char(' ');
    if (has(QStringLiteral("timeout expired")) || has(QStringLiteral("超时")) || elapsedMs >= kConnectTimeoutMs)
        return QStringLiteral("无法连接数据库服务器：%1在 %2 秒内没有答复（网络不通，或服务器没有响应）。"
                              "请检查网络和服务器后再试。")
            .arg(server)
            .arg(kConnectTimeoutMs / 1000);
    if (has(QStringLiteral("could not translate host name")) || has(QStringLiteral("无法解释主机名")))
        return QStringLiteral("无法连接数据库服务器：找不到服务器 %1（这个名称无法解析成地址）。"
                              "请检查连接串中的服务器名称（host）是否写对，以及网络和域名解析是否正常。")
            .arg(host);
    // Encryption: the certificate of the server could not be checked, did
    // not pass, or one side wants encryption the other does not offer.
    if (has(QStringLiteral("root certificate file")) || has(QStringLiteral("根证书")))
        return QStringLiteral("无法连接数据库服务器：连接%1必须加密并核对服务器的证书，但本机找不到用来核对的 CA 证书"
                              "（~/.postgresql/root.crt，或连接串中 sslrootcert= 指明的文件不存在或读不出）。"
                              "请向数据库管理员要服务器的 CA 证书，放到 ~/.postgresql/root.crt，"
                              "或在连接串中用 sslrootcert= 写明它的位置。")
            .arg(server);
    if (has(QStringLiteral("does not match host name")) || has(QStringLiteral("与主机名不匹配"))
        || has(QStringLiteral("certificate verify failed")))
        return QStringLiteral("无法连接数据库服务器：%1的证书没有通过核对（不是本机信任的 CA 签发的，"
                              "或证书上的名称与连接串中的服务器名称 host 不符），连接已中止，可能连到了冒充的服务器。"
                              "请向数据库管理员核实服务器的证书：~/.postgresql/root.crt（或 sslrootcert= 指明的文件）"
                              "应是签发它的 CA 证书，host 应写证书上的名称。")
            .arg(server);
    if (has(QStringLiteral("does not support SSL")) || has(QStringLiteral("不支持 SSL")))
        return QStringLiteral("无法连接数据库服务器：%1没有开启加密连接（SSL），而连到另一台主机的连接必须加密。"
                              "请数据库管理员在服务器上开启 ssl 并配置服务器的证书（见说明书中的“加密连接”）。")
            .arg(server);
    if (has(QStringLiteral("no encryption")))
        return QStringLiteral("无法连接数据库服务器：%1只接受加密的连接，而连接串关闭了加密（sslmode）。"
                              "请删去连接串中的 sslmode=disable（或写 sslmode=verify-full），"
                              "并把服务器的 CA 证书放到 ~/.postgresql/root.crt。")
            .arg(server);
    if (has(QStringLiteral("SSL"))) {
        const QString text = QStringLiteral("无法连接数据库服务器：与%1建立加密连接（SSL）失败。请检查服务器的证书"
                                            "设置和连接串中的 sslmode、sslrootcert，或联系数据库管理员。")
                                 .arg(server);
        return withDetail(text, message);
    }
    if (hasSystem(ECONNREFUSED) || hasSystem(ENOENT) || has(QStringLiteral("Connection refused"))
        || has(QStringLiteral("No such file or directory")))
        return QStringLiteral("无法连接数据库服务器：%1拒绝了连接（那里没有数据库服务器在运行，或地址、端口不对）。"
                              "请检查连接串中的服务器地址和端口（host、port），以及服务器是否在运行。")
            .arg(server);
    if (has(QStringLiteral("database \"")) && has(QStringLiteral("does not exist")))
        return QStringLiteral("无法连接数据库服务器：%1上没有连接串中指定的数据库（dbname）。请检查数据库名是否写对。")
            .arg(server);
    if ((c && PQconnectionNeedsPassword(c)) || (c && PQconnectionUsedPassword(c))
        || has(QStringLiteral("authentication failed")) || has(QStringLiteral("no password supplied"))
        || has(QStringLiteral("pg_hba.conf")) || has(QStringLiteral("not permitted to log in"))
        || (has(QStringLiteral("role \"")) && has(QStringLiteral("does not exist"))))
        return QStringLiteral("无法连接数据库服务器：%1拒绝了登录（用户名或密码不对，或这个用户不允许从这里登录）。"
                              "请检查连接串中的用户名（user），以及 ~/.pgpass 或 pg_service.conf 中的密码。")
            .arg(server);
    return withDetail(QStringLiteral("无法连接数据库服务器。请检查服务器设置、网络和服务器是否在运行。"), message);
}

std::vector<std::pair<QByteArray, QByteArray>> connectParameters(const QString &conninfo)
{
    // Every connection gives up after a few seconds without an answer (a
    // server that accepts and then says nothing would otherwise hold the
    // program for ever). A connection to another host is encrypted and
    // checks the server's certificate against the CA the room's machine
    // trusts (~/.postgresql/root.crt, or sslrootcert=): a password and the
    // patients' records never cross the network in clear, and a machine
    // that poses as the server is refused. Both come before the text, so a
    // connect_timeout or sslmode of the text itself counts instead.
    std::vector<std::pair<QByteArray, QByteArray>> out;
    out.emplace_back("connect_timeout", QByteArray::number(kConnectTimeoutMs / 1000));
    if (needsVerifiedTls(conninfo))
        out.emplace_back("sslmode", "verify-full");
    out.emplace_back("dbname", conninfo.toUtf8());
    return out;
}

bool PgConnection::ensure()
{
    if (connected())
        return true;
    const auto parameters = connectParameters(conninfo_);
    std::vector<const char *> keys, values;
    for (const auto &[key, value] : parameters) {
        keys.push_back(key.constData());
        values.push_back(value.constData());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    conn_.reset(PQconnectdbParams(keys.data(), values.data(), 1));
    timedOut_ = false;
    if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK) {
        fault_ = DbFault::Gone;
        error_ = connectFailure(conn_.get(), clock.elapsed());
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

QString PgConnection::passwordVerifier(const QString &password, const QString &role)
{
    if (!ensure())
        return {};
    char *v =
        PQencryptPasswordConn(conn_.get(), password.toUtf8().constData(), role.toUtf8().constData(), "scram-sha-256");
    if (!v) {
        fail(DbFault::Other, QString::fromUtf8(PQerrorMessage(conn_.get())));
        return {};
    }
    QString out = QString::fromUtf8(v);
    PQfreemem(v);
    return out;
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

PgResult PgConnection::failed() const
{
    PgResult out;
    out.fault_ = fault_;
    out.error_ = error_;
    return out;
}

PgResult PgConnection::exec(const QString &sql, const QList<std::optional<QString>> &params)
{
    if (!ensure())
        return failed();
    PgResult out;
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

static const QString kReadingWrote =
    QStringLiteral("这条查询语句会改动数据（例如调用了写入数据的函数），而读取只能读：语句没有执行，数据没有改动。");

// A reading that tried to write (a function that changes rows, called from a
// query) is refused by the read-only transaction; told as what it is.
// A reading that wrote all the same (a large object made: the read-only
// transaction does not refuse it) is refused here and rolled back.
void refuseWrite(PgResult &r)
{
    r.res_.reset();
    r.fault_ = DbFault::ReadOnly;
    r.error_ = kReadingWrote;
}

void tellReadingWrote(PgResult &r)
{
    if (r.sqlState() == "25006")
        r.error_ = kReadingWrote;
}

static QString readOnlyBegin(int timeoutMs)
{
    return QStringLiteral("BEGIN READ ONLY;SET LOCAL statement_timeout = %1")
        .arg(timeoutMs > 0 ? timeoutMs : readingTimeoutMs());
}

PgResult PgConnection::read(const QString &sql, const QList<std::optional<QString>> &params, int timeoutMs,
                            const QString &settings)
{
    if (!ensure())
        return failed();
    if (!idle())
        return exec(sql, params);
    if (!run(readOnlyBegin(timeoutMs) + settings)) {
        PgResult out = failed();
        if (connected() && !idle())
            run(QStringLiteral("ROLLBACK"));
        return out;
    }
    PgResult r = exec(sql, params);
    if (!endReading() && r.ok())
        refuseWrite(r);
    tellReadingWrote(r);
    return r;
}

std::vector<PgResult> PgConnection::execAll(const QString &sql)
{
    std::vector<PgResult> out;
    if (!ensure())
        return out;
    if (PQsendQuery(conn_.get(), sql.toUtf8().constData()) != 1) {
        failFrom(nullptr);
        return out;
    }
    bool ok = true;
    while (pg_result *raw = PQgetResult(conn_.get())) {
        PgResult r;
        r.res_.reset(raw);
        const ExecStatusType st = PQresultStatus(raw);
        if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) {
            r.fault_ = DbFault::None;
        } else if (ok) {
            ok = false;
            failFrom(raw);
            r.fault_ = fault_;
            r.error_ = error_;
        }
        out.push_back(std::move(r));
        if (!conn_)
            break;
    }
    if (ok) {
        fault_ = DbFault::None;
        error_.clear();
    }
    return out;
}

bool PgConnection::endReading()
{
    if (!connected())
        return true;
    if (inFailedTransaction()) {
        run(QStringLiteral("ROLLBACK"));
        return true;
    }
    // A transaction that was given an id has written something; either way
    // the reading ends in a rollback, so nothing it did stays.
    const std::vector<PgResult> r = execAll(QStringLiteral("select pg_current_xact_id_if_assigned() is null;ROLLBACK"));
    if (connected() && !idle())
        run(QStringLiteral("ROLLBACK"));
    return !r.empty() && r.front().ok() && r.front().rows() == 1 && r.front().text(0, 0) == QLatin1String("t");
}

bool PgConnection::run(const QString &sql)
{
    execAll(sql);
    return fault_ == DbFault::None;
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
    if (ownTransaction_ && !conn_->run(readOnlyBegin(0)))
        return failed(conn_->lastError(), conn_->lastFault());
    open_ = true;
    PgResult declared = conn_->exec(QStringLiteral("DECLARE %1 NO SCROLL CURSOR FOR ").arg(name_) + sql_);
    if (ownTransaction_)
        tellReadingWrote(declared);
    if (!declared.ok())
        return failed(declared.error(), declared.fault());
    if (!fetch(kFirstBatch))
        return false;
    names_.clear();
    isDate_.clear();
    for (int c = 0; c < batch_.columns(); ++c) {
        names_ << batch_.columnName(c);
        isDate_.push_back(batch_.isDateColumn(c));
    }
    return true;
}

bool PgCursor::fetch(int rows)
{
    const QString fetch = QStringLiteral("FETCH FORWARD %1 FROM %2").arg(rows).arg(name_);
    if (ownTransaction_) {
        // The rows, and whether making them wrote anything (one round trip).
        std::vector<PgResult> r =
            conn_->execAll(fetch + QStringLiteral(";select pg_current_xact_id_if_assigned() is null"));
        batch_ = r.empty() ? PgResult() : std::move(r.front());
        if (r.empty() && batch_.error_.isEmpty()) {
            batch_.fault_ = conn_->lastFault();
            batch_.error_ = conn_->lastError();
        }
        if (batch_.ok() && !(r.size() == 2 && r[1].ok() && r[1].text(0, 0) == QLatin1String("t")))
            refuseWrite(batch_);
        tellReadingWrote(batch_);
    } else {
        batch_ = conn_->exec(fetch);
    }
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
    row_ = 0;
    return batch_.rows() > 0;
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
    // A reading's own transaction is rolled back: it only read.
    if (ownTransaction_)
        conn_->run(QStringLiteral("ROLLBACK"));
    else
        conn_->run(QStringLiteral("CLOSE ") + name_);
}

}  // namespace xs
