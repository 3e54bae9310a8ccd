// The department query dialog: the condition of its boxes, the messages, and
// the department browser put into query mode.
#include "data/globals.h"
#include "dept/Formclass2.h"
#include "dept/Formclass3.h"
#include "mainwin/MDIForm1.h"
#include "windowtest.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QTest>

using namespace xs;
using namespace xs::test;

namespace {

void seedDepartments(const TestDb &db)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                           "insert into class values('一组','外科','102','五年','外科学','李医生','无');"
                           "insert into class values('二组','儿科','201','四年','临床','赵医生','无');"
                           "insert into class values('二组','O''Neil科','202','四年','眼科学','钱医生','无');"));
}

Formclass3 *openQuery() { return showInFront<Formclass3>(); }

void typeBoxes(Formclass3 *f, const QStringList &texts) { setBoxTexts(f->Text1, texts); }

// Column 2 (科室) of the listed rows.
QStringList listed(const Formclass2 *b) { return gridColumn(b->MSF1, 2, false); }

}  // namespace

class TestFormclass3 : public QObject {
    Q_OBJECT
private slots:
    void layoutAndTabOrder();
    void condition_data();
    void condition();
    void listsMatches_data();
    void listsMatches();
    void noCondition();
    void nothingFound_data();
    void nothingFound();
    void flagClearedOnClose();
    void queryEndsOnTopAndActive();
    void closingRebuildsBrowserTree();
    void opensInFirstTabStop();
};

void TestFormclass3::layoutAndTabOrder()
{
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Formclass3 *f = openQuery();
    QCOMPARE(f->windowTitle(), QStringLiteral("科室查询"));
    QCOMPARE(f->Label3->text(), QStringLiteral("科室设置查询"));
    const QLabel *labels[3] = {f->Label1, f->Label2, f->Label4};
    const QStringList captions = {"年级：", "科室：", "专业："};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(labels[i]->text(), captions[i]);
        QCOMPARE(labels[i]->buddy(), f->Text1[size_t(i)]);
        QCOMPARE(labels[i]->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        QCOMPARE(f->Text1[size_t(i)]->objectName(), QStringLiteral("Text1(%1)").arg(i));
        QCOMPARE(f->Text1[size_t(i)]->text(), QString());
    }
    QCOMPARE(f->Command1->text(), QStringLiteral("确定"));
    const QList<QWidget *> order = {f->Text1[2], f->Text1[1], f->Command1, f->Text1[0]};
    for (int k = 0; k < order.size(); ++k) {
        order[k]->setFocus();
        QVERIFY(order[k]->hasFocus());
        QTest::keyClick(order[k], Qt::Key_Tab);
        QTRY_VERIFY(order[(k + 1) % order.size()]->hasFocus());
    }
    // Every character can be typed, the apostrophe included.
    QTest::keyClicks(f->Text1[1], QStringLiteral("O'Neil"));
    QCOMPARE(f->Text1[1]->text(), QStringLiteral("O'Neil"));
    QVERIFY(rec.calls.isEmpty());
}

void TestFormclass3::condition_data()
{
    QTest::addColumn<QStringList>("boxes");  // 年级, 科室, 专业
    QTest::addColumn<QString>("expected");
    const QStringList values = {"一组", "内科", "临床"};
    const QStringList columns = {"年级", "科室", "专业"};
    // Every combination of filled boxes, joined without blanks.
    for (int mask = 1; mask < 8; ++mask) {
        QStringList typed(3), names;
        QString cond;
        for (int i = 0; i < 3; ++i) {
            if (!(mask & (1 << i)))
                continue;
            typed[i] = QLatin1Char(' ') + values[i];
            cond += (cond.isEmpty() ? QString() : QStringLiteral("and ")) + columns[i] + "='" + values[i] + "'";
            names << columns[i];
        }
        QTest::newRow(qPrintable(names.join('+'))) << typed << cond;
    }
    QTest::newRow("two joined, literally") << QStringList{"一组", "", "临床"} << "年级='一组'and 专业='临床'";
    QTest::newRow("blanks only: empty text") << QStringList{"  ", "", ""} << "年级=''";
    QTest::newRow("blanks and a value") << QStringList{"", " ", "临床"} << "科室=''and 专业='临床'";
    QTest::newRow("apostrophe doubled") << QStringList{"", "O'Neil科", ""} << "科室='O''Neil科'";
    QTest::newRow("nothing") << QStringList{"", "", ""} << "";
}

void TestFormclass3::condition()
{
    QFETCH(QStringList, boxes);
    QFETCH(QString, expected);
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Formclass3 *f = openQuery();
    typeBoxes(f, boxes);
    QCOMPARE(f->condition(), expected);
}

void TestFormclass3::listsMatches_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QStringList>("departments");  // listed, in table order
    QTest::newRow("group") << QStringList{"一组"} << "年级='一组'" << QStringList{"内科", "外科"};
    QTest::newRow("speciality") << QStringList{"", "", "临床"} << "专业='临床'" << QStringList{"内科", "儿科"};
    QTest::newRow("group and speciality") << QStringList{"二组", "", " 临床 "} << "年级='二组'and 专业='临床'"
                                          << QStringList{"儿科"};
    QTest::newRow("all three") << QStringList{"一组", "外科", "外科学"} << "年级='一组'and 科室='外科'and 专业='外科学'"
                               << QStringList{"外科"};
    QTest::newRow("apostrophe found as typed") << QStringList{"", "O'Neil科"} << "科室='O''Neil科'"
                                               << QStringList{"O'Neil科"};
}

