// Queries read in keyset pages, on either engine: the same rows in the same
// order as the statement on data with NULL keys, letter-case variants and
// ties, whatever the directions of the keys; other shapes read whole; rows
// far ahead read before the keys; a grid over several pages. On the file
// also: pages read through indexes, no read left open between pages, and
// what an open listing shows when another connection changes the rows.
#include "cases/Form3.h"
#include "data/pager.h"
#include "data/sqlite/fileschema.h"
#include "data/recordset.h"
#include "data/sqlite/sqlite.h"
#include "data/sqlite/sqlitepages.h"
#include "dept/Formclass2.h"
#include "testenv.h"
#include "ui/flexgrid.h"
#include "ui/gridsource.h"

#include <QDate>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

namespace {

const QString kQueryHead = QStringLiteral(
    "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,xj.家庭住址,"
    "xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,xj.症状,xj.诊断,xj.药名,"
    "xj.药量,xj.医生签字,xj.年龄,xj.身份证 from xj inner join class on xj.科室=class.科室  where ");
const QString kQueryOrder = QStringLiteral("order by class.年级 desc,class.科室 desc,xj.门诊号 desc");
const QString kCaseHead = QStringLiteral(
    "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,xj.入诊时间 from xj inner join class on "
    "xj.科室=class.科室  where ");

QString quoted(const QString &v) { return v.isNull() ? QStringLiteral("NULL") : u'\'' + v + u'\''; }

// Groups and departments with letter-case variants and NULLs, a department
// without records, records without a department, and `records` case records
// spread over them (every seventh without a name, one without a number per
// department, dates in some).
void seed(const TestDb &db, int records)
{
    db.exec(QStringLiteral(
        "insert into class values('一组','内科','101','五年','临床','王医生','无'),"
        "('一组','ENT','102','五年','耳鼻喉','李医生','无'),('Grp','儿科','201','四年','儿科学','赵医生','无'),"
        "('grp','眼科','301',NULL,'眼科学','钱医生','无'),('三组','牙科','401','三年','口腔','孙医生','无'),"
        "(NULL,'无组','501',NULL,NULL,NULL,NULL),('一组',NULL,'601',NULL,NULL,NULL,NULL)"));
    static const char *const depts[] = {"内科", "ent", "Ent", nullptr, "儿科", "骨科", "眼科", "无组"};
    QStringList rows;
    for (int i = 1; i <= records; ++i)
        rows << QStringLiteral("(%1,%2,%3,%4)")
                    .arg(quoted(QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0'))),
                         quoted(i % 7 == 0 ? QString() : QStringLiteral("王%1").arg(i)),
                         quoted(depts[i % 8] ? QString::fromUtf8(depts[i % 8]) : QString()),
                         quoted(i % 3 == 0 ? QStringLiteral("2024-01-0%1").arg(1 + i % 9) : QString()));
    rows << QStringLiteral("(NULL,'无号甲','内科',NULL)") << QStringLiteral("(NULL,'无号乙','儿科',NULL)");
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室,入诊时间) values ") + rows.join(u','));
}

// Groups and departments with letter-case variants and NULLs, a department
// without records, records without a department, NULL and tied keys: 900
// records over the departments in several letter cases, some without a
// number, some naming no department or one that does not exist; names tie in
// groups of 7, dates repeat and are sometimes NULL. 300 work rows.
void seedTies(const TestDb &db)
{
    db.exec(QStringLiteral(
        "insert into class values('一组','内科','101','五年','临床','王医生','无'),"
        "('一组','ENT','102','五年','耳鼻喉','李医生','无'),('Grp','儿科','201','四年','儿科学','赵医生','无'),"
        "('grp','Eye','202','四年','眼科学','钱医生','无'),('内科','眼科','301','三年','眼科学','钱医生','无'),"
        "('三组','牙科','401','三年','口腔','孙医生','无'),(NULL,'无组','501',NULL,NULL,NULL,NULL),"
        "('GRP',NULL,'601',NULL,NULL,NULL,NULL)"));
    static const char *const depts[] = {"内科", "ent", "Ent", "儿科", "EYE", "眼科", "无组", "骨科", nullptr, "一组"};
    QStringList rows;
    for (int i = 1; i <= 900; ++i)
        rows << QStringLiteral("(%1,%2,%3,%4,%5)")
                    .arg(quoted(i % 97 == 0 ? QString() : QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0'))),
                         quoted(i % 11 == 0  ? QString()
                                : i % 2 == 0 ? QStringLiteral("王%1").arg(i % 7)
                                             : QStringLiteral("Wang%1").arg(i % 7)),
                         quoted(i % 3 == 0 ? QStringLiteral("M") : QStringLiteral("m")),
                         quoted(depts[i % 10] ? QString::fromUtf8(depts[i % 10]) : QString()),
                         quoted(i % 13 == 0
                                    ? QString()
                                    : QDate(2024, 1, 1).addDays(i % 40).toString(QStringLiteral("yyyy-MM-dd"))));
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,性别,科室,入诊时间) values ") + rows.join(u','));
    rows.clear();
    for (int i = 1; i <= 300; ++i)
        rows << QStringLiteral("('%1','名%2')").arg(i, 5, 10, QLatin1Char('0')).arg(i);
    db.exec(QStringLiteral("insert into yc(门诊号,姓名) values ") + rows.join(u','));
}

// The order the whole statement is compared in: its own keys, the ties
// broken as the pages break them (by the place of each row of `tables` in
// its table: the file's rowid, the server's ctid).
QString ties(const QStringList &tables)
{
    QString out;
    for (const QString &t : tables)
        out += QStringLiteral(", ") + t + (serverEngine() ? QStringLiteral(".ctid") : QStringLiteral(".rowid"));
    return out;
}

QString nodeStatement(const BrowserParams &p, const QString &t)
{
    return p.nodeHead + t + p.nodeMiddle + t + p.nodeTail;
}

// Rows of a statement as the windows read it, one text each (columns joined by '|').
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

// Every row of an open pager as "a|b|c" lines, read from `first` on and then
// from the start (so pages are also read out of order).
QStringList allRows(Pager &p, int first = 0)
{
    p.waitForCount();
    const int n = p.knownRows();
    QStringList out(n);
    auto read = [&](int r) {
        QStringList cells;
        for (int c = 0; c < p.columnCount(); ++c)
            cells << p.cell(r, c);
        out[r] = cells.join(QLatin1Char('|'));
    };
    for (int r = first; r < n; ++r)
        read(r);
    for (int r = 0; r < first && r < n; ++r)
        read(r);
    return out;
}

}  // namespace

