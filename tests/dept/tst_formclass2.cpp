// The department browser: its tree, listing, delete with the case records,
// rights order, refresh after a modification, main window entry.
#include "dept/DataReportclass2.h"
#include "data/globals.h"
#include "data/recordset.h"
#include "report/dataenv.h"
#include "report/preview.h"
#include "report/reportdocument.h"
#include "dept/Formclass1.h"
#include "dept/Formclass2.h"
#include "dept/Formclass3.h"
#include "cases/Form4.h"
#include "mainwin/MDIForm1.h"
#include "signin/frmuser1.h"
#include "windowtest.h"
#include "ui/twips.h"

#include <QAction>
#include <QHeaderView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

using namespace xs;
using namespace xs::test;

namespace {

QString nodeStatement(const QString &t)
{
    return QStringLiteral(" select * from class where 年级='") + t + QStringLiteral("' or 科室='") + t
           + QStringLiteral("' order by 年级 ,科室 ");
}

void seedDepartments(const TestDb &db)
{
    db.exec(QStringLiteral(
        "insert into class values('一组','内科','101','五年','临床','王医生','无');"
        "insert into class values('一组','外科','102','五年','外科学','李医生','备注一');"
        "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"
        "insert into class values('内科','眼科','301','三年','眼科学','钱医生','无');"
        "insert into class values('','无组科','9','1','x','y','无');"
        "insert into xj(门诊号,姓名,科室) values('0001','甲','内科');"
        "insert into xj(门诊号,姓名,科室) values('0002','乙','外科');"
        "insert into xj(门诊号,姓名,科室) values('0003','丙','内科');"
        "insert into xj(门诊号,姓名,科室) values('0004','丁','眼科');"
        "insert into xj(门诊号,姓名,科室) values('0005','戊','骨科')"));
}

// Column 2 (科室) of every listed row.
QStringList listedDepartments(const Formclass2 *f) { return gridColumn(f->MSF1, 2, false); }

}  // namespace

class TestFormclass2 : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDb> db;
    QPointer<MDIForm1> main;

    static Formclass2 *open() { return showSettled<Formclass2>(); }
    static Formclass2 *listNode(const QString &text) { return xs::test::listNode<Formclass2>(text); }

