// Showing the three reports from DataEnv1 and the preview window: which rows
// a showing prints, modal and modeless showings, navigation, zoom, printing
// and PDF export through their seams, and the empty report.
#include "cases/DataReportclass.h"
#include "dept/DataReportclass2.h"
#include "prescribe/DataReport1.h"
#include "report/dataenv.h"
#include "report/preview.h"
#include "report/report.h"
#include "testenv.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace xs;

namespace {

void seedCases(const test::TestDb &db, int n)
{
    db.exec(QStringLiteral(
        "insert into class(年级,科室,专业) values('内科','心内科','心血管'),('外科','普外科','普通外科')"));
    for (int i = 1; i <= n; ++i)
        db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values('C%1','病人%1','%2')")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .arg(i % 2 ? QStringLiteral("心内科") : QStringLiteral("普外科")));
}

void addWorkRow(const test::TestDb &db, const QString &number, const QString &drugs)
{
    db.exec(QStringLiteral("insert into yc(门诊号,姓名,药名) values('%1','患者','%2')").arg(number, drugs));
}

// The values one column prints on every page of a showing, in order.
QStringList printed(ReportPreview *w, const QString &column)
{
    QStringList out;
    ReportDocument &doc = w->document();
    for (int k = 0; k < doc.pageCount(); ++k)
        for (const PageItem &it : doc.page(k).items)
            if (it.section == SectionKind::Detail && it.element->kind == ElementKind::Field
                && it.element->dataField == column)
                out << it.text;
    return out;
}

int pdfPages(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(f.readAll()).count(page));
}

QAction *action(ReportPreview *w, const char *name) { return w->findChild<QAction *>(QString::fromLatin1(name)); }

}  // namespace

class TestReportPreview : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void reopeningChangesTheNextShowing();
    void modelessShowingUsesWhatTheRecordsetLastHeld();
    void modalShowingWaitsForTheUser_data();
    void modalShowingWaitsForTheUser();
    void departmentReportReadsRsCommand2();
    void prescriptionReadsWorkTableAtEveryShowing();
    void emptyReport_data();
    void emptyReport();
    void navigation_data();
    void navigation();
    void zoom();
    void printing_data();
    void printing();
    void exportToPdf();
    void aShowingKeepsItsRowsWhileTheTableChanges();
};

void TestReportPreview::cleanup()
{
    DataReportclass::Unload();
    DataReportclass2::Unload();
    DataReport1::Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    setPrintDialogRunner({});
    setPdfPathChooser({});
    DataEnv1.Close();
}

void TestReportPreview::reopeningChangesTheNextShowing()
{
    test::TestDb db(test::Empty);
    seedCases(db, 6);
    const QString joined = QStringLiteral("select xj.*,class.专业 from xj inner join class on xj.科室=class.科室 ");
    DataEnv1.rsCommand1.Open(joined + QStringLiteral("where xj.科室='心内科' order by xj.门诊号"));
    ReportPreview *first = DataReportclass::Show(false);
    QVERIFY(first);
    QCOMPARE(DataReportclass::window(), first);
    QCOMPARE(printed(first, QStringLiteral("门诊号")), (QStringList{"C001", "C003", "C005"}));
    QCOMPARE(printed(first, QStringLiteral("专业")), (QStringList{"心血管", "心血管", "心血管"}));

    QPointer<ReportPreview> old = first;
    DataEnv1.rsCommand1.Open(joined + QStringLiteral("where xj.科室='普外科' order by xj.门诊号 desc"));
    ReportPreview *second = DataReportclass::Show(false);
    QCOMPARE(printed(second, QStringLiteral("门诊号")), (QStringList{"C006", "C004", "C002"}));
    // The earlier preview of the same report was replaced.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(old.isNull());
    QCOMPARE(DataReportclass::window(), second);
}