class TestPager : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { PrefetchedListing::drop(); }
    void sameRowsSameOrder_data();
    void sameRowsSameOrder();
    void pagesGiveTheWholeStatement_data();
    void pagesGiveTheWholeStatement();
    void otherShapesReadWhole();
    void gridOverSeveralPages();
    void farRowsBeforeTheKeys_data();
    void farRowsBeforeTheKeys();
    void rowidFollowsUniqueJoinKey_data();
    void rowidFollowsUniqueJoinKey();
    void pagePlansUseIndexes_data();
    void pagePlansUseIndexes();
    void noReadLeftOpen();
    void outsideChanges();
};

void TestPager::sameRowsSameOrder_data()
{
    QTest::addColumn<QString>("kept");        // the statement the window keeps
    QTest::addColumn<QString>("run");         // the statement the pager reads
    QTest::addColumn<QStringList>("tables");  // the tables whose rows break the ties of its ORDER BY
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("firstRead");
    Form3 cases;
    Formclass2 depts;
    const QString group = nodeStatement(cases.params(), QStringLiteral("一组"));
    const QString grp = nodeStatement(cases.params(), QStringLiteral("GRP"));
    const QStringList joined{QStringLiteral("xj"), QStringLiteral("class")};
    QTest::newRow("whole table, bare name") << "select * from xj"
                                            << "xj" << QStringList() << 1202 << 0;
    QTest::newRow("whole table, read from the end") << "select * from xj"
                                                    << "xj" << QStringList() << 1202 << 1100;
    QTest::newRow("case node, group of two departments") << group << group << joined << 451 << 300;
    QTest::newRow("case node, group in two letter cases") << grp << grp << joined << 301 << 0;
    const QString query = kQueryHead + QStringLiteral("xj.姓名 like '%王%'") + kQueryOrder;
    QTest::newRow("case query, descending keys") << query << query << joined << 772 << 500;
    QTest::newRow("case query, found by one pass") << query << query << joined << 772 << 700;
    const QString dated = kQueryHead + QStringLiteral("xj.入诊时间=#2024-01-05#") + kQueryOrder;
    QTest::newRow("case query, a date") << QString(dated).replace(QStringLiteral("#2024-01-05#"),
                                                                  QStringLiteral("'2024-01-05'"))
                                        << dated << joined << 0 << 0;
    const QString dept = nodeStatement(depts.params(), QStringLiteral("一组"));
    QTest::newRow("department node, NULL department") << dept << dept << QStringList{"class"} << 3 << 0;
    QTest::newRow("department query, no ordering")
        << "select * from class where 年制 is null"
        << "select * from class where 年制 is null" << QStringList() << 3 << 0;
}

