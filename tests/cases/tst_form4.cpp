// The case record query dialog: its boxes, the condition it builds, the
// existence test, the listing in the case browser, the query flag, and
// staying in front of the other child windows.
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "cases/Form4.h"
#include "data/globals.h"
#include "dept/Formclass3.h"
#include "mainwin/MDIForm1.h"
#include "windowtest.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QTest>
#include <QTreeWidget>

using namespace xs;
using namespace xs::test;

namespace {

const QString kListHead = QStringLiteral(
    "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,xj.家庭住址,"
    "xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,xj.症状,xj.诊断,xj.药名,"
    "xj.药量,xj.医生签字,xj.年龄,xj.身份证 from xj inner join class on xj.科室=class.科室  where ");
const QString kListOrder = QStringLiteral("order by class.年级 desc,class.科室 desc,xj.门诊号 desc");

// Two groups, three departments; records in each, one naming no department.
void seedCases(const TestDb &db)
{
    db.exec(QStringLiteral(
        "insert into class values('一组','内科','101','五年','临床','王医生','无');"
        "insert into class values('一组','外科','102','五年','外科学','李医生','无');"
        "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"
        "insert into xj(门诊号,姓名,科室) values('0001','张三','内科');"
        "insert into xj(门诊号,姓名,科室) values('0002','李三','内科');"
        "insert into xj(门诊号,姓名,科室) values('0003','张三丰','外科');"
        "insert into xj(门诊号,姓名,科室) values('0004','王五','儿科');"
        "insert into xj(门诊号,姓名,科室) values('0005','张三','儿科');"
        "insert into xj(门诊号,姓名,科室) values('0006','孤儿','骨科');"
        "insert into xj(门诊号,姓名,科室) values('0007','O''Brien','外科');"));
}

Form4 *openQuery() { return showInFront<Form4>(); }

void typeBoxes(Form4 *f, const QStringList &texts) { setBoxTexts(f->Text1, texts); }

// Column 1 of the listed rows, from row 1 down to the first empty one.
QStringList listed(const Form3 *b) { return gridColumn(b->MSF1, 1, true); }

bool focusIn(QWidget *w) { return QApplication::focusWidget() == w; }

}  // namespace

class TestForm4 : public QObject {
    Q_OBJECT
private slots:
    void layoutAndTabOrder();
    void apostropheCannotBeTyped_data();
    void apostropheCannotBeTyped();
    void condition_data();
    void condition();
    void listsMatches_data();
    void listsMatches();
    void noCondition();
    void nothingFound_data();
    void nothingFound();
    void unjoinedRecordsOnly();
    void queryFlag();
    void staysInFront_data();
    void staysInFront();
    void dialogLosingFocusCloses();
    void queryEndsOnTopAndActive_data();
    void queryEndsOnTopAndActive();
    void closingRebuildsBrowserTree();
};

void TestForm4::layoutAndTabOrder()
{
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Form4 *f = openQuery();
    QCOMPARE(f->windowTitle(), QStringLiteral("查询"));
    QCOMPARE(f->Label3->text(), QStringLiteral("病例档案查询"));
    const QStringList captions = {"门诊号：", "姓名：", "科室：", "按姓名关键字查询："};
    const QLabel *labels[4] = {f->Label1, f->Label2, f->Label4, f->Label5};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(labels[i]->text(), captions[i]);
        QCOMPARE(labels[i]->buddy(), f->Text1[size_t(i)]);
        QCOMPARE(labels[i]->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        QCOMPARE(f->Text1[size_t(i)]->objectName(), QStringLiteral("Text1(%1)").arg(i));
        QCOMPARE(f->Text1[size_t(i)]->text(), i == 0 ? QStringLiteral("   ") : QString());
    }
    QCOMPARE(f->Command1->text(), QStringLiteral("确定"));
    QCOMPARE(f->Command2->text(), QStringLiteral("取消"));

    const QList<QWidget *> order = {f->Text1[0], f->Command1, f->Command2, f->Text1[1], f->Text1[2], f->Text1[3]};
    for (int k = 0; k < order.size(); ++k) {
        order[k]->setFocus();
        QVERIFY(order[k]->hasFocus());
        QTest::keyClick(order[k], Qt::Key_Tab);
        QTRY_VERIFY(order[(k + 1) % order.size()]->hasFocus());
    }
    // Enter has no meaning of its own.
    f->Text1[1]->setFocus();
    QTest::keyClick(f->Text1[1], Qt::Key_Return);
    QVERIFY(f->Text1[1]->hasFocus());
    QVERIFY(rec.calls.isEmpty());
}

