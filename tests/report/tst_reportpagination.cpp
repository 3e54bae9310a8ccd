// Page breaks, section placement and page numbers of the report facility,
// and how text is kept inside its box.
#include "cases/DataReportclass.h"
#include "report/paginator.h"
#include "report/reportdocument.h"
#include "testenv.h"

#include <QImage>
#include <QPainter>
#include <QtTest>

using namespace xs;

namespace {

// A4 portrait with 1440 margins: 16838 - 2 x 1440.
constexpr int kPrintableA4 = 13958;

ReportLayout synthetic(int rh, int ph, int d, int pf, int rf, bool footerHasLabel)
{
    ReportFont f;
    ReportLayout l;
    l.name = QStringLiteral("T");
    l.caption = QStringLiteral("T");
    l.reportWidth = 8000;
    l.section(SectionKind::ReportHeader).height = rh;
    l.section(SectionKind::ReportHeader).elements.push_back(reportLabel("Title", "标题", 0, 0, 2000, 300, f));
    l.section(SectionKind::PageHeader).height = ph;
    l.section(SectionKind::PageHeader).elements.push_back(reportLabel("Head", "页眉", 0, 0, 2000, 240, f));
    l.section(SectionKind::Detail).height = d;
    l.section(SectionKind::Detail).elements.push_back(reportField("No", "门诊号", 0, 0, 2000, 240, f));
    l.section(SectionKind::PageFooter).height = pf;
    l.section(SectionKind::PageFooter).elements.push_back(reportLabel("Page", "第%p页", 0, 0, 2000, 240, f));
    l.section(SectionKind::ReportFooter).height = rf;
    if (footerHasLabel)
        l.section(SectionKind::ReportFooter).elements.push_back(reportLabel("End", "完", 0, 0, 2000, 240, f));
    return l;
}

void insertCases(const test::TestDb &db, int n, int firstNumber = 1)
{
    QStringList values;
    for (int i = 0; i < n; ++i)
        values << QStringLiteral("('M%1','姓名%1','内科')").arg(firstNumber + i, 5, 10, QLatin1Char('0'));
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values ") + values.join(QLatin1Char(',')));
}

QList<int> blocksPerPage(const Pagination &p)
{
    QList<int> out;
    for (int k = 0; k < p.pageCount(); ++k) {
        int n = 0;
        for (const PlacedSection &s : p.sectionsOnPage(k))
            n += s.kind == SectionKind::Detail;
        out << n;
    }
    return out;
}

}  // namespace

class TestReportPagination : public QObject {
    Q_OBJECT

private slots:
    void blocksPerPageFollowFromHeights_data();
    void blocksPerPageFollowFromHeights();
    void sectionsOnEveryPage_data();
    void sectionsOnEveryPage();
    void rowsInOrderAndPageNumbers();
    void longTextStaysInItsBox();
    void longTextLeavesNoInkOutsideItsBox();
    void wrappingPrefersWholeWordsButShowsMost_data();
    void wrappingPrefersWholeWordsButShowsMost();
};

