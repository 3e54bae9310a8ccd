// A grid showing a query: Rows before and after the count arrives, any cell
// of any row, the current row, outside changes, and no read left open while
// the grid is on screen.
#include "cases/Form3.h"
#include "data/globals.h"
#include "data/pager.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"
#include "ui/flexgrid.h"
#include "ui/twips.h"

#include <QHeaderView>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

namespace {

// `n` case records 00001.. in department 内科 of group 一组, in rowid order.
void seed(const TestDb &db, int n)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                           "with recursive k(i) as (select 1 union all select i+1 from k where i<%1) "
                           "insert into xj(门诊号,姓名,科室) select printf('%05d',i), '名'||i, '内科' from k;")
                .arg(n));
}

QString number(int i) { return QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')); }

std::unique_ptr<GridSource> archive() { return querySource(Pager::open(QStringLiteral("xj"))); }

}  // namespace

class TestQueryGrid : public QObject {
    Q_OBJECT
private slots:
    void rowsAndCells_data();
    void rowsAndCells();
    void outsideChanges();
    void noReadWhileShown();
    void browserListing();
    void rowHeaderHandedOver_data();
    void rowHeaderHandedOver();
};

void TestQueryGrid::rowsAndCells_data()
{
    QTest::addColumn<int>("trailing");
    QTest::newRow("rows only") << 0;
    QTest::newRow("49 empty rows after the data") << 49;
}

void TestQueryGrid::rowsAndCells()
{
    QFETCH(int, trailing);
    TestDb db(Empty);
    seed(db, 3000);
    FlexGrid grid;
    grid.setCols(21);
    grid.setRows(1);
    grid.setTextMatrix(0, 1, QStringLiteral("门诊号"));
    grid.setSource(archive(), trailing);
    // Before the count arrives: at least the first page, never more than there is.
    QVERIFY(grid.Rows() >= 1 + Pager::kPageRows + trailing);
    QVERIFY(grid.Rows() <= 3001 + trailing);
    // Any row can be read at once, in the statement's order.
    QCOMPARE(grid.TextMatrix(2999, 1), number(2999));
    QCOMPARE(grid.TextMatrix(3000, 2), QStringLiteral("名3000"));
    QCOMPARE(grid.TextMatrix(3001, 1), QString());
    QCOMPARE(grid.TextMatrix(0, 1), QStringLiteral("门诊号"));
    QCOMPARE(grid.TextMatrix(17, 0), QString());
    QTRY_COMPARE(grid.Rows(), 3001 + trailing);
    QCOMPARE(grid.model()->rowCount(), 3000 + trailing);
    QCOMPARE(grid.TextMatrix(1, 1), number(1));
    // The current row: the one set, or the first after the data.
    grid.setRow(1500);
    QCOMPARE(grid.Row(), 1500);
    QCOMPARE(grid.TextMatrix(grid.Row(), 1), number(1500));
    grid.setRowAfterData();
    QCOMPARE(grid.Row(), 3001);
    QCOMPARE(grid.TextMatrix(grid.Row(), 1), QString());
    // Written cells below the titles belong to the query; the grid's own size drops it.
    grid.setTextMatrix(5, 1, QStringLiteral("x"));
    QCOMPARE(grid.TextMatrix(5, 1), number(5));
    grid.setRows(2);
    QCOMPARE(grid.Rows(), 2);
    QCOMPARE(grid.TextMatrix(1, 1), QString());
    QCOMPARE(grid.TextMatrix(0, 1), QStringLiteral("门诊号"));
}

void TestQueryGrid::outsideChanges()
{
    TestDb db(Empty);
    seed(db, 3000);
    FlexGrid grid;
    grid.setCols(21);
    grid.setSource(archive());
    QTRY_COMPARE(grid.Rows(), 3001);
    grid.setRow(400);  // the user's record
    // Another room deletes and adds records.
    db.exec("delete from xj where 门诊号 between '00001' and '00399' or 门诊号='02500';"
            "insert into xj(门诊号,姓名,科室) values('99999','新','内科')");
    // Scrolling through everything reads the other pages again; nothing
    // crashes and the current row stays the record chosen.
    for (int r = 1; r < grid.Rows(); r += 97)
        grid.TextMatrix(r, 1);
    QCOMPARE(grid.TextMatrix(grid.Row(), 1), number(400));
    // Listing again shows the truth.
    grid.setSource(archive());
    QTRY_COMPARE(grid.Rows(), 3000 - 399 - 1 + 1 + 1);
    QCOMPARE(grid.TextMatrix(1, 1), number(400));
    QCOMPARE(grid.TextMatrix(grid.Rows() - 1, 1), QStringLiteral("99999"));
}

