// The login window: who gets in, what the others are told, where the focus goes.
#include "data/globals.h"
#include "data/fault.h"
#include "mainwin/MDIForm1.h"
#include "prescribe/Form2.h"
#include "signin/Frmdenlu.h"
#include "testenv.h"
#include "ui/application.h"
#include "ui/window.h"
#include "windowtest.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <QProcess>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace xs;
using namespace xs::test;

class TestLogin : public QObject {
    Q_OBJECT
private slots:
    void layout();
    void signIn_data();
    void signIn();
    void enterInPasswordSignsIn();
    void closeButton();
    void enterPressesFocusedButton_data();
    void enterPressesFocusedButton();
    void failedAttemptKeepsOtherBox();
    void wrongPasswordGivesNoRights();
    void missingDatabaseReported();
    void outsiderToldWhy();
};

static Frmdenlu *openLogin()
{
    auto *w = WindowRegistry::show<Frmdenlu>();
    w->activateWindow();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("login window did not become active");
    return w;
}

void TestLogin::layout()
{
    TestDb db;
    Frmdenlu *w = openLogin();
    QCOMPARE(w->windowTitle(), QStringLiteral("登录"));
    QCOMPARE(w->Label3->text(), QStringLiteral("澄衡"));
    QCOMPARE(w->Label1->text(), QStringLiteral("用户名："));
    QCOMPARE(w->Label2->text(), QStringLiteral("密码："));
    QCOMPARE(w->Text2->echoMode(), QLineEdit::Password);
    QVERIFY(w->Text1->text().isEmpty() && w->Text2->text().isEmpty());
    QCOMPARE(w->Command1->text(), QString());
    QCOMPARE(w->Command1->toolTip(), QStringLiteral("登录"));
    QCOMPARE(w->Command2->toolTip(), QStringLiteral("关闭"));
    QVERIFY(!w->Command1->icon().isNull() && !w->Command2->icon().isNull());
    QCOMPARE(QApplication::focusWidget(), w->Text1);
    // Tab order: name, password, sign in, close.
    QCOMPARE(tabOrder(w->Text1), (QList<QWidget *>{w->Text1, w->Text2, w->Command1, w->Command2}));
    QCOMPARE(w->Label1->buddy(), w->Text1);
    QCOMPARE(w->Label2->buddy(), w->Text2);
}

void TestLogin::signIn_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");  // empty: signed in
    QTest::addColumn<QString>("stored");   // CurrentUser afterwards (it was empty)
    QTest::newRow("plain") << "doctor"
                           << "doctor123"
                           << ""
                           << "doctor";
    QTest::newRow("outer blanks") << "  doctor "
                                  << " doctor123  "
                                  << ""
                                  << "doctor";
    QTest::newRow("name other case") << "DOCTOR"
                                     << "doctor123"
                                     << ""
                                     << "doctor";
    QTest::newRow("password other case") << "doctor"
                                         << "DOCTOR123"
                                         << ""
                                         << "doctor";
    QTest::newRow("another user's password") << "doctor"
                                             << "admin123"
                                             << " 密码错误！"
                                             << "";
    QTest::newRow("unknown user") << "nobody"
                                  << "x"
                                  << " 用户名错误！"
                                  << "";
    QTest::newRow("empty name") << ""
                                << ""
                                << " 用户名错误！"
                                << "";
    QTest::newRow("blank name") << "   "
                                << "doctor123"
                                << " 用户名错误！"
                                << "";
    QTest::newRow("empty password") << "doctor"
                                    << ""
                                    << " 密码错误！"
                                    << "";
    QTest::newRow("inner blank in password") << "doctor"
                                             << "doctor 123"
                                             << " 密码错误！"
                                             << "";
    QTest::newRow("password injection") << "admin"
                                        << "' or '1'='1"
                                        << " 密码错误！"
                                        << "";
    QTest::newRow("name comment injection") << "admin'--"
                                            << "x"
                                            << " 用户名错误！"
                                            << "";
    QTest::newRow("name or-injection") << "' or '1'='1"
                                       << "' or '1'='1"
                                       << " 用户名错误！"
                                       << "";
    QTest::newRow("name with quote stored") << "O'Neil"
                                            << "pw'1"
                                            << ""
                                            << "O'Neil";
}