void TestReportPagination::blocksPerPageFollowFromHeights_data()
{
    QTest::addColumn<int>("rh");
    QTest::addColumn<int>("ph");
    QTest::addColumn<int>("detail");
    QTest::addColumn<int>("pf");
    QTest::addColumn<int>("rf");
    QTest::addColumn<bool>("footerHasLabel");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("expected");

    // (13958 - 3000 - 500 - 400) / 3000 = 3 on page 1, (13958 - 900) / 3000 = 4 after.
    QTest::newRow("first page holds fewer") << 3000 << 500 << 3000 << 400 << 0 << false << 10 << QList<int>{3, 4, 3};
    QTest::newRow("exactly full pages") << 3000 << 500 << 3000 << 400 << 0 << false << 7 << QList<int>{3, 4};
    QTest::newRow("one row") << 3000 << 500 << 3000 << 400 << 0 << false << 1 << QList<int>{1};
    QTest::newRow("no rows: one page") << 3000 << 500 << 3000 << 400 << 0 << false << 0 << QList<int>{0};
    // Last page: 500 + 3 x 3000 = 9500; + 2000 fits below 13558, + 5000 does not.
    QTest::newRow("report footer fits") << 3000 << 500 << 3000 << 400 << 2000 << true << 10 << QList<int>{3, 4, 3};
    QTest::newRow("report footer on a page of its own")
        << 3000 << 500 << 3000 << 400 << 5000 << true << 10 << QList<int>{3, 4, 3, 0};
    QTest::newRow("empty report footer takes no page")
        << 3000 << 500 << 3000 << 400 << 5000 << false << 10 << QList<int>{3, 4, 3};
    // A block taller than the room between header and footer still prints,
    // one per page (and is cut at the page footer).
    QTest::newRow("block taller than a page") << 0 << 500 << 14000 << 400 << 0 << false << 3 << QList<int>{1, 1, 1};
    // The three reports: case 495 + 0 + 2 x 6375 + 645 = 13890 <= 13958.
    QTest::newRow("case report heights") << 495 << 0 << 6375 << 645 << 0 << false << 5 << QList<int>{2, 2, 1};
    // department: (13958 - 360 - 405 - 972) / 4407 = 2.77; (13958 - 1377) / 4407 = 2.85.
    QTest::newRow("department report heights") << 360 << 405 << 4407 << 972 << 0 << false << 5 << QList<int>{2, 2, 1};
    // prescription: 405 + 2 x 6540 + 315 = 13800; its report footer is empty.
    QTest::newRow("prescription heights") << 405 << 0 << 6540 << 315 << 360 << false << 2 << QList<int>{2};
}

void TestReportPagination::blocksPerPageFollowFromHeights()
{
    QFETCH(int, rh);
    QFETCH(int, ph);
    QFETCH(int, detail);
    QFETCH(int, pf);
    QFETCH(int, rf);
    QFETCH(bool, footerHasLabel);
    QFETCH(int, rows);
    QFETCH(QList<int>, expected);

    const ReportLayout l = synthetic(rh, ph, detail, pf, rf, footerHasLabel);
    QCOMPARE(l.printableHeight(), kPrintableA4);
    const Pagination p(l, rows);
    QCOMPARE(p.pageCount(), expected.size());
    QCOMPARE(blocksPerPage(p), expected);
    // rowsOnPage agrees with the placed sections and pageOfRow inverts it.
    int next = 0;
    for (int k = 0; k < p.pageCount(); ++k) {
        const auto [a, b] = p.rowsOnPage(k);
        QCOMPARE(a, next);
        QCOMPARE(b - a, expected[k]);
        for (int r = a; r < b; ++r)
            QCOMPARE(p.pageOfRow(r), k);
        next = b;
    }
    QCOMPARE(next, rows);
}

void TestReportPagination::sectionsOnEveryPage_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("empty") << 0;
    QTest::newRow("one page") << 3;
    QTest::newRow("several pages") << 25;
}

void TestReportPagination::sectionsOnEveryPage()
{
    QFETCH(int, rows);
    const ReportLayout l = synthetic(3000, 500, 3000, 400, 2000, true);
    const Pagination p(l, rows);
    int reportHeaders = 0;
    int reportFooters = 0;
    for (int k = 0; k < p.pageCount(); ++k) {
        const auto secs = p.sectionsOnPage(k);
        QVERIFY(!secs.empty());
        int y = 0;
        int pageHeaders = 0;
        for (const PlacedSection &s : secs) {
            if (s.kind == SectionKind::PageFooter) {
                // At the foot of the printable area, below everything else.
                QCOMPARE(s.top, kPrintableA4 - 400);
                QVERIFY(y <= s.top);
                continue;
            }
            QCOMPARE(s.top, y);  // stacked without gaps or overlaps
            y += s.height;
            reportHeaders += s.kind == SectionKind::ReportHeader;
            reportFooters += s.kind == SectionKind::ReportFooter;
            pageHeaders += s.kind == SectionKind::PageHeader;
            if (s.kind == SectionKind::ReportHeader)
                QCOMPARE(k, 0);
            if (s.kind == SectionKind::ReportFooter)
                QCOMPARE(k, p.pageCount() - 1);
        }
        QCOMPARE(pageHeaders, 1);
        QCOMPARE(secs.back().kind, SectionKind::PageFooter);
        if (k == 0)
            QCOMPARE(secs.front().kind, SectionKind::ReportHeader);
        else
            QCOMPARE(secs.front().kind, SectionKind::PageHeader);
    }
    QCOMPARE(reportHeaders, 1);
    QCOMPARE(reportFooters, 1);
}

