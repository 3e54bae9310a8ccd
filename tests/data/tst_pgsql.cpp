// The server engine against a real PostgreSQL server (a throwaway cluster that
// CTest starts; XS_PG holds its connection string): statements in the
// windows' dialect translated and run, letter case ignored through citext,
// a 门诊号 stored twice, a connection cut by the server,
// and a server that cannot be reached, each told in Chinese; the connection
// encrypted (the cluster takes TCP through TLS only).
#include "data/pg/pgsql.h"
#include "data/sqltext.h"

#include <QTest>
#include <optional>

using namespace xs;

class TestPgSql : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void translate_data();
    void translate();
    void translatedStatementsRun_data();
    void translatedStatementsRun();
    void duplicateNumberTold();
    void lostConnectionToldThenReconnected();
    void unreachableServer();
    void connectionEncrypted();

private:
    QString conninfo_;
};

void TestPgSql::initTestCase()
{
    conninfo_ = qEnvironmentVariable("XS_PG");
    QVERIFY2(!conninfo_.isEmpty(), "XS_PG is not set: run this test through ctest, which starts the server");
    PgConnection c(conninfo_);
    QVERIFY2(c.run(QStringLiteral("CREATE EXTENSION IF NOT EXISTS citext;"
                                  "DROP TABLE IF EXISTS xj;"
                                  "CREATE TABLE xj(门诊号 citext PRIMARY KEY, 姓名 citext, 科室 citext, 入诊时间 date);"
                                  "INSERT INTO xj VALUES('A01','O''Brien','内科','2024-03-01'),"
                                  "('a02','Li','Neike','2020-01-01'),('B03','王','外科',NULL);")),
             qPrintable(c.lastError()));
}

void TestPgSql::translate_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("server");  // "<null>": refused
    QTest::newRow("date") << "select * from xj where 入诊时间>=#2020-1-1#"
                          << "select * from xj where 入诊时间>=DATE '2020-01-01'";
    QTest::newRow("date beside a text") << "select #2020-1-1#'x'"
                                        << "select DATE '2020-01-01' 'x'";
    QTest::newRow("delete star") << "delete * from yc"
                                 << "delete from yc";
    QTest::newRow("bare name") << " xj "
                               << "select * from xj";
    QTest::newRow("bracketed name") << "select [门诊 号] from xj"
                                    << "select \"门诊 号\" from xj";
    QTest::newRow("double-quoted text") << "select * from xj where 姓名=\"O'Brien\""
                                        << "select * from xj where 姓名='O''Brien'";
    QTest::newRow("doubled quote kept") << "select 'it''s'"
                                        << "select 'it''s'";
    QTest::newRow("hash inside a text") << "select '#1#'"
                                        << "select '#1#'";
    QTest::newRow("unterminated") << "select 'abc"
                                  << "<null>";
    QTest::newRow("unreadable date") << "select #2020-13-45#"
                                     << "<null>";
}

void TestPgSql::translate()
{
    QFETCH(QString, sql);
    QFETCH(QString, server);
    const auto out = translateSql(sql, SqlDialect::Server);
    if (server == QLatin1String("<null>")) {
        QVERIFY(!out);
        return;
    }
    QVERIFY(out);
    QCOMPARE(*out, server);
}

void TestPgSql::translatedStatementsRun_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("numbers");  // 门诊号 of the rows, in order
    QTest::newRow("equal ignores case") << "select 门诊号 from xj where 科室='NEIKE'" << QStringList{"a02"};
    QTest::newRow("like ignores case") << "select 门诊号 from xj where 门诊号 like 'a%' order by 门诊号"
                                       << QStringList{"A01", "a02"};
    QTest::newRow("date literal") << "select 门诊号 from xj where 入诊时间>=#2021-1-1#" << QStringList{"A01"};
    QTest::newRow("quote in a text") << "select 门诊号 from xj where 姓名=\"o'brien\"" << QStringList{"A01"};
    QTest::newRow("bare name") << "xj" << QStringList{"A01", "a02", "B03"};
}

