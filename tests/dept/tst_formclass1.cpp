// The department editor: its boxes, the checks of 确定 in their order, adding,
// and modifying as one delete-then-add change.
#include "data/globals.h"
#include "data/recordset.h"
#include "dept/Formclass1.h"
#include "dept/Formclass2.h"
#include "mainwin/MDIForm1.h"
#include "windowtest.h"

#include <QApplication>
#include <QMdiSubWindow>

#include <QTest>

using namespace xs;
using namespace xs::test;

using Typed = QMap<int, QString>;  // box -> text

namespace {

void seedDepartments(const TestDb &db)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                           "insert into class values('一组','外科','102','五年','外科学','李医生','旧备注');"
                           "insert into class values('二组','ENT','201','四年','耳鼻喉','赵医生','无');"
                           "insert into xj(门诊号,姓名,科室) values('0001','甲','内科');"));
}

// Add mode, opened as the main window's 添加科室 opens it.
Formclass1 *openAdd()
{
    Formclass1 *f = WindowRegistry::show<Formclass1>();
    DeptEditMode = false;
    f->classload();
    WindowRegistry::bringToFront(f);
    return f;
}

// Modify mode for `dept` selected in the department browser, opened as the
// browser's 修改 opens it.
Formclass1 *openModify(const QString &dept)
{
    Formclass2 *b = WindowRegistry::show<Formclass2>();
    b->MSF1->setCols(8);
    b->MSF1->setRows(2);
    b->MSF1->setTextMatrix(1, 1, QStringLiteral("一组"));
    b->MSF1->setTextMatrix(1, 2, dept);
    b->MSF1->setRow(1);
    DeptEditMode = true;
    Formclass1 *f = WindowRegistry::show<Formclass1>();
    f->classload();
    WindowRegistry::bringToFront(f);
    return f;
}

void type(Formclass1 *f, const QStringList &texts) { setBoxTexts(f->Text1, texts); }

QStringList boxes(const Formclass1 *f) { return boxTexts(f->Text1); }

QStringList classRows(const TestDb &db) { return db.rows(QStringLiteral("select * from class order by 科室")); }

const QStringList kValid = {"三组", "儿科", "301", "三年", "儿科学", "钱医生", "新科室"};

}  // namespace

class TestFormclass1 : public QObject {
    Q_OBJECT
private slots:
    void fieldTable_data();
    void fieldTable();
    void tabOrderWithoutEnter();
    void classloadSetsMode();
    void activationKeepsTyped();
    void checks_data();
    void checks();
    void addStores_data();
    void addStores();
    void modify_data();
    void modify();
    void failedAddKeepsOldRow();
    void modifyOfVanishedRow();
    void longStoredTextKeptWhole();
    void cancelCloses();
};

void TestFormclass1::fieldTable_data()
{
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("limit");
    const char *captions[7] = {"年级：", "科室：", "诊室：", "年制：", "专业：", "医生：", "备注："};
    const int limits[7] = {16, 20, 5, 8, 16, 8, 0};
    for (int i = 0; i < 7; ++i)
        QTest::addRow("Text1(%d)", i) << i << QString::fromUtf8(captions[i])
                                      << (i < 6 ? QStringLiteral("Label2(%1)").arg(i) : QStringLiteral("Label8"))
                                      << limits[i];
}

void TestFormclass1::fieldTable()
{
    QFETCH(int, box);
    QFETCH(QString, caption);
    QFETCH(QString, label);
    QFETCH(int, limit);
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Formclass1 *f = openAdd();
    TextBox *t = f->Text1[size_t(box)];
    QCOMPARE(t->objectName(), QStringLiteral("Text1(%1)").arg(box));
    auto *l = f->findChild<QLabel *>(label);
    QVERIFY(l);
    QCOMPARE(l->text(), caption);
    QCOMPARE(l->buddy(), t);
    QCOMPARE(t->isMultiLine(), box == 6);
    QCOMPARE(t->typingLimit(), limit);
    t->setFocus();
    QTest::keyClicks(t->editor(), QStringLiteral("abcdefghijklmnopqrstuvwxy"));
    QCOMPARE(t->text().size(), limit ? limit : 25);
    QVERIFY(rec.calls.isEmpty());
}

