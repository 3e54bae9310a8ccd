// The add-user dialog: its checks in order, the duplicate test, what is stored.
#include "data/globals.h"
#include "data/rights.h"
#include "mainwin/MDIForm1.h"
#include "signin/Frmdenlu.h"
#include "signin/frmuser1.h"
#include "testenv.h"
#include "ui/window.h"
#include "windowtest.h"

#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalSpy>
#include <QTest>

using namespace xs;
using namespace xs::test;

class TestAddUser : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void checks_data();
    void checks();
    void addsTrimmedAndClears();
    void newUserSignsInWithNoRight();
    void apostropheStoredAsTyped();
    void stateChangeMovesFocus_data();
    void stateChangeMovesFocus();
    void resizedBehindFocusesNameWhenActivated_data();
    void resizedBehindFocusesNameWhenActivated();
    void enterOnButtons_data();
    void enterOnButtons();
};

static frmuser1 *openDialog()
{
    auto *w = WindowRegistry::show<frmuser1>();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("dialog did not become active");
    return w;
}

void TestAddUser::layout()
{
    TestDb db;
    frmuser1 *w = openDialog();
    QCOMPARE(w->windowTitle(), QStringLiteral("新增用户"));
    QCOMPARE(w->Frame1->title(), QStringLiteral("新增用户"));
    QCOMPARE(w->Label2->text(), QStringLiteral("新用户名："));
    QCOMPARE(w->Label1->text(), QStringLiteral("密码："));
    QCOMPARE(w->Label3->text(), QStringLiteral("确定密码："));
    QCOMPARE(w->Command1->text(), QStringLiteral("确定"));
    QCOMPARE(w->Command2->text(), QStringLiteral("取消"));
    QCOMPARE(w->Text1[0]->echoMode(), QLineEdit::Normal);
    QCOMPARE(w->Text1[1]->echoMode(), QLineEdit::Password);
    QCOMPARE(w->Text1[2]->echoMode(), QLineEdit::Password);
    QCOMPARE(w->Text1[2]->objectName(), QStringLiteral("Text1(2)"));
    QCOMPARE(tabOrder(w->Text1[0]),
             (QList<QWidget *>{w->Text1[0], w->Text1[1], w->Command1, w->Command2, w->Text1[2]}));
    // Password and confirmation side by side under the name.
    QCOMPARE(w->Text1[1]->y(), w->Text1[2]->y());
    QVERIFY(w->Text1[0]->y() < w->Text1[1]->y());
    // A resize puts the focus back into the name.
    w->Text1[2]->setFocus();
    w->resize(w->width() + 10, w->height());
    QTRY_COMPARE(QApplication::focusWidget(), w->Text1[0]);
}

void TestAddUser::checks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirm");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("focus");
    QTest::addColumn<bool>("selected");
    QTest::newRow("all empty") << ""
                               << ""
                               << ""
                               << "用户名不能为空！" << 0 << false;
    QTest::newRow("blank name") << "   "
                                << "a"
                                << "a"
                                << "用户名不能为空！" << 0 << false;
    QTest::newRow("no password") << "u"
                                 << " "
                                 << "a"
                                 << "密码不能为空！" << 1 << false;
    QTest::newRow("no confirmation") << "u"
                                     << "a"
                                     << ""
                                     << "确认密码不能为空！" << 2 << false;
    QTest::newRow("mismatch") << "u"
                              << "a"
                              << "b"
                              << "确认密码不正确！" << 2 << false;
    QTest::newRow("mismatch by case") << "u"
                                      << "abc"
                                      << "ABC"
                                      << "确认密码不正确！" << 2 << false;
    QTest::newRow("duplicate") << "doctor"
                               << "a"
                               << "a"
                               << " 已存在该用户！" << 0 << true;
    QTest::newRow("duplicate other case") << " Doctor "
                                          << "a"
                                          << "a"
                                          << " 已存在该用户！" << 0 << true;
}

