// The main window: its menus, and the rights gate in front of every entry for
// each kind of account.
#include "data/globals.h"
#include "mainwin/MDIForm1.h"
#include "signin/Frmdenlu.h"
#include "ui/fieldform.h"
#include "ui/images.h"
#include "ui/window.h"
#include "windowtest.h"

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QTest>

using namespace xs;
using namespace xs::test;

class TestGates : public QObject {
    Q_OBJECT
private slots:
    void menus();
    void gate_data();
    void gate();
    void secondChoiceBringsForward();
    void entryActivatesItsWindow_data();
    void entryActivatesItsWindow();
    void shortcutFromTextBox_data();
    void shortcutFromTextBox();
    void vanishedUserRefused();
    void relogin();
    void exitEndsAtOnce();
    void backgroundDrawnOnce();
};

static const char *const kRefuse = "对不起，你没有管理本功能的权限，请与管理员联系！";
static const char *const kRefuseRx = "对不起，你是普通用户不能修改记录，请与管理员联系！";

static MDIForm1 *openMain(const QString &user)
{
    signInAs(user);
    return WindowRegistry::show<MDIForm1>();
}

// Windows open anywhere in the application, by class.
static int openWindows(const char *className)
{
    int n = 0;
    for (QWidget *w : QApplication::allWidgets())
        if (qstrcmp(w->metaObject()->className(), className) == 0 && !w->testAttribute(Qt::WA_WState_Hidden))
            ++n;
    return n;
}

void TestGates::menus()
{
    TestDb db;
    MDIForm1 *m = openMain("admin");
    QCOMPARE(m->windowTitle(), QStringLiteral("澄衡"));
    const QList<QAction *> bar = m->menuBar()->actions();
    QCOMPARE(bar.size(), 4);
    QCOMPARE(bar[0]->text(), QStringLiteral("系统管理 &(O)"));
    QCOMPARE(bar[1]->text(), QStringLiteral("科室管理&(P)"));
    QCOMPARE(bar[2]->text(), QStringLiteral("病例档案管理&(T)"));
    QCOMPARE(bar[3]->text(), QStringLiteral("开药"));
    QVERIFY(!bar[3]->menu());  // a command on the bar itself
    QCOMPARE(bar[0]->menu()->objectName(), QStringLiteral("xitong"));
    QCOMPARE(bar[1]->menu()->objectName(), QStringLiteral("class"));
    QCOMPARE(bar[2]->menu()->objectName(), QStringLiteral("dangan"));

    struct E {
        const char *name, *caption, *key;
        int menu;
    };
    const E entries[] = {
        {"useradd", "添加用户", "Ctrl+A", 0},
        {"denglu2", "重新登陆", "Ctrl+F1", 0},
        {"exit", "退出", "", 0},
        {"classbrowse", "科室浏览", "Ctrl+C", 1},
        {"classapp", "添加科室", "Ctrl+D", 1},
        {"classfind", "科室查询", "Ctrl+E", 1},
        {"add", "档案添加", "Ctrl+F", 2},
        {"liulan", "档案浏览", "Ctrl+G", 2},
        {"claasfind", "档案查询", "Ctrl+H", 2},
    };
    int index[3] = {0, 0, 0};
    for (const E &e : entries) {
        QAction *a = m->entry(e.name);
        QVERIFY2(a, e.name);
        QCOMPARE(a->text(), QString::fromUtf8(e.caption));
        QCOMPARE(a->shortcut(), QKeySequence(QString::fromLatin1(e.key)));
        QCOMPARE(bar[e.menu]->menu()->actions().value(index[e.menu]++), a);
    }
    QCOMPARE(m->entry("kaiyao"), bar[3]);
}

void TestGates::gate_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("entryName");
    QTest::addColumn<QString>("window");   // class that opens when the gate passes
    QTest::addColumn<QString>("refusal");  // empty: passes
    QTest::addColumn<QString>("right");    // RightFlag afterwards

    struct Entry {
        const char *name, *window;
        int code;
    };
    const Entry entries[] = {
        {"useradd", "xs::frmuser1", 1},    {"classbrowse", "xs::Formclass2", 2},
        {"classapp", "xs::Formclass1", 2}, {"classfind", "xs::Formclass3", 2},
        {"add", "xs::Form1", 2},           {"liulan", "xs::Form3", 2},
        {"claasfind", "xs::Form4", 2},     {"kaiyao", "xs::Form2", 1},
    };
    const QSet<QString> changeGates = {"useradd", "classapp", "add"};
    struct Account {
        const char *name;
        const char *qx;
        const char *kind;
    };
    const Account accounts[] = {{"admin", "", "admin"},
                                {"viewer", "", "readonly"},
                                {"doctor", "qx2", ""},
                                {"clerk", "qx1", ""},
                                {"guest", "", ""}};
    for (const Account &a : accounts) {
        for (const Entry &e : entries) {
            QString right = a.kind;
            if (right.isEmpty())
                right = QLatin1String(a.qx) == QStringLiteral("qx%1").arg(e.code) ? "true" : "false";
            bool pass;
            if (QLatin1String(e.name) == QLatin1String("kaiyao"))
                pass = right == "admin" || right == "readonly";
            else if (changeGates.contains(e.name))
                pass = right != "readonly" && right != "false";
            else
                pass = right != "false";
            const QString refusal =
                pass ? QString()
                     : QString::fromUtf8(QLatin1String(e.name) == QLatin1String("kaiyao") ? kRefuseRx : kRefuse);
            QTest::addRow("%s %s", a.name, e.name) << a.name << e.name << e.window << refusal << right;
        }
    }
}

