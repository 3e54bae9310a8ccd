// Backups, restores and checks of the database file, run for real: the tool
// as a separate process, writers and holders as other processes.
#include "data/auditanchor.h"
#include "data/sqlite/backup.h"
#include "data/sqlite/settings.h"
#include "data/sqlite/sqlite.h"

#include "testenv.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace xs;
using xs::test::runTool;
using xs::test::ToolRun;

namespace {

QString scalar(const QString &path, const QString &sql)
{
    Connection c = Connection::open(path);
    StmtHandle s = c.prepare(sql);
    return s && sqlite3_step(s.get()) == SQLITE_ROW ? columnText(s.get(), 0) : QString();
}

int modeOf(const QString &path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// An sqlite3 shell on the file that keeps it open until its input ends.
void startHolder(QProcess &p, const QString &db)
{
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-cmd"), QStringLiteral("select count(*) from xj;"), db});
    QVERIFY(p.waitForStarted());
    QVERIFY(p.waitForReadyRead(10000));
}

}  // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void backupWhileAnotherProcessWrites();
    void failedBackupLeavesNothing();
    void restoreRefusedWhileHeld();
    void restoreKeepsReplacedFile();
    void check_data();
    void check();
    void configKeep();
    void dailyBackupKeepsTheLastN();
    void dailyBackupFailureToldOnce();
    void dailyBackupKeptWhenAnchorFails();
    void dailyBackupLeavesRoom();
    void throughTheLink();
    void checkOfMissingFile_data();
    void checkOfMissingFile();
    void outsiderToldWhy();

private:
    std::unique_ptr<QTemporaryDir> tmp_;
    QString db_;
};

void TestBackup::init()
{
    tmp_ = std::make_unique<QTemporaryDir>();
    db_ = tmp_->path() + QStringLiteral("/xs.mdb");
    const ToolRun r = runTool({"init", db_, "--demo"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(modeOf(db_), 0660);
}

void TestBackup::backupWhileAnotherProcessWrites()
{
    // 3000 saves of their own, one transaction each, in another process. The
    // sqlite3 shell may write the catalogue only: the audited tables refuse a
    // connection that cannot record the change.
    QByteArray script = ".timeout 10000\n";
    for (int i = 0; i < 3000; ++i)
        script += QStringLiteral("INSERT INTO 表1(输液, 其他) VALUES('w%1', '写入');\n").arg(i).toUtf8();
    QProcess writer;
    writer.start(QStringLiteral("sqlite3"), {db_});
    QVERIFY(writer.waitForStarted());
    writer.write(script);
    writer.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(scalar(db_, "select count(*) from 表1").toInt() > 100, 20000);

    const QString dest = tmp_->path() + QStringLiteral("/copy.mdb");
    const ToolRun r = runTool({"backup", "--db", db_, dest});
    const bool writerStillWriting = writer.state() == QProcess::Running;
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(writer.waitForFinished(60000));
    QCOMPARE(writer.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(writer.readAllStandardError()), QString());
    // The writer was not stopped: all its rows are in the file.
    QCOMPARE(scalar(db_, "select count(*) from 表1"), QString::number(25 + 3000));
    // The copy is one consistent snapshot that passes the check.
    const int copied = scalar(dest, "select count(*) from 表1").toInt();
    QVERIFY2(copied > 100 && copied <= 25 + 3000, qPrintable(QString::number(copied)));
    if (writerStillWriting)
        QVERIFY(copied < 25 + 3000);
    QVERIFY(checkDatabaseFile(dest).ok());
    QVERIFY2(r.out.contains(QStringLiteral("表1 %1 行").arg(copied)), qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("%1 字节").arg(QFileInfo(dest).size())));
    QCOMPARE(modeOf(dest), 0660);
    // Beside the copy only its audit anchor: no log, no journal.
    QCOMPARE(QDir(tmp_->path()).entryList({"copy.mdb*"}, QDir::Files, QDir::Name),
             (QStringList{"copy.mdb", "copy.mdb.anchor"}));
    QVERIFY2(r.out.endsWith(QStringLiteral("审计锚点写在 %1.anchor\n").arg(dest)), qPrintable(r.out));
}

// A disk that fills during the copy leaves no file that looks like a backup.
void TestBackup::failedBackupLeavesNothing()
{
    // Make the database larger than the small file system below.
    {
        Connection c = Connection::open(db_);
        QVERIFY(c.exec("BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<4000) "
                       "INSERT INTO xj(门诊号, 症状) SELECT 'big'||i, hex(randomblob(200)) FROM n; COMMIT;"));
    }
    const QString mnt = tmp_->path() + QStringLiteral("/small");
    QVERIFY(QDir().mkpath(mnt));
    if (::mount("tmpfs", QFile::encodeName(mnt).constData(), "tmpfs", 0, "size=256k") != 0)
        QSKIP("this machine cannot mount a small file system");
    const QString dest = mnt + QStringLiteral("/copy.mdb");
    const ToolRun r = runTool({"backup", "--db", db_, dest});
    const QStringList left = QDir(mnt).entryList(QDir::Files | QDir::NoDotAndDotDot);
    ::umount(QFile::encodeName(mnt).constData());
    QCOMPARE(r.code, 1);
    // The message in Chinese, and nothing of the engine's English.
    QVERIFY2(r.err.startsWith(QStringLiteral("chengheng-db: 备份失败，没有留下备份文件：")), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("磁盘已满")), qPrintable(r.err));
    QCOMPARE(r.err.count(u'\n'), 1);
    QCOMPARE(left, QStringList());
}