void TestQueryGrid::noReadWhileShown()
{
    XS_FILE_ONLY("a WAL checkpoint that needs every reader of the file gone");
    TestDb db(Empty);
    seed(db, 5000);
    FlexGrid grid;
    grid.setCols(21);
    grid.resize(600, 300);
    grid.setSource(archive());
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    QTRY_COMPARE(grid.Rows(), 5001);
    grid.scrollTo(grid.model()->index(2500, 0));
    QTest::qWait(20);
    // Another room writes and a checkpoint that needs every reader gone completes.
    Connection other = Connection::open(db.path());
    QVERIFY(other.exec("insert into xj(门诊号,姓名,科室) values('X1','新','内科')"));
    StmtHandle cp = other.prepare(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    QCOMPARE(sqlite3_step(cp.get()), SQLITE_ROW);
    QCOMPARE(sqlite3_column_int(cp.get(), 0), 0);  // not busy
    QCOMPARE(sqlite3_column_int(cp.get(), 1), 0);  // the log was emptied
}

void TestQueryGrid::browserListing()
{
    TestDb db(Empty);
    seed(db, 700);
    Form3 b;
    b.TreeView1->clear();
    b.buildTree();
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    b.TreeView1->setCurrentItem(b.TreeView1->topLevelItem(0));
    // Listed twice: the second time the grid is laid out already. Each time
    // the listing shows from its first record; the current row below the data
    // does not scroll the grid there.
    for (int i = 0; i < 2; ++i) {
        b.TreeView1_DblClick();
        QTest::qWait(20);
        QCOMPARE(b.MSF1->rowAt(0), 0);
    }
    // n records, then 49 empty rows; the first empty row is current, so
    // nothing counts as selected until a record is clicked.
    QCOMPARE(b.MSF1->Row(), 701);  // waits for the count
    QCOMPARE(b.MSF1->Rows(), 750);
    QCOMPARE(b.currentKey(), QString());
    QCOMPARE(b.MSF1->rowAt(0), 0);
    b.MSF1->setRow(700);
    QCOMPARE(b.currentKey(), number(700));
    QCOMPARE(b.MSF1->TextMatrix(300, 2), QStringLiteral("名300"));
    QCOMPARE(b.MSF1->TextMatrix(0, 1), QStringLiteral("门诊号"));
}

QTEST_MAIN(TestQueryGrid)
#include "tst_querygrid.moc"

void TestQueryGrid::rowHeaderHandedOver_data()
{
    QTest::addColumn<QString>("name");  // of the grid of the new window
    QTest::addColumn<int>("records");
    QTest::addColumn<bool>("taken");
    QTest::newRow("the same grid, a long listing") << "MSF1" << 25000 << true;
    QTest::newRow("another grid") << "MSHFlexGrid1" << 25000 << false;
    QTest::newRow("a short listing") << "MSF1" << 300 << false;
}

// A window built again takes over the row header of the grid it replaces
// for a long listing: the new grid's rows, clicks and current row are its
// own, the old grid keeps a header of its own, and a header no grid took
// goes with the hand-over.
void TestQueryGrid::rowHeaderHandedOver()
{
    QFETCH(QString, name);
    QFETCH(int, records);
    QFETCH(bool, taken);
    TestDb db(Empty);
    seed(db, records);
    FlexGrid old;
    old.setObjectName(QStringLiteral("MSF1"));
    old.setCols(21);
    old.setSource(archive());
    QCOMPARE(old.verticalHeader()->count(), records);
    old.setRows(0);
    QPointer<QHeaderView> header = old.verticalHeader();
    QSignalSpy oldClicks(&old, &FlexGrid::Click);
    {
        const FlexGrid::RowHeaderHandOver handOver(&old);
        QVERIFY(old.verticalHeader() != header);
        FlexGrid fresh;
        fresh.setObjectName(name);
        fresh.setCols(21);
        fresh.setRows(1);
        fresh.setSource(archive());
        fresh.setColWidth(0, 240);
        QCOMPARE(fresh.verticalHeader() == header, taken);
        QCOMPARE(fresh.verticalHeader()->count(), records);
        QCOMPARE(fresh.Rows(), records + 1);
        QCOMPARE(fresh.TextMatrix(records, 1), number(records));
        QCOMPARE(fresh.verticalHeader()->width(), tw(240));
        QSignalSpy clicks(&fresh, &FlexGrid::Click);
        emit fresh.verticalHeader()->sectionClicked(4);
        QCOMPARE(clicks.count(), 1);
        QCOMPARE(fresh.Row(), 5);
        QCOMPARE(fresh.Col(), 0);
        QCOMPARE(oldClicks.count(), 0);
        QCOMPARE(old.verticalHeader()->count(), 0);
        if (!taken)
            QVERIFY(header);  // still waiting for its grid
    }
    QVERIFY(header.isNull());  // gone with the new grid, or with the hand-over
    old.setSource(archive());
    QCOMPARE(old.verticalHeader()->count(), records);
}