void TestForm4::apostropheCannotBeTyped_data()
{
    QTest::addColumn<int>("box");
    for (int i = 0; i < 4; ++i)
        QTest::addRow("Text1(%d)", i) << i;
}

void TestForm4::apostropheCannotBeTyped()
{
    QFETCH(int, box);
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Form4 *f = openQuery();
    QLineEdit *t = f->Text1[size_t(box)];
    t->clear();
    t->setFocus();
    QTest::keyClicks(t, QStringLiteral("O'Bri'en''"));
    QCOMPARE(t->text(), QStringLiteral("OBrien"));
}

void TestForm4::condition_data()
{
    QTest::addColumn<QStringList>("boxes");  // 门诊号, 姓名, 科室, keyword
    QTest::addColumn<QString>("expected");
    QTest::newRow("number") << QStringList{"0012"} << "xj.门诊号='0012'";
    QTest::newRow("name") << QStringList{"", "张三"} << "xj.姓名='张三'";
    QTest::newRow("department") << QStringList{"", "", "内科"} << "xj.科室='内科'";
    QTest::newRow("number and name") << QStringList{"0012", "张三"} << "xj.门诊号='0012'and xj.姓名='张三'";
    QTest::newRow("name and department") << QStringList{"", "张三", "内科"} << "xj.姓名='张三'and xj.科室='内科'";
    QTest::newRow("all three") << QStringList{"0012", "张三", "内科"}
                               << "xj.门诊号='0012'and xj.姓名='张三'and xj.科室='内科'";
    QTest::newRow("trimmed") << QStringList{" 0012 ", "  张三"} << "xj.门诊号='0012'and xj.姓名='张三'";
    QTest::newRow("keyword alone") << QStringList{"", "", "", "三"} << "xj.姓名 like '%三%'";
    QTest::newRow("keyword overrides") << QStringList{"0012", "张三", "内科", " 三 "} << "xj.姓名 like '%三%'";
    QTest::newRow("blanks only") << QStringList{"   ", "  ", " ", "    "} << "";
    QTest::newRow("blank boxes skipped") << QStringList{"   ", "", "内科", " "} << "xj.科室='内科'";
    QTest::newRow("pasted apostrophe doubled") << QStringList{"", "O'Brien"} << "xj.姓名='O''Brien'";
}

void TestForm4::condition()
{
    QFETCH(QStringList, boxes);
    QFETCH(QString, expected);
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Form4 *f = openQuery();
    typeBoxes(f, boxes);
    QCOMPARE(f->condition(), expected);
}

void TestForm4::listsMatches_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QStringList>("numbers");  // listed, in order
    QTest::newRow("exact name") << QStringList{"", "张三"} << "xj.姓名='张三'" << QStringList{"0005", "0001"};
    QTest::newRow("name and department") << QStringList{"", "张三", "内科"} << "xj.姓名='张三'and xj.科室='内科'"
                                         << QStringList{"0001"};
    QTest::newRow("number trimmed") << QStringList{" 0003 "} << "xj.门诊号='0003'" << QStringList{"0003"};
    // 一组 before 二组 would be ascending; descending puts 一组 (U+4E00) last.
    QTest::newRow("keyword, sorted descending") << QStringList{"", "", "", "三"} << "xj.姓名 like '%三%'"
                                               << QStringList{"0005", "0003", "0002", "0001"};
    QTest::newRow("keyword overrides name") << QStringList{"", "王五", "", "丰"} << "xj.姓名 like '%丰%'"
                                           << QStringList{"0003"};
    QTest::newRow("apostrophe found as typed") << QStringList{"", "O'Brien"} << "xj.姓名='O''Brien'"
                                              << QStringList{"0007"};
}