void TestFormclass1::tabOrderWithoutEnter()
{
    MsgRecorder rec;
    TestDb db;
    openMainAs();
    Formclass1 *f = openAdd();
    QList<QWidget *> order;
    for (TextBox *t : f->Text1)
        order << t->editor();
    order << f->Command1 << f->Command2;
    for (int k = 0; k + 1 < order.size(); ++k) {
        order[k]->setFocus();
        QVERIFY(order[k]->hasFocus());
        QTest::keyClick(order[k], Qt::Key_Tab);
        QTRY_VERIFY(order[k + 1]->hasFocus());
    }
    QCOMPARE(f->Text1[6]->text(), QString());  // Tab moved on, wrote nothing
    // Enter does not move between boxes.
    f->Text1[0]->setFocus();
    QTest::keyClick(f->Text1[0]->editor(), Qt::Key_Return);
    QVERIFY(focusWithin(f->Text1[0]));
}

void TestFormclass1::classloadSetsMode()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass1 *f = openModify(QStringLiteral("  外科 "));  // the grid cell is trimmed
    QCOMPARE(f->windowTitle(), QStringLiteral("修改科室设置"));
    QCOMPARE(boxes(f), (QStringList{"一组", "外科", "102", "五年", "外科学", "李医生", "旧备注"}));
    // The main window's entry on the open window switches it to add mode.
    openAdd();
    QCOMPARE(WindowRegistry::find<Formclass1>(), f);
    QCOMPARE(f->windowTitle(), QStringLiteral("添加科室设置"));
    QCOMPARE(boxes(f), QStringList(7, QString()));
    QCOMPARE(f->Label1->text(), QStringLiteral("班级设置"));
    QVERIFY(rec.calls.isEmpty());
}

void TestFormclass1::activationKeepsTyped()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass1 *f = openAdd();
    type(f, kValid);
    Formclass2 *b = WindowRegistry::show<Formclass2>();
    f->Text1[3]->setFocus();
    WindowRegistry::bringToFront(b);
    WindowRegistry::bringToFront(f);
    QCOMPARE(boxes(f), kValid);
    QVERIFY(focusWithin(f->Text1[0]));
}

void TestFormclass1::checks_data()
{
    QTest::addColumn<Typed>("typed");  // over a valid new department
    QTest::addColumn<bool>("modifying");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("focusBox");
    const int ex = vbExclamation;
    QTest::newRow("年级 empty") << Typed{{0, ""}} << false << "年级：不能为空！" << ex << 0;
    QTest::newRow("科室 empty") << Typed{{1, ""}} << false << "科室：不能为空！" << ex << 1;
    QTest::newRow("医生 empty") << Typed{{5, ""}} << false << "医生：不能为空！" << ex << 5;
    QTest::newRow("first in index order") << Typed{{5, ""}, {3, ""}, {4, ""}} << false << "年制：不能为空！" << ex << 3;
    QTest::newRow("empty before duplicate") << Typed{{1, "内科"}, {2, ""}} << false << "诊室：不能为空！" << ex << 2;
    QTest::newRow("empty in modify mode") << Typed{{0, ""}} << true << "年级：不能为空！" << ex << 0;
    QTest::newRow("duplicate") << Typed{{1, "内科"}} << false << "已经存在该科室的设置,不能重复！" << int(vbOKOnly)
                               << 1;
    QTest::newRow("duplicate trimmed") << Typed{{1, "  内科 "}} << false << "已经存在该科室的设置,不能重复！"
                                       << int(vbOKOnly) << 1;
    QTest::newRow("duplicate other case")
        << Typed{{1, "ent"}} << false << "已经存在该科室的设置,不能重复！" << int(vbOKOnly) << 1;
    // Modify mode: the name of another department would replace that one's row.
    QTest::newRow("modify onto another") << Typed{{1, "外科"}} << true << "已经存在该科室的设置,不能重复！"
                                         << int(vbOKOnly) << 1;
    QTest::newRow("modify onto another trimmed")
        << Typed{{1, " 外科  "}} << true << "已经存在该科室的设置,不能重复！" << int(vbOKOnly) << 1;
    QTest::newRow("modify onto another other case")
        << Typed{{1, "ent"}} << true << "已经存在该科室的设置,不能重复！" << int(vbOKOnly) << 1;
}

