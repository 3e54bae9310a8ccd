// The case record entry window: set-up in both modes, its boxes, Enter, the
// checks of 确定 in their order, registering and modifying a record.
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "data/caserecord.h"
#include "data/dates.h"
#include "data/engines.h"
#include "data/globals.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "mainwin/MDIForm1.h"
#include "ui/application.h"
#include "windowtest.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QTest>

using namespace xs;
using namespace xs::test;

using Typed = QMap<int, QString>;  // box -> text

namespace {

// The box order of the window's Text1 array, with the captions.
const char *const kCaptions[17] = {"门诊号：",   "姓名：", "出生年月：", "家庭住址：", "邮政编码：", "联系电话：",
                                   "入诊时间：", "备注：", "体格检查：", "既往病史：", "症状：",     "诊断：",
                                   "药名：",     "药量：", "医生签字：", "年龄：",     "身份证："};

const QString kAllColumns = QStringLiteral(
    "门诊号,姓名,性别,科室,出生年月,家庭住址,邮政编码,联系电话,入诊时间,备注,婚否,体格检查,既往病史,症状,诊断,"
    "药名,药量,医生签字,年龄,身份证");

void seedDepartments(const TestDb &db)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                           "insert into class values('一组','外科','102','五年','外科学','李医生','无');"
                           "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"
                           "insert into class values('三组','内科 ','103','五年','临床','周医生','无');"));
}

void seedRecord(const TestDb &db, const QString &number, const QString &name = QStringLiteral("甲"))
{
    db.exec(QStringLiteral("insert into xj(%1) values('%2','%3','男','内科','1980-01-02','东路1号','100000',"
                           "'5550101','2024-03-01','过敏','已婚','正常','无','咳嗽','感冒','药A','2盒','王','44',"
                           "'11010')")
                .arg(kAllColumns, number, name));
}

// Register mode, opened as the main window's 档案添加 opens it.
Form1 *openRegister()
{
    Form1 *f = WindowRegistry::show<Form1>();
    CaseEditMode = false;
    WindowRegistry::bringToFront(f);
    f->load1();  // the window's own activation ran before the flag was cleared
    return f;
}

// Opens the case browser with one listed row whose 门诊号 is `number`, selected.
Form3 *browserSelecting(const QString &number)
{
    Form3 *b = WindowRegistry::show<Form3>();
    b->MSF1->setCols(24);
    b->MSF1->setRows(3);
    b->MSF1->setTextMatrix(1, 1, number);
    b->MSF1->setRow(1);
    return b;
}

// Modify mode for the browser's selected record, opened as the browser's 修改 opens it.
Form1 *openModify(const QString &number)
{
    browserSelecting(number);
    CaseEditMode = true;
    Form1 *f = WindowRegistry::show<Form1>();
    WindowRegistry::bringToFront(f);
    return f;
}

// A complete, valid record typed into the window.
void typeValid(Form1 *f, const QString &number = QStringLiteral("0100"))
{
    setBoxTexts(f->Text1, {number, "张三", "1990-5-6", "西街2号", "200000", "5550202", "2024-04-01", "无", "正常", "无",
                           "发热", "流感", "药B", "3盒", "李", "34", "22020"});
}

QString row(const TestDb &db, const QString &number)
{
    return db.rows(QStringLiteral("select %1 from xj where 门诊号='%2'").arg(kAllColumns, number)).value(0);
}

}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void fieldTable_data();
    void fieldTable();
    void tabOrderAndEnter_data();
    void tabOrderAndEnter();
    void visitDateSelectsOnFocus();
    void registerSetUp();
    void setUpWithoutDepartments();
    void activationStartsAfresh();
    void checks_data();
    void checks();
    void registerStoresTrimmed();
    void registerFailureKeepsTyped();
    void serverRestartKeepsTyped();
    void serverRestartUnderTheBrowser();
    void modifyLoads();
    void modifyWritesToBrowserKey_data();
    void modifyWritesToBrowserKey();
    void modifyRefusesAnotherRecordsNumber();
    void modifyFailureTold_data();
    void modifyFailureTold();
    void longStoredTextKeptWhole();
    void updateStatementText_data();
    void updateStatementText();
    void cancelCloses();
};

