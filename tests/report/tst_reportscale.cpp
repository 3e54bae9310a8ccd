// Reports over many rows: the first pages come before every row is read, the
// read snapshot goes once the rows are read, long print and export runs can be
// cancelled without leaving a file, and a temporary file that cannot be
// written is told.
#include "cases/DataReportclass.h"
#include "data/sqlite/sqlite.h"
#include "report/dataenv.h"
#include "report/preview.h"
#include "report/report.h"
#include "testenv.h"

#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <sqlite3.h>

using namespace xs;

namespace {

const QString kJoined = QStringLiteral("select xj.*,class.专业 from xj inner join class on xj.科室=class.科室");

void seedCases(const test::TestDb &db, int n)
{
    db.exec(QStringLiteral("insert into class(年级,科室,专业) values('内科','心内科','心血管')"));
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
                           "insert into xj(门诊号,姓名,科室,家庭住址,药名) select printf('C%06d',i),'病人'||i,'心内科',"
                           "'青禾市长安路'||i||'号','阿莫西林胶囊 0.25g、布洛芬缓释胶囊 0.3g、复方甘草口服溶液' from n")
                .arg(n));
}

// Every case record `times` times over: a result far larger than the table.
QString manyRows(int times)
{
    return kJoined
           + QStringLiteral(", (with recursive t(k) as (select 1 union all select k+1 from t where k<%1) "
                            "select k from t) as times")
                 .arg(times);
}

// A passive checkpoint copies what no reader still needs: "busy|frames|copied".
// On the server: another session of the database holds a read snapshot.
bool checkpointBlocked(const test::TestDb &db)
{
    if (test::serverEngine())
        return db.scalar(QStringLiteral("select count(*) from pg_stat_activity where datname=current_database()"
                                        " and pid<>pg_backend_pid() and backend_xmin is not null"))
               != QLatin1String("0");
    const QStringList r = db.rows(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")).value(0).split(u'|');
    return r.value(1) != r.value(2);
}

QStringList numbersOn(const RenderedPage &page)
{
    QStringList out;
    for (const PageItem &it : page.items)
        if (it.element->dataField == QStringLiteral("门诊号"))
            out << it.text;
    return out;
}

// The 门诊号 of every row of sql, in the statement's own order.
QStringList numbersOf(const test::TestDb &db, const QString &sql)
{
    if (test::serverEngine()) {
        QStringList out = db.rows(sql);
        for (QString &row : out)
            row = row.section(u'|', 0, 0);
        return out;
    }
    Connection c = Connection::open(db.path());
    StmtHandle s = c.prepare(sql);
    QStringList out;
    while (s && sqlite3_step(s.get()) == SQLITE_ROW)
        out << columnText(s.get(), 0);
    return out;
}

ReportPreview *showOn(const QString &source)
{
    DataEnv1.rsCommand1.Open(source);
    DataEnv1.rsCommand1.release();
    return DataReportclass::Show(false);
}

// Clicks 取消 of the first progress dialog of `w` that is on screen, once it
// shows; returns the timer doing it.
QTimer *cancelWhenShown(ReportPreview *w, int *cancelled)
{
    auto *t = new QTimer(w);
    t->setInterval(20);
    QObject::connect(t, &QTimer::timeout, [w, t, cancelled] {
        for (QProgressDialog *d : w->findChildren<QProgressDialog *>())
            if (d->isVisible())
                if (auto *button = d->findChild<QPushButton *>()) {
                    ++*cancelled;
                    t->stop();
                    QCOMPARE(button->text(), QStringLiteral("取消"));
                    button->click();
                    return;
                }
    });
    t->start();
    return t;
}

// A small file system mounted for one test (as root), unmounted afterwards.
struct SmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    explicit SmallDisk(const char *size)
    {
        mounted = QProcess::execute(
                      QStringLiteral("mount"),
                      {"-t", "tmpfs", "-o", QStringLiteral("size=%1").arg(QLatin1String(size)), "tmpfs", dir.path()})
                  == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {dir.path()});
    }
};

}  // namespace

