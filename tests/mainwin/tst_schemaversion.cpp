// The version of the database's structure: stored when a database is made,
// a database of an earlier program (none stored) brought up to this one, the
// file at the program's start and the server by chengheng-db upgrade only,
// and a database of a newer version refused, naming both versions, and left
// as it is.
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"
#include "ui/application.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

namespace {

// The version the database stores (1 when none).
int storedVersion(const QString &file, const QString &server)
{
    if (server.isEmpty()) {
        StmtHandle s = Connection::open(file).prepare(QStringLiteral("PRAGMA user_version"));
        return s && sqlite3_step(s.get()) == SQLITE_ROW ? std::max(1, sqlite3_column_int(s.get(), 0)) : 0;
    }
    PgConnection c(server);
    return serverSchemaVersion(c, nullptr);
}

// Runs an administrator's statement: on the file as it is, on the server as its superuser.
void administer(const TestDb &db, const QString &fileSql, const QString &serverSql)
{
    if (!serverEngine())
        return db.exec(fileSql);
    PgConnection c(db.server());
    QVERIFY2(c.run(serverSql), qPrintable(c.lastError()));
}

// Stores `version` (0: none, as an earlier program left it). The file is put
// in its older journal mode, which bringing it up changes and refusing it does not.
void storeVersion(const TestDb &db, int version)
{
    const QString mark = QStringLiteral("'澄衡数据库结构版本 %1'").arg(version);
    administer(db, QStringLiteral("PRAGMA journal_mode=DELETE;PRAGMA user_version=%1").arg(version),
               QStringLiteral("COMMENT ON SCHEMA chengheng IS %1").arg(version ? mark : QStringLiteral("NULL")));
}

// What the database is made of: its objects, the archive's kept count and
// the version (on the file, with every byte of it when `bytes`).
QString structure(const TestDb &db, bool bytes = false)
{
    const QString version = QStringLiteral(" v") + QString::number(storedVersion(db.path(), db.server()));
    if (!serverEngine()) {
        QFile f(db.path());
        const QString hash =
            bytes && f.open(QIODevice::ReadOnly)
                ? QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex())
                : QString();
        return db.rows(QStringLiteral("select type, name from sqlite_master where name not like 'sqlite!_%' escape '!'"
                                      " order by 1, 2"))
                   .join(u',')
               + db.scalar(QStringLiteral("select n from row_counts where tbl = 'xj'")) + version
               + db.scalar(QStringLiteral("PRAGMA journal_mode")) + hash;
    }
    PgConnection c(db.server());
    const PgResult r = c.exec(QStringLiteral(
        "select (select string_agg(k.relkind::text || k.relname, ',' order by k.relname) from pg_class k join "
        "pg_namespace n"
        " on n.oid = k.relnamespace where n.nspname = 'chengheng'), (select string_agg(t.tgname, ',' order by t.tgname)"
        " from pg_trigger t join pg_class k on k.oid = t.tgrelid join pg_namespace n on n.oid = k.relnamespace where"
        " n.nspname = 'chengheng' and not t.tgisinternal), (select sum(n) from chengheng.row_counts where tbl = "
        "'xj')"));
    return r.ok() ? r.text(0, 0) + r.text(0, 1) + r.text(0, 2) + version : r.error();
}

// The program's settings name the test's database (on the server, as room 1's account).
void configure(const TestDb &db)
{
    if (!serverEngine())
        return;
    QFile conf(db.dir() + QStringLiteral("/chengheng.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[server]\nconnection=\"" + roomConninfo(db.server()).toUtf8() + "\"\nroom=1\n");
}

}  // namespace

class TestSchemaVersion : public QObject {
    Q_OBJECT
private slots:
    void storedByInit();
    void broughtUpFromEarlier_data();
    void broughtUpFromEarlier();
    void newerRefused_data();
    void newerRefused();
};

