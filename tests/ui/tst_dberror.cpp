// A database file that disappears while the application runs: the reads that
// fail tell it once, naming the file and the reason, and the application goes
// on instead of ending or crashing.
#include "data/globals.h"
#include "data/sqlite.h"
#include "mainwin/MDIForm1.h"
#include "testenv.h"
#include "ui/application.h"
#include "ui/window.h"

#include <QFile>
#include <QTest>
#include <QTimer>

using namespace xs;
using namespace xs::test;

class TestDbError : public QObject {
    Q_OBJECT
private slots:
    void vanishedFileReportedOnce();
};

void TestDbError::vanishedFileReportedOnce()
{
    TestDb db(All);
    MsgRecorder rec;
    installDbFaultListener();
    signInAs("admin");
    MDIForm1 *m = WindowRegistry::show<MDIForm1>();
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(db.path() + suffix);
    // Two actions in one burst: the vanished file is told once, in Chinese,
    // after the handlers returned, and the application goes on.
    QTimer::singleShot(0, m->entry("liulan"), &QAction::trigger);
    QTimer::singleShot(0, m->entry("liulan"), &QAction::trigger);
    bool stillRunning = false;
    QTimer::singleShot(100, [&] { stillRunning = true; });
    QTRY_VERIFY(stillRunning);
    QList<int> faults;
    for (int i = 0; i < rec.calls.size(); ++i)
        if (rec.calls[i].title == QStringLiteral("澄衡"))
            faults << i;
    QCOMPARE(faults.size(), 1);
    const auto &c = rec.calls[faults[0]];
    QVERIFY(c.text.contains(db.path()));
    QVERIFY(c.text.contains(QStringLiteral("文件不存在或无法读取")));
    QCOMPARE(c.icon(), int(vbCritical));
    QVERIFY(!QCoreApplication::closingDown());
    setFaultListener({});
    // Nothing was created in its place.
    QVERIFY(!QFile::exists(db.path()));
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    TestDbError t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_dberror.moc"