void TestLogin::signIn()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, stored);
    TestDb db;
    db.exec("insert into use(username,password) values('O''Neil','pw''1')");
    MsgRecorder rec;
    Frmdenlu *w = openLogin();
    w->Text1->setText(name);
    w->Text2->setText(password);
    QTest::mouseClick(w->Command1, Qt::LeftButton);
    QCOMPARE(CurrentUser, stored);
    if (message.isEmpty()) {
        QVERIFY(rec.calls.isEmpty());
        QVERIFY(WindowRegistry::find<MDIForm1>());
        QTRY_VERIFY(!WindowRegistry::find<Frmdenlu>());
        return;
    }
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, message);
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].buttons(), int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QVERIFY(!WindowRegistry::find<MDIForm1>());
    QVERIFY(WindowRegistry::find<Frmdenlu>());
    QLineEdit *atFault = message == QStringLiteral(" 用户名错误！") ? w->Text1 : w->Text2;
    QCOMPARE(QApplication::focusWidget(), atFault);
    QCOMPARE(atFault->selectedText(), atFault->text());
    QCOMPARE(db.count("use"), 6);  // nothing was changed by what was typed
}

void TestLogin::enterInPasswordSignsIn()
{
    TestDb db;
    MsgRecorder rec;
    Frmdenlu *w = openLogin();
    QTest::keyClicks(w->Text1, "admin");
    QTest::keyClick(w->Text1, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w->Text2);
    QTest::keyClicks(w->Text2, "admin123");
    QTest::keyClick(w->Text2, Qt::Key_Return);
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(CurrentUser, QStringLiteral("admin"));
    QVERIFY(WindowRegistry::find<MDIForm1>());
}

void TestLogin::closeButton()
{
    TestDb db;
    Frmdenlu *w = openLogin();
    QTest::mouseClick(w->Command2, Qt::LeftButton);
    QTRY_VERIFY(!WindowRegistry::find<Frmdenlu>());
    QVERIFY(!WindowRegistry::find<MDIForm1>());
}

void TestLogin::enterPressesFocusedButton_data()
{
    QTest::addColumn<bool>("signInButton");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("登录, Return") << true << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("登录, keypad Enter") << true << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    QTest::newRow("关闭, Return") << false << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("关闭, keypad Enter") << false << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
}

// Tabbed to a button, Enter presses it once.
void TestLogin::enterPressesFocusedButton()
{
    QFETCH(bool, signInButton);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    TestDb db;
    MsgRecorder rec;
    Frmdenlu *w = openLogin();
    QTest::keyClicks(w->Text1, "nobody");
    QPushButton *button = signInButton ? w->Command1 : w->Command2;
    button->setFocus(Qt::TabFocusReason);
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::keyClick(button, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(clicked.count(), 1);
    if (signInButton) {
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], QStringLiteral(" 用户名错误！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
        QCOMPARE(WindowRegistry::find<Frmdenlu>(), w);
    } else {
        QVERIFY(rec.calls.isEmpty());
        QTRY_VERIFY(!WindowRegistry::find<Frmdenlu>());
    }
    QVERIFY(!WindowRegistry::find<MDIForm1>());
}

void TestLogin::failedAttemptKeepsOtherBox()
{
    TestDb db;
    MsgRecorder rec;
    Frmdenlu *w = openLogin();
    w->Text1->setText("nobody");
    w->Text2->setText("secret");
    w->Command1->click();
    QCOMPARE(w->Text2->text(), QStringLiteral("secret"));
    QCOMPARE(w->Text2->selectedText(), QString());
    w->Text1->setText("viewer");
    w->Command1->click();
    QCOMPARE(w->Text1->text(), QStringLiteral("viewer"));
    QCOMPARE(w->Text1->selectedText(), QString());
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(rec.calls[1].text, QStringLiteral(" 密码错误！"));
    // Each attempt reads both boxes afresh; no lock-out.
    w->Text2->setText("viewer123");
    w->Command1->click();
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(CurrentUser, QStringLiteral("viewer"));
}

// The prescribing window stays open behind the login window after
// "重新登陆" and asks for rights by CurrentUser: a name typed with a wrong
// password must not lend it that user's rights.
void TestLogin::wrongPasswordGivesNoRights()
{
    TestDb db;
    signInAs(QStringLiteral("doctor"));
    db.exec("insert into yc(门诊号) values('M1')");
    MsgRecorder rec;
    Form2 *rx = WindowRegistry::show<Form2>();
    Frmdenlu *w = openLogin();
    rec.calls.clear();  // the prescribing window's set-up: no departments
    w->Text1->setText(QStringLiteral("admin"));
    w->Text2->setText(QStringLiteral("guess"));
    w->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral(" 密码错误！"));
    QCOMPARE(CurrentUser, QStringLiteral("doctor"));
    rx->ck->trigger();
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(rec.calls[1].text, QStringLiteral("对不起，你是普通用户不能修改记录，请与管理员联系！"));
    QCOMPARE(rec.calls[1].title, QStringLiteral(" 警告"));
    QCOMPARE(db.count("yc"), 1);
}

