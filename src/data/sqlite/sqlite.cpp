#include "data/sqlite/sqlite.h"

#include "data/audit.h"
#include "data/schema.h"
#include "data/sqlite/fileaudit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace xs {

DbFault faultOf(int rc)
{
    switch (rc) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return DbFault::None;
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
        return DbFault::Unique;
    case SQLITE_IOERR_DELETE_NOENT:
    case SQLITE_READONLY_DBMOVED:
    case SQLITE_CANTOPEN_ISDIR:
    case SQLITE_CANTOPEN_FULLPATH:
        return DbFault::Gone;
    default:
        break;
    }
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DbFault::Busy;
    case SQLITE_FULL:
        return DbFault::Full;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return DbFault::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
        return DbFault::Damaged;
    case SQLITE_CANTOPEN:
    case SQLITE_NOTFOUND:
        return DbFault::Gone;
    case SQLITE_NOTADB:
        return DbFault::NotOurs;
    case SQLITE_IOERR:
    case SQLITE_PROTOCOL:
    case SQLITE_NOMEM:
        return DbFault::Io;
    case SQLITE_INTERRUPT:
        return DbFault::Timeout;
    default:
        return DbFault::Other;
    }
}

QString faultText(int rc, const QString &engineDetail)
{
    const QString text = faultReasonText(faultOf(rc));
    if (text.isEmpty())
        return {};
    return withDetail(text, engineDetail);
}

void DbCloser::operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
void StmtFinalizer::operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }

namespace {
constexpr int kBusyTimeoutMs = 5000;
int g_busyTimeoutMs = kBusyTimeoutMs;
}  // namespace

void setBusyTimeoutForTesting(int ms) { g_busyTimeoutMs = ms > 0 ? ms : kBusyTimeoutMs; }

namespace {
// The deadline of this thread's reading (steady clock, in ns; 0: none).
thread_local long long t_deadline = 0;
// The engine calls the progress handler every this many virtual machine
// steps (some microseconds): a reading is stopped that soon after its
// deadline, and the clock is read seldom enough to cost nothing.
constexpr int kDeadlineSteps = 1000;

long long steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int checkDeadline(void *) { return ReadingDeadline::overdue() ? 1 : 0; }
}  // namespace

ReadingDeadline::ReadingDeadline(int ms) : previous_(t_deadline)
{
    const long long at = steadyNowNs() + (long long)ms * 1000000;
    if (t_deadline == 0 || at < t_deadline)
        t_deadline = at;
}

ReadingDeadline::~ReadingDeadline() { t_deadline = previous_; }

bool ReadingDeadline::overdue() { return t_deadline != 0 && steadyNowNs() > t_deadline; }

void restoreProgressHandler(sqlite3 *db) { sqlite3_progress_handler(db, kDeadlineSteps, &checkDeadline, nullptr); }

// Short reasons for a file that cannot be opened, followed by what to do.
static QString reasonFor(int rc, sqlite3 *db)
{
    const DbFault f = faultOf(rc);
    QString reason;
    switch (f) {
    case DbFault::Gone:
        reason = QStringLiteral("文件不存在或无法读取，请检查文件是否被移走或删除");
        break;
    case DbFault::NotOurs:
        reason = QStringLiteral("不是数据库文件，不是澄衡数据库");
        break;
    case DbFault::Damaged:
        reason = QStringLiteral("数据库文件已损坏，请运行 chengheng-db check 检查或从备份恢复");
        break;
    case DbFault::ReadOnly:
        reason = QStringLiteral("没有读写权限，请检查文件及所在文件夹的权限");
        break;
    case DbFault::Busy:
        reason = QStringLiteral("文件被其他程序独占，请稍后再试");
        break;
    default:
        reason = faultReasonText(f);
        break;
    }
    return withDetail(reason, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc)),
                      QString());
}

// The engine reports a write that the file system refused for want of space
// (the log or the shared-memory file growing, say) as an I/O error; the
// operating system's error number tells that it is a full disk.
static int withSystemCause(sqlite3 *db, int rc)
{
    const int primary = rc & 0xff;
    if (db && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN)) {
        const int e = sqlite3_system_errno(db);
        if (e == ENOSPC || e == EDQUOT)
            return SQLITE_FULL;
    }
    return rc;
}

static QString accountName()
{
    std::vector<char> buf(16384);
    passwd pw = {};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(geteuid());
}

