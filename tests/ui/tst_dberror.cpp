// A database file that disappears while the application runs: the failure
// travels up to the application's event dispatch, which names the file and
// the reason and ends the application instead of crashing.
#include "data/globals.h"
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
    signInAs("admin");
    MDIForm1 *m = WindowRegistry::show<MDIForm1>();
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(db.path() + suffix);
    int exitCode = -1;
    QTimer::singleShot(0, m->entry("liulan"), &QAction::trigger);
    // Events already queued when the application was told to end still run;
    // their failures are the same one and are not told again.
    QTimer::singleShot(0, m->entry("liulan"), &QAction::trigger);
    QTimer::singleShot(50, [&] { exitCode = 0; });
    QTRY_VERIFY(exitCode == 0);
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY(rec.calls[0].text.contains(db.path()));
    QVERIFY(rec.calls[0].text.contains(QStringLiteral("文件不存在或无法读取")));
    QCOMPARE(rec.calls[0].icon(), int(vbCritical));
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