// The first failing check only; focus in its box with the text selected;
// nothing stored; nothing typed lost.
void TestFormclass1::checks()
{
    QFETCH(Typed, typed);
    QFETCH(bool, modifying);
    QFETCH(QString, message);
    QFETCH(int, flags);
    QFETCH(int, focusBox);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass1 *f = modifying ? openModify(QStringLiteral("内科")) : openAdd();
    type(f, kValid);
    for (auto it = typed.cbegin(); it != typed.cend(); ++it)
        f->Text1[size_t(it.key())]->setText(it.value());
    const QStringList before = boxes(f);
    const QStringList rows = classRows(db);
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], message, flags, QStringLiteral("警告"));
    QVERIFY(focusWithin(f->Text1[size_t(focusBox)]));
    QCOMPARE(f->Text1[size_t(focusBox)]->selectedText(), f->Text1[size_t(focusBox)]->text());
    QCOMPARE(boxes(f), before);
    QCOMPARE(classRows(db), rows);
    QCOMPARE(WindowRegistry::find<Formclass1>(), f);
}

void TestFormclass1::addStores_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("stored");  // the new row
    QTest::addColumn<QString>("key");     // its 科室 as found afterwards
    QTest::newRow("as typed") << kValid << "三组|儿科|301|三年|儿科学|钱医生|新科室"
                              << "儿科";
    QTest::newRow("备注 empty gets 无") << QStringList{"三组", "儿科", "301", "三年", "儿科学", "钱医生", ""}
                                        << "三组|儿科|301|三年|儿科学|钱医生|无"
                                        << "儿科";
    QTest::newRow("blanks kept") << QStringList{"  ", " 儿科 ", "301 ", "三年", "   ", "钱医生", " "}
                                 << "  | 儿科 |301 |三年|   |钱医生| "
                                 << " 儿科 ";
    QTest::newRow("apostrophe as typed") << QStringList{"三组", "O'Neil科", "301", "三年", "儿科学", "钱医生", "it's"}
                                         << "三组|O'Neil科|301|三年|儿科学|钱医生|it's"
                                         << "O''Neil科";
}

// Add mode stores the row as typed, empties the boxes and stays open.
void TestFormclass1::addStores()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, stored);
    QFETCH(QString, key);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass1 *f = openAdd();
    type(f, typed);
    f->Command1->click();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QCOMPARE(db.count(QStringLiteral("class")), 4);
    QCOMPARE(db.rows(QStringLiteral("select * from class where 科室='%1'").arg(key)), QStringList{stored});
    QCOMPARE(boxes(f), QStringList(7, QString()));
    QCOMPARE(WindowRegistry::find<Formclass1>(), f);
    QCOMPARE(f->windowTitle(), QStringLiteral("添加科室设置"));

    // The same department again is now a duplicate, also when only its
    // blanks tell it apart from the trimmed name the check compares.
    type(f, typed);
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("已经存在该科室的设置,不能重复！"));
    QCOMPARE(rec.calls[0].flags, int(vbOKOnly));
    QVERIFY(focusWithin(f->Text1[1]));
    QCOMPARE(db.count(QStringLiteral("class")), 4);
    QCOMPARE(db.rows(QStringLiteral("select * from class where 科室='%1'").arg(key)), QStringList{stored});
}

void TestFormclass1::modify_data()
{
    QTest::addColumn<QString>("selected");  // department loaded from the browser
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QStringList>("rows");  // class afterwards, ordered by 科室
    QTest::newRow("name unchanged") << "外科"
                                    << "外科"
                                    << QStringList{"二组|ENT|201|四年|耳鼻喉|赵医生|无",
                                                   "一组|内科|101|五年|临床|王医生|无",
                                                   "一组|外科|999|五年|外科学|李医生|旧备注"};
    QTest::newRow("changed to a new name")
        << "外科"
        << "普外科"
        << QStringList{"二组|ENT|201|四年|耳鼻喉|赵医生|无", "一组|内科|101|五年|临床|王医生|无",
                       "一组|外科|102|五年|外科学|李医生|旧备注", "一组|普外科|999|五年|外科学|李医生|旧备注"};
    QTest::newRow("own name with blanks")
        << "外科"
        << " 外科 "
        << QStringList{"一组| 外科 |999|五年|外科学|李医生|旧备注", "二组|ENT|201|四年|耳鼻喉|赵医生|无",
                       "一组|内科|101|五年|临床|王医生|无"};
    QTest::newRow("own name in other case")
        << "ENT"
        << "Ent"
        << QStringList{"二组|Ent|999|四年|耳鼻喉|赵医生|无", "一组|内科|101|五年|临床|王医生|无",
                       "一组|外科|102|五年|外科学|李医生|旧备注"};
}

