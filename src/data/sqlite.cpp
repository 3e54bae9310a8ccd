#include "data/sqlite.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <sqlite3.h>

namespace xs {

namespace {
QString g_appDirOverride;
}

DbError::DbError(QString path, QString reason)
    : std::runtime_error((path + QStringLiteral(": ") + reason).toStdString()),
      path_(std::move(path)), reason_(std::move(reason))
{
}

QString DbError::message() const
{
    return QStringLiteral("无法打开数据库文件 %1：%2").arg(path_, reason_);
}

void DbCloser::operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
void StmtFinalizer::operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }

static void applyPragmas(sqlite3 *db)
{
    sqlite3_busy_timeout(db, 5000);
    sqlite3_exec(db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
}

static QString reasonFor(int rc, sqlite3 *db)
{
    switch (rc) {
    case SQLITE_CANTOPEN: return QStringLiteral("文件不存在或无法读取");
    case SQLITE_NOTADB: return QStringLiteral("不是数据库文件");
    case SQLITE_CORRUPT: return QStringLiteral("数据库文件已损坏");
    case SQLITE_PERM:
    case SQLITE_READONLY: return QStringLiteral("没有读写权限");
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return QStringLiteral("文件被其他程序独占");
    default:
        return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
    }
}

static Connection openWith(const QString &path, int flags)
{
    sqlite3 *raw = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &raw, flags, nullptr);
    DbHandle db(raw);
    if (rc != SQLITE_OK)
        throw DbError(path, reasonFor(rc, raw));
    sqlite3_extended_result_codes(raw, 0);
    if (sqlite3_db_readonly(raw, "main") == 1)
        throw DbError(path, reasonFor(SQLITE_READONLY, raw));
    applyPragmas(raw);
    // Opening is lazy in SQLite: read the schema now so that a file that is no
    // database fails here and not at the first statement.
    const int check = sqlite3_exec(raw, "SELECT 1 FROM sqlite_master LIMIT 1", nullptr, nullptr, nullptr);
    if (check != SQLITE_OK)
        throw DbError(path, reasonFor(check, raw));
    return Connection::fromHandle(std::move(db));
}

Connection Connection::fromHandle(DbHandle db) { return Connection(std::move(db)); }

Connection Connection::open(const QString &path)
{
    return openWith(path, SQLITE_OPEN_READWRITE);
}

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

QString Connection::lastError() const { return QString::fromUtf8(sqlite3_errmsg(db_.get())); }

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

QString appDir()
{
    if (!g_appDirOverride.isEmpty())
        return g_appDirOverride;
    return QCoreApplication::applicationDirPath();
}

QString dbPath() { return appDir() + QStringLiteral("/xs.mdb"); }

void setAppDirForTesting(const QString &dir) { g_appDirOverride = dir; }

void ensureWal(const QString &path)
{
    Connection c = Connection::open(path);
    StmtHandle s = c.prepare(QStringLiteral("PRAGMA journal_mode"));
    if (s && sqlite3_step(s.get()) == SQLITE_ROW
        && columnText(s.get(), 0).compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        s.reset();
        c.exec("PRAGMA journal_mode=WAL");
    }
}

}  // namespace xs