void TestPager::sameRowsSameOrder()
{
    QFETCH(QString, kept);
    QFETCH(QString, run);
    QFETCH(QStringList, tables);
    QFETCH(int, rows);
    QFETCH(int, firstRead);
    TestDb db(Empty);
    seed(db, 1200);
    const QStringList expected = wholeRows(kept.trimmed() + ties(tables));
    if (rows > 0)
        QCOMPARE(expected.size(), rows);
    // "found by one pass": no time at all for the ordered reading.
    const bool onePass = QByteArray(QTest::currentDataTag()).contains("one pass");
    std::unique_ptr<Pager> p = Pager::open(run, nullptr, onePass ? 0 : Pager::kOrderedBudgetMs);
    QVERIFY(p);
    QVERIFY(p->paged());
    QCOMPARE(p->byRowids(), onePass);
    QCOMPARE(allRows(*p, firstRead), expected);
    QCOMPARE(p->isEmpty(), expected.isEmpty());
    // Pages, not the whole result at once.
    if (expected.size() > Pager::kPageRows)
        QVERIFY(p->pagesRead() > 1);
}

void TestPager::pagesGiveTheWholeStatement_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("tables");  // the tables whose rows break the ties of its ORDER BY
    QTest::addColumn<int>("budget");          // -1 ordered pages only, 0 one pass keeping the rows' places
    const Form3 cases;
    const Formclass2 depts;
    const QStringList joined{QStringLiteral("xj"), QStringLiteral("class")};
    for (const int budget : {-1, 0}) {
        const QString b = budget < 0 ? QStringLiteral("ordered") : QStringLiteral("one pass");
        for (const QString &t : {QStringLiteral("一组"), QStringLiteral("grp"), QStringLiteral("ENT"),
                                 QStringLiteral("无组"), QStringLiteral("牙科"), QStringLiteral("骨科")}) {
            QTest::addRow("case browser node %s, %s", qPrintable(t), qPrintable(b))
                << nodeStatement(cases.params(), t) << joined << budget;
            QTest::addRow("department browser node %s, %s", qPrintable(t), qPrintable(b))
                << nodeStatement(depts.params(), t) << QStringList{"class"} << budget;
        }
        QTest::addRow("case query, all keys descending, %s", qPrintable(b))
            << kCaseHead + QStringLiteral("xj.姓名 like '%王%' order by class.年级 desc,class.科室 desc,xj.门诊号 desc")
            << joined << budget;
        QTest::addRow("case query in letter case, %s", qPrintable(b))
            << kCaseHead
                   + QStringLiteral("xj.姓名 like '%wang%' order by class.年级 desc,class.科室 desc,xj.门诊号 desc")
            << joined << budget;
        QTest::addRow("mixed directions over NULLs and ties, %s", qPrintable(b)) << QStringLiteral(
            "select 门诊号,姓名,入诊时间 from xj where 性别='m' order by 姓名 desc, 入诊时间, 门诊号 desc")
                                                                                 << QStringList{"xj"} << budget;
    }
    QTest::newRow("a whole table, as stored") << QStringLiteral("xj") << QStringList() << -1;
    QTest::newRow("the work table, as stored") << QStringLiteral("select * from yc") << QStringList() << -1;
    QTest::newRow("a table sorted by a key with NULLs")
        << QStringLiteral("select * from xj order by 门诊号 desc") << QStringList{"xj"} << -1;
}

