// Grids and reports on the shared server (the cluster CTest starts) read in
// keyset pages, what only the server has (the pages on either engine:
// tst_pager): many rows of a rare condition back in key order; other rooms
// changing rows while a grid is open; no transaction left open between
// pages; reports read in pages; page statements served by indexes; the
// archive's kept count.
#include "cases/Form3.h"
#include "data/engines.h"
#include "data/pager.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/pg/serverpages.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "dept/Formclass2.h"
#include "report/dataenv.h"
#include "report/reportrows.h"
#include "testenv.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

namespace {

const QString kCaseHead = QStringLiteral(
    "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,xj.入诊时间 from xj inner join class on "
    "xj.科室=class.科室  where ");

// Rows of a statement as one text each (columns joined by '|', NULL as <null>).
QStringList wholeRows(const QString &sql)
{
    QStringList out;
    for (RecordsetPtr rs = runsql(sql); rs && !rs->atEOF(); rs->MoveNext()) {
        QStringList cells;
        for (int c = 0; c < rs->fieldCount(); ++c)
            cells << rs->text(c);
        out << cells.join(u'|');
    }
    return out;
}

QStringList pagerRows(Pager &p)
{
    p.waitForCount();
    QStringList out;
    for (int r = 0; r < p.knownRows(); ++r) {
        QStringList cells;
        for (int c = 0; c < p.columnCount(); ++c)
            cells << p.cell(r, c);
        out << cells.join(u'|');
    }
    return out;
}

// Groups and departments with letter-case variants and NULLs, a department
// without records, records without a department, NULL and tied keys; enough
// records for several pages.
bool seed(PgConnection &c)
{
    QString sql = QStringLiteral(
        "insert into chengheng.class values('一组','内科','101','五年','临床','王医生','无'),"
        "('一组','ENT','102','五年','耳鼻喉','李医生','无'),('Grp','儿科','201','四年','儿科学','赵医生','无'),"
        "('grp','Eye','202','四年','眼科学','钱医生','无'),('内科','眼科','301','三年','眼科学','钱医生','无'),"
        "('三组','牙科','401','三年','口腔','孙医生','无'),(NULL,'无组','501',NULL,NULL,NULL,NULL),"
        "('GRP',NULL,'601',NULL,NULL,NULL,NULL);");
    // 900 records over the departments in several letter cases, some without
    // a number, some naming no department or one that does not exist; names
    // tie in groups of 7, dates repeat and are sometimes NULL.
    sql += QStringLiteral(
        "insert into chengheng.xj(门诊号,姓名,性别,科室,入诊时间) select"
        " case when i % 97 = 0 then NULL else lpad(i::text, 5, '0') end,"
        " case when i % 11 = 0 then NULL when i % 2 = 0 then '王' || (i % 7) else 'Wang' || (i % 7) end,"
        " case when i % 3 = 0 then 'M' else 'm' end,"
        " (array['内科','ent','Ent','儿科','EYE','眼科','无组','骨科',NULL,'一组'])[1 + i % 10],"
        " case when i % 13 = 0 then NULL else date '2024-01-01' + (i % 40) end"
        " from generate_series(1, 900) i;"
        "insert into room_1.yc(门诊号,姓名) select lpad(i::text, 5, '0'), '名' || i from generate_series(1, 300) i;");
    return c.run(sql);
}

}  // namespace

class TestServerPager : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void manyRowsReturnToKeyOrder();
    void otherRoomChangesRows();
    void noTransactionBetweenPages();
    void reportReadsPages();
    void listingPlansUseIndexes_data();
    void listingPlansUseIndexes();
    void keptCountFollowsChanges_data();
    void keptCountFollowsChanges();
    void keptCountMadeForOlderServer();

private:
    QString db_;
};

void TestServerPager::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("XS_PG").isEmpty(),
             "XS_PG is not set: run this test through ctest, which starts the server");
}

void TestServerPager::init()
{
    QString why;
    db_ = freshServerDatabase(&why);
    QVERIFY2(!db_.isEmpty(), qPrintable(why));
    PgConnection c(db_);
    QVERIFY2(createServerSchema(c, QStringLiteral("1"), &why), qPrintable(why));
    QVERIFY2(seed(c), qPrintable(c.lastError()));
    useServer(db_, QStringLiteral("1"));
}

void TestServerPager::cleanup()
{
    PrefetchedListing::drop();
    useFile();
}

