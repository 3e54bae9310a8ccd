#include "data/sqlite/backup.h"

#include "data/audit.h"
#include "data/auditanchor.h"
#include "data/schema.h"
#include "data/sqlite/fileaudit.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace xs {

namespace {

// The engine's result as a Chinese reason; the engine's own text follows as detail.
QString engineReason(int rc, sqlite3 *db)
{
    QString what;
    switch (rc & 0xff) {
    case SQLITE_FULL:
        what = QStringLiteral("磁盘已满，请腾出空间后再试");
        break;
    case SQLITE_IOERR:
        what = QStringLiteral("读写文件出错，请检查磁盘");
        break;
    case SQLITE_CANTOPEN:
        what = QStringLiteral("文件不存在或无法打开");
        break;
    case SQLITE_NOTADB:
        what = QStringLiteral("不是数据库文件");
        break;
    case SQLITE_CORRUPT:
        what = QStringLiteral("数据库文件已损坏");
        break;
    case SQLITE_PERM:
    case SQLITE_READONLY:
        what = QStringLiteral("没有读写权限");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        what = QStringLiteral("数据库正忙，请稍后再试");
        break;
    default:
        what = QStringLiteral("数据库出错");
        break;
    }
    return withDetail(what, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc)),
                      QString());
}

int openRaw(const QString &path, int flags, DbHandle *out)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    out->reset(db);
    if (db)
        sqlite3_busy_timeout(db, 5000);
    return rc;
}