void TestForm1::fieldTable_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<int>("limit");   // 0: no limit
    QTest::addColumn<int>("column");  // column of xj
    const int limits[17] = {5, 8, 0, 30, 6, 12, 0, 0, 5, 5, 5, 5, 5, 5, 5, 5, 5};
    const int columns[17] = {0, 1, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    for (int i = 0; i < 17; ++i)
        QTest::addRow("%s", kCaptions[i]) << i << limits[i] << columns[i];
}

// Caption, buddy, typing limit and column of every text box; the limit is
// checked by typing.
void TestForm1::fieldTable()
{
    QFETCH(int, box);
    QFETCH(int, limit);
    QFETCH(int, column);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Form1 *f = openRegister();
    TextBox *t = f->Text1[size_t(box)];
    QCOMPARE(t->objectName(), QStringLiteral("Text1(%1)").arg(box));
    QCOMPARE(f->Label1[size_t(box)]->text(), QString::fromUtf8(kCaptions[box]));
    QCOMPARE(f->Label1[size_t(box)]->buddy(), t);
    QCOMPARE(columnOfTextBox(box), column);
    QCOMPARE(t->isMultiLine(), box == 7);
    QCOMPARE(t->typingLimit(), limit);
    t->clear();
    t->setFocus();
    QTest::keyClicks(t->editor(), QStringLiteral("1234567890123456789012345678901234567890"));
    QCOMPARE(t->text().size(), limit ? limit : 40);
    QVERIFY(rec.calls.isEmpty());
}

void TestForm1::tabOrderAndEnter_data()
{
    QTest::addColumn<QString>("from");  // a box: "Text1(i)" or "Combo1(i)"
    QTest::addColumn<QString>("to");
    // The order starting from 门诊号, as the user sees it.
    const QStringList order = {"Text1(0)",  "Text1(1)",  "Text1(3)",  "Text1(4)",  "Text1(5)",  "Text1(6)",
                               "Text1(7)",  "Combo1(1)", "Text1(2)",  "Combo1(0)", "Combo1(2)", "Text1(16)",
                               "Text1(15)", "Text1(14)", "Text1(13)", "Text1(12)", "Text1(11)", "Text1(10)",
                               "Text1(9)",  "Text1(8)",  "Command1",  "Command2"};
    for (int k = 0; k + 1 < order.size(); ++k)
        if (!order[k].startsWith(QLatin1String("Command")))
            QTest::newRow(qPrintable(order[k])) << order[k] << order[k + 1];
}

// Enter in a box moves on in the tab order; the memo box still gets its line break.
void TestForm1::tabOrderAndEnter()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Form1 *f = openRegister();
    auto widget = [f](const QString &name) -> QWidget * {
        QWidget *w = f->findChild<QWidget *>(name);
        if (auto *t = qobject_cast<TextBox *>(w))
            return t->editor();
        return w;
    };
    QWidget *a = widget(from);
    QWidget *b = widget(to);
    QVERIFY(a && b);
    // Tab and Enter move to the same box.
    a->setFocus();
    QVERIFY(a->hasFocus());
    QTest::keyClick(a, Qt::Key_Tab);
    QTRY_VERIFY(b->hasFocus());
    a->setFocus();
    QVERIFY(a->hasFocus());
    QTest::keyClick(a, Qt::Key_Return);
    QTRY_VERIFY(b->hasFocus());
    if (from == QLatin1String("Text1(7)"))
        QCOMPARE(f->Text1[7]->text(), QStringLiteral("\n"));
    // Enter in an editable combo box adds nothing to its list.
    if (auto *c = qobject_cast<QComboBox *>(a))
        QCOMPARE(c->count(), from == QLatin1String("Combo1(1)") ? 4 : 0);
}

void TestForm1::visitDateSelectsOnFocus()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Form1 *f = openRegister();
    f->Text1[5]->setFocus();
    QTest::mouseClick(f->Text1[6]->editor(), Qt::LeftButton, {}, QPoint(3, 3));
    QTRY_COMPARE(f->Text1[6]->selectedText(), todayText());
    // Other boxes keep the cursor where the click put it.
    f->Text1[1]->setText(QStringLiteral("张三"));
    QTest::mouseClick(f->Text1[1]->editor(), Qt::LeftButton, {}, QPoint(3, 3));
    QTest::qWait(20);
    QCOMPARE(f->Text1[1]->selectedText(), QString());
}