void TestServerPager::manyRowsReturnToKeyOrder()
{
    // More rows than a rare condition meets: the one pass gives way to key
    // order, and the pages still give the whole statement.
    PgConnection c(db_);
    QVERIFY(c.run(QStringLiteral("set session_replication_role = replica;"
                                 "insert into chengheng.xj(门诊号,姓名,科室) select 'M' || i, '王' || (i % 5), "
                                 "(array['内科','Ent','眼科'])[1 + i % 3] from generate_series(1, 21000) i")));
    const QString sql =
        kCaseHead + QStringLiteral("xj.姓名 like '%王%' order by class.年级 desc,class.科室 desc,xj.门诊号 desc");
    std::unique_ptr<Pager> p = Pager::open(sql, nullptr, 0);
    QVERIFY(p);
    QVERIFY(!p->byRowids());
    const QStringList expected = wholeRows(sql + QStringLiteral(", xj.ctid, class.ctid"));
    QVERIFY(expected.size() > 20'000);
    QCOMPARE(pagerRows(*p), expected);
}

void TestServerPager::otherRoomChangesRows()
{
    const QString sql = QStringLiteral("select 门诊号,姓名 from xj where 门诊号 is not null order by 门诊号");
    std::unique_ptr<Pager> p = Pager::open(sql);
    QVERIFY(p);
    p->waitForCount();
    const int before = p->knownRows();
    QVERIFY(before > 3 * Pager::kPageRows);
    const QString pinned = p->cell(300, 0);
    const QString pinnedName = p->cell(300, 1);
    p->pin(300);
    // Another room deletes a record of a page not read yet, adds one inside
    // the first page's range and renames the pinned one.
    PgConnection other(db_);
    const PgResult g = other.exec(
        QStringLiteral("select 门诊号 from chengheng.xj where 门诊号 is not null order by 门诊号 offset %1 limit 1")
            .arg(2 * Pager::kPageRows + Pager::kPageRows / 3));
    QVERIFY(g.ok() && g.rows() == 1);
    const QString gone = g.text(0, 0);
    QVERIFY(other.run(QStringLiteral("delete from chengheng.xj where 门诊号='%1';"
                                     "insert into chengheng.xj(门诊号,姓名) values('00001a','新');"
                                     "update chengheng.xj set 姓名='改' where 门诊号='%2'")
                          .arg(gone, pinned)));
    QStringList shown;
    for (int r = 0; r < p->knownRows(); ++r)
        shown << p->cell(r, 0);
    // A page read later holds the rows now in its range: the deleted record
    // is gone (its line empty at the end of its page); the added one shows at
    // the next listing; no record shows twice; the pinned row is unchanged.
    QCOMPARE(p->knownRows(), before);
    QVERIFY(!shown.contains(gone));
    QCOMPARE(shown[2 * Pager::kPageRows + Pager::kPageRows - 1], QString());
    QVERIFY(!shown.contains(QStringLiteral("00001a")));
    shown.removeAll(QString());
    QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), shown.size());
    QCOMPARE(shown.size(), before - 1);
    QCOMPARE(p->cell(300, 0), pinned);
    QCOMPARE(p->cell(300, 1), pinnedName);
    // Listing again shows the truth.
    std::unique_ptr<Pager> again = Pager::open(sql);
    QVERIFY(again);
    const QStringList now = pagerRows(*again);
    QCOMPARE(now, wholeRows(sql + QStringLiteral(", ctid")));
    QVERIFY(now.contains(QStringLiteral("00001a|新")));
}

void TestServerPager::noTransactionBetweenPages()
{
    const QString sql = kCaseHead + QStringLiteral("xj.姓名 is not null order by class.年级,class.科室,xj.门诊号");
    std::unique_ptr<Pager> p = Pager::open(sql);
    QVERIFY(p);
    p->cell(Pager::kPageRows + 5, 0);
    p->waitForCount();
    auto report = ReportRows::open(sql, {QStringLiteral("门诊号")});
    QVERIFY(report);
    QVERIFY(!report->reading());
    PgConnection watcher(db_);
    // Every connection of the program is idle, none idle in a transaction
    // (which would hold a snapshot while the window waits for the user).
    const PgResult r = watcher.exec(QStringLiteral("select state, count(*) from pg_stat_activity where datname = "
                                                   "current_database() and pid <> pg_backend_pid() group by state"));
    QVERIFY(r.ok());
    QVERIFY(r.rows() > 0);
    for (int i = 0; i < r.rows(); ++i)
        QCOMPARE(r.text(i, 0), QStringLiteral("idle"));
    report->waitComplete();
}