bool fsyncPath(const QString &path, bool directory = false)
{
    const int fd = ::open(QFile::encodeName(path).constData(), directory ? O_RDONLY | O_DIRECTORY : O_RDONLY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

void removeWithJournals(const QString &path)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

struct TableShape {
    const char *name;
    const QStringList &(*columns)();
    const char *key;  // the unique column, or nullptr
};
const TableShape kTables[] = {
    {"use", useColumns, "username"}, {"class", classColumns, "科室"},    {"xj", caseColumns, "门诊号"},
    {"yc", caseColumns, nullptr},    {"表1", catalogueColumns, nullptr},
};

// Reads every row of a table; the engine's result code.
int scanTable(sqlite3 *db, const QString &table, qint64 *rows)
{
    sqlite3_stmt *raw = nullptr;
    int rc = sqlite3_prepare_v2(db, ("SELECT * FROM \"" + table.toUtf8() + "\"").constData(), -1, &raw, nullptr);
    StmtHandle s(raw);
    if (rc != SQLITE_OK)
        return rc;
    *rows = 0;
    const int n = sqlite3_column_count(raw);
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        for (int i = 0; i < n; ++i)
            sqlite3_column_bytes(raw, i);  // reads overflow pages too
        ++*rows;
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// The texts a failed copy is told with, each followed by the reason.
struct CopyTexts {
    QString unreadable, unwritable, unstarted, unfinished, unsynced;
};

// Copies every page of the database `from` into the new file `part` (removed
// first, and again when the copy fails), which gets the owner, group and mode
// of `owner` (without one, the system's shared mode) and the journal mode
// `journal`, and is synced to the disk. A busy source is tried `tries` times.
// Empty when done, else why.
QString copyPages(const QString &from, int fromFlags, const QString &part, const char *journal, int tries,
                  const struct stat *owner, const CopyTexts &t)
{
    removeWithJournals(part);
    QString why = [&]() -> QString {
        DbHandle src, dst;
        int rc = openRaw(from, fromFlags, &src);
        if (rc != SQLITE_OK)
            return t.unreadable + engineReason(rc, src.get());
        rc = openRaw(part, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &dst);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(dst.get(), "PRAGMA synchronous=FULL; SELECT 1 FROM sqlite_master", nullptr, nullptr,
                              nullptr);
        if (rc != SQLITE_OK)
            return t.unwritable + engineReason(rc, dst.get());
        // A restored file belongs to whom the replaced one belonged, with its
        // group and mode: the program's users go on opening it even when root
        // restores.
        if (owner) {
            const QByteArray p = QFile::encodeName(part);
            if (::chown(p.constData(), owner->st_uid, owner->st_gid) != 0)
                (void)::chown(p.constData(), uid_t(-1), owner->st_gid);
            (void)::chmod(p.constData(), owner->st_mode & 07777);
        } else {
            setSharedFileMode(part);
        }
        sqlite3_backup *b = sqlite3_backup_init(dst.get(), "main", src.get(), "main");
        if (!b)
            return t.unstarted + engineReason(sqlite3_errcode(dst.get()), dst.get());
        // All pages in one step: one read snapshot of the source, which in WAL
        // mode never stops its writers. A busy source is waited for a while.
        for (int tried = 1; (rc = sqlite3_backup_step(b, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED; ++tried) {
            if (tried >= tries)
                break;
            sqlite3_sleep(100);
        }
        sqlite3_backup_finish(b);
        if (rc != SQLITE_DONE) {
            const int code = sqlite3_errcode(dst.get()) != SQLITE_OK ? sqlite3_errcode(dst.get()) : rc;
            return t.unfinished + engineReason(code, dst.get());
        }
        rc = sqlite3_exec(dst.get(), journal, nullptr, nullptr, nullptr);
        return rc == SQLITE_OK ? QString() : t.unfinished + engineReason(rc, dst.get());
    }();
    if (why.isEmpty() && !fsyncPath(part))
        why = t.unsynced + systemReason(errno);
    if (!why.isEmpty())
        removeWithJournals(part);
    return why;
}

}  // namespace

bool setSharedFileMode(const QString &path) { return ::chmod(QFile::encodeName(path).constData(), 0660) == 0; }

DbCheck checkDatabaseFile(const QString &path)
{
    DbCheck r;
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        // A link is named by the file it leads to: that is what is missing.
        r.problems << (errno == EACCES ? QStringLiteral("没有权限读取文件 %1").arg(realFilePath(path))
                                       : QStringLiteral("文件 %1 不存在").arg(realFilePath(path)));
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        r.problems << QStringLiteral("%1 不是文件").arg(realFilePath(path));
        return r;
    }
    DbHandle handle;
    int rc = openRaw(path, SQLITE_OPEN_READONLY, &handle);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(handle.get(), "SELECT 1 FROM sqlite_master LIMIT 1", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        r.problems << QStringLiteral("无法打开：%1").arg(engineReason(rc, handle.get()));
        return r;
    }
    r.opened = true;
    const Connection c(std::move(handle));

    // The engine's own check of every page and index.
    {
        const StmtHandle s = c.prepare(QStringLiteral("PRAGMA integrity_check(20)"));
        QStringList lines;
        while (s && sqlite3_step(s.get()) == SQLITE_ROW)
            lines << columnText(s.get(), 0);
        rc = sqlite3_errcode(c.get());
        if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
            r.problems << QStringLiteral("完整性检查无法进行：%1").arg(engineReason(rc, c.get()));
        else if (lines != QStringList{QStringLiteral("ok")})
            r.problems << QStringLiteral("完整性检查发现损坏：%1").arg(lines.join(QStringLiteral("；")));
    }

    for (const TableShape &t : kTables) {
        const QString name = QString::fromUtf8(t.name);
        int crc = SQLITE_OK;
        const QStringList cols = columnsOf(c.get(), name, &crc);
        if (crc != SQLITE_OK) {
            r.problems << QStringLiteral("表 %1 无法读取：%2").arg(name, engineReason(crc, c.get()));
            r.damaged << name;
            continue;
        }
        if (cols.isEmpty()) {
            r.problems << QStringLiteral("缺少表 %1").arg(name);
            continue;
        }
        if (cols != t.columns()) {
            QStringList missing;
            for (const QString &col : t.columns())
                if (!cols.contains(col))
                    missing << col;
            r.problems << (missing.isEmpty() ? QStringLiteral("表 %1 的列与本系统的不同：%2").arg(name, cols.join(u','))
                                             : QStringLiteral("表 %1 缺少列：%2").arg(name, missing.join(u',')));
            continue;
        }
        qint64 rows = 0;
        if (const int src = scanTable(c.get(), name, &rows); src != SQLITE_OK) {
            r.problems << QStringLiteral("表 %1 已损坏，无法读完：%2").arg(name, engineReason(src, c.get()));
            r.damaged << name;
            continue;
        }
        r.counts << TableCount{name, rows};
        if (!t.key)
            continue;
        const QString key = QString::fromUtf8(t.key);
        const StmtHandle s = c.prepare(QStringLiteral("SELECT %1, count(*) FROM %2 WHERE %1 IS NOT NULL GROUP BY %1 "
                                                      "HAVING count(*) > 1 LIMIT 5")
                                           .arg(key, name));
        while (s && sqlite3_step(s.get()) == SQLITE_ROW)
            r.problems << QStringLiteral("表 %1 中 %2 “%3” 重复 %4 次")
                              .arg(name, key, columnText(s.get(), 0), columnText(s.get(), 1));
    }
    return r;
}

BackupResult backupDatabase(const QString &source, const QString &dest)
{
    BackupResult r;
    const QFileInfo destInfo(dest);
    if (destInfo.exists() || destInfo.isSymLink()) {
        r.error = QStringLiteral("目标文件 %1 已存在；备份只写新文件").arg(dest);
        return r;
    }
    if (!destInfo.absoluteDir().exists()) {
        r.error = QStringLiteral("文件夹 %1 不存在").arg(destInfo.absolutePath());
        return r;
    }
    if (!QFileInfo(source).isFile()) {
        r.error = QStringLiteral("数据库文件 %1 不存在").arg(source);
        return r;
    }
    // The copy gets its name only once it is whole and checked.
    const QString part = dest + QStringLiteral(".part-%1").arg(QCoreApplication::applicationPid());
    const auto failed = [&](const QString &why) {
        removeWithJournals(part);
        r.error = why;
        return r;
    };
    // A backup is one self-contained file: no write-ahead log beside it.
    if (const QString why = copyPages(source, SQLITE_OPEN_READWRITE, part, "PRAGMA journal_mode=DELETE", 100, nullptr,
                                      {QStringLiteral("无法打开数据库 %1：").arg(source),
                                       QStringLiteral("无法写入 %1：").arg(dest), QStringLiteral("无法开始备份："),
                                       QStringLiteral("备份没有完成："), QStringLiteral("无法把备份写到磁盘上：")});
        !why.isEmpty())
        return failed(why);
    const DbCheck check = checkDatabaseFile(part);
    if (!check.ok())
        return failed(
            QStringLiteral("备份的副本没有通过检查，已删除：%1").arg(check.problems.join(QStringLiteral("；"))));
    // link() never replaces a file that appeared meanwhile.
    if (::link(QFile::encodeName(part).constData(), QFile::encodeName(dest).constData()) != 0)
        return failed(QStringLiteral("无法命名备份 %1：%2").arg(dest, systemReason(errno)));
    QFile::remove(part);
    fsyncPath(destInfo.absolutePath(), true);
    r.ok = true;
    r.bytes = QFileInfo(dest).size();
    r.counts = check.counts;
    return r;
}

QString backupAnchorPath(const QString &backup) { return backup + QStringLiteral(".anchor"); }

bool writeBackupAnchor(const QString &backup, QString *why)
{
    const QString anchor = backupAnchorPath(backup);
    AuditTrailPosition p;
    {
        DbHandle c;
        const int rc = openRaw(backup, SQLITE_OPEN_READONLY, &c);
        if (rc != SQLITE_OK) {
            if (why)
                *why = QStringLiteral("无法打开备份 %1：%2").arg(backup, engineReason(rc, c.get()));
            return false;
        }
        QString cause;
        if (!readAuditPosition(c.get(), 0, &p, &cause)) {
            if (why)
                *why = QStringLiteral("无法读取备份 %1 的审计记录：%2").arg(backup, cause);
            return false;
        }
    }
    return writeAuditAnchor(anchor, anchorOf(p, QFileInfo(backup).absoluteFilePath()), why);
}

// Other processes that hold the file open, as "进程 PID（NAME）".
static QStringList processesHolding(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QStringList watched;
    if (!canonical.isEmpty())
        for (const char *suffix : {"", "-wal", "-shm"})
            watched << canonical + QLatin1String(suffix);
    const QString real = realFilePath(path);
    const qint64 self = QCoreApplication::applicationPid();
    QStringList holders;
    const auto describe = [](const QString &pid) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString name =
            comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed() : QString();
        return name.isEmpty() ? QStringLiteral("进程 %1").arg(pid) : QStringLiteral("进程 %1（%2）").arg(pid, name);
    };
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool numeric = false;
        if (pid.toLongLong(&numeric) == self || !numeric)
            continue;
        bool holds = false;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
            if (watched.contains(QFileInfo(fdDir + u'/' + fd).symLinkTarget())) {
                holds = true;
                break;
            }
        // The program opens the xs.mdb of its own folder (or the file that
        // link leads to) for each statement: while it runs, it holds that
        // file even between statements.
        if (!holds) {
            const QFileInfo exe(QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget());
            holds = exe.fileName() == QLatin1String("chengheng")
                    && realFilePath(exe.absolutePath() + QStringLiteral("/xs.mdb")) == real;
        }
        if (holds)
            holders << describe(pid);
    }
    // Processes of other accounts may be hidden in /proc: the lock every
    // open connection holds on the shared-memory file still shows them.
    if (holders.isEmpty() && !canonical.isEmpty()) {
        const int fd = ::open(QFile::encodeName(canonical + QStringLiteral("-shm")).constData(), O_RDONLY);
        if (fd >= 0) {
            struct flock lk = {};
            lk.l_type = F_WRLCK;
            lk.l_whence = SEEK_SET;
            lk.l_start = 128;  // the engine's "database in use" byte
            lk.l_len = 1;
            if (::fcntl(fd, F_GETLK, &lk) == 0 && lk.l_type != F_UNLCK)
                holders << describe(QString::number(lk.l_pid));
            ::close(fd);
        }
    }
    return holders;
}

RestoreResult restoreDatabase(const QString &backup, const QString &link)
{
    RestoreResult r;
    // The restored file takes the place of the real file; a link to it (the
    // installed program's xs.mdb) stays a link.
    const QString target = realFilePath(link);
    const DbCheck check = checkDatabaseFile(backup);
    if (!check.ok()) {
        r.error = QStringLiteral("备份 %1 没有通过检查，不能用来恢复：%2")
                      .arg(backup, check.problems.join(QStringLiteral("；")));
        return r;
    }
    if (QFileInfo(backup).canonicalFilePath() == QFileInfo(target).canonicalFilePath()) {
        r.error = QStringLiteral("备份与数据库是同一个文件");
        return r;
    }
    const QStringList holders = processesHolding(target);
    if (!holders.isEmpty()) {
        r.error = QStringLiteral("数据库 %1 正被其他程序打开：%2。请先关闭这些程序，再恢复")
                      .arg(target, holders.join(QStringLiteral("、")));
        return r;
    }
    struct stat before = {};
    const bool hadTarget = ::stat(QFile::encodeName(target).constData(), &before) == 0;
    const QString part = target + QStringLiteral(".restore-part");
    const auto failed = [&](const QString &why) {
        removeWithJournals(part);
        r.error = why;
        return r;
    };
    // The program shares the file between connections: WAL mode.
    const QString unwritable = QStringLiteral("无法写入 %1：").arg(part);
    if (const QString why =
            copyPages(backup, SQLITE_OPEN_READONLY, part, "PRAGMA journal_mode=WAL", 1, hadTarget ? &before : nullptr,
                      {unwritable, unwritable, QStringLiteral("恢复没有完成："), QStringLiteral("恢复没有完成："),
                       QStringLiteral("无法把恢复的文件写到磁盘上：")});
        !why.isEmpty())
        return failed(why);

    const QByteArray targetName = QFile::encodeName(target);
    if (QFileInfo::exists(target)) {
        // Fold what the log still holds into the file that is kept.
        {
            DbHandle old;
            if (openRaw(target, SQLITE_OPEN_READWRITE, &old) == SQLITE_OK)
                sqlite3_exec(old.get(), "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        }
        const QString kept = target + QStringLiteral(".before-restore");
        const QString keptPart = kept + QStringLiteral(".part");
        QFile::remove(keptPart);
        if (::link(targetName.constData(), QFile::encodeName(keptPart).constData()) != 0
            || ::rename(QFile::encodeName(keptPart).constData(), QFile::encodeName(kept).constData()) != 0) {
            QFile::remove(keptPart);
            return failed(QStringLiteral("无法保留原来的数据库为 %1：%2").arg(kept, systemReason(errno)));
        }
        r.keptAs = kept;
        // A log the checkpoint could not empty belongs to the kept file; it
        // must never be read as the restored file's own.
        const QString wal = target + QStringLiteral("-wal");
        QFile::remove(kept + QStringLiteral("-wal"));
        if (QFileInfo(wal).size() > 0)
            QFile::rename(wal, kept + QStringLiteral("-wal"));
        else
            QFile::remove(wal);
        QFile::remove(target + QStringLiteral("-shm"));
        QFile::remove(target + QStringLiteral("-journal"));
    }
    if (::rename(QFile::encodeName(part).constData(), targetName.constData()) != 0)
        return failed(QStringLiteral("无法把恢复的文件放到 %1：%2").arg(target, systemReason(errno)));
    fsyncPath(QFileInfo(target).absolutePath(), true);
    r.ok = true;
    r.counts = check.counts;
    return r;
}

QString backupFolder(const QString &databasePath)
{
    return QDir(QFileInfo(realFilePath(databasePath)).absolutePath()).filePath(QStringLiteral("backups"));
}

QString newestBackup(const QString &databasePath)
{
    const QDir dir(backupFolder(databasePath));
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.mdb")}, QDir::Files, QDir::Time);
    return files.isEmpty() ? QString() : files.first().absoluteFilePath();
}

namespace {
QPointer<QThread> g_dailyThread;
QDate g_dailyTried;

QString dailyName(const QDate &d) { return QStringLiteral("xs-%1.mdb").arg(d.toString(QStringLiteral("yyyy-MM-dd"))); }

// Runs in the background thread; "" on success.
QString runDailyBackup(const QString &databasePath, const QString &file, int keep)
{
    const QString folder = backupFolder(databasePath);
    if (!QFileInfo(folder).isDir()) {
        if (::mkdir(QFile::encodeName(folder).constData(), 0770) != 0)
            return QStringLiteral("无法建立文件夹 %1：%2").arg(folder, systemReason(errno));
    }
    // The copy never takes the room the records need: it is made only when
    // the disk keeps a reserve beside it.
    const QString real = realFilePath(databasePath);
    const qint64 copy = QFileInfo(real).size() + QFileInfo(real + QStringLiteral("-wal")).size();
    struct statvfs fs = {};
    if (::statvfs(QFile::encodeName(folder).constData(), &fs) == 0) {
        const qint64 available = qint64(fs.f_bavail) * qint64(fs.f_frsize);
        if (available < copy + kDailyBackupReserve) {
            const auto mb = [](qint64 bytes) { return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1); };
            return QStringLiteral("磁盘空间不足，没有复制：%1 所在的磁盘只剩 %2 MB，备份要用 %3 MB，"
                                  "另要给病例记录留出 %4 MB")
                .arg(folder, mb(available), mb(copy), mb(kDailyBackupReserve));
        }
    }
    const BackupResult b = backupDatabase(databasePath, file);
    if (!b.ok)
        return b.error;
    // The anchor is taken from the copy: it names exactly that backup's trail.
    QString anchorFault;
    if (QString why; !writeBackupAnchor(file, &why))
        anchorFault = QStringLiteral("备份 %1 已做好，但它的审计锚点没有写成：%2").arg(file, why);
    QStringList daily = QDir(folder).entryList({QStringLiteral("xs-\?\?\?\?-\?\?-\?\?.mdb")}, QDir::Files, QDir::Name);
    while (daily.size() > keep) {
        const QString old = folder + u'/' + daily.takeFirst();
        QFile::remove(old);
        QFile::remove(backupAnchorPath(old));
    }
    return anchorFault;
}
}  // namespace

void startDailyBackup(const QString &databasePath, std::function<void(const QString &)> failed)
{
    const QDate today = QDate::currentDate();
    if (g_dailyTried == today || (g_dailyThread && g_dailyThread->isRunning()))
        return;
    const QString file = backupFolder(databasePath) + u'/' + dailyName(today);
    if (QFileInfo::exists(file))
        return;
    g_dailyTried = today;
    int keep = kDefaultBackupKeep;
    {
        DbHandle c;
        if (openRaw(databasePath, SQLITE_OPEN_READONLY, &c) == SQLITE_OK)
            keep = backupKeep(c.get());
    }
    auto result = std::make_shared<QString>();
    QThread *t = QThread::create([=] { *result = runDailyBackup(databasePath, file, keep); });
    g_dailyThread = t;
    QCoreApplication *app = QCoreApplication::instance();
    QObject::connect(t, &QThread::finished, app, [t, result, failed] {
        t->deleteLater();
        if (!result->isEmpty() && failed)
            failed(*result);
    });
    QObject::connect(app, &QCoreApplication::aboutToQuit, t, [] { waitForDailyBackup(); });
    t->start(QThread::LowPriority);
}

void waitForDailyBackup()
{
    if (g_dailyThread)
        g_dailyThread->wait();
    // Delivers the outcome queued by the finished thread.
    QCoreApplication::sendPostedEvents();
}

void resetDailyBackupForTesting()
{
    waitForDailyBackup();
    g_dailyTried = QDate();
}

}  // namespace xs