// Modify mode stores by deleting the rows of the typed department and adding
// the edited row; the case records are untouched; the window closes.
void TestFormclass1::modify()
{
    QFETCH(QString, selected);
    QFETCH(QString, newName);
    QFETCH(QStringList, rows);
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass1 *f = openModify(selected);
    f->Text1[1]->setText(newName);
    f->Text1[2]->setText(QStringLiteral("999"));
    QPointer<Formclass1> alive(f);
    f->Command1->click();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QTRY_VERIFY(!alive);
    QCOMPARE(classRows(db), rows);
    QCOMPARE(db.rows(QStringLiteral("select 门诊号,科室 from xj")), QStringList{"0001|内科"});
}

// The delete and the add are one change: when the add is refused, the old
// row is still there, the user is told and the window keeps what was typed.
void TestFormclass1::failedAddKeepsOldRow()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    db.exec(QStringLiteral("create trigger no_add before insert on class when new.医生='拒绝' "
                           "begin select raise(abort, '不收'); end"));
    openMainAs();
    Formclass1 *f = openModify(QStringLiteral("外科"));
    f->Text1[5]->setText(QStringLiteral("拒绝"));
    f->Text1[6]->setText(QString());
    const QStringList rows = classRows(db);
    // While the message is up the failed change is over: another write goes
    // through and stays.
    setMsgBoxAnswerer([&rec](const MsgBoxCall &c) {
        rec.calls << c;
        runaction(QStringLiteral("insert into use(username,password) values('probe','p')"));
        return int(vbOK);
    });
    f->Command1->click();
    QCOMPARE(db.count(QStringLiteral("use where username='probe'")), 1);
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY(rec.calls[0].text.startsWith(QStringLiteral("科室设置没有保存成功！")));
    QVERIFY(rec.calls[0].text.contains(QStringLiteral("不收")));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(classRows(db), rows);
    QTest::qWait(10);
    QCOMPARE(WindowRegistry::find<Formclass1>(), f);
    QCOMPARE(boxes(f), (QStringList{"一组", "外科", "102", "五年", "外科学", "拒绝", "无"}));
}

// The browser's department has no row any more: nothing is loaded, and what
// is typed then is stored as a new setting.
void TestFormclass1::modifyOfVanishedRow()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    openMainAs();
    Formclass1 *f = openModify(QStringLiteral("骨科"));
    QCOMPARE(f->windowTitle(), QStringLiteral("修改科室设置"));
    QCOMPARE(boxes(f), QStringList(7, QString()));
    // Nothing loaded: every existing department is another one.
    type(f, kValid);
    f->Text1[1]->setText(QStringLiteral("内科"));
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], QStringLiteral("已经存在该科室的设置,不能重复！"), vbOKOnly, QStringLiteral("警告"));
    QVERIFY(focusWithin(f->Text1[1]));
    QCOMPARE(db.count(QStringLiteral("class where 科室='内科' and 医生='王医生'")), 1);
    rec.clear();
    type(f, kValid);
    f->Command1->click();
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(db.count(QStringLiteral("class")), 4);
}

void TestFormclass1::longStoredTextKeptWhole()
{
    MsgRecorder rec;
    TestDb db;
    seedDepartments(db);
    db.exec(QStringLiteral("update class set 诊室='门诊楼三层东侧' where 科室='外科'"));
    openMainAs();
    Formclass1 *f = openModify(QStringLiteral("外科"));
    QCOMPARE(f->Text1[2]->text(), QStringLiteral("门诊楼三层东侧"));
    f->Command1->click();
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(db.scalar(QStringLiteral("select 诊室 from class where 科室='外科'")), QStringLiteral("门诊楼三层东侧"));
}

void TestFormclass1::cancelCloses()
{
    MsgRecorder rec;
    TestDb db;
    MDIForm1 *m = openMainAs();
    Formclass1 *f = openAdd();
    type(f, kValid);
    QPointer<Formclass1> alive(f);
    f->Command2->click();
    QTRY_VERIFY(!alive);
    QTRY_COMPARE(m->mdiArea()->subWindowList().size(), 0);
    QCOMPARE(db.count(QStringLiteral("class")), 0);
    QVERIFY(rec.calls.isEmpty());
}

QTEST_MAIN(TestFormclass1)
#include "tst_formclass1.moc"