void TestAddUser::checks()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, confirm);
    QFETCH(QString, message);
    QFETCH(int, focus);
    QFETCH(bool, selected);
    TestDb db;
    MsgRecorder rec;
    frmuser1 *w = openDialog();
    w->Text1[0]->setText(name);
    w->Text1[1]->setText(password);
    w->Text1[2]->setText(confirm);
    QTest::mouseClick(w->Command1, Qt::LeftButton);
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, message);
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].buttons(), int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(QApplication::focusWidget(), w->Text1[size_t(focus)]);
    QCOMPARE(w->Text1[size_t(focus)]->hasSelectedText(), selected && !w->Text1[size_t(focus)]->text().isEmpty());
    // Nothing typed is lost, nothing is stored.
    QCOMPARE(w->Text1[0]->text(), name);
    QCOMPARE(w->Text1[1]->text(), password);
    QCOMPARE(w->Text1[2]->text(), confirm);
    QCOMPARE(db.count("use"), 5);
}

void TestAddUser::addsTrimmedAndClears()
{
    TestDb db;
    MsgRecorder rec;
    frmuser1 *w = openDialog();
    w->Text1[0]->setText("  李医生 ");
    w->Text1[1]->setText(" s3cret");
    w->Text1[2]->setText("s3cret  ");
    w->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral(" 用户添加成功！"));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(
        asTyped(db.rows("select username,password,admin,readonly,qx1,qx2,qx3,qx4 from use where username='李医生'"),
                "s3cret"),
        QStringList({"李医生|s3cret||||||"}));
    for (QLineEdit *t : w->Text1)
        QVERIFY(t->text().isEmpty());
    QCOMPARE(SqlText, QStringLiteral("select * from use"));
    // A second account straight away.
    w->Text1[0]->setText("王护士");
    w->Text1[1]->setText("pw2");
    w->Text1[2]->setText("pw2");
    w->Command1->click();
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(db.count("use"), 7);
}

void TestAddUser::newUserSignsInWithNoRight()
{
    TestDb db;
    MsgRecorder rec;
    frmuser1 *w = openDialog();
    w->Text1[0]->setText("newbie");
    w->Text1[1]->setText("pw");
    w->Text1[2]->setText("pw");
    w->Command1->click();
    WindowRegistry::closeAll();
    rec.clear();

    auto *login = WindowRegistry::show<Frmdenlu>();
    login->Text1->setText("NEWBIE");
    login->Text2->setText("pw");
    login->Command1->click();
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(CurrentUser, QStringLiteral("newbie"));
    for (int code = 1; code <= 4; ++code)
        QCOMPARE(lookupRight(code).result, QStringLiteral("false"));
}

void TestAddUser::apostropheStoredAsTyped()
{
    TestDb db;
    MsgRecorder rec;
    frmuser1 *w = openDialog();
    w->Text1[0]->setText("O'Neil");
    w->Text1[1]->setText("it's");
    w->Text1[2]->setText("it's");
    w->Command1->click();
    QCOMPARE(rec.lastText(), QStringLiteral(" 用户添加成功！"));
    QCOMPARE(asTyped(db.rows("select password from use where username='O''Neil'"), "it's"),
             QStringList{QStringLiteral("it's")});
    // The same name again is now a duplicate, not a broken statement.
    w->Text1[0]->setText("o'neil");
    w->Text1[1]->setText("x");
    w->Text1[2]->setText("x");
    w->Command1->click();
    QCOMPARE(rec.lastText(), QStringLiteral(" 已存在该用户！"));
    QCOMPARE(db.count("use"), 6);
}

void TestAddUser::stateChangeMovesFocus_data()
{
    QTest::addColumn<bool>("inMainWindow");
    QTest::addColumn<bool>("restore");
    QTest::newRow("child window maximised") << true << false;
    QTest::newRow("child window restored") << true << true;
    QTest::newRow("top-level window maximised") << false << false;
    QTest::newRow("top-level window restored") << false << true;
}