void TestForm1::registerSetUp()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Form1 *f = openRegister();
    QCOMPARE(f->windowTitle(), QStringLiteral("登记"));
    QCOMPARE(f->Label10->text(), QStringLiteral("病例登记"));
    QStringList depts;
    for (int i = 0; i < f->Combo1[1]->count(); ++i)
        depts << f->Combo1[1]->itemText(i);
    // Distinct and sorted; "内科 " with its blank is a department of its own.
    QCOMPARE(depts, (QStringList{"儿科", "内科", "内科 ", "外科"}));
    QCOMPARE(f->Combo1[1]->currentIndex(), 0);
    QCOMPARE(f->Combo1[1]->currentText(), QStringLiteral("儿科"));
    QCOMPARE(f->Combo1[0]->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(f->Combo1[2]->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(f->Combo1[0]->count(), 0);
    QCOMPARE(f->Combo1[2]->count(), 0);
    for (int i = 0; i < 17; ++i)
        QCOMPARE(f->Text1[size_t(i)]->text(), i == 6 ? todayText() : QString());
    QVERIFY(focusWithin(f->Text1[0]));
    QVERIFY(rec.calls.isEmpty());
}

void TestForm1::setUpWithoutDepartments()
{
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Form1 *f = WindowRegistry::show<Form1>();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("请先设置科室部署！"), vbOKOnly, QStringLiteral("警告"));
    // Set-up stopped: the designer caption, no date, the window stays open.
    QCOMPARE(f->windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(frameOf(f)->windowTitle(), QStringLiteral("Form1"));
    QCOMPARE(f->Text1[6]->text(), QString());
    QCOMPARE(WindowRegistry::find<Form1>(), f);
}

// Coming back to the window sets it up again: in register mode the typed
// text is gone; in modify mode the record is read again.
void TestForm1::activationStartsAfresh()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    seedRecord(db, QStringLiteral("0001"));
    MDIForm1 *m = openMainAs();
    Form1 *f = openRegister();
    typeValid(f);
    Form3 *b = browserSelecting(QStringLiteral("0001"));
    QCOMPARE(m->mdiArea()->activeSubWindow()->widget(), b);
    WindowRegistry::bringToFront(f);
    QCOMPARE(f->Text1[0]->text(), QString());
    QCOMPARE(f->Text1[6]->text(), todayText());

    CaseEditMode = true;
    WindowRegistry::bringToFront(b);
    CaseEditMode = true;  // the browser clears it on its activation
    WindowRegistry::bringToFront(f);
    QCOMPARE(f->windowTitle(), QStringLiteral("修改"));
    f->Text1[1]->setText(QStringLiteral("改了"));
    db.exec(QStringLiteral("update xj set 姓名='库里' where 门诊号='0001'"));
    WindowRegistry::bringToFront(b);
    CaseEditMode = true;
    WindowRegistry::bringToFront(f);
    QCOMPARE(f->Text1[1]->text(), QStringLiteral("库里"));
}