void TestGates::gate()
{
    QFETCH(QString, user);
    QFETCH(QString, entryName);
    QFETCH(QString, window);
    QFETCH(QString, refusal);
    QFETCH(QString, right);
    TestDb db(All);
    MsgRecorder rec;
    MDIForm1 *m = openMain(user);
    m->entry(entryName)->trigger();
    QCOMPARE(RightFlag, right);
    const QByteArray cls = window.toLatin1();
    if (refusal.isEmpty()) {
        for (const MsgBoxCall &c : rec.calls)  // opening a window may ask nothing of the gate
            QVERIFY2(c.title != QStringLiteral(" 警告"), qPrintable(c.text));
        QCOMPARE(openWindows(cls.constData()), 1);
        return;
    }
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, refusal);
    QCOMPARE(rec.calls[0].icon(), int(vbInformation));
    QCOMPARE(rec.calls[0].buttons(), int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral(" 警告"));
    QCOMPARE(openWindows(cls.constData()), 0);
}

void TestGates::secondChoiceBringsForward()
{
    TestDb db;
    MsgRecorder rec;
    MDIForm1 *m = openMain("admin");
    m->entry("useradd")->trigger();
    m->entry("useradd")->trigger();
    QCOMPARE(openWindows("xs::frmuser1"), 1);
    QCOMPARE(m->mdiArea()->subWindowList().size(), 1);
    QCOMPARE(m->mdiArea()->activeSubWindow()->widget()->metaObject()->className(), "xs::frmuser1");
}

void TestGates::entryActivatesItsWindow_data()
{
    QTest::addColumn<QString>("entryName");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("front");  // the entry whose window is active before
    QTest::addColumn<bool>("openBefore");
    QTest::addColumn<bool>("maximised");  // the window in front is maximised
    const char *const entries[][2] = {
        {"classbrowse", "xs::Formclass2"}, {"classapp", "xs::Formclass1"},
        {"classfind", "xs::Formclass3"},   {"add", "xs::Form1"},
        {"liulan", "xs::Form3"},           {"claasfind", "xs::Form4"},
        {"useradd", "xs::frmuser1"},
    };
    for (const auto &e : entries) {
        const QString front = qstrcmp(e[0], "useradd") == 0 ? "classbrowse" : "useradd";
        QTest::addRow("%s opens", e[0]) << e[0] << e[1] << front << false << false;
        QTest::addRow("%s again", e[0]) << e[0] << e[1] << front << true << false;
    }
    // Maximised children are all resized as another one comes to the front.
    QTest::newRow("classbrowse again, maximised") << "classbrowse"
                                                  << "xs::Formclass2"
                                                  << "useradd" << true << true;
    QTest::newRow("useradd again, maximised") << "useradd"
                                              << "xs::frmuser1"
                                              << "classfind" << true << true;
}

// Choosing an entry makes its window the active child, on top of the others
// and with the focus in it, whether it opens now or was open behind the
// window in front.
void TestGates::entryActivatesItsWindow()
{
    QFETCH(QString, entryName);
    QFETCH(QString, window);
    QFETCH(QString, front);
    QFETCH(bool, openBefore);
    QFETCH(bool, maximised);
    TestDb db(All);
    MsgRecorder rec;
    MDIForm1 *m = openMainAs("admin");
    QMdiArea *area = m->mdiArea();
    auto settle = [] { QTest::qWait(50); };
    auto activeClass = [area] {
        QMdiSubWindow *sub = area->activeSubWindow();
        return QString::fromLatin1(sub ? sub->widget()->metaObject()->className() : "");
    };
    if (openBefore) {
        m->entry(entryName)->trigger();
        settle();
    }
    m->entry(front)->trigger();
    settle();
    if (maximised) {
        area->activeSubWindow()->showMaximized();
        settle();
    }
    QVERIFY(activeClass() != window);

    m->entry(entryName)->trigger();
    settle();
    QCOMPARE(activeClass(), window);
    QMdiSubWindow *sub = area->activeSubWindow();
    QCOMPARE(area->subWindowList(QMdiArea::StackingOrder).last(), sub);
    QVERIFY(focusWithin(sub->widget()));
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
}

