// The three report layouts, checked on laid-out pages: every element at its
// twips, captions, fonts, section heights, page size and captions of the
// preview windows. The expected tables (layouttables.h) are written the way
// the layouts are documented (top | left | width | element) and parsed here.
#include "cases/DataReportclass.h"
#include "dept/DataReportclass2.h"
#include "layouttables.h"
#include "prescribe/DataReport1.h"
#include "report/reportdocument.h"
#include "testenv.h"

#include <QFontInfo>
#include <QRawFont>
#include <QtTest>

using namespace xs;
using namespace layouttables;

namespace {

const QStringList &caseColumnsWithSpeciality()
{
    static const QStringList c = {"门诊号",   "姓名",     "性别", "科室",     "出生年月", "家庭住址", "邮政编码",
                                  "联系电话", "入诊时间", "备注", "婚否",     "体格检查", "既往病史", "症状",
                                  "诊断",     "药名",     "药量", "医生签字", "年龄",     "身份证",   "专业"};
    return c;
}

// The value each column holds in the one row the tests print: short enough
// for its box, distinct per column. Dates are real dates.
QString valueFor(const QString &column)
{
    if (column == QStringLiteral("出生年月"))
        return QStringLiteral("1980-02-03");
    if (column == QStringLiteral("入诊时间"))
        return QStringLiteral("2024-06-07");
    return QStringLiteral("v") + QString::number(caseColumnsWithSpeciality().indexOf(column));
}

struct Section {
    SectionKind kind;
    const char *table;
    int defaultLabelWidth;
    int defaultFieldWidth;
    double labelPt;
    double fieldPt;
};

}  // namespace

Q_DECLARE_METATYPE(const ReportLayout *)
Q_DECLARE_METATYPE(Section)

class TestReportLayouts : public QObject {
    Q_OBJECT

private slots:
    void pageAndSections_data();
    void pageAndSections();
    void elementsAtTheirTwips_data();
    void elementsAtTheirTwips();
    void songFontWithoutMissingGlyphs();
};

void TestReportLayouts::pageAndSections_data()
{
    QTest::addColumn<const ReportLayout *>("layout");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("width");
    QTest::addColumn<QList<int>>("heights");  // report header, page header, detail, page footer
    QTest::newRow("case report") << &DataReportclass::layout() << "DataReportclass"
                                 << "DataReport1"
                                 << "Command1" << 7890 << QList<int>{495, 0, 6375, 645};
    QTest::newRow("department report") << &DataReportclass2::layout() << "DataReportclass2"
                                       << "DataReportclass"
                                       << "Command2" << 8535 << QList<int>{360, 405, 4407, 972};
    QTest::newRow("prescription") << &DataReport1::layout() << "DataReport1"
                                  << "DataReport1"
                                  << "Command3" << 8505 << QList<int>{405, 0, 6540, 315};
}

void TestReportLayouts::pageAndSections()
{
    QFETCH(const ReportLayout *, layout);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, command);
    QFETCH(int, width);
    QFETCH(QList<int>, heights);
    QCOMPARE(layout->name, name);
    QCOMPARE(layout->caption, caption);
    QCOMPARE(layout->dataMember, command);
    QCOMPARE(layout->reportWidth, width);
    QCOMPARE(layout->leftMargin, 1440);
    QCOMPARE(layout->rightMargin, 1440);
    QCOMPARE(layout->topMargin, 1440);
    QCOMPARE(layout->bottomMargin, 1440);
    QCOMPARE(layout->paperSize(), QSize(11906, 16838));  // A4
    for (int k = 0; k < 4; ++k)
        QCOMPARE(layout->sections[size_t(k)].height, heights[k]);
    // The report footers are empty; the page header is empty too.
    QVERIFY(layout->section(SectionKind::ReportFooter).elements.empty());
    QVERIFY(layout->section(SectionKind::PageHeader).elements.empty());
    // Every element lies inside the report's width and its section.
    for (const ReportSection &s : layout->sections)
        for (const ReportElement &e : s.elements)
            QVERIFY2(e.left >= 0 && e.top >= 0 && e.left + e.width <= width && e.top + e.height <= s.height,
                     qPrintable(e.name));
}

void TestReportLayouts::elementsAtTheirTwips_data()
{
    QTest::addColumn<const ReportLayout *>("layout");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QList<Section>>("sections");
    QTest::newRow("case report") << &DataReportclass::layout()
                                 << QStringLiteral(
                                        "select xj.*, class.专业 from xj inner join class on xj.科室=class.科室")
                                 << QList<Section>{{SectionKind::ReportHeader, kCaseHeader, 0, 0, 14.25, 0},
                                                   {SectionKind::Detail, kCaseDetail, 0, 0, 9, 9},
                                                   {SectionKind::PageFooter, kCaseFooter, 0, 0, 9, 0}};
    QTest::newRow("department report") << &DataReportclass2::layout() << QStringLiteral("select * from class")
                                       << QList<Section>{{SectionKind::ReportHeader, "", 0, 0, 0, 0},
                                                         {SectionKind::Detail, kDeptDetail, 1290, 1440, 14.25, 12},
                                                         {SectionKind::PageFooter, kDeptFooter, 0, 0, 9, 0}};
    QTest::newRow("prescription") << &DataReport1::layout() << QStringLiteral("select *from yc")
                                  << QList<Section>{{SectionKind::ReportHeader, kRxHeader, 0, 0, 14.25, 0},
                                                    {SectionKind::Detail, kRxDetail, 0, 0, 9, 9},
                                                    {SectionKind::PageFooter, kRxFooter, 0, 0, 9, 0}};
}

