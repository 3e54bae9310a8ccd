// Printing the case report through a real CUPS server: the preview's print
// button, the platform's print dialog with the cups-pdf queue chosen in it,
// and the PDF the queue wrote compared with the preview's own PDF export:
// the same number of pages, each page drawn the same. (cups-pdf takes its
// input as PostScript, on which way the CJK fonts become Type 3 fonts whose
// text pdftotext cannot read back, so the pages are compared as drawn.)
// cupsprint.sh starts the server and names the queue and its output folder.
#include "cases/DataReportclass.h"
#include "report/dataenv.h"
#include "report/preview.h"
#include "testenv.h"

#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPrintDialog>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace xs;

namespace {

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(20000))
        return QStringLiteral("<%1 did not finish>").arg(program);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pdfPages(const QString &path)
{
    static const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)$"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = pages.match(run(QStringLiteral("pdfinfo"), {path}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Every page drawn at 40 dpi in grey, as pdftoppm renders it.
QList<QImage> pdfImages(const QString &path, const QString &prefix)
{
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-gray"), path, prefix});
    QList<QImage> pages;
    const QFileInfo base(prefix);
    const QStringList files =
        QDir(base.path()).entryList({base.fileName() + QStringLiteral("-*.pgm")}, QDir::Files, QDir::Name);
    for (const QString &f : files)
        pages << QImage(QDir(base.path()).filePath(f)).convertToFormat(QImage::Format_Grayscale8);
    return pages;
}

// Pixels, in thousandths of the page, whose grey differs by more than a
// quarter of the scale (glyph edges rasterise a little differently once the
// fonts have been through PostScript; a different line of text does not).
int differing(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1000;
    qint64 count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const uchar *p = a.constScanLine(y);
        const uchar *q = b.constScanLine(y);
        for (int x = 0; x < a.width(); ++x)
            count += std::abs(int(p[x]) - int(q[x])) > 64;
    }
    return int(count * 1000 / (qint64(a.width()) * a.height()));
}

// Jobs of the queue not yet completed, as lpstat lists them.
QString pendingJobs(const QString &queue)
{
    return run(QStringLiteral("lpstat"),
               {QStringLiteral("-W"), QStringLiteral("not-completed"), QStringLiteral("-o"), queue})
        .trimmed();
}

}  // namespace

class TestCupsPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void printedPagesMatchTheExport();

private:
    QString queue_;
    QString out_;
};

void TestCupsPrint::initTestCase()
{
    const QString skip = qEnvironmentVariable("XS_CUPS_SKIP");
    if (!skip.isEmpty())
        QSKIP(qPrintable(skip));
    queue_ = qEnvironmentVariable("XS_CUPS_QUEUE");
    out_ = qEnvironmentVariable("XS_CUPS_OUT");
    if (queue_.isEmpty() || out_.isEmpty() || qEnvironmentVariable("CUPS_SERVER").isEmpty())
        QSKIP("没有可用的 CUPS 服务器：请通过 tests/report/cupsprint.sh 运行本测试");
}

void TestCupsPrint::cleanup()
{
    DataReportclass::Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    setPdfPathChooser({});
    DataEnv1.Close();
}

void TestCupsPrint::printedPagesMatchTheExport()
{
    test::TestDb db(test::All);
    QTemporaryDir tmp;
    const QString exported = tmp.filePath(QStringLiteral("exported.pdf"));
    ReportPreview *w = DataReportclass::Show(false);
    QVERIFY(w);
    const int pages = w->pageCount();
    QVERIFY2(pages >= 3, qPrintable(QStringLiteral("the demo case report has %1 pages").arg(pages)));

    setPdfPathChooser([&](QWidget *, const QString &) { return exported; });
    QAction *exportPdf = w->findChild<QAction *>(QStringLiteral("exportPdf"));
    QVERIFY(exportPdf);
    exportPdf->trigger();
    QCOMPARE(pdfPages(exported), pages);

    // The real print dialog: the test's queue chosen in its printer list and
    // the dialog's own Print button pressed.
    QString chosen;
    QString dialogFault = QStringLiteral("the print dialog never opened");
    QTimer::singleShot(0, this, [&] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
            return;
        }
        auto *printers = dialog->findChild<QComboBox *>(QStringLiteral("printers"));
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        const int index = printers ? printers->findText(queue_) : -1;
        if (index < 0 || !buttons || !buttons->button(QDialogButtonBox::Ok)) {
            dialogFault = QStringLiteral("the dialog does not offer %1").arg(queue_);
            dialog->reject();
            return;
        }
        printers->setCurrentIndex(index);
        chosen = printers->currentText();
        dialogFault.clear();
        buttons->button(QDialogButtonBox::Ok)->click();
    });
    QAction *print = w->findChild<QAction *>(QStringLiteral("print"));
    QVERIFY(print);
    test::MsgRecorder rec;
    print->trigger();
    QVERIFY2(dialogFault.isEmpty(), qPrintable(dialogFault));
    QCOMPARE(chosen, queue_);
    QCOMPARE(rec.calls.size(), 0);  // no "打印失败" told

    // The job leaves the queue and cups-pdf has written its file.
    auto written = [this] { return QDir(out_).entryList({QStringLiteral("*.pdf")}, QDir::Files); };
    QTRY_VERIFY2_WITH_TIMEOUT(!written().isEmpty() && pendingJobs(queue_).isEmpty(),
                              qPrintable(QStringLiteral("still queued: ") + pendingJobs(queue_)), 40000);
    QCOMPARE(written().size(), 1);
    const QString printedPdf = QDir(out_).filePath(written().first());

    QCOMPARE(pdfPages(printedPdf), pages);
    // Page by page the printed pages look like the exported ones, and each
    // looks less like its neighbour than like itself.
    const QList<QImage> printedPages = pdfImages(printedPdf, tmp.filePath(QStringLiteral("printed")));
    const QList<QImage> exportedPages = pdfImages(exported, tmp.filePath(QStringLiteral("exported")));
    QCOMPARE(printedPages.size(), pages);
    QCOMPARE(exportedPages.size(), pages);
    for (int k = 0; k < pages; ++k) {
        const int same = differing(printedPages[k], exportedPages[k]);
        const int next = differing(printedPages[k], exportedPages[(k + 1) % pages]);
        QVERIFY2(same < 10, qPrintable(QStringLiteral("page %1 differs in %2‰ of its pixels").arg(k + 1).arg(same)));
        QVERIFY2(next > same, qPrintable(QStringLiteral("page %1: %2‰ against itself, %3‰ against page %4")
                                             .arg(k + 1)
                                             .arg(same)
                                             .arg(next)
                                             .arg((k + 1) % pages + 1)));
    }
}

QTEST_MAIN(TestCupsPrint)
#include "tst_cupsprint.moc"