// A double-click shows the report with whatever rsCommand1 last held; never
// opened, that is Command1's own text: every record that has a department.
void TestReportPreview::modelessShowingUsesWhatTheRecordsetLastHeld()
{
    test::TestDb db(test::Empty);
    seedCases(db, 3);
    db.exec(QStringLiteral("insert into xj(门诊号,科室) values('C999','没有的科室')"));
    ReportPreview *w = DataReportclass::Show(false);
    QVERIFY(w->isVisible());
    QVERIFY(!w->isModal());
    QCOMPARE(w->windowTitle(), QStringLiteral("DataReport1"));
    QCOMPARE(printed(w, QStringLiteral("门诊号")), (QStringList{"C001", "C002", "C003"}));

    DataEnv1.rsCommand1.Open(
        QStringLiteral("select xj.*,class.专业 from xj inner join class on xj.科室=class.科室 where xj.门诊号='C002'"));
    // Reading the recordset (as a caller testing for end of data does) does
    // not change what the report prints.
    while (!DataEnv1.rsCommand1.atEOF())
        DataEnv1.rsCommand1.MoveNext();
    w = DataReportclass::Show(false);
    QCOMPARE(printed(w, QStringLiteral("门诊号")), QStringList{"C002"});
    QTRY_VERIFY(w->pagesPainted() > 0);
}

void TestReportPreview::modalShowingWaitsForTheUser_data()
{
    QTest::addColumn<int>("report");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("case report") << 1 << "DataReportclass"
                                 << "DataReport1";
    QTest::newRow("department report") << 2 << "DataReportclass2"
                                       << "DataReportclass";
    QTest::newRow("prescription") << 3 << "DataReport1"
                                  << "DataReport1";
}

void TestReportPreview::modalShowingWaitsForTheUser()
{
    QFETCH(int, report);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    test::TestDb db(test::Empty);
    seedCases(db, 2);
    addWorkRow(db, QStringLiteral("R1"), QStringLiteral("阿莫西林"));

    bool seen = false;
    QTimer::singleShot(0, [&] {
        ReportPreview *w = openReportPreview(name);
        QVERIFY(w);
        seen = true;
        QVERIFY(w->isVisible());
        QVERIFY(w->isModal());
        QCOMPARE(w->windowModality(), Qt::ApplicationModal);
        QCOMPARE(w->windowTitle(), caption);
        QCOMPARE(w->document().rowCount(), report == 3 ? 1 : 2);
        w->close();
    });
    ReportPreview *r = report == 1   ? DataReportclass::Show(true)
                       : report == 2 ? DataReportclass2::Show(true)
                                     : DataReport1::Show(true);
    QVERIFY(seen);  // Show returned only after the preview had been open
    QCOMPARE(r, nullptr);
    QCOMPARE(openReportPreview(name), nullptr);
}

void TestReportPreview::departmentReportReadsRsCommand2()
{
    test::TestDb db(test::Empty);
    seedCases(db, 0);
    db.exec(QStringLiteral("insert into class values('外科','骨科','301','五年','骨外科','赵医生','无')"));
    ReportPreview *w = DataReportclass2::Show(false);
    QCOMPARE(w->windowTitle(), QStringLiteral("DataReportclass"));
    QCOMPARE(printed(w, QStringLiteral("科室")), (QStringList{"心内科", "普外科", "骨科"}));
    DataEnv1.rsCommand2.Open(QStringLiteral("select * from class where 年级='外科'"));
    w = DataReportclass2::Show(false);
    QCOMPARE(printed(w, QStringLiteral("科室")), (QStringList{"普外科", "骨科"}));
    QCOMPARE(printed(w, QStringLiteral("医生")), (QStringList{"", "赵医生"}));
}