void TestServerPager::reportReadsPages()
{
    // The server process the windows' statements run on.
    const QString backend = wholeRows(QStringLiteral("select pg_backend_pid()")).value(0);
    QVERIFY(!backend.isEmpty());
    const Form3 cases;
    const BrowserParams &bp = cases.params();
    for (const QString &t : {QStringLiteral("一组"), QStringLiteral("ent")}) {
        const QString sql = bp.nodeHead + t + bp.nodeMiddle + t + bp.nodeTail;
        QStringList expected;
        for (const QString &row : wholeRows(sql + QStringLiteral(", xj.ctid, class.ctid")))
            expected << row.section(u'|', 0, 1) + u'|' + row.section(u'|', 11, 11);
        auto report =
            ReportRows::open(sql, {QStringLiteral("门诊号"), QStringLiteral("姓名"), QStringLiteral("入诊时间")});
        QVERIFY(report);
        QVERIFY(report->waitComplete(60000));
        QCOMPARE(report->problem(), QString());
        QStringList got;
        report->read(0, report->count(), [&](int, const QStringList &v) { got << v.join(u'|'); });
        QCOMPARE(got, expected);
    }
    // 打印全部记录: the join without ORDER BY, in the order of the records
    // as stored, read in ranges of their blocks.
    const QString all = DataEnv1.Command1.CommandText;
    QStringList expected;
    for (const QString &row : wholeRows(all + QStringLiteral(" order by xj.ctid")))
        expected << row.section(u'|', 0, 1) + u'|' + row.section(u'|', 8, 8);
    QVERIFY(expected.size() > 500);
    auto report = ReportRows::open(all, {QStringLiteral("门诊号"), QStringLiteral("姓名"), QStringLiteral("入诊时间")});
    QVERIFY(report);
    QVERIFY(report->waitComplete(60000));
    QStringList got;
    report->read(0, report->count(), [&](int, const QStringList &v) { got << v.join(u'|'); });
    QCOMPARE(got, expected);
    // Each report's reading gave its connection back when it ended: the
    // windows go on on the same server process, not on a new one.
    report.reset();
    QCOMPARE(wholeRows(QStringLiteral("select pg_backend_pid()")).value(0), backend);
}

void TestServerPager::listingPlansUseIndexes_data()
{
    QTest::addColumn<QString>("node");
    QTest::newRow("department node") << "科0007";
    QTest::newRow("group node") << "组03";
}

void TestServerPager::listingPlansUseIndexes()
{
    QFETCH(QString, node);
    // Enough rows for the planner to choose: 400 departments in 20 groups,
    // 100,000 records.
    PgConnection c(db_);
    // The room's own search path: citext's operators lie in public.
    QVERIFY(c.run(searchPathFor(QStringLiteral("1"))));
    QVERIFY(c.run(QStringLiteral(
        "set session_replication_role = replica;"
        "insert into chengheng.class(年级,科室) select '组' || lpad((i % 20)::text, 2, '0'), '科' || lpad(i::text, 4, "
        "'0') from generate_series(1, 400) i;"
        "insert into chengheng.xj(门诊号,姓名,科室) select 'N' || i, '名' || i, '科' || lpad((1 + i % 400)::text, 4, "
        "'0') from generate_series(1, 100000) i; analyze")));
    const Form3 cases;
    const BrowserParams &bp = cases.params();
    const QString run = bp.nodeHead + node + bp.nodeMiddle + node + bp.nodeTail;
    ServerPages pages(*translateSql(run, SqlDialect::Server));
    QVERIFY(pages.ok());
    // The first page, then a page after a key in the middle of the listing.
    ServerPages::Statement first = pages.page(nullptr, nullptr, Pager::kPageRows);
    const PgResult r = c.exec(first.sql, first.params);
    QVERIFY2(r.ok(), qPrintable(r.error()));
    QVERIFY(r.rows() > 10);
    const ServerPages::Key key = pages.keyOf(r, 10);
    for (const ServerPages::Statement &st : {first, pages.page(&key, nullptr, Pager::kPageRows)}) {
        const PgResult plan = c.exec(QStringLiteral("explain ") + st.sql, st.params);
        QVERIFY2(plan.ok(), qPrintable(plan.error()));
        QStringList lines;
        for (int i = 0; i < plan.rows(); ++i)
            lines << plan.text(i, 0);
        const QString text = lines.join(u'\n');
        QVERIFY2(!text.contains(QLatin1String("Seq Scan on xj")), qPrintable(text));
        QVERIFY2(text.contains(QLatin1String("Index")), qPrintable(text));
    }
}

void TestServerPager::keptCountFollowsChanges_data()
{
    QTest::addColumn<QString>("change");  // statements on the shared schema
    QTest::addColumn<int>("added");       // records the change leaves added (negative: removed)
    QTest::newRow("rows added in one statement")
        << "insert into chengheng.xj(门诊号) select 'K' || i from generate_series(1, 250) i" << 250;
    QTest::newRow("rows removed") << "delete from chengheng.xj where 科室 = '内科'" << -90;
    QTest::newRow("nothing removed") << "delete from chengheng.xj where 门诊号 = 'none'" << 0;
    QTest::newRow("a duplicate left out") << "insert into chengheng.xj(门诊号) values ('00001'), ('K1') "
                                             "on conflict do nothing"
                                          << 1;
    QTest::newRow("taken back") << "begin; insert into chengheng.xj(门诊号) values ('K2'); rollback" << 0;
    QTest::newRow("updated rows") << "update chengheng.xj set 科室 = '眼科' where 科室 = 'ent'" << 0;
    QTest::newRow("emptied") << "truncate chengheng.xj cascade" << -900;
    QTest::newRow("emptied, then refilled")
        << "truncate chengheng.xj; insert into chengheng.xj(门诊号) values ('A'), ('B')" << -898;
}