static QString groupName(gid_t gid)
{
    std::vector<char> buf(16384);
    group gr = {};
    group *found = nullptr;
    if (getgrgid_r(gid, &gr, buf.data(), buf.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->gr_name);
    return QString::number(gid);
}

static bool inGroup(gid_t gid)
{
    if (getegid() == gid)
        return true;
    const int n = getgroups(0, nullptr);
    std::vector<gid_t> groups(size_t(std::max(n, 0)));
    const int got = n > 0 ? getgroups(n, groups.data()) : 0;
    return std::find(groups.begin(), groups.begin() + std::max(got, 0), gid) != groups.begin() + std::max(got, 0);
}

// When the operating system refuses the account the file (or a folder on its
// way) for want of permission: why, in words an administrator can act on.
// Empty when permission is not what stands in the way.
static QString permissionCause(const QString &file, bool write)
{
    const QByteArray name = QFile::encodeName(file);
    struct stat st = {};
    QString blocked;  // the file or folder the account may not use
    if (::stat(name.constData(), &st) == 0) {
        if (::faccessat(AT_FDCWD, name.constData(), write ? R_OK | W_OK : R_OK, AT_EACCESS) == 0 || errno != EACCES)
            return {};
        blocked = file;
    } else {
        if (errno != EACCES)
            return {};
        // A folder on the way may not be entered: the nearest one that can be
        // looked at but not entered is the one that bars the way.
        for (QString dir = QFileInfo(file).absolutePath(); !dir.isEmpty(); dir = QFileInfo(dir).absolutePath()) {
            const QByteArray d = QFile::encodeName(dir);
            if (::stat(d.constData(), &st) == 0 && ::faccessat(AT_FDCWD, d.constData(), X_OK, AT_EACCESS) != 0) {
                blocked = dir;
                break;
            }
            if (dir == QLatin1String("/"))
                return {};
        }
    }
    if (geteuid() != 0 && !inGroup(st.st_gid)) {
        const QString user = accountName();
        const QString grp = groupName(st.st_gid);
        return QStringLiteral("没有访问权限：本账户 %1 不在组 %2 中（%3 只对这个组开放）。请管理员运行 adduser %1 %2，"
                              "然后本账户注销并重新登录")
            .arg(user, grp, blocked);
    }
    return QStringLiteral("没有访问权限：本账户 %1 不能%2 %3，请检查文件及所在文件夹的权限")
        .arg(accountName(), write ? QStringLiteral("读写") : QStringLiteral("读取"), blocked);
}

[[noreturn]] static void fail(const QString &path, int rc, sqlite3 *db, bool write = true)
{
    rc = withSystemCause(db, rc);
    // The installed program's xs.mdb is a link: the user is told the real file.
    const QString file = realFilePath(path);
    const DbFault f = faultOf(rc);
    if (f == DbFault::Gone || f == DbFault::ReadOnly || f == DbFault::Io) {
        const QString denied = permissionCause(file, write);
        if (!denied.isEmpty())
            throw DbError(file, denied, DbFault::ReadOnly);
    }
    throw DbError(file, reasonFor(rc, db), f);
}

static Connection openWith(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    const bool write = (flags & SQLITE_OPEN_READWRITE) != 0;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, flags, nullptr);
    DbHandle db(raw);
    if (rc != SQLITE_OK)
        fail(path, rc, raw, write);
    sqlite3_extended_result_codes(raw, 0);
    if (write && sqlite3_db_readonly(raw, "main") == 1)
        fail(path, SQLITE_READONLY, nullptr);
    sqlite3_busy_timeout(raw, g_busyTimeoutMs);
    sqlite3_exec(raw, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    // A reading of this connection stops at its deadline (ReadingDeadline).
    restoreProgressHandler(raw);
    // The audit triggers of the file call these; without them every change
    // of the audited tables fails.
    registerAuditFunctions(raw);
    // Opening is lazy in SQLite: read the schema now so that a file that is no
    // database fails here and not at the first statement.
    const int check = sqlite3_exec(raw, "SELECT 1 FROM sqlite_master LIMIT 1", nullptr, nullptr, nullptr);
    if (check != SQLITE_OK)
        fail(path, sqlite3_extended_errcode(raw), raw, write);
    return Connection(std::move(db));
}

Connection Connection::open(const QString &path) { return openWith(path, SQLITE_OPEN_READWRITE); }

Connection Connection::create(const QString &path)
{
    if (QFileInfo::exists(path))
        throw DbError(path, QStringLiteral("文件已存在"));
    return openWith(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

bool Connection::exec(const char *sql) const
{
    return sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

StmtHandle Connection::prepare(const QString &sql) const
{
    const QByteArray utf8 = sql.toUtf8();
    sqlite3_stmt *raw = nullptr;
    const char *tail = nullptr;
    if (sqlite3_prepare_v2(db_.get(), utf8.constData(), int(utf8.size()), &raw, &tail) != SQLITE_OK)
        return {};
    StmtHandle stmt(raw);
    if (!stmt)
        return {};  // only blanks or comments
    for (; tail && *tail; ++tail) {
        if (*tail != ' ' && *tail != '\t' && *tail != '\n' && *tail != '\r' && *tail != ';')
            return {};  // a second statement: never run it
    }
    return stmt;
}

QString Connection::lastError() const
{
    const int rc = lastCode();
    // No engine fault (a statement refused by this program, such as a second
    // statement after the first) or a reading stopped at its deadline: the
    // engine has nothing to add ("not an error", "interrupted").
    if (rc == SQLITE_OK || (rc & 0xff) == SQLITE_INTERRUPT)
        return faultText(rc == SQLITE_OK ? SQLITE_ERROR : rc);
    return faultText(rc, QString::fromUtf8(sqlite3_errmsg(db_.get())));
}

int Connection::lastCode() const { return withSystemCause(db_.get(), sqlite3_extended_errcode(db_.get())); }

std::optional<QString> Connection::scalar(const QString &sql) const
{
    StmtHandle s = prepare(sql);
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW)
        return std::nullopt;
    return columnText(s.get(), 0);
}

RowReader::RowReader(const Connection &c, const QString &table, const QStringList &columns)
    : stmt_(c.prepare(QStringLiteral("SELECT %1 FROM %2").arg(columns.join(QLatin1Char(',')), table)))
{
    for (int i = 0; i < columns.size(); ++i)
        date_.push_back(columnKind(table, i) == ColumnKind::Date);
}

bool RowReader::next(QList<std::optional<QString>> &row)
{
    const int rc = sqlite3_step(stmt_.get());
    failed_ = rc != SQLITE_ROW && rc != SQLITE_DONE;
    if (rc != SQLITE_ROW)
        return false;
    const int n = sqlite3_column_count(stmt_.get());
    for (int i = 0; i < n; ++i) {
        const QString text = columnText(stmt_.get(), i);
        const bool null =
            sqlite3_column_type(stmt_.get(), i) == SQLITE_NULL || (date_[size_t(i)] && text.trimmed().isEmpty());
        row << (null ? std::nullopt : std::optional<QString>(text));
    }
    return true;
}

QString columnText(sqlite3_stmt *s, int i)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, i));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(s, i)) : QString();
}