void TestBackup::restoreRefusedWhileHeld()
{
    const QString backup = tmp_->path() + QStringLiteral("/b.mdb");
    QVERIFY(backupDatabase(db_, backup).ok);
    {
        Connection c = Connection::open(db_);
        QVERIFY(c.exec("DELETE FROM xj"));
    }
    QProcess holder;
    startHolder(holder, db_);
    const ToolRun r = runTool({"restore", backup, "--db", db_});
    holder.closeWriteChannel();
    holder.waitForFinished();
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("正被其他程序打开：进程 %1（sqlite3）").arg(holder.processId()))
                 || r.err.contains(QStringLiteral("（sqlite3）")),
             qPrintable(r.err));
    QVERIFY(r.err.startsWith(QStringLiteral("chengheng-db: 没有恢复，数据库保持原样：")));
    QCOMPARE(scalar(db_, "select count(*) from xj"), QString("0"));
    QVERIFY(!QFileInfo::exists(db_ + ".before-restore"));
}

void TestBackup::restoreKeepsReplacedFile()
{
    const QString backup = tmp_->path() + QStringLiteral("/b.mdb");
    QVERIFY(backupDatabase(db_, backup).ok);
    {
        Connection c = Connection::open(db_);
        QVERIFY(c.exec("DELETE FROM xj WHERE rowid > 4"));
    }
    ToolRun r = runTool({"restore", backup, "--db", db_});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(r.out.contains(QStringLiteral("原来的数据库保留为 ") + db_ + ".before-restore"));
    QCOMPARE(scalar(db_, "select count(*) from xj"), QString("34"));
    QCOMPARE(scalar(db_, "pragma journal_mode"), QString("wal"));
    QCOMPARE(scalar(db_ + ".before-restore", "select count(*) from xj"), QString("4"));
    QCOMPARE(modeOf(db_), 0660);
    QVERIFY(!QFileInfo::exists(db_ + ".restore-part"));

    // A damaged backup is refused before anything changes.
    QFile f(backup);
    QVERIFY(f.open(QIODevice::ReadWrite));
    f.seek(4096);
    f.write(QByteArray(8192, '\xff'));
    f.close();
    r = runTool({"restore", backup, "--db", db_});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("没有通过检查，不能用来恢复")), qPrintable(r.err));
    QCOMPARE(scalar(db_, "select count(*) from xj"), QString("34"));
}

void TestBackup::check_data()
{
    QTest::addColumn<QString>("damage");   // SQL run on the file, or "pages" to overwrite pages
    QTest::addColumn<QString>("message");  // "" when the check passes
    QTest::newRow("sound") << ""
                           << "";
    QTest::newRow("damaged pages") << "pages"
                                   << "已损坏";
    QTest::newRow("doubled 门诊号") << "DROP INDEX xj_menzhenhao; INSERT INTO xj(门诊号) SELECT 门诊号 FROM xj LIMIT 1"
                                    << "中 门诊号 “";
    QTest::newRow("missing column") << "DROP TRIGGER audit_class_insert; DROP TRIGGER audit_class_update;"
                                       " DROP TRIGGER audit_class_delete; ALTER TABLE class DROP COLUMN 备注"
                                    << "表 class 缺少列：备注";
    QTest::newRow("missing table") << "DROP TABLE yc"
                                   << "缺少表 yc";
}

