// The statements the browsers run for their node listings: the same rows in
// the same order as the department asked of the archive, and a plan that
// reads through indexes.
#include "cases/Form3.h"
#include "data/pager.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "dept/Formclass2.h"
#include "testenv.h"

#include <QRegularExpression>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

namespace {

// Groups and departments with letter-case variants, NULLs, a department
// without records, records without a department and records naming a group.
void seed(const TestDb &db)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                           "insert into class values('一组','ENT','102','五年','耳鼻喉','李医生','无');"
                           "insert into class values('Grp','儿科','201','四年','儿科学','赵医生','无');"
                           "insert into class values('内科','眼科','301','三年','眼科学','钱医生','无');"
                           "insert into class values('三组','牙科','401','三年','口腔','孙医生','无');"
                           "insert into class values(NULL,'无组','501',NULL,NULL,NULL,NULL);"
                           "insert into class values('grp',NULL,'601',NULL,NULL,NULL,NULL);"
                           "insert into xj(门诊号,姓名,科室) values('0001','甲','内科');"
                           "insert into xj(门诊号,姓名,科室) values('0002','乙','ent');"
                           "insert into xj(门诊号,姓名,科室) values('0003','丙','Ent');"
                           "insert into xj(门诊号,姓名,科室) values('0004','丁','儿科');"
                           "insert into xj(门诊号,姓名,科室) values('0005','戊','眼科');"
                           "insert into xj(门诊号,姓名,科室) values(NULL,'己','内科');"
                           "insert into xj(门诊号,姓名,科室) values('0007','庚','骨科');"
                           "insert into xj(门诊号,姓名,科室) values('0008','辛',NULL);"
                           "insert into xj(门诊号,姓名,科室) values('0009','壬','一组');"
                           "insert into xj(门诊号,姓名,科室) values('0010','癸','无组');"
                           "insert into xj(门诊号,姓名,科室) values('0011','子','GRP');"));
}

QString nodeStatement(const BrowserParams &p, const QString &t)
{
    return p.nodeHead + t + p.nodeMiddle + t + p.nodeTail;
}

// The case browser's node listing with its department asked of the archive
// (xj.科室) rather than of class.
QString askingArchive(const QString &listing)
{
    return QString(listing).replace(QStringLiteral("where class.科室='"), QStringLiteral("where xj.科室='"));
}

// The file as the program finds it at its start.
void start(const TestDb &db) { QCOMPARE(migrateFile(Connection::open(db.path()), nullptr), SchemaOutcome::Current); }

}  // namespace

class TestListing : public QObject {
    Q_OBJECT
private slots:
    void sameRowsSameOrder_data();
    void sameRowsSameOrder();
    void plansUseIndexes_data();
    void plansUseIndexes();
    void olderFileGetsIndexes();
    void keptCountFollowsChanges_data();
    void keptCountFollowsChanges();
};

void TestListing::sameRowsSameOrder_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<int>("rows");
    QTest::newRow("group 一组") << "一组" << 4;                 // 内科 twice, ENT twice; 0009 names a group only
    QTest::newRow("group and department 内科") << "内科" << 3;  // 内科's two records and 眼科's
    QTest::newRow("department in other case") << "eNt" << 2;
    QTest::newRow("group in two cases") << "GRP" << 1;  // 儿科; the class row without 科室 joins nothing
    QTest::newRow("department without records") << "牙科" << 0;
    QTest::newRow("records without department") << "骨科" << 0;
    QTest::newRow("department of a group-less class row") << "无组" << 1;
    QTest::newRow("blank around text") << " 内科" << 0;
}

void TestListing::sameRowsSameOrder()
{
    QFETCH(QString, node);
    QFETCH(int, rows);
    TestDb db(Empty);
    seed(db);
    Form3 browser;
    const QString run = nodeStatement(browser.params(), node);
    const QString archive = askingArchive(run);
    QVERIFY(run != archive);
    const QStringList expected = db.rows(archive);
    QCOMPARE(expected.size(), rows);
    QCOMPARE(db.rows(run), expected);
}