// A database file that cannot be opened is named with the reason, and nothing
// is created.
void TestLogin::missingDatabaseReported()
{
    QTemporaryDir dir;
    setAppDirForTesting(dir.path());
    MsgRecorder rec;
    QVERIFY(!openDatabaseOrTell());
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY(rec.calls[0].text.contains(dir.path() + "/xs.mdb"));
    QVERIFY(rec.calls[0].text.contains(QStringLiteral("文件不存在或无法读取")));
    QCOMPARE(rec.calls[0].icon(), int(vbCritical));
    QVERIFY(!QFile::exists(dir.path() + "/xs.mdb"));
    setAppDirForTesting(QString());
}

// The installed program's xs.mdb is a link into a folder of the group
// chengheng. An account outside that group is told the real file and why it
// may not open it, not that the file was moved.
void TestLogin::outsiderToldWhy()
{
    XS_FILE_ONLY("the database file's folder and its group");
    if (geteuid() != 0)
        QSKIP("starting the program as another account needs root");
    QTemporaryDir top;
    const QString data = top.path() + QStringLiteral("/data");
    const QString app = top.path() + QStringLiteral("/app");
    QVERIFY(QDir().mkpath(data) && QDir().mkpath(app));
    const ToolRun made = runTool({QStringLiteral("init"), data + QStringLiteral("/xs.mdb"), QStringLiteral("--demo")});
    QVERIFY2(made.code == 0, qPrintable(made.err));
    QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
    QVERIFY(::chown(QFile::encodeName(data).constData(), 0, 0) == 0);
    QVERIFY(::chmod(QFile::encodeName(data).constData(), 02770) == 0);
    QVERIFY(QFile::link(data + QStringLiteral("/xs.mdb"), app + QStringLiteral("/xs.mdb")));
    // The program's start, as nobody (group nogroup and no other).
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                        QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                                        QStringLiteral("--start-child"), app});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(p.readAllStandardOutput()),
             QStringLiteral("16 0 澄衡 无法打开数据库文件 %1/xs.mdb：没有访问权限：本账户 nobody 不在组 root 中"
                            "（%1 只对这个组开放）。请管理员运行 adduser nobody root，然后本账户注销并重新登录\n")
                 .arg(data));
}

// The program's start in the folder `dir`: prints each message box as
// "ICON BUTTONS TITLE TEXT".
static int startChild(const QString &dir)
{
    setAppDirForTesting(dir);
    MsgRecorder rec;
    openDatabaseOrTell();
    for (const MsgBoxCall &c : rec.calls)
        std::printf("%d %d %s %s\n", c.icon(), c.buttons(), qPrintable(c.title), qPrintable(c.text));
    return 0;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--start-child") == 0)
        return startChild(QString::fromLocal8Bit(argv[2]));
    TestLogin t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}
#include "tst_login.moc"