void TestPgSql::translatedStatementsRun()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, numbers);
    PgConnection c(conninfo_);
    const auto server = translateSql(sql, SqlDialect::Server);
    QVERIFY(server);
    const PgResult r = c.exec(*server + (sql == QLatin1String("xj") ? QStringLiteral(" order by 门诊号") : QString()));
    QVERIFY2(r.ok(), qPrintable(r.error()));
    QStringList got;
    for (int i = 0; i < r.rows(); ++i)
        got << r.text(i, 0);
    QCOMPARE(got, numbers);
}

// A 门诊号 another room stored already, typed in other letter case: the key
// ignores case, and the room is told it exists, in Chinese.
void TestPgSql::duplicateNumberTold()
{
    PgConnection a(conninfo_), b(conninfo_);
    const QString insert = QStringLiteral("INSERT INTO xj(门诊号, 姓名) VALUES($1, $2)");
    QVERIFY(a.exec(insert, {QStringLiteral("R77"), QStringLiteral("甲")}).ok());
    const PgResult second = b.exec(insert, {QStringLiteral("r77"), QStringLiteral("乙")});
    QVERIFY(!second.ok());
    QCOMPARE(second.fault(), DbFault::Unique);
    QVERIFY2(second.error().startsWith(QStringLiteral("已经存在相同编号的记录，不能重复保存。")),
             qPrintable(second.error()));
    // The connection goes on after the refusal.
    QVERIFY(b.exec(QStringLiteral("select 1")).ok());
    PgConnection c(conninfo_);
    const PgResult count = c.exec(QStringLiteral("select count(*), min(姓名) from xj where 门诊号='R77'"));
    QCOMPARE(count.text(0, 0), QStringLiteral("1"));
    QCOMPARE(count.text(0, 1), QStringLiteral("甲"));
    QVERIFY(c.run(QStringLiteral("DELETE FROM xj WHERE 门诊号='R77'")));
}

// The server ends the connection (as a restart does): the statement that met
// it is told in Chinese, and the next one connects again by itself.
void TestPgSql::lostConnectionToldThenReconnected()
{
    PgConnection room(conninfo_);
    const PgResult pid = room.exec(QStringLiteral("select pg_backend_pid()"));
    QVERIFY(pid.ok());
    PgConnection admin(conninfo_);
    QVERIFY(admin.exec(QStringLiteral("select pg_terminate_backend($1::int, 10000)"), {pid.text(0, 0)}).ok());
    QTest::qWait(100);
    const PgResult lost = room.exec(QStringLiteral("select count(*) from xj"));
    QVERIFY(!lost.ok());
    QCOMPARE(lost.fault(), DbFault::Lost);
    QVERIFY2(lost.error().startsWith(QStringLiteral("与数据库服务器的连接中断，刚才的操作没有完成。")),
             qPrintable(lost.error()));
    const PgResult again = room.exec(QStringLiteral("select count(*) from xj"));
    QVERIFY2(again.ok(), qPrintable(again.error()));
    QVERIFY(again.text(0, 0).toInt() >= 3);
}

void TestPgSql::unreachableServer()
{
    PgConnection c(QStringLiteral("host=/nonexistent/socket dbname=chengheng connect_timeout=2"));
    const PgResult r = c.exec(QStringLiteral("select 1"));
    QVERIFY(!r.ok());
    QCOMPARE(r.fault(), DbFault::Gone);
    QCOMPARE(r.error(),
             QStringLiteral("无法连接数据库服务器：本机（套接字目录 /nonexistent/socket）拒绝了连接（那里没有"
                            "数据库服务器在运行，或地址、端口不对）。请检查连接串中的服务器地址和端口（host、"
                            "port），以及服务器是否在运行。"));
}

void TestPgSql::connectionEncrypted()
{
    PgConnection c(conninfo_);
    const PgResult r = c.exec(QStringLiteral("select ssl, coalesce(version, '') from pg_stat_ssl"
                                             " where pid = pg_backend_pid()"));
    QVERIFY2(r.ok(), qPrintable(r.error()));
    QCOMPARE(r.text(0, 0), QStringLiteral("t"));
    QVERIFY2(r.text(0, 1).startsWith(QStringLiteral("TLSv1.")), qPrintable(r.text(0, 1)));
}

QTEST_GUILESS_MAIN(TestPgSql)
#include "tst_pgsql.moc"