class TestReportScale : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void firstPagesComeBeforeTheCount();
    void closingWhileReadingLetsTheSnapshotGo();
    void cancellingALongRun_data();
    void cancellingALongRun();
    void cancellingTheWaitForRows();
    void aTemporaryFileThatCannotBeWrittenIsTold();
};

void TestReportScale::cleanup()
{
    DataReportclass::Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    setPrintDialogRunner({});
    setPdfPathChooser({});
    DataEnv1.Close();
}

// The preview is up with its first page while the rest is read in the
// background; writers go on meanwhile; once every row is read the page count
// is final, the last page prints the last rows, and the read snapshot is gone.
void TestReportScale::firstPagesComeBeforeTheCount()
{
    test::TestDb db(test::Empty);
    seedCases(db, 1000);
    const QString sql = manyRows(300);  // 300,000 rows
    ReportPreview *w = showOn(sql);
    ReportDocument &doc = w->document();
    QVERIFY(!doc.complete());
    QVERIFY(doc.rowCount() >= 2000);
    QVERIFY(w->pageText().startsWith(QStringLiteral("第 1 页，正在统计总页数（已有 ")));
    const QStringList all = numbersOf(db, sql);
    QCOMPARE(all.size(), 300000);
    const QStringList firstRows = all.mid(0, 2);
    QCOMPARE(numbersOn(w->shownPage()), firstRows);
    QVERIFY(w->findChild<QAction *>(QStringLiteral("nextPage"))->isEnabled());

    // Another room saves a case meanwhile: it is not held up, and this
    // showing does not print it.
    QVERIFY(runaction(QStringLiteral("insert into xj(门诊号,科室) values('D1','心内科')")));

    QTRY_VERIFY_WITH_TIMEOUT(doc.complete(), 120000);
    // The server reads the report in pages that are statements of their own,
    // not one snapshot: a row saved meanwhile may be printed there.
    if (test::serverEngine() && doc.rowCount() != 300000)
        QSKIP("the server's report is not one snapshot: the row saved meanwhile was printed");
    QCOMPARE(doc.rowCount(), 300000);
    QCOMPARE(w->pageCount(), 150000);
    QTRY_COMPARE(w->pageText(), QStringLiteral("第 1 页，共 150000 页"));
    QVERIFY(doc.rows().problem().isEmpty());
    QVERIFY(!doc.rows().reading());
    QVERIFY(!checkpointBlocked(db));

    w->lastPage();
    QCOMPARE(w->currentPage(), 150000);
    QCOMPARE(numbersOn(w->shownPage()), all.mid(299998));
    w->gotoPage(75000);
    QCOMPARE(numbersOn(w->shownPage()).size(), 2);
    w->firstPage();
    QCOMPARE(numbersOn(w->shownPage()), firstRows);
}

// Closing the preview before every row is read stops the reading and ends
// its read transaction.
void TestReportScale::closingWhileReadingLetsTheSnapshotGo()
{
    test::TestDb db(test::Empty);
    seedCases(db, 1000);
    ReportPreview *w = showOn(manyRows(2000));
    QVERIFY(!w->document().complete());
    db.exec(QStringLiteral("insert into xj(门诊号) values('D1')"));
    // The server's report reads each page in a statement of its own: nothing
    // is held between pages there, so only the file holds a snapshot here.
    if (!test::serverEngine())
        QVERIFY(checkpointBlocked(db));
    DataReportclass::Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!DataReportclass::window());
    QVERIFY(!checkpointBlocked(db));
}

void TestReportScale::cancellingALongRun_data()
{
    QTest::addColumn<bool>("print");
    QTest::addColumn<bool>("olderFile");
    QTest::newRow("export") << false << false;
    QTest::newRow("export over an older file") << false << true;
    QTest::newRow("print to a file") << true << false;
}

