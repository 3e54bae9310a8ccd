// What only the shared server has (the cluster CTest starts): results read in
// batches through a cursor, the pool, each room's own work table, a broken
// connection that refuses the rest of its transaction while the next
// statement connects again, the trail's triggers, an older server upgraded.
// The statements and recordsets both engines share are tst_sql's, run on each.
#include "data/engines.h"
#include "data/globals.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/recordset.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QTest>

using namespace xs;
using namespace xs::test;

class TestServerDb : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void longResultInBatches();
    void readToItsEndHoldsNothing_data();
    void readToItsEndHoldsNothing();
    void actionsAndFaults();
    void roomsKeepTheirOwnWorkTable();
    void brokenConnectionInTransaction();
    void recordsetOutlivesItsTransaction();
    void changesWriteTheTrail_data();
    void changesWriteTheTrail();
    void olderServerIsUpgraded();

private:
    QString base_;
    QString db_;
};

static QStringList column(const QString &sql, int c = 0)
{
    QStringList out;
    for (RecordsetPtr rs = runsql(sql); rs && !rs->atEOF(); rs->MoveNext())
        out << (rs->field(c).isNull() ? QStringLiteral("<null>") : rs->text(c));
    return out;
}

void TestServerDb::initTestCase()
{
    base_ = qEnvironmentVariable("XS_PG");
    QVERIFY2(!base_.isEmpty(), "XS_PG is not set: run this test through ctest, which starts the server");
}

void TestServerDb::init()
{
    QString why;
    db_ = freshServerDatabase(&why);
    QVERIFY2(!db_.isEmpty(), qPrintable(why));
    PgConnection c(db_);
    QVERIFY2(createServerSchema(c, QStringLiteral("1"), &why), qPrintable(why));
    QVERIFY(c.run(
        QStringLiteral("insert into chengheng.class values('一组','内科','101','五年','临床','王医生',null),"
                       "('一组','Waike','102','五年','外科学','李医生','无');"
                       "insert into chengheng.xj(门诊号,姓名,科室,入诊时间) values('0001','甲','内科','2024-03-01'),"
                       "('0002','乙','waike',null);")));
    useServer(db_, QStringLiteral("1"));
}

void TestServerDb::cleanup()
{
    useFile();
    CurrentUser.clear();
}

void TestServerDb::longResultInBatches()
{
    QVERIFY(runaction(QStringLiteral("insert into xj(门诊号,姓名) select lpad(g::text,6,'0'),'病人'||g from "
                                     "generate_series(10,1309) g")));
    RecordsetPtr rs = runsql(QStringLiteral("select 门诊号 from xj where length(门诊号)=6 order by 门诊号"));
    QVERIFY(rs);
    int n = 0;
    QString last;
    for (; !rs->atEOF(); rs->MoveNext(), ++n)
        last = rs->text(0);
    QCOMPARE(n, 1300);
    QCOMPARE(last, QStringLiteral("001309"));
    rs->MoveFirst();
    QCOMPARE(rs->text(0), QStringLiteral("000010"));
}

void TestServerDb::readToItsEndHoldsNothing_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("fewer than the first batch") << 3;
    QTest::newRow("exactly the first batch") << 20;
    QTest::newRow("several batches") << 1100;
}

// A recordset read to its end holds no transaction while its caller works
// through the rows, and a row added through it is written on the connection
// that read it: the program uses one connection to the server for all of it.
void TestServerDb::readToItsEndHoldsNothing()
{
    QFETCH(int, rows);
    QVERIFY(
        runaction(QStringLiteral("insert into yc(门诊号) select 'Y' || g from generate_series(1, %1) g").arg(rows)));
    PgConnection watcher(db_);
    const auto states = [&] {
        const PgResult r = watcher.exec(QStringLiteral("select coalesce(state, '?') from pg_stat_activity where "
                                                       "datname = current_database() and pid <> pg_backend_pid()"));
        QStringList out;
        for (int i = 0; i < r.rows(); ++i)
            out << r.text(i, 0);
        return out;
    };
    RecordsetPtr rs = runsql(QStringLiteral("select * from yc"));
    QVERIFY(rs);
    int n = 0;
    for (; !rs->atEOF(); rs->MoveNext())
        ++n;
    QCOMPARE(n, rows);
    QCOMPARE(states(), QStringList{"idle"});
    QVERIFY(rs->AddNew());
    QVERIFY(rs->setField(QStringLiteral("门诊号"), QStringLiteral("Z1")));
    QVERIFY2(rs->Update(), qPrintable(rs->lastError()));
    QCOMPARE(states(), QStringList{"idle"});
    // Read again from its first row, the new one among them.
    rs->MoveFirst();
    n = 0;
    bool added = false;
    for (; !rs->atEOF(); rs->MoveNext(), ++n)
        added = added || rs->text(0) == QLatin1String("Z1");
    QCOMPARE(n, rows + 1);
    QVERIFY(added);
    rs->Close();
    QCOMPARE(states(), QStringList{"idle"});
}