void TestForm1::checks_data()
{
    QTest::addColumn<Typed>("typed");       // over a valid record
    QTest::addColumn<QString>("existing");  // 门诊号 already in xj, or empty
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("focusBox");

    const int ex = vbExclamation, info = vbInformation;
    using M = Typed;
    QTest::newRow("门诊号 empty") << M{{0, ""}} << ""
                                  << "门诊号：不能为空！" << ex << 0;
    QTest::newRow("身份证 empty") << M{{16, ""}} << ""
                                  << "身份证：不能为空！" << ex << 16;
    QTest::newRow("备注 empty") << M{{7, ""}} << ""
                                << "备注：不能为空！" << ex << 7;
    QTest::newRow("first empty in index order") << M{{16, ""}, {2, ""}, {9, ""}} << ""
                                                << "出生年月：不能为空！" << ex << 2;
    QTest::newRow("empty before duplicate") << M{{0, "0001"}, {1, ""}} << "0001"
                                            << "姓名：不能为空！" << ex << 1;
    QTest::newRow("duplicate") << M{{0, "0001"}} << "0001"
                               << "已经存在该门诊号的记录,门诊号不能重复！" << ex << 0;
    QTest::newRow("duplicate other case, blanks") << M{{0, " a12 "}} << "A12"
                                                  << "已经存在该门诊号的记录,门诊号不能重复！" << ex << 0;
    QTest::newRow("duplicate before dates") << M{{0, "0001"}, {2, "x"}} << "0001"
                                            << "已经存在该门诊号的记录,门诊号不能重复！" << ex << 0;
    QTest::newRow("birth unreadable") << M{{2, "1990-2-30"}} << ""
                                      << "应输入日期 mm-dd-yy" << info << 2;
    QTest::newRow("birth blanks only") << M{{2, "   "}} << ""
                                       << "应输入日期 mm-dd-yy" << info << 2;
    QTest::newRow("visit unreadable") << M{{6, "昨天"}} << ""
                                      << "应输入日期 mm-dd-yy" << info << 6;
    QTest::newRow("both dates unreadable") << M{{2, "abc"}, {6, "def"}} << ""
                                           << "应输入日期 mm-dd-yy" << info << 2;
}

// 确定 reports the first failing check only, focuses its box with the text
// selected, stores nothing and keeps everything typed.
void TestForm1::checks()
{
    QFETCH(Typed, typed);
    QFETCH(QString, existing);
    QFETCH(QString, message);
    QFETCH(int, icon);
    QFETCH(int, focusBox);
    TestDb db;
    seedDepartments(db);
    if (!existing.isEmpty())
        seedRecord(db, existing);
    MsgRecorder rec;
    openMainAs();
    Form1 *f = openRegister();
    typeValid(f);
    for (auto it = typed.cbegin(); it != typed.cend(); ++it)
        f->Text1[size_t(it.key())]->setText(it.value());
    QStringList before;
    for (TextBox *t : f->Text1)
        before << t->text();
    const int rows = db.count(QStringLiteral("xj"));

    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, message);
    QCOMPARE(rec.calls[0].icon(), icon);
    QCOMPARE(rec.calls[0].buttons(), int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QVERIFY(focusWithin(f->Text1[size_t(focusBox)]));
    QCOMPARE(f->Text1[size_t(focusBox)]->selectedText(), f->Text1[size_t(focusBox)]->text());
    QCOMPARE(db.count(QStringLiteral("xj")), rows);
    QStringList after;
    for (TextBox *t : f->Text1)
        after << t->text();
    QCOMPARE(after, before);
    QCOMPARE(WindowRegistry::find<Form1>(), f);
}

void TestForm1::registerStoresTrimmed()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Form1 *f = openRegister();
    typeValid(f);
    f->Text1[0]->setText(QStringLiteral(" 123 "));
    f->Text1[1]->setText(QStringLiteral(" O'Brien "));
    f->Text1[2]->setText(QStringLiteral("5/6/90"));
    f->Text1[9]->setText(QStringLiteral("   "));  // blanks only: passes, stored empty
    f->Combo1[1]->setCurrentIndex(2);             // "内科 ": stored trimmed
    f->Command1->setFocus();
    f->Command1->click();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QCOMPARE(row(db, QStringLiteral("123")),
             QStringLiteral("123|O'Brien|Combo1|内科|1990-05-06|西街2号|200000|5550202|2024-04-01|无|Combo1|正常|"
                            "|发热|流感|药B|3盒|李|34|22020"));
    // The window stays open with empty boxes; the combo boxes keep their text.
    QCOMPARE(WindowRegistry::find<Form1>(), f);
    for (TextBox *t : f->Text1)
        QCOMPARE(t->text(), QString());
    QCOMPARE(f->Combo1[0]->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(f->Combo1[1]->currentText(), QStringLiteral("内科 "));
    QCOMPARE(f->Combo1[2]->currentText(), QStringLiteral("Combo1"));
    QVERIFY(focusWithin(f->Command1));
}