bool bindText(sqlite3_stmt *s, int i, const QString &v)
{
    const QByteArray u = v.toUtf8();
    return sqlite3_bind_text(s, i, u.constData(), int(u.size()), SQLITE_TRANSIENT) == SQLITE_OK;
}

QStringList columnsOf(sqlite3 *db, const QString &table, int *rc)
{
    QStringList cols;
    sqlite3_stmt *raw = nullptr;
    int result = sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?)", -1, &raw, nullptr);
    const StmtHandle s(raw);
    if (result == SQLITE_OK) {
        bindText(raw, 1, table);
        while ((result = sqlite3_step(raw)) == SQLITE_ROW)
            cols << columnText(raw, 0);
    }
    if (rc)
        *rc = result == SQLITE_DONE ? SQLITE_OK : result;
    return cols;
}

void checkOurs(const QString &path)
{
    const auto notOurs = [&] {
        throw DbError(realFilePath(path), reasonFor(SQLITE_NOTADB, nullptr), DbFault::NotOurs);
    };
    // A 0-byte file is an empty database to the engine, and opening it would
    // make it one: refuse it before anything is written.
    if (QFileInfo(path).exists() && QFileInfo(path).size() == 0)
        notOurs();
    Connection c = openWith(path, SQLITE_OPEN_READONLY);
    const int appId = c.scalar(QStringLiteral("PRAGMA application_id")).value_or(QString()).toInt();
    if (appId == kApplicationId)
        return;
    if (appId != 0)
        notOurs();
    // An older file carries no mark: it is ours when its tables match.
    const std::pair<const char *, QStringList> tables[] = {
        {"use", {"username", "password", "admin", "readonly", "qx1", "qx2", "qx3", "qx4"}},
        {"class", {"年级", "科室", "诊室", "年制", "专业", "医生", "备注"}},
        {"xj", {"门诊号", "姓名", "性别", "科室", "出生年月", "入诊时间", "诊断", "药名", "药量"}},
        {"yc", {"门诊号", "姓名", "性别", "科室", "出生年月", "入诊时间", "诊断", "药名", "药量"}},
        {"表1", {"输液", "抗生素", "收费项目", "用法", "中药", "个人定制"}},
    };
    for (const auto &[table, wanted] : tables) {
        const QStringList have = columnsOf(c.get(), QString::fromUtf8(table));
        for (const QString &col : wanted)
            if (!have.contains(col, Qt::CaseInsensitive))
                notOurs();
    }
}

}  // namespace xs