// Maximising and restoring resize the dialog as a corner drag does, and move
// the focus to the name as every resize does.
void TestAddUser::stateChangeMovesFocus()
{
    QFETCH(bool, inMainWindow);
    QFETCH(bool, restore);
    MsgRecorder rec;
    TestDb db;
    if (inMainWindow)
        openMainAs();
    frmuser1 *w = showInFront<frmuser1>();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QCOMPARE(frameOf(w) != nullptr, inMainWindow);
    QWidget *frame = inMainWindow ? static_cast<QWidget *>(frameOf(w)) : w;
    if (restore) {
        frame->showMaximized();
        QCoreApplication::processEvents();
    }
    w->Text1[2]->setFocus();
    QCOMPARE(QApplication::focusWidget(), w->Text1[2]);
    if (restore)
        frame->showNormal();
    else
        frame->showMaximized();
    QCOMPARE(frame->isMaximized(), !restore);
    QTRY_COMPARE(QApplication::focusWidget(), w->Text1[0]);
    QVERIFY(rec.calls.isEmpty());
}

void TestAddUser::resizedBehindFocusesNameWhenActivated_data()
{
    QTest::addColumn<bool>("resized");
    QTest::newRow("resized behind the window in front") << true;
    QTest::newRow("left as it was") << false;
}

// Resized while another child window is in front, the dialog leaves the
// activation and the focus there; it moves the focus to the name when it is
// activated itself. Not resized, it gets back the box the user left.
void TestAddUser::resizedBehindFocusesNameWhenActivated()
{
    QFETCH(bool, resized);
    MsgRecorder rec;
    TestDb db;
    QMdiArea *area = openMainAs()->mdiArea();
    frmuser1 *w = showInFront<frmuser1>();
    w->Text1[2]->setFocus();
    auto *box = new QLineEdit;
    QMdiSubWindow *other = area->addSubWindow(box);
    other->show();
    area->setActiveSubWindow(other);
    box->setFocus();
    if (resized)
        frameOf(w)->resize(frameOf(w)->width() + 20, frameOf(w)->height());
    QTest::qWait(20);
    QCOMPARE(area->activeSubWindow(), other);
    QCOMPARE(QApplication::focusWidget(), box);

    WindowRegistry::bringToFront(w);
    QTest::qWait(20);
    QCOMPARE(area->activeSubWindow(), frameOf(w));
    QCOMPARE(QApplication::focusWidget(), resized ? w->Text1[0] : w->Text1[2]);
    QVERIFY(rec.calls.isEmpty());
}

void TestAddUser::enterOnButtons_data()
{
    QTest::addColumn<bool>("okButton");
    QTest::addColumn<int>("key");
    QTest::newRow("确定, Return") << true << int(Qt::Key_Return);
    QTest::newRow("确定, keypad Enter") << true << int(Qt::Key_Enter);
    QTest::newRow("取消, Return") << false << int(Qt::Key_Return);
    QTest::newRow("取消, keypad Enter") << false << int(Qt::Key_Enter);
}

// Enter on a focused button presses it once; Enter in a box presses nothing.
void TestAddUser::enterOnButtons()
{
    QFETCH(bool, okButton);
    QFETCH(int, key);
    const auto mods = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    frmuser1 *w = showInFront<frmuser1>();
    QSignalSpy ok(w->Command1, &QPushButton::clicked);
    QSignalSpy cancel(w->Command2, &QPushButton::clicked);
    setBoxTexts(w->Text1, {"newuser", "pw", "pw"});
    // Enter in a box presses no button.
    QTest::keyClick(w->Text1[1], Qt::Key(key), mods);
    QCOMPARE(ok.count() + cancel.count(), 0);

    QPointer<frmuser1> alive(w);
    QPushButton *button = okButton ? w->Command1 : w->Command2;
    button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button, Qt::Key(key), mods);
    QCOMPARE(ok.count(), okButton ? 1 : 0);
    QCOMPARE(cancel.count(), okButton ? 0 : 1);
    if (okButton) {
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], QStringLiteral(" 用户添加成功！"), vbExclamation | vbOKOnly,
                       QStringLiteral("警告"));
        QCOMPARE(db.count(QStringLiteral("use where username='newuser'")), 1);
    } else {
        QTRY_VERIFY(!alive);
        QVERIFY(rec.calls.isEmpty());
        QCOMPARE(db.count(QStringLiteral("use where username='newuser'")), 0);
    }
}

QTEST_MAIN(TestAddUser)
#include "tst_adduser.moc"