// A match lists the joined records in the browser, which goes into query mode.
void TestForm4::listsMatches()
{
    QFETCH(QStringList, boxes);
    QFETCH(QString, condition);
    QFETCH(QStringList, numbers);
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    openMainAs();
    Form4 *f = openQuery();
    typeBoxes(f, boxes);
    f->Command1->click();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    const QString statement = kListHead + condition + kListOrder;
    QCOMPARE(SqlText, statement);
    Form3 *b = WindowRegistry::find<Form3>();
    QVERIFY(b);
    QCOMPARE(b->printstr, statement);
    QCOMPARE(b->windowTitle(), QStringLiteral("病例档案查询结果"));
    QCOMPARE(b->MSF1->TextMatrix(0, 1), QStringLiteral("门诊号"));
    QCOMPARE(listed(b), numbers);
    QVERIFY(CaseQueryFlag);
    // The dialog stays open with its boxes filled.
    QCOMPARE(WindowRegistry::find<Form4>(), f);
    QCOMPARE(f->Text1[1]->text(), boxes.value(1));
}

void TestForm4::noCondition()
{
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    openMainAs();
    Form4 *f = openQuery();
    typeBoxes(f, {"  ", "   ", " ", "  "});
    f->Text1[3]->setFocus();
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("你至少要输入一个条件以上才能查询！"), vbOKOnly, QStringLiteral(" 警告"));
    QVERIFY(focusIn(f->Text1[0]));
    QVERIFY(!WindowRegistry::find<Form3>());
}

void TestForm4::nothingFound_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("no such number") << QStringList{"9999"};
    QTest::newRow("name and other department") << QStringList{"", "王五", "内科"};
    QTest::newRow("keyword matching nothing") << QStringList{"0001", "", "", "赵"};
    QTest::newRow("pasted quote and wildcard") << QStringList{"", "", "", "'x"};
}

void TestForm4::nothingFound()
{
    QFETCH(QStringList, boxes);
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    MDIForm1 *m = openMainAs();
    Form4 *f = openQuery();
    typeBoxes(f, boxes);
    f->Text1[2]->setFocus();
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("对不起，没有此病例的档案记录！"), vbOKOnly, QStringLiteral("查询"));
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(f));
    QVERIFY(focusIn(f->Text1[0]));
    QVERIFY(!WindowRegistry::find<Form3>());
    for (int i = 0; i < 4; ++i)
        QCOMPARE(f->Text1[size_t(i)]->text(), boxes.value(i));
}

// A record whose department has no row in class passes the existence test
// but is not listed: the browser's own no-record path answers.
void TestForm4::unjoinedRecordsOnly()
{
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    MDIForm1 *m = openMainAs();
    Form4 *f = openQuery();
    typeBoxes(f, {"", "孤儿"});
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("对不起，没有此病例的档案记录！"), vbOKOnly, QStringLiteral("查询"));
    Form3 *b = WindowRegistry::find<Form3>();
    QVERIFY(b);
    QVERIFY(!b->isVisible());
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(f));
    QVERIFY(focusIn(f->Text1[0]));
    QVERIFY(listed(b).isEmpty());
}

void TestForm4::queryFlag()
{
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    openMainAs();
    QVERIFY(!CaseQueryFlag);
    Form4 *f = openQuery();
    QVERIFY(CaseQueryFlag);  // set by the activation
    CaseQueryFlag = false;
    WindowRegistry::show<Formclass3>();
    QVERIFY(!CaseQueryFlag);
    WindowRegistry::bringToFront(f);
    QVERIFY(CaseQueryFlag);
    QPointer<Form4> alive(f);
    f->Command2->click();
    QTRY_VERIFY(!alive);
    QVERIFY(!CaseQueryFlag);
    QVERIFY(rec.calls.isEmpty());
}