void TestServerDb::actionsAndFaults()
{
    SqlOutcome o;
    runsql(QStringLiteral("update xj set 姓名='丙' where 科室='WAIKE'"), &o);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(o.changes, 1);
    runsql(QStringLiteral("delete * from xj where 门诊号='0002'"), &o);
    QVERIFY(o.ok);
    QCOMPARE(o.changes, 1);
    runsql(QStringLiteral("insert into xj(门诊号) values('0001')"), &o);
    QVERIFY(!o.ok);
    QCOMPARE(o.fault, DbFault::Unique);
    runsql(QStringLiteral("select * from nosuchtable"), &o);
    QVERIFY(!o.ok);
    QCOMPARE(o.fault, DbFault::Other);
    QVERIFY2(o.error.startsWith(QStringLiteral("数据库操作失败。")), qPrintable(o.error));
    useServer(QStringLiteral("host=/nonexistent dbname=x connect_timeout=2"), QStringLiteral("1"));
    QVERIFY(!runsql(QStringLiteral("select * from xj"), &o));
    QCOMPARE(o.fault, DbFault::Gone);
    QVERIFY2(o.error.startsWith(QStringLiteral("无法连接数据库服务器：本机（套接字目录 /nonexistent）拒绝了连接")),
             qPrintable(o.error));
}

void TestServerDb::roomsKeepTheirOwnWorkTable()
{
    QVERIFY(runaction(QStringLiteral("insert into yc(门诊号,姓名) values('Y1','一室')")));
    PgConnection c(db_);
    QString why;
    QVERIFY2(addServerRoom(c, QStringLiteral("诊室二"), std::nullopt, &why), qPrintable(why));
    useServer(db_, QStringLiteral("诊室二"));
    QCOMPARE(column(QStringLiteral("yc")), QStringList{});
    QVERIFY(runaction(QStringLiteral("insert into yc(门诊号,姓名) values('Y2','二室')")));
    SqlOutcome o;
    runsql(QStringLiteral("delete * from yc"), &o);
    QCOMPARE(o.changes, 1);
    // The shared archive is one for both rooms.
    QCOMPARE(column(QStringLiteral("select count(*) from xj")), QStringList{"2"});
    useServer(db_, QStringLiteral("1"));
    QCOMPARE(column(QStringLiteral("select 姓名 from yc")), QStringList{"一室"});
}

void TestServerDb::brokenConnectionInTransaction()
{
    {
        Transaction t;
        QVERIFY(runaction(QStringLiteral("insert into yc(门诊号) values('L1')")));
        const QString pid = column(QStringLiteral("select pg_backend_pid()")).value(0);
        PgConnection admin(db_);
        QVERIFY(admin.exec(QStringLiteral("select pg_terminate_backend($1::int, 10000)"), {pid}).ok());
        QTest::qWait(100);
        SqlOutcome o;
        runsql(QStringLiteral("insert into yc(门诊号) values('L2')"), &o);
        QVERIFY2(!o.ok, qPrintable(pid + column(QStringLiteral("select pg_backend_pid()")).value(0)));
        QCOMPARE(o.fault, DbFault::Lost);
        // Reconnected, the rest of the transaction is still refused.
        runsql(QStringLiteral("insert into yc(门诊号) values('L3')"), &o);
        QVERIFY(!o.ok);
        QVERIFY(!t.commit());
    }
    QCOMPARE(column(QStringLiteral("select count(*) from yc")), QStringList{"0"});
    QVERIFY(runaction(QStringLiteral("insert into yc(门诊号) values('L4')")));
}