void TestListing::plansUseIndexes_data()
{
    QTest::addColumn<int>("browser");  // 0 case browser, 1 department browser
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("table");
    QTest::newRow("cases, group node: xj") << 0 << "一组"
                                           << "xj";
    QTest::newRow("cases, group node: class") << 0 << "一组"
                                              << "class";
    QTest::newRow("cases, department node: xj") << 0 << "内科"
                                                << "xj";
    QTest::newRow("cases, department node: class") << 0 << "内科"
                                                   << "class";
    QTest::newRow("departments, group node") << 1 << "一组"
                                             << "class";
    QTest::newRow("departments, department node") << 1 << "内科"
                                                  << "class";
}

void TestListing::plansUseIndexes()
{
    QFETCH(int, browser);
    QFETCH(QString, node);
    QFETCH(QString, table);
    TestDb db(Empty);
    seed(db);
    Form3 cases;
    Formclass2 depts;
    const BrowserParams &p = browser == 0 ? cases.params() : depts.params();
    const QString run = nodeStatement(p, node);
    const QStringList lines = queryPlan(db.path(), run);
    QVERIFY2(!planScans(lines, table), qPrintable(lines.join(QLatin1String(" / "))));
    if (browser == 0)  // asked of the archive, the department reads the whole of it
        QVERIFY(planScans(queryPlan(db.path(), askingArchive(run)), QStringLiteral("xj")));
}

void TestListing::olderFileGetsIndexes()
{
    TestDb db(Empty);
    db.exec(QStringLiteral("drop index class_nianji; drop index xj_keshi_menzhenhao; pragma user_version = 0;"));
    start(db);
    QCOMPARE(db.count(QStringLiteral("sqlite_master where type='index' and name in "
                                     "('class_nianji','xj_keshi_menzhenhao')")),
             2);
    // A second start finds them and changes nothing.
    const QString schema = db.rows(QStringLiteral("select sql from sqlite_master order by name")).join(u'\n');
    start(db);
    QCOMPARE(db.rows(QStringLiteral("select sql from sqlite_master order by name")).join(u'\n'), schema);
}

void TestListing::keptCountFollowsChanges_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("records");  // xj's records after it
    QTest::newRow("none") << "" << 11;
    QTest::newRow("records added") << "with recursive n(i) as (select 1 union all select i + 1 from n where i < 40) "
                                      "insert into xj(门诊号) select 'K' || i from n"
                                   << 51;
    QTest::newRow("records removed") << "delete from xj where 科室 = 'ent'" << 9;
    QTest::newRow("all removed, then some added")
        << "delete from xj; insert into xj(门诊号) values ('A'), ('B')" << -98;
    QTest::newRow("a duplicate refused") << "insert or ignore into xj(门诊号) values ('0001'), ('K1')" << 12;
    QTest::newRow("taken back") << "begin; insert into xj(门诊号) values ('K2'); rollback" << 11;
    QTest::newRow("updated") << "update xj set 科室 = '眼科' where 科室 = '内科'" << 11;
    QTest::newRow("drifted, counted again at the next start") << "update row_counts set n = 5" << 11;
    QTest::newRow("older file, made at the next start")
        << "drop trigger row_counts_xj_insert; drop table row_counts" << 11;
}

// The count the file keeps is the number of records after every kind of
// change, and it is what a grid of the whole archive shows as its rows.
void TestListing::keptCountFollowsChanges()
{
    QFETCH(QString, change);
    QFETCH(int, records);
    TestDb db(Empty);
    seed(db);
    // More records than one page holds, so that the grid asks for the count.
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < 100) "
                           "insert into xj(门诊号, 科室) select 'P' || i, '牙科' from n"));
    records += 100;
    start(db);
    if (!change.isEmpty())
        db.exec(change);
    // The program's next start.
    start(db);
    QCOMPARE(db.count(QStringLiteral("xj")), records);
    QCOMPARE(db.scalar(QStringLiteral("select n from row_counts where tbl = 'xj'")).toInt(), records);
    std::unique_ptr<Pager> p = Pager::open(QStringLiteral("select * from xj"));
    QVERIFY(p);
    QVERIFY(p->countKnown());
    QCOMPARE(p->knownRows(), records);
    // The grid reads the kept count and does not count the records itself
    // (the records of one page are counted by reading them).
    if (records > Pager::kPageRows) {
        db.exec(QStringLiteral("update row_counts set n = n + 1000"));
        QCOMPARE(Pager::open(QStringLiteral("select * from xj"))->knownRows(), records + 1000);
    }
}

QTEST_MAIN(TestListing)
#include "tst_listing.moc"