// Every showing of the prescription reads yc as it is at that moment, even
// when somebody reopened rsCommand3 on something else in between.
void TestReportPreview::prescriptionReadsWorkTableAtEveryShowing()
{
    test::TestDb db(test::Empty);
    addWorkRow(db, QStringLiteral("R1"), QStringLiteral("甲药"));
    ReportPreview *w = DataReport1::Show(false);
    QCOMPARE(printed(w, QStringLiteral("门诊号")), QStringList{"R1"});

    addWorkRow(db, QStringLiteral("R2"), QStringLiteral("乙药"));
    DataEnv1.rsCommand3.Open(QStringLiteral("select * from yc where 门诊号='R1'"));
    w = DataReport1::Show(false);
    QCOMPARE(printed(w, QStringLiteral("门诊号")), (QStringList{"R1", "R2"}));
    QCOMPARE(printed(w, QStringLiteral("药名")), (QStringList{"甲药", "乙药"}));
    QCOMPARE(DataEnv1.rsCommand3.Source(), DataEnv1.Command3.CommandText);
    // Two prescriptions fit on the first page.
    QCOMPARE(w->pageCount(), 1);

    db.exec(QStringLiteral("delete from yc"));
    w = DataReport1::Show(false);
    QVERIFY(w->document().isEmpty());
}

void TestReportPreview::emptyReport_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("no row matches") << QStringLiteral(
        "select xj.*,class.专业 from xj inner join class on xj.科室=class.科室 where xj.门诊号='none'");
    QTest::newRow("statement failed") << QStringLiteral("select * from no_such_table");
}

// One page with the title and the page footer, a note that there is nothing
// to print, and no printing or export offered.
void TestReportPreview::emptyReport()
{
    QFETCH(QString, source);
    test::TestDb db(test::Empty);
    seedCases(db, 2);
    DataEnv1.rsCommand1.Open(source);
    int dialogs = 0;
    setPrintDialogRunner([&](QPrinter &, QWidget *) {
        ++dialogs;
        return true;
    });
    setPdfPathChooser([&](QWidget *, const QString &) {
        ++dialogs;
        return QString();
    });

    ReportPreview *w = DataReportclass::Show(false);
    QCOMPARE(w->pageCount(), 1);
    QCOMPARE(w->pageText(), QStringLiteral("第 1 页，共 1 页"));
    QStringList texts;
    for (const PageItem &it : w->shownPage().items) {
        QVERIFY(it.section != SectionKind::Detail);
        texts << it.text;
    }
    QCOMPARE(texts, (QStringList{"青禾医院电子处方", "第", "1", ". 页"}));
    auto *notice = w->findChild<QLabel *>(QStringLiteral("emptyNotice"));
    QVERIFY(notice);
    QVERIFY(notice->isVisible());
    QCOMPARE(notice->text(), QStringLiteral("没有可打印的记录。"));
    QVERIFY(!action(w, "print")->isEnabled());
    QVERIFY(!action(w, "exportPdf")->isEnabled());
    QVERIFY(!w->printReport());
    QVERIFY(!w->exportPdf());
    QCOMPARE(dialogs, 0);
}

void TestReportPreview::navigation_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("pages");
    // 7 case records, two to a page: 4 pages.
    QTest::newRow("forward") << QStringList{"next", "next", "next", "next"} << QList<int>{2, 3, 4, 4};
    QTest::newRow("ends") << QStringList{"last", "previous", "first", "previous"} << QList<int>{4, 3, 1, 1};
    QTest::newRow("jump") << QStringList{"goto 3", "goto 99", "goto 0"} << QList<int>{3, 4, 1};
}

