// chengheng-db against a real PostgreSQL server (the cluster CTest starts;
// XS_PG names its database): init --server makes the shared tables, the
// catalogue, the administrator and a room's work table, once; migrate copies
// a file's every table onto an empty server, checked by counts, and refuses a
// server that holds records; a server that cannot be reached is told in Chinese.
#include "data/passwords.h"
#include "data/pgsql.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QTest>

using namespace xs;
using namespace xs::test;

class TestServerTool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void initServer();
    void migrate();
    void refusals_data();
    void refusals();

private:
    QString base_;     // the cluster's own database
    QString fresh_;    // an empty database for the running test
};

static QString scalar(const QString &conninfo, const QString &sql)
{
    PgConnection c(conninfo);
    const PgResult r = c.exec(sql);
    return r.ok() && r.rows() ? r.text(0, 0) : QStringLiteral("<%1>").arg(r.error());
}

void TestServerTool::initTestCase()
{
    base_ = qEnvironmentVariable("XS_PG");
    QVERIFY2(!base_.isEmpty(), "XS_PG is not set: run this test through ctest, which starts the server");
}

void TestServerTool::init()
{
    QString why;
    fresh_ = freshServerDatabase(&why);
    QVERIFY2(!fresh_.isEmpty(), qPrintable(why));
}

void TestServerTool::initServer()
{
    const ToolRun r = runTool({"init", "--server", fresh_, "--room", "诊室一", "--admin-name", "boss",
                               "--admin-password", " Pw1 "});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out.trimmed(), QStringLiteral("已在服务器上建立澄衡数据库（诊室 诊室一），超级管理员 boss"));
    QCOMPARE(scalar(fresh_, "select username||'|'||admin from chengheng.use"), QStringLiteral("boss|y"));
    const QString stored = scalar(fresh_, "select password from chengheng.use");
    QVERIFY2(isPasswordHash(stored), qPrintable(stored));
    QVERIFY(passwordMatches(stored, false, QStringLiteral("pw1")));
    QVERIFY(scalar(fresh_, "select count(*) from chengheng.表1").toInt() > 0);
    QCOMPARE(scalar(fresh_, "select count(*) from \"room_诊室一\".yc"), QStringLiteral("0"));
    // Keys ignore letter case on the server as in the file.
    PgConnection c(fresh_);
    QVERIFY(c.exec("insert into chengheng.xj(门诊号) values('A1')").ok());
    QCOMPARE(c.exec("insert into chengheng.xj(门诊号) values('a1')").fault(), DbFault::Unique);
}

void TestServerTool::migrate()
{
    TestDb db(All);
    db.exec(QStringLiteral("insert into yc(门诊号,姓名,出生年月) values('Y1','丙','')"));
    const int records = db.count(QStringLiteral("xj"));
    QVERIFY(records > 0);
    const ToolRun r = runTool({"migrate", "--from", db.path(), "--to", fresh_, "--room", "2"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains(QStringLiteral("xj：%1 行").arg(records)), qPrintable(r.out));
    for (const QString &t : {QStringLiteral("use"), QStringLiteral("class"), QStringLiteral("xj"), QStringLiteral("表1")})
        QCOMPARE(scalar(fresh_, "select count(*) from chengheng." + t), QString::number(db.count(t)));
    // An empty date of the file is no date on the server.
    QCOMPARE(scalar(fresh_, "select 姓名||'|'||coalesce(出生年月::text,'null') from room_2.yc"), QStringLiteral("丙|null"));
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.xj x where not exists (select 1 from chengheng.xj y "
                            "where y.门诊号=x.门诊号 and y.姓名 is not distinct from x.姓名)"),
             QStringLiteral("0"));

    // A second migration would mix two archives: refused, nothing changes.
    const ToolRun again = runTool({"migrate", "--from", db.path(), "--to", fresh_});
    QCOMPARE(again.code, 1);
    QVERIFY2(again.err.contains(QStringLiteral("服务器上的澄衡数据库已有记录，migrate 不覆盖已有的记录")), qPrintable(again.err));
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.xj"), QString::number(records));
}

void TestServerTool::refusals_data()
{
    QTest::addColumn<QStringList>("args");  // FRESH: the test's database; FIRST: init it first
    QTest::addColumn<QString>("message");
    QTest::newRow("init twice") << QStringList{"FIRST", "init", "--server", "FRESH", "--admin-name", "a",
                                               "--admin-password", "b"}
                                << "服务器上已经有澄衡数据库（模式 chengheng），init 不改动已有的数据库";
    QTest::newRow("no server") << QStringList{"init", "--server", "host=/nonexistent dbname=x", "--admin-name", "a",
                                              "--admin-password", "b"}
                               << "无法连接数据库服务器。请检查配置文件中的服务器设置、网络和服务器是否在运行。";
    QTest::newRow("migrate without target") << QStringList{"migrate", "--from", "x.mdb"}
                                            << "migrate 需要 --from 数据库文件 和 --to 服务器连接串";
}

void TestServerTool::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    if (args.first() == QLatin1String("FIRST")) {
        args.removeFirst();
        QCOMPARE(runTool({"init", "--server", fresh_, "--admin-name", "x", "--admin-password", "y"}).code, 0);
    }
    args.replaceInStrings(QStringLiteral("FRESH"), fresh_);
    const ToolRun r = runTool(args);
    QVERIFY(r.code != 0);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TestServerTool)
#include "tst_servertool.moc"