void TestPager::pagesGiveTheWholeStatement()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, tables);
    QFETCH(int, budget);
    TestDb db(Empty);
    seedTies(db);
    const QString &run = sql;
    const QStringList expected = wholeRows(sql.trimmed() + ties(tables));
    SqlOutcome out;
    std::unique_ptr<Pager> p = Pager::open(run, &out, budget);
    QVERIFY2(p, qPrintable(out.error));
    QVERIFY(p->paged());
    QCOMPARE(p->byRowids(), budget == 0 && sql.contains(QLatin1String(" where ")));
    const QStringList got = allRows(*p);
    QCOMPARE(got.size(), expected.size());
    QCOMPARE(got, expected);
}

void TestPager::otherShapesReadWhole()
{
    TestDb db(Empty);
    seed(db, 300);
    for (const QString &sql : {QStringLiteral("select distinct 科室 from xj order by 科室"),
                               QStringLiteral("select 科室, count(*) from xj group by 科室"),
                               QStringLiteral("select * from xj order by 1 limit 5")}) {
        std::unique_ptr<Pager> p = Pager::open(sql);
        QVERIFY2(p, qPrintable(sql));
        QVERIFY(!p->paged());
        QCOMPARE(allRows(*p), wholeRows(sql));
    }
    SqlOutcome o;
    QVERIFY(!Pager::open(QStringLiteral("select * from 没有这个表"), &o));
    QVERIFY(!o.ok);
    QVERIFY(!o.error.isEmpty());
}

void TestPager::gridOverSeveralPages()
{
    TestDb db(Empty);
    seedTies(db);
    const QString sql = kCaseHead
                        + QStringLiteral("xj.门诊号 is not null or xj.姓名 is null order by class.年级 "
                                         "desc,class.科室 desc,xj.门诊号 desc");
    const QStringList expected = wholeRows(sql + ties({QStringLiteral("xj"), QStringLiteral("class")}));
    QVERIFY(expected.size() > 2 * Pager::kPageRows);
    std::unique_ptr<Pager> p = Pager::open(sql);
    QVERIFY(p);
    FlexGrid grid;
    grid.setCols(8);
    grid.setSource(querySource(std::move(p)), 1);
    const int n = int(expected.size());
    // Any row reads at once, the last one too; the count comes and Rows is
    // the title, every row and the empty one after them.
    QCOMPARE(grid.TextMatrix(n, 1), expected.last().section(u'|', 0, 0));
    QCOMPARE(grid.TextMatrix(n - 300, 2), expected[n - 301].section(u'|', 1, 1));
    QCOMPARE(grid.TextMatrix(n + 1, 1), QString());
    QTRY_COMPARE(grid.Rows(), n + 2);
    for (int r = 1; r <= n; r += 37)
        QCOMPARE(grid.TextMatrix(r, 7), expected[r - 1].section(u'|', 6, 6));
    // The current row stays the chosen record while other pages are read.
    grid.setRow(400);
    const QString chosen = grid.TextMatrix(400, 1);
    for (int r = 1; r <= n; r += Pager::kPageRows)
        grid.TextMatrix(r, 1);
    QCOMPARE(grid.TextMatrix(grid.Row(), 1), chosen);
}

void TestPager::farRowsBeforeTheKeys_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("tables");  // the tables whose rows break the ties
    Form3 cases;
    const QStringList joined{QStringLiteral("xj"), QStringLiteral("class")};
    QTest::newRow("whole table, counted at once") << "select * from xj" << QStringList{"xj"};
    QTest::newRow("case node") << nodeStatement(cases.params(), QStringLiteral("一组")) << joined;
    QTest::newRow("case query, descending keys")
        << kQueryHead + QStringLiteral("xj.姓名 like '%王%'") + kQueryOrder << joined;
}

// Rows far beyond the keys known, asked for before the background pass has
// brought them (a scroll bar dragged at once): each is the row at that place
// of the statement's order, and beyond the end there is nothing.
void TestPager::farRowsBeforeTheKeys()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, tables);
    TestDb db(Empty);
    seed(db, 2000);
    const QString ordered = sql.contains(QLatin1String("order by"))
                                ? sql + ties(tables)
                                : sql + QStringLiteral(" order by ") + ties(tables).mid(2);
    const QStringList expected = wholeRows(ordered);
    QVERIFY(expected.size() > 10 * Pager::kPageRows);
    std::unique_ptr<Pager> p = Pager::open(sql);
    QVERIFY(p);
    QVERIFY(!p->keysKnown());  // the pass ends only in the event loop
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < p->columnCount(); ++c)
            cells << p->cell(r, c);
        return cells.join(QLatin1Char('|'));
    };
    const int n = int(expected.size());
    for (int r : {n / 2, n - 1, 5 * Pager::kPageRows + 3, n / 3})
        QCOMPARE(row(r), expected[r]);
    QCOMPARE(p->cell(n + 2 * Pager::kPageRows, 0), QString());
    // The far pages were read on their own, neither every page before them
    // nor after waiting for the background pass.
    QVERIFY2(p->pagesRead() <= (serverEngine() ? 7 : 6), qPrintable(QString::number(p->pagesRead())));
    QVERIFY(!p->keysKnown());
    // Once the keys have come, every row is still where it was.
    QCOMPARE(allRows(*p), expected);
}