private slots:
    void init()
    {
        db = std::make_unique<TestDb>(Accounts);
        seedDepartments(*db);
        signInAs(QStringLiteral("admin"));
        main = new MDIForm1;
        main->show();
    }
    void cleanup()
    {
        DataReportclass2::Unload();
        DataEnv1.Close();
        WindowRegistry::closeAll();
        delete main;
        db.reset();
    }

    // A refresh after a modification lists SqlText again; when that still
    // holds the statement of an earlier deletion it is not run a second time.
    void refreshNeverRepeatsADeletion()
    {
        Formclass2 *f = open();
        SqlText = QStringLiteral("delete * from xj where 科室='内科'");
        DeptEditMode = true;
        f->activated();
        QVERIFY(!DeptEditMode);
        QCOMPARE(db->count(QStringLiteral("xj where 科室='内科'")), 2);
    }

    void classtreeWithRootLines()
    {
        Formclass2 *f = open();
        QTreeWidget *t = f->TreeView1;
        QVERIFY(t->rootIsDecorated());
        QCOMPARE(t->topLevelItemCount(), 4);
        const QStringList groups{"", "一组", "二组", "内科"};
        QString key = QStringLiteral("年级");
        for (int g = 0; g < 4; ++g) {
            QCOMPARE(t->topLevelItem(g)->text(0), groups[g]);
            QCOMPARE(t->topLevelItem(g)->data(0, BrowserKeyRole).toString(), key);
            QVERIFY(!t->topLevelItem(g)->isExpanded());
            key += QLatin1Char('1');
        }
        QCOMPARE(t->topLevelItem(0)->child(0)->text(0), QStringLiteral("无组科"));
        QCOMPARE(t->topLevelItem(1)->childCount(), 2);
    }

    void nodeListing_data()
    {
        QTest::addColumn<QString>("nodeText");   // the node's text as stored
        QTest::addColumn<QString>("t");          // what the statement holds
        QTest::addColumn<QStringList>("depts");
        QTest::newRow("group") << "一组" << "一组" << QStringList{"内科", "外科"};
        QTest::newRow("department") << "儿科" << "儿科" << QStringList{"儿科"};
        QTest::newRow("group and department") << "内科" << "内科" << QStringList{"内科", "眼科"};
        QTest::newRow("blanks around the text are trimmed") << " 二组 " << "二组" << QStringList{"儿科"};
    }
    void nodeListing()
    {
        QFETCH(QString, nodeText);
        QFETCH(QString, t);
        QFETCH(QStringList, depts);
        Formclass2 *f = open();
        auto *node = new QTreeWidgetItem(QStringList{nodeText});
        f->TreeView1->addTopLevelItem(node);
        selectAndList(f, node);
        QCOMPARE(SqlText, nodeStatement(t));
        QCOMPARE(f->printstr, nodeStatement(t));
        QCOMPARE(f->windowTitle(), QStringLiteral("浏览科室"));
        // n + 1 rows, no empty row after them.
        QCOMPARE(f->MSF1->Rows(), depts.size() + 1);
        QCOMPARE(listedDepartments(f), depts);
        QCOMPARE(f->MSF1->Cols(), 8);
    }

    void titlesWidthsAndCells()
    {
        Formclass2 *f = listNode(QStringLiteral("外科"));
        const QStringList titles{"年级", "科室", "诊室", "年制", "专业", "医生", "备注"};
        const QList<int> widths{100, 1300, 1200, 800, 800, 800, 800, 5000};
        for (int c = 1; c <= 7; ++c)
            QCOMPARE(f->MSF1->TextMatrix(0, c), titles[c - 1]);
        QCOMPARE(f->MSF1->verticalHeader()->width(), tw(widths[0]));  // the selector column, in pixels
        for (int c = 1; c <= 7; ++c)
            QCOMPARE(f->MSF1->ColWidth(c), widths[c]);
        const QStringList row{"一组", "外科", "102", "五年", "外科学", "李医生", "备注一"};
        for (int c = 1; c <= 7; ++c)
            QCOMPARE(f->MSF1->TextMatrix(1, c), row[c - 1]);
        QCOMPARE(f->MSF1->TextMatrix(1, 0), QString());
    }

    // 修改 tests the row first, 删除 the right first.
    void checksInOrder_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("title");
        const QString none = QStringLiteral("你还没有选择记录！");
        const QString noModify = QStringLiteral("对不起，你是只读用户不能修改记录，请与管理员联系！");
        const QString noDelete = QStringLiteral("对不起，你是只读用户不能删除记录，请与管理员联系！");
        const int warn = vbExclamation | vbOKOnly, info = vbInformation | vbOKOnly;
        QTest::newRow("viewer 修改, no row") << "viewer" << "modi" << 0 << none << warn << "警告";
        QTest::newRow("viewer 删除, no row") << "viewer" << "del" << 0 << noDelete << info << " 警告";
        QTest::newRow("viewer 修改, row") << "viewer" << "modi" << 1 << noModify << info << " 警告";
        QTest::newRow("viewer 删除, row") << "viewer" << "del" << 1 << noDelete << info << " 警告";
        QTest::newRow("admin 修改, title row") << "admin" << "modi" << 0 << none << warn << "警告";
        QTest::newRow("admin 删除, title row") << "admin" << "del" << 0 << none << warn << "警告";
    }
    void checksInOrder()
    {
        QFETCH(QString, user);
        QFETCH(QString, tag);
        QFETCH(int, row);
        QFETCH(QString, text);
        QFETCH(int, flags);
        QFETCH(QString, title);
        Formclass2 *f = listNode(QStringLiteral("一组"));
        QCOMPARE(f->MSF1->Row(), 0);  // no row is current after a listing
        f->MSF1->setRow(row);
        signInAs(user);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(tag);
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], text, flags, title);
        QVERIFY(!DeptEditMode);
        QVERIFY(!WindowRegistry::find<Formclass1>());
        QCOMPARE(db->count(QStringLiteral("class")), 5);
    }

    void emptyGroupRowCannotBeChanged_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::newRow("修改") << "modi";
        QTest::newRow("删除") << "del";
    }
    void emptyGroupRowCannotBeChanged()
    {
        QFETCH(QString, tag);
        Formclass2 *f = listNode(QStringLiteral("无组科"));
        QCOMPARE(f->MSF1->Rows(), 2);
        f->MSF1->setRow(1);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(tag);
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text, QStringLiteral("你还没有选择记录！"));
        QCOMPARE(db->count(QStringLiteral("class")), 5);
    }

    void deleteRemovesDepartmentAndItsCases_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("OK") << int(vbOK);
        QTest::newRow("Cancel") << int(vbCancel);
    }
    void deleteRemovesDepartmentAndItsCases()
    {
        QFETCH(int, answer);
        Formclass2 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(1);  // 内科
        MsgRecorder rec;
        rec.answers = {answer};
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text,
                 QStringLiteral("确定要删除门诊号为 内科 的记录吗？\n\r该操作会导致该学生交费记录和成绩记录的丢失！确定吗？"));
        QCOMPARE(rec.calls[0].flags, vbExclamation | vbOKCancel);
        QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
        if (answer != vbOK) {
            QCOMPARE(db->count(QStringLiteral("class")), 5);
            QCOMPARE(db->count(QStringLiteral("xj")), 5);
            return;
        }
        QCOMPARE(db->rows(QStringLiteral("select 科室 from class order by 科室")),
                 (QStringList{"儿科", "外科", "无组科", "眼科"}));
        // Exactly its case records went: other departments' and orphans stay.
        QCOMPARE(db->rows(QStringLiteral("select 门诊号 from xj order by 门诊号")),
                 (QStringList{"0002", "0004", "0005"}));
        QCOMPARE(SqlText, nodeStatement(QStringLiteral("一组")));
        QCOMPARE(listedDepartments(f), QStringList{QStringLiteral("外科")});
        // The tree keeps the deleted department until it is rebuilt.
        QVERIFY(nodeByText(f->TreeView1, QStringLiteral("内科"))->parent());
        f->classtree();
        QCOMPARE(f->TreeView1->findItems(QStringLiteral("内科"), Qt::MatchExactly | Qt::MatchRecursive).size(), 1);
    }

    // A department stored with blanks around its name is a department of its
    // own: deleting it never takes the department of the bare name, nor that
    // one's case records.
    void deleteTakesTheRowAsStored()
    {
        db->exec(QStringLiteral("insert into class values('五组',' 内科 ','9','1','x','y','无')"));
        Formclass2 *f = listNode(QStringLiteral("五组"));
        f->MSF1->setRow(1);
        QCOMPARE(f->MSF1->TextMatrix(1, 2), QStringLiteral(" 内科 "));
        MsgRecorder rec;
        rec.answers = {vbOK};
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text,
                 QStringLiteral("确定要删除门诊号为 内科 的记录吗？\n\r该操作会导致该学生交费记录和成绩记录的丢失！确定吗？"));
        QCOMPARE(db->rows(QStringLiteral("select 科室 from class order by 科室")),
                 (QStringList{"儿科", "内科", "外科", "无组科", "眼科"}));
        QCOMPARE(db->count(QStringLiteral("xj")), 5);
    }

    void failedDeleteKeepsBoth()
    {
        db->exec(QStringLiteral("create trigger keep before delete on xj begin select raise(abort,'locked'); end"));
        Formclass2 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(1);
        MsgRecorder rec;
        // While the failure is told the deletion is over: another write goes
        // through and stays.
        setMsgBoxAnswerer([&rec](const MsgBoxCall &c) {
            rec.calls << c;
            if (c.text.startsWith(QStringLiteral("删除失败")))
                runaction(QStringLiteral("insert into use(username,password) values('probe','p')"));
            return int(vbOK);
        });
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(db->count(QStringLiteral("use where username='probe'")), 1);
        QCOMPARE(rec.calls.size(), 2);
        QVERIFY(rec.calls[1].text.startsWith(QStringLiteral("删除失败")));
        QCOMPARE(rec.calls[1].title, QStringLiteral("警告"));
        QCOMPARE(db->count(QStringLiteral("class where 科室='内科'")), 1);
        QCOMPARE(db->count(QStringLiteral("xj")), 5);
    }

    void modifyOpensEditorAndRefreshes()
    {
        Formclass2 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(2);  // 外科
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        QVERIFY(rec.calls.isEmpty());
        QVERIFY(DeptEditMode);
        Formclass1 *editor = WindowRegistry::find<Formclass1>();
        QVERIFY(editor);
        QCOMPARE(editor->Text1[1]->text(), QStringLiteral("外科"));  // classload read the grid's row
        // The user changes the consulting room and saves; the editor closes.
        db->exec(QStringLiteral("insert into class values('九组','新科','1','1','1','1','1')"));
        editor->Text1[2]->setText(QStringLiteral("999"));
        editor->Command1_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QVERIFY(rec.calls.isEmpty());
        QVERIFY(!WindowRegistry::find<Formclass1>());
        // The user comes back to the browser (it may already be the active child).
        WindowRegistry::bringToFront(f);
        QCoreApplication::processEvents();
        QVERIFY(!DeptEditMode);
        QCOMPARE(f->MSF1->Rows(), 3);
        QCOMPARE(f->MSF1->TextMatrix(2, 3), QStringLiteral("999"));
        QVERIFY(!nodeByText(f->TreeView1, QStringLiteral("九组")));
        f->activated();
        QVERIFY(nodeByText(f->TreeView1, QStringLiteral("九组")));
    }

    // While the editor is open other windows put their own statements into
    // SqlText; the refresh that follows the modification lists the browser's
    // own rows again, never theirs.
    void refreshListsOwnRowsAfterOtherWindows_data()
    {
        QTest::addColumn<QString>("other");
        QTest::newRow("user added") << "frmuser1";
        QTest::newRow("case query") << "Form4";
    }
    void refreshListsOwnRowsAfterOtherWindows()
    {
        QFETCH(QString, other);
        Formclass2 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(2);  // 外科
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        Formclass1 *editor = WindowRegistry::find<Formclass1>();
        QVERIFY(editor);
        if (other == QLatin1String("frmuser1")) {
            frmuser1 *u = showSettled<frmuser1>();
            setBoxTexts(u->Text1, {"新用户", "pw", "pw"});
            u->Command1_Click();
            QCOMPARE(SqlText, QStringLiteral("select * from use"));
        } else {
            Form4 *q = showSettled<Form4>();
            q->Text1[0]->setText(QStringLiteral("0001"));
            q->Command1_Click();
            q->close();
            QVERIFY(SqlText.contains(QStringLiteral("from xj")));
        }
        WindowRegistry::bringToFront(editor);
        QCoreApplication::processEvents();
        editor->Text1[2]->setText(QStringLiteral("999"));
        editor->Command1_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!WindowRegistry::find<Formclass1>());
        WindowRegistry::bringToFront(f);
        QCoreApplication::processEvents();
        QVERIFY(!DeptEditMode);
        QCOMPARE(listedDepartments(f), (QStringList{"内科", "外科"}));
        QCOMPARE(f->MSF1->TextMatrix(2, 3), QStringLiteral("999"));
        QCOMPARE(f->MSF1->TextMatrix(1, 1), QStringLiteral("一组"));
    }

    void queryMode()
    {
        Formclass2 *f = listNode(QStringLiteral("一组"));
        Formclass3 *q = WindowRegistry::show<Formclass3>();
        DeptQueryFlag = true;
        db->exec(QStringLiteral("insert into class values('九组','新科','1','1','1','1','1')"));
        f->activated();
        QVERIFY(!nodeByText(f->TreeView1, QStringLiteral("九组")));
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), q->parentWidget());

        // A query listing that finds nothing goes back to the query dialog.
        SqlText = QStringLiteral("select * from class where 科室='没有'");
        MsgRecorder rec;
        f->classshowtitle();
        f->classshowdata();
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], QStringLiteral("对不起，没有此科室的档案记录！"), vbOKOnly, QStringLiteral("查询"));
        QVERIFY(f->parentWidget()->isHidden());

        // Closing the browser leaves the flag to the query dialog.
        f->parentWidget()->close();
        QVERIFY(DeptQueryFlag);
    }

    void browsingWithNoRowsKeepsGrid()
    {
        Formclass2 *f = listNode(QStringLiteral("一组"));
        SqlText = QStringLiteral("select * from class where 科室='没有'");
        MsgRecorder rec;
        f->classshowdata();
        QVERIFY(rec.calls.isEmpty());
        QCOMPARE(listedDepartments(f), (QStringList{"内科", "外科"}));
    }

    // The print menu: the report's recordset reopened, then the report shown
    // modally, or "没有当前记录！" when there is nothing to print.
    void printMenu_data()
    {
        printMenuColumns();
        QTest::newRow("打印当前记录 before any listing") << "dang" << "" << -1;
        QTest::newRow("打印当前记录 after a listing") << "dang" << "一组" << 2;
        QTest::newRow("打印全部记录") << "all" << "" << 5;
        QTest::newRow("打印全部记录 after a listing") << "all" << "一组" << 5;
        QTest::newRow("another key") << "print" << "一组" << 0;
    }
    void printMenu()
    {
        QFETCH(QString, key);
        QFETCH(QString, node);
        QFETCH(int, rows);
        Formclass2 *f = node.isEmpty() ? open() : listNode(node);
        checkPrintMenu(f, key, rows, &DataReportclass2::window, DataEnv1.rsCommand2, DataEnv1.Command2);
    }

    // A grid double-click shows the report modelessly with what its recordset
    // last held.
    void gridDoubleClickShowsReport()
    {
        Formclass2 *f = listNode(QStringLiteral("一组"));
        checkGridDoubleClick(f, &DataReportclass2::window, 5, 2);
    }

    void mainWindowEntry_data()
    {
        browserEntryAccounts();
    }
    void mainWindowEntry()
    {
        QFETCH(QString, user);
        QFETCH(bool, opens);
        signInAs(user);
        DeptQueryFlag = false;
        MsgRecorder rec;
        main->entry(QStringLiteral("classbrowse"))->trigger();
        QCoreApplication::processEvents();
        Formclass2 *f = WindowRegistry::find<Formclass2>();
        if (opens) {
            QVERIFY(rec.calls.isEmpty());
            QVERIFY(f);
            QCOMPARE(f->TreeView1->topLevelItemCount(), 4);
        } else {
            QVERIFY(!f);
            QCOMPARE(rec.calls.size(), 1);
            XS_COMPARE_REFUSAL(rec.calls[0]);
        }
    }
};

QTEST_MAIN(TestFormclass2)
#include "tst_formclass2.moc"