// A row the database refuses is told, and nothing typed is lost.
void TestForm1::registerFailureKeepsTyped()
{
    TestDb db;
    seedDepartments(db);
    db.exec(QStringLiteral("create trigger no_add before insert on xj when new.姓名='拒绝' "
                           "begin select raise(abort, '不收'); end"));
    MsgRecorder rec;
    openMainAs();
    Form1 *f = openRegister();
    typeValid(f);
    f->Text1[1]->setText(QStringLiteral("拒绝"));
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY(rec.calls[0].text.startsWith(QStringLiteral("病例记录没有保存成功！")));
    QVERIFY(rec.calls[0].text.contains(QStringLiteral("不收")));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(db.count(QStringLiteral("xj")), 0);
    QCOMPARE(f->Text1[0]->text(), QStringLiteral("0100"));
    QCOMPARE(f->Text1[1]->text(), QStringLiteral("拒绝"));
}

// The server restarted while a record is being typed: 确定 tells the lost
// connection once, in Chinese, everything typed stays, and the next 确定
// connects again and stores the record.
void TestForm1::serverRestartKeepsTyped()
{
    if (!serverEngine())
        QSKIP("a restart of the database server: the server engine's own");
    TestDb db;
    OwnServer server;
    QVERIFY2(server.ok(), qPrintable(server.why));
    QString why;
    QVERIFY2(openServerDatabase(roomConninfo(server.conninfo), QStringLiteral("1"), &why), qPrintable(why));
    PgConnection direct(server.conninfo);
    QVERIFY(direct.run(
        QStringLiteral("insert into chengheng.class values('一组','内科','101','五年','临床','王医生','无')")));
    MsgRecorder rec;
    openMainAs();
    Form1 *f = openRegister();
    typeValid(f);
    QVERIFY2(server.restart(&why), qPrintable(why));
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY2(rec.calls[0].text.startsWith(QStringLiteral("病例记录没有保存成功！")), qPrintable(rec.calls[0].text));
    QVERIFY2(rec.calls[0].text.contains(pgFaultText(DbFault::Lost)), qPrintable(rec.calls[0].text));
    QVERIFY2(englishIn(rec.calls[0].text).isEmpty(), qPrintable(rec.calls[0].text));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    const QStringList typed = {"0100", "张三", "1990-5-6", "西街2号", "200000", "5550202", "2024-04-01", "无",   "正常",
                               "无",   "发热", "流感",     "药B",     "3盒",    "李",      "34",         "22020"};
    for (int i = 0; i < 17; ++i)
        QCOMPARE(f->Text1[size_t(i)]->text(), typed[i]);
    QCOMPARE(f->Combo1[1]->currentText(), QStringLiteral("内科"));

    rec.clear();
    f->Command1->click();
    QVERIFY2(rec.calls.size() <= 1 && !rec.lastText().contains(QStringLiteral("没有")), qPrintable(rec.lastText()));
    PgConnection after(server.conninfo);
    const PgResult stored = after.exec(QStringLiteral("select 姓名, 科室 from chengheng.xj where 门诊号='0100'"));
    QVERIFY2(stored.ok(), qPrintable(stored.error()));
    QCOMPARE(stored.rows(), 1);
    QCOMPARE(stored.text(0, 0), QStringLiteral("张三"));
    QCOMPARE(stored.text(0, 1), QStringLiteral("内科"));
    useFile();
}