// Statements of the program on the server leave the entries the file's trail
// would: who (the signed-in user of this process), what, which row, and the
// old and new values of the changed columns only; never a password.
void TestServerDb::changesWriteTheTrail_data()
{
    QTest::addColumn<QString>("setup");  // run first, by someone else
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("entries");  // 用户|操作|表名|记录|改动
    QTest::newRow("modify") << ""
                            << "update xj set 姓名='丙' where 门诊号='0001'"
                            << QStringList{R"(doctor|修改|xj|0001|[["姓名","甲","丙"]])"};
    QTest::newRow("nothing changed") << ""
                                     << "update xj set 姓名='甲' where 门诊号='0001'" << QStringList{};
    QTest::newRow("add") << ""
                         << "insert into yc(门诊号,姓名) values('Y1','张')"
                         << QStringList{R"(doctor|新增|yc|Y1|[["门诊号",null,"Y1"],["姓名",null,"张"]])"};
    QTest::newRow("delete")
        << ""
        << "delete * from xj where 门诊号='0002'"
        << QStringList{R"(doctor|删除|xj|0002|[["门诊号","0002",null],["姓名","乙",null],["科室","waike",null]])"};
    QTest::newRow("archive") << "insert into yc(门诊号,姓名) values('Y2','李')"
                             << "insert into xj select * from yc"
                             << QStringList{R"(doctor|归档|xj|Y2|[["门诊号",null,"Y2"],["姓名",null,"李"]])"};
    QTest::newRow("clear") << "insert into yc(门诊号) values('Y3')"
                           << "delete from yc" << QStringList{R"(doctor|清空|yc|Y3|[["门诊号","Y3",null]])"};
    QTest::newRow("one row of the work table")
        << "insert into yc(门诊号) values('Y4')"
        << "delete * from yc where 门诊号='Y4'" << QStringList{R"(doctor|删除|yc|Y4|[["门诊号","Y4",null]])"};
    QTest::newRow("department") << ""
                                << "update class set 诊室='201' where 科室='内科'"
                                << QStringList{R"(doctor|修改|class|内科|[["诊室","101","201"]])"};
    QTest::newRow("password hidden")
        << "insert into use(username,password) values('nurse','old')"
        << "update use set password='new', qx1='y' where username='nurse'"
        << QStringList{R"(doctor|修改|use|nurse|[["password","******","******"],["qx1",null,"y"]])"};
}

void TestServerDb::changesWriteTheTrail()
{
    QFETCH(QString, setup);
    QFETCH(QString, sql);
    QFETCH(QStringList, entries);
    CurrentUser = QStringLiteral("clerk");
    if (!setup.isEmpty())
        QVERIFY(runaction(setup));
    const QString before = column(QStringLiteral("select count(*) from chengheng.audit")).value(0);
    // The same pooled connection, another signed-in user.
    CurrentUser = QStringLiteral("doctor");
    QVERIFY(runaction(sql));
    QCOMPARE(column(QStringLiteral("select 用户||'|'||操作||'|'||表名||'|'||记录||'|'||改动 from chengheng.audit"
                                   " where 序号>")
                    + before + QStringLiteral(" order by 序号")),
             entries);
    if (!setup.isEmpty())
        QCOMPARE(column(QStringLiteral("select 用户 from chengheng.audit where 序号=") + before), QStringList{"clerk"});
    QCOMPARE(
        column(QStringLiteral("select count(*) from chengheng.audit where 改动 like '%old%' or 改动 like '%new%'")),
        QStringList{"0"});
    PgConnection c(db_);
    const AuditVerification v = verifyServerAuditTrail(c);
    QVERIFY2(v.ok, qPrintable(v.problem));
}