// Read through a real recordset: one block per row in the order of the
// statement, the page number label counting 1..n, the title once.
void TestReportPagination::rowsInOrderAndPageNumbers()
{
    test::TestDb db(test::Empty);
    insertCases(db, 23);
    const ReportLayout l = synthetic(3000, 500, 3000, 400, 2000, true);
    ReportDocument doc(l, ReportRows::open(QStringLiteral("select * from xj order by 门诊号 desc"), l.boundColumns()));
    QCOMPARE(doc.rowCount(), 23);
    // 3 on page 1, then 4 a page: 6 pages; the report footer (2000) does not
    // fit under the 4 blocks of page 6 and takes page 7.
    QCOMPARE(doc.pageCount(), 7);

    QStringList printed;
    int titles = 0;
    int ends = 0;
    for (int k = 0; k < doc.pageCount(); ++k) {
        const RenderedPage page = doc.page(k);
        QCOMPARE(page.number, k + 1);
        int footers = 0;
        int headers = 0;
        for (const PageItem &it : page.items) {
            if (it.element->name == QLatin1String("No")) {
                QCOMPARE(it.section, SectionKind::Detail);
                printed << it.text;
            }
            titles += it.element->name == QLatin1String("Title");
            ends += it.element->name == QLatin1String("End");
            headers += it.element->name == QLatin1String("Head");
            if (it.element->name == QLatin1String("Page")) {
                ++footers;
                QCOMPARE(it.text, QStringLiteral("第%1页").arg(k + 1));
                QCOMPARE(it.rect.top(), kPrintableA4 - 400);
            }
        }
        QCOMPARE(footers, 1);
        QCOMPARE(headers, 1);
    }
    QCOMPARE(titles, 1);
    QCOMPARE(ends, 1);
    QStringList expected;
    for (int i = 23; i >= 1; --i)
        expected << QStringLiteral("M%1").arg(i, 5, 10, QLatin1Char('0'));
    QCOMPARE(printed, expected);

    // Going back to an earlier page reads the same rows again.
    const RenderedPage again = doc.page(1);
    QStringList second;
    for (const PageItem &it : again.items)
        if (it.element->name == QLatin1String("No"))
            second << it.text;
    QCOMPARE(second, expected.mid(3, 4));
}

// A 药名 far longer than its box: the box and the block keep their size, the
// visible lines stay inside the box, and the rest is cut.
void TestReportPagination::longTextStaysInItsBox()
{
    test::TestDb db(test::Empty);
    db.exec(QStringLiteral("insert into class(年级,科室,专业) values('内科','心内科','心血管')"));
    const QString longDrugs = QStringLiteral("硝苯地平控释片、阿司匹林肠溶片、阿托伐他汀钙片、").repeated(12);
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室,药名) values('A1','甲','心内科','%1')").arg(longDrugs));
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室,药名) values('A2','乙','心内科','短')"));

    const ReportLayout &l = DataReportclass::layout();
    ReportDocument doc(
        l, ReportRows::open(
               QStringLiteral("select xj.*, class.专业 from xj inner join class on xj.科室=class.科室 order by 门诊号"),
               l.boundColumns()));
    const RenderedPage page = doc.page(0);
    std::vector<int> detailTops;
    for (const PlacedSection &s : page.sections)
        if (s.kind == SectionKind::Detail) {
            QCOMPARE(s.height, 6375);
            detailTops.push_back(s.top);
        }
    QCOMPARE(int(detailTops.size()), 2);
    QCOMPARE(detailTops[1] - detailTops[0], 6375);

    const PageItem *drug = nullptr;
    for (const PageItem &it : page.items)
        if (it.row == 0 && it.element->dataField == QStringLiteral("药名"))
            drug = &it;
    QVERIFY2(drug, qPrintable(QString::number(page.items.size())));
    QCOMPARE(drug->text, longDrugs);
    QCOMPARE(drug->rect, QRect(885, detailTops[0] + 3240, 5745, 690));

    const FittedText fit = fitText(drug->text, drug->element->font, drug->rect.size());
    QVERIFY(fit.cut);
    QVERIFY(fit.lines.size() >= 2);
    QString shown;
    for (size_t i = 0; i < fit.lines.size(); ++i) {
        const QRectF r = fit.lineRects[i];
        QVERIFY2(r.left() >= 0 && r.right() <= 5745 + 0.5, qPrintable(fit.lines[i]));
        QVERIFY2(r.bottom() <= 690 + 0.5, qPrintable(fit.lines[i]));
        shown += fit.lines[i];
    }
    QVERIFY(longDrugs.startsWith(shown));
    QVERIFY(shown.size() < longDrugs.size());

    // A short value fits and is not cut.
    const FittedText shortFit = fitText(QStringLiteral("短"), drug->element->font, drug->rect.size());
    QVERIFY(!shortFit.cut);
    QCOMPARE(int(shortFit.lines.size()), 1);
}