void TestPager::rowidFollowsUniqueJoinKey_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("unique");  // table.column with a unique index
    QTest::addColumn<QString>("keys");    // the keys the pages are read by
    const QString head = QStringLiteral("select xj.门诊号 from xj inner join class on xj.科室=class.科室 ");
    QTest::newRow("department unique, grouped by it") << head + "order by class.年级, class.科室, xj.门诊号"
                                                      << "class.科室"
                                                      << "class.年级,class.科室,class.rowid,xj.门诊号,xj.rowid";
    QTest::newRow("descending keys") << head + "order by class.年级 desc, class.科室 desc, xj.门诊号 desc"
                                     << "class.科室"
                                     << "class.年级,class.科室,class.rowid,xj.门诊号,xj.rowid";
    QTest::newRow("no unique index") << head + "order by class.年级, class.科室, xj.门诊号"
                                     << ""
                                     << "class.年级,class.科室,xj.门诊号,xj.rowid,class.rowid";
    QTest::newRow("ordered by the other side of the join") << head + "order by xj.科室, xj.门诊号"
                                                           << "class.科室"
                                                           << "xj.科室,xj.门诊号,xj.rowid,class.rowid";
    QTest::newRow("one table") << "select * from class order by 科室, 年级"
                               << "class.科室"
                               << "科室,年级,class.rowid";
}

// A join ordered by a column that is unique in its table gets that table's
// rowid right after it (each value is one row of that table); nothing else
// moves. The rows and their order are the statement's (sameRowsSameOrder).
void TestPager::rowidFollowsUniqueJoinKey()
{
    QFETCH(QString, sql);
    QFETCH(QString, unique);
    QFETCH(QString, keys);
    PagedQuery q = PagedQuery::parse(sql);
    QVERIFY(q.ok);
    q.rowidAfterUniqueJoinKey([&](const QString &t, const QString &c) { return t + u'.' + c == unique; });
    QStringList got;
    for (const PagedQuery::Key &k : q.keys)
        got << k.expr;
    QCOMPARE(got.join(u','), keys);
}

void TestPager::pagePlansUseIndexes_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("table");
    Form3 cases;
    Formclass2 depts;
    QTest::newRow("archive grid") << "select * from xj"
                                  << "xj";
    QTest::newRow("work grid") << "select * from yc"
                               << "yc";
    QTest::newRow("case group node") << nodeStatement(cases.params(), QStringLiteral("组3")) << "xj";
    QTest::newRow("case department node")
        << nodeStatement(cases.params(), QStringLiteral("科7")) << "xj";
    QTest::newRow("department group node") << nodeStatement(depts.params(), QStringLiteral("组3")) << "class";
    QTest::newRow("department node") << nodeStatement(depts.params(), QStringLiteral("科7")) << "class";
}