void TestForm4::staysInFront_data()
{
    QTest::addColumn<bool>("onTop");
    QTest::newRow("kept on top") << true;
    QTest::newRow("plain child window") << false;
}

// Kept on top, the dialog stays above a child window that becomes active,
// whether that window opens now or was open before.
void TestForm4::staysInFront()
{
    QFETCH(bool, onTop);
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    MDIForm1 *m = openMainAs();
    Formclass3 *other = WindowRegistry::show<Formclass3>();
    Form4 *f = openQuery();
    if (onTop)
        f->keepOnTop();
    QCOMPARE(f->isKeptOnTop(), onTop);
    auto topmost = [m] { return m->mdiArea()->subWindowList(QMdiArea::StackingOrder).last(); };
    QCOMPARE(topmost(), frameOf(f));

    WindowRegistry::bringToFront(other);
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(other));
    QTRY_COMPARE(topmost(), onTop ? frameOf(f) : frameOf(other));

    WindowRegistry::show<Form1>();  // a window that opens later
    QTest::qWait(20);
    QCOMPARE(topmost() == frameOf(f), onTop);
}

// Only the dialog itself losing the focus closes it, not its boxes.
void TestForm4::dialogLosingFocusCloses()
{
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Formclass3 *other = WindowRegistry::show<Formclass3>();
    Form4 *f = openQuery();
    QPointer<Form4> alive(f);
    f->Text1[1]->setFocus();
    other->Text1[0]->setFocus();
    QTest::qWait(20);
    QVERIFY(alive);

    WindowRegistry::bringToFront(f);
    f->setFocus();
    QVERIFY(f->hasFocus());
    f->Text1[2]->setFocus();  // to one of its own boxes: stays open
    QTest::qWait(20);
    QVERIFY(alive);
    f->setFocus();
    other->Text1[0]->setFocus();
    QTRY_VERIFY(!alive);
}

void TestForm4::queryEndsOnTopAndActive_data()
{
    QTest::addColumn<bool>("browserOpen");
    QTest::newRow("browser opens for the query") << false;
    QTest::newRow("browser open before") << true;
}

// After a successful query the dialog is both the active child window and
// the topmost one, with the focus in it.
void TestForm4::queryEndsOnTopAndActive()
{
    QFETCH(bool, browserOpen);
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    MDIForm1 *m = openMainAs();
    if (browserOpen)
        showSettled<Form3>();
    Form4 *f = openQuery();
    typeBoxes(f, {"", "张三"});
    f->Command1->click();
    QCoreApplication::processEvents();
    QVERIFY(rec.calls.isEmpty());
    QVERIFY(WindowRegistry::find<Form3>()->isVisible());
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(f));
    QCOMPARE(m->mdiArea()->subWindowList(QMdiArea::StackingOrder).last(), frameOf(f));
    QVERIFY(focusWithin(f));
}

// Closing the dialog ends query mode before the browser becomes active, so the
// browser's activation builds its tree.
void TestForm4::closingRebuildsBrowserTree()
{
    MsgRecorder rec;
    TestDb db;
    seedCases(db);
    MDIForm1 *m = openMainAs();
    Form4 *f = openQuery();
    typeBoxes(f, {"", "张三"});
    f->Command1->click();
    Form3 *b = WindowRegistry::find<Form3>();
    QCOMPARE(b->TreeView1->topLevelItemCount(), 0);
    QPointer<Form4> alive(f);
    f->Command2->click();
    QVERIFY(!CaseQueryFlag);
    QTRY_VERIFY(!alive);
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(b));
    QCOMPARE(b->TreeView1->topLevelItemCount(), 2);
    QVERIFY(nodeByText(b->TreeView1, QStringLiteral("儿科")));
    QCOMPARE(listed(b), (QStringList{"0005", "0001"}));
    QVERIFY(rec.calls.isEmpty());
}

QTEST_MAIN(TestForm4)
#include "tst_form4.moc"