void TestReportPreview::navigation()
{
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, pages);
    test::TestDb db(test::Empty);
    seedCases(db, 7);
    ReportPreview *w = DataReportclass::Show(false);
    QCOMPARE(w->pageCount(), 4);
    QCOMPARE(w->currentPage(), 1);
    QCOMPARE(w->document().pagesLaidOut(), 1);  // only the page on screen
    QVERIFY(!action(w, "firstPage")->isEnabled());
    QVERIFY(!action(w, "previousPage")->isEnabled());
    QVERIFY(action(w, "nextPage")->isEnabled());
    QVERIFY(action(w, "print")->isEnabled());
    QVERIFY(!w->findChild<QLabel *>(QStringLiteral("emptyNotice"))->isVisible());

    for (int i = 0; i < steps.size(); ++i) {
        const QString s = steps[i];
        if (s.startsWith(QLatin1String("goto ")))
            w->gotoPage(s.mid(5).toInt());
        else
            action(w, s == QLatin1String("next")       ? "nextPage"
                      : s == QLatin1String("previous") ? "previousPage"
                      : s == QLatin1String("first")    ? "firstPage"
                                                       : "lastPage")
                ->trigger();
        QCOMPARE(w->currentPage(), pages[i]);
        QCOMPARE(w->shownPage().number, pages[i]);
        QCOMPARE(w->pageText(), QStringLiteral("第 %1 页，共 4 页").arg(pages[i]));
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("pageLabel"))->text(), w->pageText());
        QCOMPARE(action(w, "previousPage")->isEnabled(), pages[i] > 1);
        QCOMPARE(action(w, "nextPage")->isEnabled(), pages[i] < 4);
        QCOMPARE(action(w, "lastPage")->isEnabled(), pages[i] < 4);
        // The page on screen holds its own rows.
        QStringList numbers;
        for (const PageItem &it : w->shownPage().items)
            if (it.element->dataField == QStringLiteral("门诊号"))
                numbers << it.text;
        QStringList want;
        for (int r = (pages[i] - 1) * 2 + 1; r <= std::min(7, pages[i] * 2); ++r)
            want << QStringLiteral("C%1").arg(r, 3, 10, QLatin1Char('0'));
        QCOMPARE(numbers, want);
    }
}

void TestReportPreview::zoom()
{
    test::TestDb db(test::Empty);
    seedCases(db, 1);
    ReportPreview *w = DataReportclass::Show(false);
    w->resize(700, 600);
    QCoreApplication::processEvents();
    auto *view = w->findChild<QWidget *>(QStringLiteral("pageView"));
    auto *area = w->findChild<QScrollArea *>(QStringLiteral("pageArea"));
    QVERIFY(view && area);
    const QSize paper = DataReportclass::layout().paperSize();

    QCOMPARE(w->zoomMode(), ReportPreview::ZoomMode::Percent);
    QCOMPARE(w->zoomFactor(), 1.0);
    // 100 %: 15 twips to a pixel, plus the grey border.
    QCOMPARE(view->width(), int(std::ceil(paper.width() / 15.0)) + 2 * ReportPageView::kPad);

    auto *box = w->findChild<QComboBox *>(QStringLiteral("zoom"));
    QVERIFY(box);
    const int idx200 = box->findText(QStringLiteral("200%"));
    QVERIFY(idx200 >= 0);
    box->setCurrentIndex(idx200);
    emit box->activated(idx200);
    QCOMPARE(w->zoomFactor(), 2.0);
    QCOMPARE(view->height(), int(std::ceil(paper.height() * 2 / 15.0)) + 2 * ReportPageView::kPad);

    w->setZoom(ReportPreview::ZoomMode::FitWidth);
    QCOMPARE(box->currentText(), QStringLiteral("页宽"));
    QVERIFY(view->width() <= area->viewport()->width());
    QVERIFY(view->width() >= area->viewport()->width() - 8);

    w->setZoom(ReportPreview::ZoomMode::FitPage);
    QCOMPARE(box->currentText(), QStringLiteral("整页"));
    QVERIFY(view->height() <= area->viewport()->height());
    QVERIFY(view->width() <= area->viewport()->width());
    // Fitting follows the window's size.
    const double before = w->zoomFactor();
    w->resize(900, 1000);
    QCoreApplication::processEvents();
    QTRY_VERIFY(w->zoomFactor() > before);

    w->setZoom(ReportPreview::ZoomMode::Percent, 75);
    QCOMPARE(w->zoomFactor(), 0.75);
    QCOMPARE(box->currentText(), QStringLiteral("75%"));
}

