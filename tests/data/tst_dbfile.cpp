// The database file itself: a file that is not a 澄衡 database is refused at
// start-up before a byte of it changes; our files carry the mark, and an older
// unmarked file with the system's tables is accepted.
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

class TestDbFile : public QObject {
    Q_OBJECT
private slots:
    void foreignFileRefusedUntouched_data();
    void foreignFileRefusedUntouched();
    void ownFilesAccepted();
};

static QByteArray checksum(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

static void makeSqlite(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

void TestDbFile::foreignFileRefusedUntouched_data()
{
    QTest::addColumn<QByteArray>("sql");  // "<empty>" for a 0-byte file
    QTest::newRow("0-byte file") << QByteArray("<empty>");
    QTest::newRow("browser history") << QByteArray("CREATE TABLE moz_places(id INTEGER, url TEXT);"
                                                   "INSERT INTO moz_places VALUES(1,'x');");
    QTest::newRow("same names, other columns")
        << QByteArray("CREATE TABLE use(a);CREATE TABLE class(b);CREATE TABLE xj(c);CREATE TABLE yc(d);"
                      "CREATE TABLE 表1(e);");
    QTest::newRow("another program's mark") << QByteArray("PRAGMA application_id=1234;CREATE TABLE t(a);");
}

void TestDbFile::foreignFileRefusedUntouched()
{
    QFETCH(QByteArray, sql);
    QTemporaryDir dir;
    const QString path = dir.path() + "/xs.mdb";
    if (sql == "<empty>") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else {
        makeSqlite(path, sql.constData());
    }
    const QByteArray before = checksum(path);
    const qint64 size = QFileInfo(path).size();
    bool refused = false;
    try {
        checkOurs(path);
    } catch (const DbError &e) {
        refused = true;
        QCOMPARE(e.fault(), DbFault::NotOurs);
        QVERIFY2(e.message().contains(QStringLiteral("不是澄衡数据库")), qPrintable(e.message()));
    }
    QVERIFY(refused);
    QCOMPARE(checksum(path), before);
    QCOMPARE(QFileInfo(path).size(), size);
    QVERIFY(!QFile::exists(path + "-wal"));
}

void TestDbFile::ownFilesAccepted()
{
    TestDb db;
    QCOMPARE(db.scalar("PRAGMA application_id").toInt(), kApplicationId);
    checkOurs(db.path());
    // An older file: same tables, no mark, not yet in WAL mode.
    db.exec("PRAGMA application_id=0");
    db.exec("PRAGMA journal_mode=DELETE");
    checkOurs(db.path());
    QCOMPARE(migrateFile(Connection::open(db.path()), nullptr), SchemaOutcome::Current);
    QCOMPARE(db.scalar("PRAGMA journal_mode"), QStringLiteral("wal"));
}

QTEST_GUILESS_MAIN(TestDbFile)
#include "tst_dbfile.moc"