void TestBackup::check()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    QVERIFY(QDir().mkpath(backupFolder(db_)));
    const QString newest = backupFolder(db_) + QStringLiteral("/xs-2026-01-02.mdb");
    QVERIFY(backupDatabase(db_, newest).ok);
    if (damage == QLatin1String("pages")) {
        QFile f(db_);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(3 * 4096);
        f.write(QByteArray(4 * 4096, '\x5a'));
    } else if (!damage.isEmpty()) {
        Connection c = Connection::open(db_);
        QVERIFY2(c.exec(damage), qPrintable(c.lastError()));
    }
    const ToolRun r = runTool({"check", "--db", db_});
    if (message.isEmpty()) {
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.contains(QStringLiteral("检查通过")), qPrintable(r.out));
        return;
    }
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY2(r.err.contains(QStringLiteral("最新的备份：") + newest), qPrintable(r.err));
}

void TestBackup::configKeep()
{
    ToolRun r = runTool({"config", "--db", db_});
    QCOMPARE(r.out, QStringLiteral("backup.keep = 14\n"));
    r = runTool({"config", "backup.keep", "3", "--db", db_});
    QCOMPARE(r.code, 0);
    QCOMPARE(scalar(db_, "select value from settings where name='backup.keep'"), QString("3"));
    r = runTool({"config", "backup.keep", "0", "--db", db_});
    QCOMPARE(r.code, 2);
    QCOMPARE(scalar(db_, "select value from settings where name='backup.keep'"), QString("3"));
}

// The daily backup keeps the last N copies, each with the audit anchor taken
// from it; a copy pruned takes its anchor along.
void TestBackup::dailyBackupKeepsTheLastN()
{
    QVERIFY(runTool({"config", "backup.keep", "3", "--db", db_}).code == 0);
    QVERIFY(runTool({"user", "grant", "guest", "qx4", "--db", db_}).code == 0);
    const QString folder = backupFolder(db_);
    QVERIFY(QDir().mkpath(folder));
    for (const char *old : {"xs-2020-01-01.mdb", "xs-2020-01-02.mdb", "xs-2020-01-03.mdb", "notes.txt"})
        QVERIFY(QFile::copy(db_, folder + u'/' + QLatin1String(old)));
    QVERIFY(QFile::copy(db_, folder + QStringLiteral("/xs-2020-01-01.mdb.anchor")));
    resetDailyBackupForTesting();
    QStringList told;
    startDailyBackup(db_, [&](const QString &why) { told << why; });
    waitForDailyBackup();
    // A change after the copy belongs to the next day's anchor.
    QVERIFY(runTool({"user", "grant", "guest", "qx3", "--db", db_}).code == 0);
    QCOMPARE(told, QStringList());
    const QString today = QStringLiteral("xs-%1.mdb").arg(QDate::currentDate().toString("yyyy-MM-dd"));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             (QStringList{"notes.txt", "xs-2020-01-02.mdb", "xs-2020-01-03.mdb", today, today + ".anchor"}));
    const QString copy = folder + u'/' + today;
    QCOMPARE(modeOf(copy), 0660);
    QVERIFY(checkDatabaseFile(copy).ok());
    QCOMPARE(modeOf(copy + ".anchor"), 0640);
    QString why;
    const std::optional<AuditAnchor> anchor = readAuditAnchor(copy + ".anchor", &why);
    QVERIFY2(anchor, qPrintable(why));
    const QString newest = scalar(copy, "select 序号||' '||校验值 from audit order by 序号 desc limit 1");
    QVERIFY(!newest.isEmpty());
    QCOMPARE(QString::number(anchor->number) + u' ' + anchor->hash, newest);
    QCOMPARE(anchor->database, copy);
    const ToolRun r = runTool({"audit", "verify", "--anchor", copy + ".anchor", "--db", db_});
    QVERIFY2(r.code == 0, qPrintable(r.err));
}