// The server restarted while the case browser is open: a listing reads
// through a fresh connection (the pool's broken ones are dropped) and shows
// the records without a message.
void TestForm1::serverRestartUnderTheBrowser()
{
    if (!serverEngine())
        QSKIP("a restart of the database server: the server engine's own");
    TestDb db;
    OwnServer server;
    QVERIFY2(server.ok(), qPrintable(server.why));
    QString why;
    QVERIFY2(openServerDatabase(roomConninfo(server.conninfo), QStringLiteral("1"), &why), qPrintable(why));
    {
        PgConnection direct(server.conninfo);
        QVERIFY(
            direct.run(QStringLiteral("insert into chengheng.class values('一组','内科','101','五年','临床','王医生',"
                                      "'无');insert into chengheng.xj(门诊号,姓名,科室) values('0001','甲','内科')")));
    }
    MsgRecorder rec;
    openMainAs();
    Form3 *b = WindowRegistry::show<Form3>();
    selectAndList(b, nodeByText(b->TreeView1, QStringLiteral("内科")));
    QTRY_COMPARE(b->MSF1->TextMatrix(1, 1), QStringLiteral("0001"));
    QVERIFY(rec.calls.isEmpty());
    QVERIFY2(server.restart(&why), qPrintable(why));
    // As the program at start-up: a read that failed is told, never shown as no
    // records. The grid's pages read on connections of their own, which may
    // connect again on their own: the first listing after the restart either
    // shows the record or tells the lost connection once, and then the next
    // listing shows it.
    installDbFaultListener();
    selectAndList(b, nodeByText(b->TreeView1, QStringLiteral("内科")));
    QTRY_VERIFY(!rec.calls.isEmpty() || b->MSF1->TextMatrix(1, 1) == QStringLiteral("0001"));
    if (!rec.calls.isEmpty()) {
        QCOMPARE(rec.calls.size(), 1);
        QVERIFY2(rec.calls[0].text.startsWith(QStringLiteral("读取数据库失败，显示的内容不完整：\n")),
                 qPrintable(rec.calls[0].text));
        QVERIFY2(rec.calls[0].text.contains(pgFaultText(DbFault::Lost)), qPrintable(rec.calls[0].text));
        QVERIFY2(englishIn(rec.calls[0].text).isEmpty(), qPrintable(rec.calls[0].text));
        QCOMPARE(rec.calls[0].icon(), int(vbCritical));
        QCOMPARE(rec.calls[0].title, QStringLiteral("澄衡"));
        rec.clear();
        selectAndList(b, nodeByText(b->TreeView1, QStringLiteral("内科")));
    }
    QTRY_COMPARE(b->MSF1->TextMatrix(1, 1), QStringLiteral("0001"));
    QCOMPARE(b->MSF1->TextMatrix(1, 2), QStringLiteral("甲"));
    // The one record and the browser's 50 empty rows below it.
    QCOMPARE(b->MSF1->Rows(), 51);
    QTest::qWait(20);
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    setFaultListener({});
    useFile();
}

void TestForm1::modifyLoads()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    seedRecord(db, QStringLiteral("0001"));
    db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('0002','空列')"));
    openMainAs();
    Form1 *f = openModify(QStringLiteral(" 0001 "));  // the grid cell is trimmed
    QCOMPARE(f->windowTitle(), QStringLiteral("修改"));
    const QStringList expected = {"0001",       "甲",   "1980-01-02", "东路1号", "100000", "5550101",
                                  "2024-03-01", "过敏", "正常",       "无",      "咳嗽",   "感冒",
                                  "药A",        "2盒",  "王",         "44",      "11010"};
    for (int i = 0; i < 17; ++i)
        QCOMPARE(f->Text1[size_t(i)]->text(), expected[i]);
    QCOMPARE(f->Combo1[0]->currentText(), QStringLiteral("男"));
    QCOMPARE(f->Combo1[1]->currentText(), QStringLiteral("内科"));
    QCOMPARE(f->Combo1[2]->currentText(), QStringLiteral("已婚"));

    // Empty (null) columns show as empty boxes.
    browserSelecting(QStringLiteral("0002"));
    CaseEditMode = true;
    f->load1();
    QCOMPARE(f->Text1[1]->text(), QStringLiteral("空列"));
    QCOMPARE(f->Text1[2]->text(), QString());
    QCOMPARE(f->Combo1[0]->currentText(), QString());
    QVERIFY(rec.calls.isEmpty());
}

void TestForm1::modifyWritesToBrowserKey_data()
{
    QTest::addColumn<QString>("newNumber");
    QTest::addColumn<QString>("selected");  // the browser's row when 确定 is pressed
    QTest::addColumn<QString>("changed");   // the 门诊号 of the row written to, afterwards
    QTest::newRow("number unchanged") << "0001"
                                      << "0001"
                                      << "0001";
    QTest::newRow("number changed") << "0009"
                                    << "0001"
                                    << "0009";
    QTest::newRow("only letter case changed") << "b1"
                                              << "B1"
                                              << "b1";
    QTest::newRow("selection moved meanwhile") << "0005"
                                               << "0002"
                                               << "0005";
}