// A server an earlier version made (every object its connecting account's,
// no rooms, no record of changes of structure, its functions run with the
// caller's rights) is refused by the
// program until one command moves it to the roles; the trail stays whole.
void TestServerDb::olderServerIsUpgraded()
{
    PgConnection c(db_);
    QVERIFY2(
        c.run(QStringLiteral(
            "drop event trigger chengheng_ddl; drop event trigger chengheng_drop; drop table chengheng.rooms;"
            "alter function chengheng.audit_write() security invoker;"
            "DO $x$DECLARE o record; BEGIN"
            " FOR o IN SELECT k.oid::regclass AS n FROM pg_class k JOIN pg_namespace s ON s.oid = k.relnamespace"
            " WHERE s.nspname IN ('chengheng','room_1') AND k.relkind = 'r' LOOP"
            " EXECUTE format('ALTER TABLE %s OWNER TO %I', o.n, session_user); END LOOP;"
            " FOR o IN SELECT p.oid::regprocedure AS n FROM pg_proc p JOIN pg_namespace s ON s.oid = p.pronamespace"
            " WHERE s.nspname = 'chengheng' LOOP"
            " EXECUTE format('ALTER FUNCTION %s OWNER TO %I', o.n, session_user); END LOOP;"
            " EXECUTE format('ALTER SCHEMA chengheng OWNER TO %I', session_user);"
            " EXECUTE format('ALTER SCHEMA room_1 OWNER TO %I', session_user); END$x$")),
        qPrintable(c.lastError()));
    // The trail is the owner's: read as the administration reads it.
    const auto trail = [&](const QString &sql) {
        const PgResult r = c.exec(sql);
        QStringList out;
        for (int i = 0; i < r.rows(); ++i)
            out << r.text(i, 0);
        return out;
    };
    const QStringList before = trail(QStringLiteral("select 校验值 from chengheng.audit order by 序号"));
    QString why;
    QVERIFY(!openServerDatabase(roomConninfo(db_), QStringLiteral("1"), &why));
    QCOMPARE(why,
             QStringLiteral("服务器上的澄衡数据库由旧版本建立，还没有诊室账户。请数据库管理员运行 chengheng-db upgrade "
                            "--server …，再用 chengheng-db room add 为每个诊室设定账户密码。"));
    QStringList rooms;
    QVERIFY2(upgradeServerRoles(c, &rooms, &why), qPrintable(why));
    QCOMPARE(rooms, QStringList{QStringLiteral("1")});
    QVERIFY2(openServerDatabase(roomConninfo(db_), QStringLiteral("1"), &why), qPrintable(why));
    CurrentUser = QStringLiteral("doctor");
    QVERIFY(runaction(QStringLiteral("update xj set 姓名='丁' where 门诊号='0002'")));
    QVERIFY(runaction(QStringLiteral("insert into yc(门诊号) values('Y9')")));
    QCOMPARE(trail(QStringLiteral("select 用户||' '||角色||' '||操作||' '||表名 from chengheng.audit order by 序号"))
                 .mid(before.size()),
             (QStringList{"doctor chengheng_room_1 修改 xj", "doctor chengheng_room_1 新增 yc"}));
    QCOMPARE(trail(QStringLiteral("select 校验值 from chengheng.audit order by 序号")).mid(0, before.size()), before);
    const AuditVerification v = verifyServerAuditTrail(c);
    QVERIFY2(v.ok, qPrintable(v.problem));
}

// A recordset read inside a transaction and closed after it: its connection
// is not handed to the next statement while the recordset holds it, so
// closing it cannot disturb another transaction.
void TestServerDb::recordsetOutlivesItsTransaction()
{
    RecordsetPtr rs;
    {
        Transaction t;
        rs = runsql(QStringLiteral("select 门诊号 from xj order by 门诊号"));
        QVERIFY(rs && !rs->atEOF());
        QVERIFY(t.commit());
    }
    {
        Transaction t;
        QVERIFY(runaction(QStringLiteral("insert into yc(门诊号) values('Q1')")));
        rs.reset();
        QVERIFY(runaction(QStringLiteral("insert into yc(门诊号) values('Q2')")));
        QVERIFY(t.commit());
    }
    QCOMPARE(column(QStringLiteral("select 门诊号 from yc order by 门诊号")), (QStringList{"Q1", "Q2"}));
}

QTEST_GUILESS_MAIN(TestServerDb)
#include "tst_serverdb.moc"