// 1,500 pages: the progress dialog comes up, 取消 stops the run, nothing is
// reported as done and no file is left (an older file stays as it was).
void TestReportScale::cancellingALongRun()
{
    QFETCH(bool, print);
    QFETCH(bool, olderFile);
    test::TestDb db(test::Empty);
    seedCases(db, 3000);
    QTemporaryDir out;
    const QString path = out.filePath(QStringLiteral("cases.pdf"));
    if (olderFile) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("older");
    }
    setPdfPathChooser([&](QWidget *, const QString &) { return path; });
    setPrintDialogRunner([&](QPrinter &printer, QWidget *) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(path);
        return true;
    });
    ReportPreview *w = showOn(kJoined);
    QTRY_VERIFY(w->document().complete());
    QCOMPARE(w->pageCount(), 1500);

    test::MsgRecorder rec;
    int cancelled = 0;
    cancelWhenShown(w, &cancelled);
    QVERIFY(!(print ? w->printReport() : w->exportPdf()));
    QCOMPARE(cancelled, 1);
    QVERIFY(w->document().wasStopped());
    QCOMPARE(rec.calls.size(), 0);
    if (olderFile) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("older"));
    } else {
        QVERIFY(!QFile::exists(path));
    }
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), olderFile ? QStringList{"cases.pdf"} : QStringList{});
}

// Export asked for before every row is read: it waits, with a dialog whose
// 取消 gives up before any file is asked for.
void TestReportScale::cancellingTheWaitForRows()
{
    test::TestDb db(test::Empty);
    seedCases(db, 1000);
    int asked = 0;
    setPdfPathChooser([&](QWidget *, const QString &) {
        ++asked;
        return QString();
    });
    ReportPreview *w = showOn(manyRows(2000));
    QVERIFY(!w->document().complete());
    int cancelled = 0;
    cancelWhenShown(w, &cancelled);
    QVERIFY(!w->exportPdf());
    QCOMPARE(cancelled, 1);
    QCOMPARE(asked, 0);
}

// The rows beyond the first megabytes go to a temporary file; on a full disk
// the preview keeps the pages it has, says what happened, and refuses to
// print a report that is not whole.
void TestReportScale::aTemporaryFileThatCannotBeWrittenIsTold()
{
    test::TestDb db(test::Empty);
    seedCases(db, 1000);
    SmallDisk disk("256k");
    if (!disk.mounted)
        QSKIP("mounting a small tmpfs needs root");
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", disk.dir.path().toLocal8Bit());
    struct Restore {
        QByteArray v;
        ~Restore() { qputenv("TMPDIR", v); }
    } restore{oldTmp};

    ReportPreview *w = showOn(manyRows(300));
    QTRY_VERIFY_WITH_TIMEOUT(w->document().complete(), 120000);
    const int read = w->document().rowCount();
    QVERIFY2(read >= 2000 && read < 300000, qPrintable(QString::number(read)));
    const QString problem = QStringLiteral("临时文件写不进去（磁盘可能已满），报表只读到了前 %1 条记录").arg(read);
    QCOMPARE(w->document().rows().problem(), problem);
    QTRY_VERIFY(w->findChild<QLabel *>(QStringLiteral("emptyNotice"))->isVisible());
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("emptyNotice"))->text(), problem + QStringLiteral("。"));
    QCOMPARE(w->pageText(), QStringLiteral("第 1 页，共 %1 页").arg((read + 1) / 2));
    w->lastPage();
    QCOMPARE(numbersOn(w->shownPage()).size(), read % 2 ? 1 : 2);

    test::MsgRecorder rec;
    int dialogs = 0;
    setPrintDialogRunner([&](QPrinter &, QWidget *) {
        ++dialogs;
        return false;
    });
    QVERIFY(!w->printReport());
    QCOMPARE(dialogs, 0);
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, problem + QStringLiteral("，不能打印。请关闭报表，腾出磁盘空间后重新打开。"));
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
}

QTEST_MAIN(TestReportScale)
#include "tst_reportscale.moc"