void TestPager::pagePlansUseIndexes()
{
    XS_FILE_ONLY("SQLite's query plans");
    QFETCH(QString, sql);
    QFETCH(QString, table);
    TestDb db(Empty);
    // 400 departments in 20 groups, 5 records each, and the statistics.
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<400) "
                           "insert into class(年级,科室) select '组'||(i%20), '科'||i from n;"
                           "with recursive n(i) as (select 1 union all select i+1 from n where i<2000) "
                           "insert into xj(门诊号,姓名,科室) select printf('%05d',i), '名'||i, '科'||(i%400) from n;"
                           "insert into yc select * from xj;"));
    {
        Connection c = Connection::open(db.path());
        QCOMPARE(migrateFile(c, nullptr), SchemaOutcome::Current);
        QVERIFY(c.exec("ANALYZE"));
    }
    const SqliteQuery q(PagedQuery::parse(sql));
    QVERIFY(q.ok);
    // The first page, a page after a key, and a page between two keys: the
    // table is searched through an index (a whole table in rowid order is
    // read from the key on), never read whole.
    for (const auto &[after, upTo] : {std::pair{false, false}, {true, false}, {true, true}}) {
        const QStringList lines = queryPlan(db.path(), q.pageStatement(after, upTo, Pager::kPageRows));
        const QString text = lines.join(QLatin1String(" / "));
        QVERIFY2(!lines.isEmpty() && !lines.first().startsWith(u'<'), qPrintable(text));
        if (q.where.isEmpty() && after)
            QVERIFY2(text.contains(QStringLiteral("SEARCH %1 USING INTEGER PRIMARY KEY (rowid>?").arg(table)),
                     qPrintable(text));
        else if (!q.where.isEmpty())
            QVERIFY2(!planScans(lines, table), qPrintable(text));
        QVERIFY2(!text.contains(QLatin1String("USE TEMP B-TREE FOR ORDER BY")) || !q.where.isEmpty(), qPrintable(text));
    }
}

void TestPager::noReadLeftOpen()
{
    XS_FILE_ONLY("a checkpoint of the file's log");
    TestDb db(Empty);
    seed(db, 3000);
    std::unique_ptr<Pager> p = Pager::open(QStringLiteral("xj"));
    QVERIFY(p);
    QVERIFY(!p->cell(1500, 0).isEmpty());  // pages in the middle read
    p->waitForCount();
    QCOMPARE(p->knownRows(), 3002);
    // Another room writes, and a checkpoint that needs every reader gone completes.
    Connection other = Connection::open(db.path());
    QVERIFY(other.exec("insert into xj(门诊号,姓名) values('X1','新')"));
    StmtHandle cp = other.prepare(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    QVERIFY(cp);
    QCOMPARE(sqlite3_step(cp.get()), SQLITE_ROW);
    QCOMPARE(sqlite3_column_int(cp.get(), 0), 0);  // not busy
    QCOMPARE(sqlite3_column_int(cp.get(), 1), 0);  // the log is empty: truncated
}

void TestPager::outsideChanges()
{
    XS_FILE_ONLY("the rows in rowid order (the server's test: tst_serverpager otherRoomChangesRows)");
    TestDb db(Empty);
    seed(db, 3000);
    std::unique_ptr<Pager> p = Pager::open(QStringLiteral("xj"));
    QVERIFY(p);
    QTRY_VERIFY(p->keysKnown());
    const QString chosen = p->cell(300, 0);  // the row the user clicked
    p->pin(300);
    const QString far = p->cell(2000, 0);
    // Another program deletes the chosen record and the one before it, and rows on a page not read yet.
    Connection other = Connection::open(db.path());
    QVERIFY(other.exec(QStringLiteral("delete from xj where 门诊号 in ('%1','00300','%2','01900');"
                                      "insert into xj(门诊号,姓名) values('Y1','后来的')")
                           .arg(chosen, far)));
    // Reading every other page again does not change the pinned row.
    for (int r = 0; r < p->knownRows(); r += Pager::kPageRows)
        p->cell(r, 0);
    QCOMPARE(p->cell(300, 0), chosen);
    // A page read after the change holds the rows now in its range: the
    // deleted one is gone, a later row is not pulled in from the next page.
    const QStringList now = db.rows(QStringLiteral("select 门诊号 from xj order by rowid"));
    const int k = 1900 / Pager::kPageRows;
    QStringList page;
    for (int r = k * Pager::kPageRows; r < (k + 1) * Pager::kPageRows; ++r)
        page << p->cell(r, 0);
    QVERIFY(!page.contains(QStringLiteral("01900")));
    QCOMPARE(page.last(), QString());
    QCOMPARE(p->cell((k + 1) * Pager::kPageRows, 0),
             QStringLiteral("%1").arg((k + 1) * Pager::kPageRows + 1, 5, 10, QLatin1Char('0')));
    // Opening again shows the truth.
    std::unique_ptr<Pager> again = Pager::open(QStringLiteral("xj"));
    QVERIFY(again);
    QStringList fresh = allRows(*again);
    for (QString &row : fresh)
        row = row.section(u'|', 0, 0);
    QCOMPARE(fresh, now);
}

QTEST_MAIN(TestPager)
#include "tst_pager.moc"