void TestBackup::dailyBackupFailureToldOnce()
{
    // A file where the folder should be: the backup cannot be made.
    QFile blocker(backupFolder(db_));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    resetDailyBackupForTesting();
    QStringList told;
    for (int signIn = 0; signIn < 3; ++signIn) {
        startDailyBackup(db_, [&](const QString &why) { told << why; });
        waitForDailyBackup();
    }
    QCOMPARE(told.size(), 1);
    QCOMPARE(told[0], QStringLiteral("无法建立文件夹 %1：同名的文件已存在").arg(backupFolder(db_)));
}

// An anchor that cannot be written is told as a backup fault is; the
// backup itself stays.
void TestBackup::dailyBackupKeptWhenAnchorFails()
{
    const QString copy =
        backupFolder(db_) + QStringLiteral("/xs-%1.mdb").arg(QDate::currentDate().toString("yyyy-MM-dd"));
    QVERIFY(QDir().mkpath(copy + ".anchor"));
    resetDailyBackupForTesting();
    QStringList told;
    startDailyBackup(db_, [&](const QString &why) { told << why; });
    waitForDailyBackup();
    QCOMPARE(told, QStringList{
                       QStringLiteral("备份 %1 已做好，但它的审计锚点没有写成：无法写入 %1.anchor：同名的文件夹已存在")
                           .arg(copy)});
    QVERIFY(checkDatabaseFile(copy).ok());
    QCOMPARE(QDir(backupFolder(db_)).entryList(QDir::Files), QStringList{QFileInfo(copy).fileName()});
}

// On a disk that would be left with less than the reserve, the daily backup
// copies nothing and says so once; the records keep the space.
void TestBackup::dailyBackupLeavesRoom()
{
    const QString mnt = tmp_->path() + QStringLiteral("/small");
    QVERIFY(QDir().mkpath(mnt));
    if (::mount("tmpfs", QFile::encodeName(mnt).constData(), "tmpfs", 0, "size=8m") != 0)
        QSKIP("this machine cannot mount a small file system");
    const QString db = mnt + QStringLiteral("/xs.mdb");
    const bool copied = QFile::copy(db_, db);
    resetDailyBackupForTesting();
    QStringList told;
    for (int signIn = 0; signIn < 2; ++signIn) {
        startDailyBackup(db, [&](const QString &why) { told << why; });
        waitForDailyBackup();
    }
    const QStringList left = QDir(backupFolder(db)).entryList(QDir::Files);
    ::umount2(QFile::encodeName(mnt).constData(), MNT_DETACH);
    QVERIFY(copied);
    QCOMPARE(left, QStringList());
    QCOMPARE(told.size(), 1);
    QVERIFY2(told[0].startsWith(QStringLiteral("磁盘空间不足，没有复制：%1 所在的磁盘只剩 ").arg(backupFolder(db))),
             qPrintable(told[0]));
    QVERIFY2(told[0].endsWith(QStringLiteral("另要给病例记录留出 64.0 MB")), qPrintable(told[0]));
}

// The installed program's xs.mdb is a link into the data folder: the daily
// backup, check and restore work on the file it leads to, and the link stays.
void TestBackup::throughTheLink()
{
    const QString app = tmp_->path() + QStringLiteral("/app");
    QVERIFY(QDir().mkpath(app));
    const QString link = app + QStringLiteral("/xs.mdb");
    QVERIFY(QFile::link(QStringLiteral("../xs.mdb"), link));
    QCOMPARE(backupFolder(link), tmp_->path() + QStringLiteral("/backups"));

    resetDailyBackupForTesting();
    QStringList told;
    startDailyBackup(link, [&](const QString &why) { told << why; });
    waitForDailyBackup();
    QCOMPARE(told, QStringList());
    const QString daily =
        tmp_->path() + QStringLiteral("/backups/xs-%1.mdb").arg(QDate::currentDate().toString("yyyy-MM-dd"));
    QVERIFY(QFileInfo(daily).isFile());
    QVERIFY(!QFileInfo::exists(app + QStringLiteral("/backups")));

    // The file's group and mode as an administrator set them; the restore by
    // another account (root) keeps them.
    QVERIFY(::chown(QFile::encodeName(db_).constData(), uid_t(-1), getegid()) == 0);
    QVERIFY(::chmod(QFile::encodeName(db_).constData(), 0640) == 0);
    struct stat before = {};
    QVERIFY(::stat(QFile::encodeName(db_).constData(), &before) == 0);
    {
        Connection c = Connection::open(link);
        QVERIFY(c.exec("DELETE FROM xj"));
    }
    ToolRun r = runTool({"restore", daily, "--db", link});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), db_);
    QVERIFY(QFileInfo(db_ + QStringLiteral(".before-restore")).isFile());
    QVERIFY(!QFileInfo::exists(link + QStringLiteral(".before-restore")));
    struct stat after = {};
    QVERIFY(::stat(QFile::encodeName(db_).constData(), &after) == 0);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(modeOf(db_), 0640);
    QCOMPARE(scalar(link, "select count(*) from xj"), QString("34"));

    // check names the newest backup beside the real file.
    {
        Connection c = Connection::open(link);
        QVERIFY(c.exec("DROP TABLE yc"));
    }
    r = runTool({"check", "--db", link});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("\n最新的备份：%1（").arg(daily)), qPrintable(r.err));
}