// 确定 writes to the record selected in the browser at the moment of the
// click, whatever 门诊号 the window holds; then the window closes.
void TestForm1::modifyWritesToBrowserKey()
{
    QFETCH(QString, newNumber);
    QFETCH(QString, selected);
    QFETCH(QString, changed);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    seedRecord(db, QStringLiteral("0001"));
    seedRecord(db, QStringLiteral("0002"), QStringLiteral("乙"));
    seedRecord(db, QStringLiteral("B1"), QStringLiteral("丙"));
    openMainAs();
    const QString loaded = selected == QLatin1String("B1") ? QStringLiteral("B1") : QStringLiteral("0001");
    Form1 *f = openModify(loaded);
    f->Text1[0]->setText(newNumber);
    f->Text1[1]->setText(QStringLiteral(" 新名 "));
    f->Text1[6]->setText(QStringLiteral("3/5/24"));
    f->Combo1[0]->setEditText(QStringLiteral("女"));
    Form3 *b = WindowRegistry::find<Form3>();
    b->MSF1->setTextMatrix(1, 1, selected);
    QPointer<Form1> alive(f);
    f->Command1->click();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QTRY_VERIFY(!alive);
    QCOMPARE(db.count(QStringLiteral("xj")), 3);
    const QString r = row(db, changed);
    QCOMPARE(r.section('|', 1, 1), QStringLiteral("新名"));
    QCOMPARE(r.section('|', 2, 2), QStringLiteral("女"));
    QCOMPARE(r.section('|', 8, 8), QStringLiteral("2024-03-05"));
    QCOMPARE(r.section('|', 0, 0), changed);
    if (changed != selected)
        QCOMPARE(db.count(QStringLiteral("xj where 门诊号='%1' collate binary").arg(selected)), 0);
    if (selected != QLatin1String("0001"))
        QCOMPARE(row(db, QStringLiteral("0001")).section('|', 1, 1), QStringLiteral("甲"));
}

void TestForm1::modifyRefusesAnotherRecordsNumber()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    seedRecord(db, QStringLiteral("0001"));
    seedRecord(db, QStringLiteral("0002"), QStringLiteral("乙"));
    openMainAs();
    Form1 *f = openModify(QStringLiteral("0001"));
    f->Text1[0]->setText(QStringLiteral(" 0002 "));
    f->Text1[1]->setText(QStringLiteral("新名"));
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("已经存在该门诊号的记录,门诊号不能重复！"));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QVERIFY(focusWithin(f->Text1[0]));
    QCOMPARE(f->Text1[0]->selectedText(), QStringLiteral(" 0002 "));
    QCOMPARE(WindowRegistry::find<Form1>(), f);
    QCOMPARE(row(db, "0001").section('|', 1, 1), QStringLiteral("甲"));
    QCOMPARE(row(db, "0002").section('|', 1, 1), QStringLiteral("乙"));
}

void TestForm1::modifyFailureTold_data()
{
    QTest::addColumn<QString>("setUp");    // statement run after loading
    QTest::addColumn<QString>("message");  // how the message begins
    QTest::newRow("update refused") << "create trigger no_upd before update on xj "
                                       "begin select raise(abort, '不改'); end"
                                    << "病例记录没有修改成功！";
    QTest::newRow("record gone") << "delete from xj where 门诊号='0001'"
                                 << "没有找到门诊号为 0001 的记录";
    // The record itself is not "another record with this number".
    QTest::newRow("browser closed") << ""
                                    << "没有找到门诊号为  的记录";
}

// A change that does not reach the database is told; the window stays open
// with everything typed.
void TestForm1::modifyFailureTold()
{
    QFETCH(QString, setUp);
    QFETCH(QString, message);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    seedRecord(db, QStringLiteral("0001"));
    openMainAs();
    Form1 *f = openModify(QStringLiteral("0001"));
    if (setUp.isEmpty()) {
        WindowRegistry::find<Form3>()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!WindowRegistry::find<Form3>());
        WindowRegistry::bringToFront(f);
    } else {
        db.exec(setUp);
    }
    f->Text1[1]->setText(QStringLiteral("新名"));
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY2(rec.calls[0].text.startsWith(message), qPrintable(rec.calls[0].text));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QTest::qWait(10);
    QCOMPARE(WindowRegistry::find<Form1>(), f);
    QCOMPARE(f->Text1[1]->text(), QStringLiteral("新名"));
}