void TestReportLayouts::elementsAtTheirTwips()
{
    QFETCH(const ReportLayout *, layout);
    QFETCH(QString, sql);
    QFETCH(QList<Section>, sections);

    test::TestDb db(test::Empty);
    QStringList caseValues;
    for (const QString &c : caseColumnsWithSpeciality().mid(0, 20))
        caseValues << QLatin1Char('\'') + valueFor(c) + QLatin1Char('\'');
    db.exec(QStringLiteral("insert into xj values(%1)").arg(caseValues.join(QLatin1Char(','))));
    db.exec(QStringLiteral("insert into yc values(%1)").arg(caseValues.join(QLatin1Char(','))));
    // The department row shares 科室 with the case row, so the join finds it.
    db.exec(QStringLiteral("insert into class values('%1','%2','%3','%4','%5','%6','%7')")
                .arg(QStringLiteral("g1"), valueFor(QStringLiteral("科室")), QStringLiteral("r1"), QStringLiteral("y1"),
                     valueFor(QStringLiteral("专业")), QStringLiteral("d1"), QStringLiteral("n1")));
    const QMap<QString, QString> deptValues = {
        {"年级", "g1"}, {"科室", valueFor(QStringLiteral("科室"))}, {"诊室", "r1"},
        {"年制", "y1"}, {"专业", valueFor(QStringLiteral("专业"))}, {"医生", "d1"},
        {"备注", "n1"}};

    ReportDocument doc(*layout, ReportRows::open(sql, layout->boundColumns()));
    QCOMPARE(doc.rowCount(), 1);
    QCOMPARE(doc.pageCount(), 1);
    const RenderedPage page = doc.page(0);

    QMap<SectionKind, int> tops;
    for (const PlacedSection &s : page.sections)
        tops[s.kind] = s.top;
    QCOMPARE(tops.value(SectionKind::ReportHeader), 0);
    QCOMPARE(tops.value(SectionKind::Detail),
             layout->section(SectionKind::ReportHeader).height + layout->section(SectionKind::PageHeader).height);
    QCOMPARE(tops.value(SectionKind::PageFooter),
             layout->printableHeight() - layout->section(SectionKind::PageFooter).height);

    int checked = 0;
    for (const Section &sec : sections) {
        const QList<Expected> want = parseTable(sec.table, sec.defaultLabelWidth, sec.defaultFieldWidth);
        std::vector<const PageItem *> got;
        for (const PageItem &it : page.items)
            if (it.section == sec.kind)
                got.push_back(&it);
        QCOMPARE(int(got.size()), want.size());
        for (const Expected &e : want) {
            const PageItem *match = nullptr;
            for (const PageItem *it : got) {
                const QString key =
                    it->element->kind == ElementKind::Label ? it->element->caption : it->element->dataField;
                if (it->element->kind == e.kind && key == e.text) {
                    QVERIFY2(!match, qPrintable(QStringLiteral("twice: ") + e.text));
                    match = it;
                }
            }
            QVERIFY2(match, qPrintable(QStringLiteral("missing: ") + e.text));
            QCOMPARE(match->rect, e.rect.translated(0, tops.value(sec.kind)));
            const ReportFont &f = match->element->font;
            QCOMPARE(f.name, QStringLiteral("宋体"));
            QCOMPARE(f.size, e.kind == ElementKind::Label ? sec.labelPt : sec.fieldPt);
            QCOMPARE(f.weight, 400);
            QCOMPARE(f.charset, 134);  // GB2312
            QVERIFY(!f.italic);
            // What it prints: the caption (page number for "%p") or the value
            // of its own column in the row.
            if (e.kind == ElementKind::Label) {
                QCOMPARE(match->text, e.text == QLatin1String("%p") ? QStringLiteral("1") : e.text);
            } else {
                const QString expected =
                    layout == &DataReportclass2::layout() ? deptValues.value(e.text) : valueFor(e.text);
                QCOMPARE(match->text, expected);
                QCOMPARE(match->row, 0);
            }
            ++checked;
        }
    }
    QCOMPARE(checked, int(page.items.size()));
}

// 宋体 resolves to the Song-style CJK font, which has a glyph for every
// character the three layouts print.
void TestReportLayouts::songFontWithoutMissingGlyphs()
{
    const QFont f = reportQFont(ReportFont{});
    QVERIFY2(QFontInfo(f).family().contains(QStringLiteral("UMing"), Qt::CaseInsensitive),
             qPrintable(QFontInfo(f).family()));
    const QRawFont raw = QRawFont::fromFont(f);
    QVERIFY(raw.isValid());
    for (const ReportLayout *l : {&DataReportclass::layout(), &DataReportclass2::layout(), &DataReport1::layout()})
        for (const ReportSection &s : l->sections)
            for (const ReportElement &e : s.elements)
                for (const QChar c : e.caption + e.dataField)
                    if (!c.isSpace())
                        QVERIFY2(raw.supportsCharacter(c), qPrintable(QString(c) + QStringLiteral(" in ") + e.name));
}

QTEST_MAIN(TestReportLayouts)
#include "tst_reportlayouts.moc"
