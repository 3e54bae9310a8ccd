// The main window's entries 档案添加, 档案查询, 添加科室 and 科室查询 for each kind
// of account: what each does to its window and the mode flags when the gate
// passes, and that a refusal leaves everything as it was.
#include "cases/Form1.h"
#include "cases/Form4.h"
#include "data/dates.h"
#include "data/globals.h"
#include "dept/Formclass1.h"
#include "dept/Formclass3.h"
#include "mainwin/MDIForm1.h"
#include "windowtest.h"

#include <QMdiSubWindow>
#include <QTest>

using namespace xs;
using namespace xs::test;

class TestForm1Menu : public QObject {
    Q_OBJECT
private slots:
    void entry_data();
    void entry();
    void secondChoice_data();
    void secondChoice();
};

namespace {

QWidget *activeWindow(MDIForm1 *m)
{
    QMdiSubWindow *sub = m->mdiArea()->activeSubWindow();
    return sub ? sub->widget() : nullptr;
}

}  // namespace

void TestForm1Menu::entry_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("entryName");
    QTest::addColumn<bool>("passes");
    const char *entries[] = {"add", "claasfind", "classapp", "classfind"};
    struct Account {
        const char *name;
        bool change, view;
    };
    const Account accounts[] = {{"admin", true, true},
                                {"viewer", false, true},
                                {"doctor", true, true},
                                {"clerk", false, false},
                                {"guest", false, false}};
    for (const Account &a : accounts)
        for (const char *e : entries) {
            const bool change = qstrcmp(e, "add") == 0 || qstrcmp(e, "classapp") == 0;
            QTest::addRow("%s %s", a.name, e) << a.name << e << (change ? a.change : a.view);
        }
}

void TestForm1Menu::entry()
{
    QFETCH(QString, user);
    QFETCH(QString, entryName);
    QFETCH(bool, passes);
    MsgRecorder rec;
    TestDb db;
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无')"));
    MDIForm1 *m = openMainAs(user);
    // Left over from the browsers' modify buttons: the add entries clear them.
    DeptEditMode = true;
    m->entry(entryName)->trigger();

    if (!passes) {
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_REFUSAL(rec.calls[0]);
        QCOMPARE(m->mdiArea()->subWindowList().size(), 0);
        QVERIFY(DeptEditMode);
        return;
    }
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QCOMPARE(m->mdiArea()->subWindowList().size(), 1);
    if (entryName == QLatin1String("add")) {
        auto *f = WindowRegistry::find<Form1>();
        QVERIFY(f);
        QCOMPARE(activeWindow(m), f);
        QVERIFY(!CaseEditMode);
        QCOMPARE(f->windowTitle(), QStringLiteral("登记"));
        QCOMPARE(f->Text1[6]->text(), todayText());
    } else if (entryName == QLatin1String("claasfind")) {
        auto *f = WindowRegistry::find<Form4>();
        QVERIFY(f);
        QCOMPARE(activeWindow(m), f);
        QVERIFY(f->isKeptOnTop());
        QVERIFY(CaseQueryFlag);
    } else if (entryName == QLatin1String("classapp")) {
        auto *f = WindowRegistry::find<Formclass1>();
        QVERIFY(f);
        QCOMPARE(activeWindow(m), f);
        QVERIFY(!DeptEditMode);
        QCOMPARE(f->windowTitle(), QStringLiteral("添加科室设置"));
    } else {
        auto *f = WindowRegistry::find<Formclass3>();
        QVERIFY(f);
        QCOMPARE(activeWindow(m), f);
        QVERIFY(!DeptQueryFlag);
    }
}

void TestForm1Menu::secondChoice_data()
{
    QTest::addColumn<QString>("entryName");
    QTest::newRow("add") << "add";
    QTest::newRow("classapp") << "classapp";
    QTest::newRow("claasfind") << "claasfind";
    QTest::newRow("classfind") << "classfind";
}

// Choosing an entry whose window is open brings that window forward; the
// department editor is set up again, the other windows keep what was typed
// (the case entry window refills itself only when it becomes active).
void TestForm1Menu::secondChoice()
{
    QFETCH(QString, entryName);
    MsgRecorder rec;
    TestDb db;
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无')"));
    MDIForm1 *m = openMainAs(QStringLiteral("doctor"));
    m->entry(entryName)->trigger();
    QWidget *first = activeWindow(m);
    QVERIFY(first);
    auto *box = first->findChild<QLineEdit *>();
    QVERIFY(box);
    box->setText(QStringLiteral("typed"));
    m->entry(entryName)->trigger();
    QCOMPARE(m->mdiArea()->subWindowList().size(), 1);
    QCOMPARE(activeWindow(m), first);
    QCOMPARE(box->text(), entryName == QLatin1String("classapp") ? QString() : QStringLiteral("typed"));
    QVERIFY(rec.calls.isEmpty());
}

QTEST_MAIN(TestForm1Menu)
#include "tst_form1_menu.moc"