void TestSchemaVersion::storedByInit()
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/new.mdb");
    const QString server = serverEngine() ? freshServerDatabase() : QString();
    const QStringList target = server.isEmpty() ? QStringList{file} : QStringList{QStringLiteral("--server"), server};
    const ToolRun r = runTool(QStringList{QStringLiteral("init")} + target
                                  + QStringList{QStringLiteral("--admin-name"), QStringLiteral("boss"),
                                                QStringLiteral("--admin-password-file"), QStringLiteral("-")},
                              "pw\n");
    const int version = r.code == 0 ? storedVersion(file, server) : -1;
    if (!server.isEmpty())
        dropServerDatabase(server);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(version, kSchemaVersion);
}

void TestSchemaVersion::broughtUpFromEarlier_data()
{
    // What an earlier program's database may lack besides the version.
    QTest::addColumn<QString>("fileSql");
    QTest::addColumn<QString>("serverSql");
    QTest::newRow("nothing else") << "select 1"
                                  << "select 1";
    QTest::newRow("the listings' indexes") << "drop index class_nianji_keshi; drop index xj_keshi_menzhenhao"
                                           << "drop index chengheng.class_nianji_keshi";
    QTest::newRow("the drug catalogue and the prescription lines")
        << "drop table drugs; drop table xjrx; drop table ycrx"
        << "drop table chengheng.drugs; drop table chengheng.xjrx; drop table room_1.ycrx";
    QTest::newRow("the kept counts")
        << "drop trigger row_counts_xj_insert; drop trigger row_counts_xj_delete; drop table row_counts"
        << "drop trigger row_counts_insert on chengheng.xj; drop trigger row_counts_delete on chengheng.xj;"
           " drop trigger row_counts_truncate on chengheng.xj; drop table chengheng.row_counts";
}

void TestSchemaVersion::broughtUpFromEarlier()
{
    QFETCH(QString, fileSql);
    QFETCH(QString, serverSql);
    TestDb db(All);
    configure(db);
    const QString current = structure(db);
    administer(db, fileSql, serverSql);
    storeVersion(db, 0);
    MsgRecorder rec;
    if (serverEngine()) {
        // The program makes no structure on the server: it asks for the upgrade and changes nothing.
        const QString earlier = structure(db);
        QVERIFY(!openDatabaseOrTell());
        QCOMPARE(rec.calls.size(), 1);
        QVERIFY2(rec.calls[0].text.contains(
                     QStringLiteral("服务器上的澄衡数据库是较早的版本（数据库结构版本 1），本程序需要版本 %1。"
                                    "请数据库管理员先用 chengheng-db upgrade --server 升级它。")
                         .arg(kSchemaVersion)),
                 qPrintable(rec.calls[0].text));
        QCOMPARE(structure(db), earlier);
        rec.calls.clear();
        const ToolRun r = runTool({QStringLiteral("upgrade"), QStringLiteral("--server"), db.server()});
        QVERIFY2(r.code == 0, qPrintable(r.err));
    }
    QVERIFY(openDatabaseOrTell());
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(structure(db), current);
}

void TestSchemaVersion::newerRefused_data()
{
    QTest::addColumn<bool>("tool");  // chengheng-db (on the server its upgrade), else the program's start
    QTest::newRow("the program") << false;
    QTest::newRow("chengheng-db") << true;
}

void TestSchemaVersion::newerRefused()
{
    QFETCH(bool, tool);
    TestDb db(All);
    configure(db);
    storeVersion(db, kSchemaVersion + 1);
    const QString before = structure(db, true);
    QString told;
    if (tool) {
        const ToolRun r =
            runTool(serverEngine() ? QStringList{QStringLiteral("upgrade"), QStringLiteral("--server"), db.server()}
                                   : QStringList{QStringLiteral("user"), QStringLiteral("list")} + db.toolDatabase());
        QVERIFY(r.code != 0);
        told = r.err;
    } else {
        MsgRecorder rec;
        QVERIFY(!openDatabaseOrTell());
        QCOMPARE(rec.calls.size(), 1);
        told = rec.lastText();
    }
    QVERIFY2(told.contains(QStringLiteral("版本 %1").arg(kSchemaVersion + 1))
                 && told.contains(QStringLiteral("版本 %1").arg(kSchemaVersion)),
             qPrintable(told));
    QCOMPARE(structure(db, true), before);
}

QTEST_MAIN(TestSchemaVersion)
#include "tst_schemaversion.moc"