void TestGates::shortcutFromTextBox_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("window");
    QTest::newRow("Ctrl+A") << int(Qt::Key_A) << "xs::frmuser1";
    QTest::newRow("Ctrl+C") << int(Qt::Key_C) << "xs::Formclass2";
    QTest::newRow("Ctrl+D") << int(Qt::Key_D) << "xs::Formclass1";
    QTest::newRow("Ctrl+E") << int(Qt::Key_E) << "xs::Formclass3";
    QTest::newRow("Ctrl+G") << int(Qt::Key_G) << "xs::Form3";
    QTest::newRow("Ctrl+H") << int(Qt::Key_H) << "xs::Form4";
}

// A menu shortcut pressed while the cursor is in a text box of a child window
// runs the menu entry; the box does not take the key for itself (select all,
// copy, ...).
void TestGates::shortcutFromTextBox()
{
    QFETCH(int, key);
    QFETCH(QString, window);
    TestDb db(All);
    MsgRecorder rec;
    MDIForm1 *m = openMain("admin");
    m->show();
    QApplication::setActiveWindow(m);
    QVERIFY(QTest::qWaitForWindowActive(m));
    m->entry("add")->trigger();
    auto *box = m->findChild<TextBox *>(QStringLiteral("Text1(0)"));
    QVERIFY(box);
    QWidget *editor = box->editor();
    editor->setFocus();
    QTRY_VERIFY(editor->hasFocus());
    QTest::keyClick(editor, Qt::Key(key), Qt::ControlModifier);
    QCOMPARE(openWindows(window.toLatin1().constData()), 1);
}

// A signed-in name that vanished is warned about and, unlike the old gates,
// then refused at every entry.
void TestGates::vanishedUserRefused()
{
    TestDb db;
    MsgRecorder rec;
    MDIForm1 *m = openMain("admin");
    db.exec("delete from use where username='admin'");
    m->entry("liulan")->trigger();
    QCOMPARE(RightFlag, QStringLiteral("nothing"));
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(rec.calls[0].text, QStringLiteral("非法用户！"));
    QCOMPARE(rec.calls[1].text, QString::fromUtf8(kRefuse));
    QCOMPARE(openWindows("xs::Form3"), 0);
}

void TestGates::relogin()
{
    TestDb db;
    MsgRecorder rec;
    MDIForm1 *m = openMain("admin");
    m->entry("useradd")->trigger();
    m->entry("denglu2")->trigger();
    QTRY_VERIFY(!WindowRegistry::find<MDIForm1>());
    QVERIFY(WindowRegistry::find<Frmdenlu>());
    QTRY_COMPARE(openWindows("xs::frmuser1"), 0);
    QVERIFY(rec.calls.isEmpty());
}

void TestGates::exitEndsAtOnce()
{
    TestDb db;
    int quits = 0;
    MDIForm1::setQuitHandler([&] { ++quits; });
    MDIForm1 *m = openMain("guest");
    MsgRecorder rec;
    m->entry("exit")->trigger();
    QCOMPARE(quits, 1);
    QVERIFY(rec.calls.isEmpty());  // no rights asked, nothing shown
    MDIForm1::setQuitHandler({});
}

// The 1920 x 975 picture is drawn once at the top left; past its right and
// bottom edges the client area shows the window's background colour.
void TestGates::backgroundDrawnOnce()
{
    TestDb db;
    MDIForm1 *m = openMain("admin");
    m->showNormal();
    m->resize(2300, 1400);
    QWidget *view = m->mdiArea()->viewport();
    QTRY_VERIFY(view->width() > 2000 && view->height() > 1100);
    const QImage shot = view->grab().toImage();
    const QImage picture = mainBackground().toImage();
    const QColor colour = m->mdiArea()->palette().color(QPalette::Window);
    for (const QPoint &pt : {QPoint(10, 10), QPoint(1900, 500), QPoint(960, 970)})
        QCOMPARE(shot.pixelColor(pt), picture.pixelColor(pt));
    for (const QPoint &pt :
         {QPoint(10, 980), QPoint(10, 1000), QPoint(1925, 10), QPoint(1950, 500), QPoint(1990, 1050)}) {
        QVERIFY(shot.pixelColor(pt) != picture.pixelColor(pt.x() % 1920, pt.y() % 975));
        QCOMPARE(shot.pixelColor(pt), colour);
    }
}

QTEST_MAIN(TestGates)
#include "tst_gates.moc"