void TestReportPreview::printing_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("range");  // 0 all, 1 pages 2-3, 2 current page
    QTest::addColumn<int>("pages");
    QTest::newRow("all pages") << true << 0 << 4;
    QTest::newRow("page range") << true << 1 << 2;
    QTest::newRow("current page") << true << 2 << 1;
    QTest::newRow("cancelled") << false << 0 << -1;
}

void TestReportPreview::printing()
{
    QFETCH(bool, accept);
    QFETCH(int, range);
    QFETCH(int, pages);
    test::TestDb db(test::Empty);
    seedCases(db, 7);
    QTemporaryDir out;
    const QString file = out.filePath(QStringLiteral("printed.pdf"));
    int asked = 0;
    setPrintDialogRunner([&](QPrinter &printer, QWidget *) {
        ++asked;
        // What the dialog was given: the whole report, A4, the document name.
        [&] {
            QCOMPARE(printer.fromPage(), 1);
            QCOMPARE(printer.toPage(), 4);
            QCOMPARE(printer.docName(), QStringLiteral("DataReport1"));
            QCOMPARE(printer.pageLayout().pageSize().id(), QPageSize::A4);
        }();
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        if (range == 1) {
            printer.setPrintRange(QPrinter::PageRange);
            printer.setFromTo(2, 3);
        } else if (range == 2) {
            printer.setPrintRange(QPrinter::CurrentPage);
        }
        return accept;
    });
    ReportPreview *w = DataReportclass::Show(false);
    w->gotoPage(3);
    QCOMPARE(w->printReport(), accept);
    QCOMPARE(asked, 1);
    QCOMPARE(pdfPages(file), pages);
}

void TestReportPreview::exportToPdf()
{
    test::TestDb db(test::Empty);
    seedCases(db, 5);
    QTemporaryDir out;
    QString suggested;
    QString answer = out.filePath(QStringLiteral("病例"));
    setPdfPathChooser([&](QWidget *, const QString &s) {
        suggested = s;
        return answer;
    });
    ReportPreview *w = DataReportclass::Show(false);
    QVERIFY(w->exportPdf());
    QVERIFY(suggested.endsWith(QStringLiteral("/DataReport1.pdf")));
    QCOMPARE(pdfPages(answer + QStringLiteral(".pdf")), 3);  // ".pdf" added
    QFile pdf(answer + QStringLiteral(".pdf"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY2(pdf.readAll().contains("UMing"), "宋体 comes out as the Song-style CJK font");

    answer.clear();  // the user cancels
    QVERIFY(!w->exportPdf());

    test::MsgRecorder rec;
    answer = out.filePath(QStringLiteral("no/such/folder/x.pdf"));
    QVERIFY(!w->exportPdf());
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("无法写入文件 ") + answer);
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
}

// An open preview keeps printing the rows it was shown with: later changes to
// the table (another window saving a case) do not shift its pages.
void TestReportPreview::aShowingKeepsItsRowsWhileTheTableChanges()
{
    test::TestDb db(test::Empty);
    seedCases(db, 4);
    ReportPreview *w = DataReportclass::Show(false);
    QCOMPARE(w->pageCount(), 2);
    QVERIFY(runaction(QStringLiteral("delete * from xj where 门诊号='C001'")));
    QVERIFY(runaction(QStringLiteral("insert into xj(门诊号,科室) values('C000','心内科')")));
    QCOMPARE(printed(w, QStringLiteral("门诊号")), (QStringList{"C001", "C002", "C003", "C004"}));
    w->lastPage();
    w->firstPage();
    QStringList first;
    for (const PageItem &it : w->shownPage().items)
        if (it.element->dataField == QStringLiteral("门诊号"))
            first << it.text;
    QCOMPARE(first, (QStringList{"C001", "C002"}));
    // The next showing reads the table as it is now.
    w = DataReportclass::Show(false);
    QCOMPARE(printed(w, QStringLiteral("门诊号")), (QStringList{"C002", "C003", "C004", "C000"}));
}

QTEST_MAIN(TestReportPreview)
#include "tst_reportpreview.moc"