// Records archived from the prescribing window may hold more than a box lets
// the user type; loading and saving them keeps them whole.
void TestForm1::longStoredTextKeptWhole()
{
    TestDb db;
    seedDepartments(db);
    seedRecord(db, QStringLiteral("0001"));
    const QString drugs = QStringLiteral("阿莫西林胶囊,布洛芬缓释胶囊,维生素C片");
    db.exec(QStringLiteral("update xj set 药名='%1', 姓名='欧阳司马诸葛长名字' where 门诊号='0001'").arg(drugs));
    MsgRecorder rec;
    openMainAs();
    Form1 *f = openModify(QStringLiteral("0001"));
    QCOMPARE(f->Text1[12]->text(), drugs);
    QCOMPARE(f->Text1[1]->text(), QStringLiteral("欧阳司马诸葛长名字"));
    f->Command1->click();
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(row(db, "0001").section('|', 15, 15), drugs);
    QCOMPARE(row(db, "0001").section('|', 1, 1), QStringLiteral("欧阳司马诸葛长名字"));

    // Register mode gives the boxes their typing limits back.
    QTRY_VERIFY(!WindowRegistry::find<Form1>());
    Form1 *g = openRegister();
    g->Text1[12]->setFocus();
    QTest::keyClicks(g->Text1[12]->editor(), QStringLiteral("1234567"));
    QCOMPARE(g->Text1[12]->text(), QStringLiteral("12345"));
}

void TestForm1::updateStatementText_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain")
        << QStringList{"0012", "张三", "男", "内科", "1990-5-6", "西街", "200000", "555", "3/5/24", "无",
                       "已婚", "a",    "b",  "c",    "d",        "e",    "f",      "g",   "h",      "i"}
        << "0011"
        << "update   xj  set 门诊号='0012',姓名='张三',性别='男',科室='内科',出生年月=#1990-05-06# ,家庭住址='西街' "
           ",邮政编码='200000' ,联系电话='555' ,入诊时间=#2024-03-05# ,备注='无',婚否='已婚' ,体格检查='a' "
           ",既往病史='b' ,症状='c' ,诊断='d' ,药名='e' ,药量='f' ,医生签字='g' ,年龄='h' ,身份证='i'where "
           "门诊号='0011'";
    QTest::newRow("quotes doubled")
        << QStringList{"1'2", "O'Brien", "", "", "1990-1-1", "", "", "", "2024-1-1", "",
                       "",    "",        "", "", "",         "", "", "", "",         "x'"}
        << "k'"
        << "update   xj  set 门诊号='1''2',姓名='O''Brien',性别='',科室='',出生年月=#1990-01-01# ,家庭住址='' "
           ",邮政编码='' ,联系电话='' ,入诊时间=#2024-01-01# ,备注='',婚否='' ,体格检查='' ,既往病史='' ,症状='' "
           ",诊断='' ,药名='' ,药量='' ,医生签字='' ,年龄='' ,身份证='x'''where 门诊号='k'''";
    QTest::newRow("unreadable date") << QStringList{"1", "", "", "", "1990-2-30", "", "", "", "2024-1-1", "",
                                                    "",  "", "", "", "",          "", "", "", "",         ""}
                                     << "1"
                                     << "";
}

void TestForm1::updateStatementText()
{
    QFETCH(QStringList, values);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    std::array<QString, 20> v;
    for (int i = 0; i < 20; ++i)
        v[size_t(i)] = values[i];
    const auto sql = caseUpdateStatement(kCaseUpdateHead, v, key);
    QCOMPARE(sql.value_or(QString()), expected);
}

void TestForm1::cancelCloses()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    MDIForm1 *m = openMainAs();
    Form1 *f = openRegister();
    typeValid(f);
    QPointer<Form1> alive(f);
    f->Command2->click();
    QTRY_VERIFY(!alive);
    QTRY_COMPARE(m->mdiArea()->subWindowList().size(), 0);
    QCOMPARE(db.count(QStringLiteral("xj")), 0);
    QVERIFY(rec.calls.isEmpty());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