// The archive's kept count is its number of rows after every kind of change,
// read from a few rows (the count(*) fallback never runs), and stays so when
// its rows are summed into one.
void TestServerPager::keptCountFollowsChanges()
{
    QFETCH(QString, change);
    QFETCH(int, added);
    PgConnection c(db_);
    const QString before = c.exec(QStringLiteral("select count(*) from chengheng.xj")).text(0, 0);
    QCOMPARE(before, QStringLiteral("900"));
    QVERIFY2(c.run(change), qPrintable(c.lastError()));
    const QString now = QString::number(900 + added);
    QCOMPARE(c.exec(QStringLiteral("select count(*) from chengheng.xj")).text(0, 0), now);
    c.run(searchPathFor(QStringLiteral("1")));
    QCOMPARE(c.exec(serverRowCountSql(QStringLiteral("xj"))).text(0, 0), now);
    const PgResult plan =
        c.exec(QStringLiteral("explain (analyze, costs off, timing off) ") + serverRowCountSql(QStringLiteral("xj")));
    QStringList lines;
    for (int r = 0; r < plan.rows(); ++r)
        lines << plan.text(r, 0);
    const QString text = lines.join(u'\n');
    QVERIFY2(text.contains(QStringLiteral("on xj")) && text.contains(QStringLiteral("(never executed)")),
             qPrintable(text));
    QVERIFY(compactServerRowCounts(c));
    QCOMPARE(c.exec(QStringLiteral("select count(*) from chengheng.row_counts where tbl = 'xj'")).text(0, 0),
             QStringLiteral("1"));
    QCOMPARE(c.exec(serverRowCountSql(QStringLiteral("xj"))).text(0, 0), now);
    // The grid of the whole archive knows that count with its first page.
    std::unique_ptr<Pager> p = Pager::open(QStringLiteral("select * from xj"));
    QVERIFY(p);
    QVERIFY(p->countKnown());
    QCOMPARE(p->knownRows(), now.toInt());
}

// A server made before the count was kept gets it from chengheng-db upgrade,
// counted once (the program's start makes nothing: the grid counts the
// archive itself until then); a count gone astray is taken again at start-up.
void TestServerPager::keptCountMadeForOlderServer()
{
    PgConnection c(db_);
    QVERIFY(c.run(QStringLiteral("drop trigger row_counts_insert on chengheng.xj;drop trigger row_counts_delete on "
                                 "chengheng.xj;drop trigger row_counts_truncate on chengheng.xj;"
                                 "drop table chengheng.row_counts;comment on schema chengheng is null")));
    c.run(searchPathFor(QStringLiteral("1")));
    QCOMPARE(c.exec(serverRowCountSql(QStringLiteral("xj"))).ok(), false);
    {
        std::unique_ptr<Pager> p = Pager::open(QStringLiteral("select * from xj"));
        QVERIFY(p);
        QTRY_VERIFY(p->countKnown());
        QCOMPARE(p->knownRows(), 900);
    }
    PgConnection other(db_);
    QVERIFY(!checkServerRowCounts(other));
    PgConnection admin(db_);
    QString why;
    QVERIFY2(upgradeServerRoles(admin, nullptr, &why), qPrintable(why));
    QCOMPARE(c.exec(QStringLiteral("select sum(n) from chengheng.row_counts where tbl = 'xj'")).text(0, 0),
             QStringLiteral("900"));
    QVERIFY(c.run(QStringLiteral("insert into chengheng.xj(门诊号) values ('N1'), ('N2')")));
    QCOMPARE(c.exec(serverRowCountSql(QStringLiteral("xj"))).text(0, 0), QStringLiteral("902"));
    // Rows loaded with the triggers off: the count drifts, and the next
    // start-up takes it again.
    QVERIFY(c.run(QStringLiteral("set session_replication_role = replica;insert into chengheng.xj(门诊号) select "
                                 "'R' || i from generate_series(1, 40) i;set session_replication_role = origin")));
    QCOMPARE(c.exec(serverRowCountSql(QStringLiteral("xj"))).text(0, 0), QStringLiteral("902"));
    QVERIFY(checkServerRowCounts(other));
    QCOMPARE(c.exec(serverRowCountSql(QStringLiteral("xj"))).text(0, 0), QStringLiteral("942"));
}

QTEST_MAIN(TestServerPager)
#include "tst_serverpager.moc"