// A match lists the rows in the department browser, in query mode.
void TestFormclass3::listsMatches()
{
    QFETCH(QStringList, boxes);
    QFETCH(QString, condition);
    QFETCH(QStringList, departments);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    MDIForm1 *m = openMainAs();
    Formclass3 *f = openQuery();
    typeBoxes(f, boxes);
    f->Command1->click();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    const QString statement = QStringLiteral("select * from class where ") + condition;
    QCOMPARE(SqlText, statement);
    QVERIFY(DeptQueryFlag);
    Formclass2 *b = WindowRegistry::find<Formclass2>();
    QVERIFY(b);
    QCOMPARE(b->printstr, statement);
    QCOMPARE(b->windowTitle(), QStringLiteral("科室设置查询结果"));
    QCOMPARE(b->MSF1->TextMatrix(0, 2), QStringLiteral("科室"));
    QCOMPARE(listed(b), departments);
    QVERIFY(b->isVisible());
    // The browser in query mode hands the focus on to this dialog.
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(f));
    QCOMPARE(WindowRegistry::find<Formclass3>(), f);
}

void TestFormclass3::noCondition()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass3 *f = openQuery();
    f->Text1[2]->setFocus();
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("你至少要输入一个条件以上才能查询！"), vbOKOnly, QStringLiteral(" 警告"));
    QCOMPARE(QApplication::focusWidget(), f->Text1[0]);
    QVERIFY(!WindowRegistry::find<Formclass2>());
    QVERIFY(!DeptQueryFlag);
}

void TestFormclass3::nothingFound_data()
{
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("no such group") << QStringList{"九组"};
    QTest::newRow("blanks only") << QStringList{"", "   "};
    QTest::newRow("group and other department") << QStringList{"二组", "内科"};
}

void TestFormclass3::nothingFound()
{
    QFETCH(QStringList, boxes);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    MDIForm1 *m = openMainAs();
    Formclass3 *f = openQuery();
    typeBoxes(f, boxes);
    f->Text1[2]->setFocus();
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("对不起，没有此科室的档案记录！"), vbOKOnly, QStringLiteral("查询"));
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(f));
    QCOMPARE(QApplication::focusWidget(), f->Text1[0]);
    QVERIFY(!WindowRegistry::find<Formclass2>());
    QVERIFY(!DeptQueryFlag);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(f->Text1[size_t(i)]->text(), boxes.value(i));
}

void TestFormclass3::flagClearedOnClose()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass3 *f = openQuery();
    typeBoxes(f, {"一组"});
    f->Command1->click();
    QVERIFY(DeptQueryFlag);
    // Still in query mode: another query keeps it so.
    typeBoxes(f, {"二组"});
    f->Command1->click();
    QVERIFY(DeptQueryFlag);
    QCOMPARE(listed(WindowRegistry::find<Formclass2>()), (QStringList{"儿科", "O'Neil科"}));
    QPointer<Formclass3> alive(f);
    frameOf(f)->close();
    QTRY_VERIFY(!alive);
    QVERIFY(!DeptQueryFlag);
    QVERIFY(rec.calls.isEmpty());
}

// After a successful query the dialog is both the active child window and
// the topmost one, with the focus in it: typing goes where the user looks.
void TestFormclass3::queryEndsOnTopAndActive()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    MDIForm1 *m = openMainAs();
    Formclass3 *f = openQuery();
    for (const QString &group : {QStringLiteral("一组"), QStringLiteral("二组")}) {
        typeBoxes(f, {group});
        f->Command1->click();
        QCoreApplication::processEvents();
        QVERIFY(rec.calls.isEmpty());
        QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(f));
        QCOMPARE(m->mdiArea()->subWindowList(QMdiArea::StackingOrder).last(), frameOf(f));
        QVERIFY(focusWithin(f));
        QVERIFY(WindowRegistry::find<Formclass2>()->isVisible());
    }
}

// Closing the dialog ends query mode before the browser becomes active, so the
// browser's activation builds its tree.
void TestFormclass3::closingRebuildsBrowserTree()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    MDIForm1 *m = openMainAs();
    Formclass3 *f = openQuery();
    typeBoxes(f, {"一组"});
    f->Command1->click();
    Formclass2 *b = WindowRegistry::find<Formclass2>();
    QCOMPARE(b->TreeView1->topLevelItemCount(), 0);
    QPointer<Formclass3> alive(f);
    frameOf(f)->close();
    QVERIFY(!DeptQueryFlag);
    QTRY_VERIFY(!alive);
    QCOMPARE(m->mdiArea()->activeSubWindow(), frameOf(b));
    QCOMPARE(b->TreeView1->topLevelItemCount(), 2);
    QVERIFY(nodeByText(b->TreeView1, QStringLiteral("内科")));
    QVERIFY(rec.calls.isEmpty());
}

// A new dialog starts in the first box of its tab order, Text1(2).
void TestFormclass3::opensInFirstTabStop()
{
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Formclass3 *f = openQuery();
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::focusWidget(), f->Text1[2]);
    QPointer<Formclass3> alive(f);
    frameOf(f)->close();
    QTRY_VERIFY(!alive);
    f = WindowRegistry::show<Formclass3>();
    QCoreApplication::processEvents();
    QCOMPARE(QApplication::focusWidget(), f->Text1[2]);
}

QTEST_MAIN(TestFormclass3)
#include "tst_formclass3.moc"