// Painted at 1/10 scale (144 dpi): nothing of the long text lands in the
// empty strips below and to the right of its box.
void TestReportPagination::longTextLeavesNoInkOutsideItsBox()
{
    test::TestDb db(test::Empty);
    db.exec(QStringLiteral("insert into class(年级,科室,专业) values('内科','心内科','心血管')"));
    const QString longDrugs = QStringLiteral("阿莫西林胶囊0.25g×24粒、").repeated(30);
    db.exec(QStringLiteral("insert into xj(门诊号,科室,药名) values('A1','心内科','%1')").arg(longDrugs));
    const ReportLayout &l = DataReportclass::layout();
    ReportDocument doc(
        l, ReportRows::open(QStringLiteral("select xj.*, class.专业 from xj inner join class on xj.科室=class.科室"),
                            l.boundColumns()));
    const RenderedPage page = doc.page(0);

    const QSize paper = l.paperSize();
    QImage img(paper / 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        p.scale(0.1, 0.1);
        doc.paintPage(p, page);
    }
    const int top = l.topMargin + 495;  // the first detail block
    auto inkIn = [&](int left, int y0, int right, int y1) {
        int dark = 0;
        for (int y = y0 / 10; y < y1 / 10; ++y)
            for (int x = left / 10; x < right / 10; ++x)
                dark += qGray(img.pixel(x, y)) < 200;
        return dark;
    };
    const int boxLeft = l.leftMargin + 885;
    const int boxTop = top + 3240;
    const int boxRight = boxLeft + 5745;
    const int boxBottom = boxTop + 690;
    QVERIFY2(inkIn(boxLeft, boxTop, boxRight, boxBottom) > 0, "the box shows the start of the text");
    // Below the box down to the next element (药量 at 4020), and right of it
    // to the report's width: empty in the layout.
    QCOMPARE(inkIn(boxLeft, boxBottom + 10, boxRight, top + 4020 - 10), 0);
    QCOMPARE(inkIn(boxRight + 10, boxTop, l.leftMargin + 7890, boxBottom), 0);
}

void TestReportPagination::wrappingPrefersWholeWordsButShowsMost_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QStringList>("lines");
    // A colon may not start a line; one line high, breaking anywhere shows
    // all four characters instead of three.
    QTest::newRow("caption one line high")
        << QStringLiteral("出生年月:") << 795 << 240 << QStringList{QStringLiteral("出生年月")};
    // Two lines high: the colon travels with the character before it.
    QTest::newRow("caption two lines high")
        << QStringLiteral("入诊时间:") << 495 << 465 << QStringList{QStringLiteral("入诊"), QStringLiteral("时间:")};
    QTest::newRow("latin words stay whole") << QStringLiteral("aspirin tablets") << 1000 << 480
                                            << QStringList{QStringLiteral("aspirin "), QStringLiteral("tablets")};
    QTest::newRow("line feeds start new lines")
        << QStringLiteral("一\r\n二\n三") << 3000 << 1000
        << QStringList{QStringLiteral("一\u2028"), QStringLiteral("二\u2028"), QStringLiteral("三")};
}

void TestReportPagination::wrappingPrefersWholeWordsButShowsMost()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QStringList, lines);
    const FittedText fit = fitText(text, ReportFont{}, QSize(width, height));
    QStringList got;
    for (const QString &l : fit.lines)
        got << l;
    QCOMPARE(got, lines);
}

QTEST_MAIN(TestReportPagination)
#include "tst_reportpagination.moc"