void TestBackup::checkOfMissingFile_data()
{
    QTest::addColumn<QString>("db");       // what --db names; LINK: a link to a file that is gone
    QTest::addColumn<QString>("missing");  // the file check says is missing
    QTest::addColumn<QString>("backups");  // the line about backups
    QTest::newRow("link to a file that is gone") << "LINK"
                                                 << "TMP/gone.mdb"
                                                 << "没有备份：备份文件夹 TMP/backups 不存在。";
    QTest::newRow("file in the top folder") << "/chengheng-nothing-here.mdb"
                                            << "/chengheng-nothing-here.mdb"
                                            << "没有备份：备份文件夹 /backups 不存在。";
}

// A file that is not there: check names the real file, the backup folder it
// looked in, and nothing of the engine's.
void TestBackup::checkOfMissingFile()
{
    QFETCH(QString, db);
    QFETCH(QString, missing);
    QFETCH(QString, backups);
    const QString tmp = tmp_->path();
    if (db == QLatin1String("LINK")) {
        QVERIFY(QDir().mkpath(tmp + QStringLiteral("/app")));
        db = tmp + QStringLiteral("/app/xs.mdb");
        QVERIFY(QFile::link(tmp + QStringLiteral("/gone.mdb"), db));
    }
    QVERIFY(!QFileInfo::exists(QStringLiteral("/backups")));
    const ToolRun r = runTool({"check", "--db", db});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err, QStringLiteral("chengheng-db: %1 没有通过检查：\n  文件 %2 不存在\n%3\n")
                        .arg(db, QString(missing).replace(QLatin1String("TMP"), tmp),
                             QString(backups).replace(QLatin1String("TMP"), tmp)));
}

// An account outside the group the data folder belongs to: told the real
// file behind the link and what to do, in Chinese only.
void TestBackup::outsiderToldWhy()
{
    if (geteuid() != 0)
        QSKIP("running the tool as another account needs root");
    const QString tmp = tmp_->path();
    const QString locked = tmp + QStringLiteral("/data");
    QVERIFY(QDir().mkpath(locked));
    QVERIFY(QFile::rename(db_, locked + QStringLiteral("/xs.mdb")));
    QVERIFY(::chmod(QFile::encodeName(tmp).constData(), 0755) == 0);
    QVERIFY(::chown(QFile::encodeName(locked).constData(), 0, 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(locked).constData(), 02770) == 0);
    const QString link = tmp + QStringLiteral("/xs.mdb");
    QVERIFY(QFile::link(locked + QStringLiteral("/xs.mdb"), link));
    const ToolRun r = runTool(
        {"--reuid=65534", "--regid=65534", "--clear-groups", xs::test::toolPath(), "user", "list", "--db", link}, {},
        QStringLiteral("setpriv"));
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err,
             QStringLiteral("chengheng-db: 无法打开数据库文件 %1/xs.mdb：没有访问权限：本账户 nobody 不在组 root "
                            "中（%1 只对这个组开放）。请管理员运行 adduser nobody root，然后本账户注销并重新登录\n")
                 .arg(locked));
}

QTEST_MAIN(TestBackup)
#include "tst_backup.moc"
