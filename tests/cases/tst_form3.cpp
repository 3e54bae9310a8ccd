// The case record browser: tree, listing, toolbar, activation, main window entry.
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "cases/Form4.h"
#include "cases/DataReportclass.h"
#include "data/globals.h"
#include "report/dataenv.h"
#include "report/preview.h"
#include "report/reportdocument.h"
#include "mainwin/MDIForm1.h"
#include "windowtest.h"
#include "ui/images.h"
#include "ui/twips.h"

#include <QAction>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

using namespace xs;
using namespace xs::test;

namespace {

const QString kHead = QStringLiteral(
    "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,xj.家庭住址,"
    "xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,xj.症状,xj.诊断,xj.药名,"
    "xj.药量,xj.医生签字,xj.年龄,xj.身份证  from xj inner join class on xj.科室=class.科室  where xj.科室='");

QString nodeStatement(const QString &t)
{
    return kHead + t + QStringLiteral("' or 年级='") + t + QStringLiteral("' order by class.年级 ,class.科室 ,xj.门诊号 ");
}

// Departments: two groups plus a group named like a department ("内科" is
// both a group and a department). Case records: one per department, one more
// in 内科, one naming no department, one naming only a group.
void seedCases(const TestDb &db)
{
    db.exec(QStringLiteral(
        "insert into class values('一组','内科','101','五年','临床','王医生','无');"
        "insert into class values('一组','外科','102','五年','外科学','李医生','无');"
        "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"
        "insert into class values('内科','眼科','301','三年','眼科学','钱医生','无');"
        "insert into class values('三组','牙科','401','三年','口腔','孙医生','无');"
        "insert into xj(门诊号,姓名,性别,科室,出生年月,家庭住址,入诊时间) values('0001','甲','男','内科','1980-01-02','东路1号','2024-03-01');"
        "insert into xj(门诊号,姓名,性别,科室) values('0002','乙','女','外科');"
        "insert into xj(门诊号,姓名,性别,科室) values('0003','丙','男','儿科');"
        "insert into xj(门诊号,姓名,性别,科室) values('0004','丁','女','眼科');"
        "insert into xj(门诊号,姓名,性别,科室) values('0005','戊','男','内科');"
        "insert into xj(门诊号,姓名,性别,科室) values('0006','己','女','骨科');"
        "insert into xj(门诊号,姓名,性别,科室) values('0007','庚','男','二组');"));
}

// Column 1 of the listed rows, from row 1 down to the first empty one.
QStringList listedNumbers(const Form3 *f) { return gridColumn(f->MSF1, 1, true); }

}  // namespace

class TestForm3 : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDb> db;
    QPointer<MDIForm1> main;

    static Form3 *open() { return showSettled<Form3>(); }
    static Form3 *listNode(const QString &text) { return xs::test::listNode<Form3>(text); }

private slots:
    void init()
    {
        db = std::make_unique<TestDb>(Accounts);
        seedCases(*db);
        signInAs(QStringLiteral("admin"));
        main = new MDIForm1;
        main->show();
    }
    void cleanup()
    {
        DataReportclass::Unload();
        DataEnv1.Close();
        WindowRegistry::closeAll();
        delete main;
        db.reset();
    }

    void treeKeysImagesCollapsed()
    {
        Form3 *f = open();  // opening activates the window, which builds the tree
        QTreeWidget *t = f->TreeView1;
        QCOMPARE(t->topLevelItemCount(), 4);
        const QStringList groups{QStringLiteral("一组"), QStringLiteral("三组"), QStringLiteral("二组"),
                                 QStringLiteral("内科")};
        const QStringList keys{QStringLiteral("年级"), QStringLiteral("年级1"), QStringLiteral("年级11"),
                               QStringLiteral("年级111")};
        const QList<QStringList> depts{{QStringLiteral("内科"), QStringLiteral("外科")},
                                       {QStringLiteral("牙科")},
                                       {QStringLiteral("儿科")},
                                       {QStringLiteral("眼科")}};
        for (int g = 0; g < 4; ++g) {
            QTreeWidgetItem *n = t->topLevelItem(g);
            QCOMPARE(n->text(0), groups[g]);
            QCOMPARE(n->data(0, BrowserKeyRole).toString(), keys[g]);
            QVERIFY(!n->isExpanded());
            QCOMPARE(n->icon(0).pixmap(16).toImage(), QIcon(treePixmap(QStringLiteral("class"))).pixmap(16).toImage());
            QCOMPARE(n->childCount(), depts[g].size());
            for (int c = 0; c < n->childCount(); ++c) {
                QCOMPARE(n->child(c)->text(0), depts[g][c]);
                QVERIFY(n->child(c)->data(0, BrowserKeyRole).isNull());
                QCOMPARE(n->child(c)->icon(0).pixmap(16).toImage(),
                         QIcon(treePixmap(QStringLiteral("cla2"))).pixmap(16).toImage());
            }
        }
        QVERIFY(!t->rootIsDecorated());

        // A rebuild starts over: the same nodes, not twice as many.
        db->exec(QStringLiteral("insert into class values('一组','皮肤科','103','五年','皮肤','周医生','无')"));
        f->tree();
        QCOMPARE(t->topLevelItemCount(), 4);
        QCOMPARE(t->topLevelItem(0)->childCount(), 3);
    }

    void emptyClassGivesEmptyTree()
    {
        db->exec(QStringLiteral("delete from class"));
        Form3 *f = open();
        QCOMPARE(f->TreeView1->topLevelItemCount(), 0);
    }

    void nodeListing_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("group: its departments' records") << "一组" << QStringList{"0001", "0005", "0002"};
        QTest::newRow("department") << "外科" << QStringList{"0002"};
        QTest::newRow("group and department: both sets") << "内科" << QStringList{"0001", "0005", "0004"};
        QTest::newRow("group named by an orphan record") << "二组" << QStringList{"0003"};
        QTest::newRow("department without records") << "牙科" << QStringList{};
    }
    void nodeListing()
    {
        QFETCH(QString, node);
        QFETCH(QStringList, numbers);
        Form3 *f = listNode(node);
        QCOMPARE(listedNumbers(f), numbers);
        QCOMPARE(SqlText, nodeStatement(node));
        QCOMPARE(f->printstr, nodeStatement(node));
        QCOMPARE(f->windowTitle(), QStringLiteral("浏览病例档案"));
        QCOMPARE(f->MSF1->Cols(), 24);
        if (!numbers.isEmpty()) {
            // 50 + n rows, current row the first empty one.
            QCOMPARE(f->MSF1->Rows(), 50 + numbers.size());
            QCOMPARE(f->MSF1->Row(), numbers.size() + 1);
        }
    }

    void nodeTextUsedUntrimmed()
    {
        db->exec(QStringLiteral("insert into class values(' 四组','皮科','1','1','1','1','1');"
                                "insert into xj(门诊号,姓名,科室) values('0200','辛','皮科')"));
        Form3 *f = listNode(QStringLiteral(" 四组"));
        QCOMPARE(SqlText, nodeStatement(QStringLiteral(" 四组")));
        QCOMPARE(listedNumbers(f), QStringList{QStringLiteral("0200")});
    }

    void orphanRecordsNeverListed()
    {
        Form3 *f = open();
        for (int g = 0; g < f->TreeView1->topLevelItemCount(); ++g) {
            QTreeWidgetItem *group = f->TreeView1->topLevelItem(g);
            QList<QTreeWidgetItem *> nodes{group};
            for (int c = 0; c < group->childCount(); ++c)
                nodes << group->child(c);
            for (QTreeWidgetItem *n : nodes) {
                selectAndList(f, n);
                const QStringList listed = listedNumbers(f);
                QVERIFY2(!listed.contains(QStringLiteral("0006")) && !listed.contains(QStringLiteral("0007")),
                         qPrintable(n->text(0)));
            }
        }
    }

    void listedColumnsAndTitles()
    {
        Form3 *f = listNode(QStringLiteral("内科"));
        const QStringList titles{"门诊号", "姓名", "性别", "年级", "科室", "专业", "年制", "出生年月",
                                 "家庭住址", "邮政编码", "联系电话", "入诊时间", "备注", "婚否", "体格检查",
                                 "既往病史", "症状", "诊断", "药名", "药量", "医生签字", "年龄", "身份证"};
        const QList<int> widths{800, 800, 700, 500, 1000, 800, 700, 800, 800, 3000, 800, 1000,
                                800, 6000, 1000, 1000, 1000, 1000, 1000, 800, 700, 800, 800, 800};
        QCOMPARE(f->MSF1->TextMatrix(0, 0), QString());
        for (int c = 1; c <= 23; ++c)
            QCOMPARE(f->MSF1->TextMatrix(0, c), titles[c - 1]);
        QCOMPARE(f->MSF1->verticalHeader()->width(), tw(widths[0]));  // the selector column, in pixels
        for (int c = 1; c <= 23; ++c)
            QCOMPARE(f->MSF1->ColWidth(c), widths[c]);
        // Row 1: 0001 of 内科 in group 一组; joined columns and dates as short dates,
        // columns without a value empty.
        QCOMPARE(f->MSF1->TextMatrix(1, 0), QString());
        QCOMPARE(f->MSF1->TextMatrix(1, 2), QStringLiteral("甲"));
        QCOMPARE(f->MSF1->TextMatrix(1, 4), QStringLiteral("一组"));
        QCOMPARE(f->MSF1->TextMatrix(1, 5), QStringLiteral("内科"));
        QCOMPARE(f->MSF1->TextMatrix(1, 6), QStringLiteral("临床"));
        QCOMPARE(f->MSF1->TextMatrix(1, 7), QStringLiteral("五年"));
        QCOMPARE(f->MSF1->TextMatrix(1, 8), QStringLiteral("1980-01-02"));
        QCOMPARE(f->MSF1->TextMatrix(1, 9), QStringLiteral("东路1号"));
        QCOMPARE(f->MSF1->TextMatrix(1, 12), QStringLiteral("2024-03-01"));
        QCOMPARE(f->MSF1->TextMatrix(1, 13), QString());
        QCOMPARE(f->MSF1->TextMatrix(3, 4), QStringLiteral("内科"));
        QCOMPARE(f->MSF1->TextMatrix(3, 5), QStringLiteral("眼科"));
    }

    void emptyNodeKeepsRowCountAndClearsTexts()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        QCOMPARE(f->MSF1->Rows(), 53);
        selectAndList(f, nodeByText(f->TreeView1, QStringLiteral("牙科")));
        QCOMPARE(f->MSF1->Rows(), 53);
        QCOMPARE(f->MSF1->TextMatrix(0, 1), QStringLiteral("门诊号"));
        for (int r = 1; r < 53; ++r)
            QCOMPARE(f->MSF1->TextMatrix(r, 1), QString());
    }

    void noNodeSelectedClearsGrid()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        selectAndList(f, nullptr);
        QCOMPARE(f->MSF1->TextMatrix(0, 1), QString());
        QCOMPARE(f->MSF1->TextMatrix(1, 1), QString());
    }

    void apostropheInDepartmentIsListed()
    {
        db->exec(QStringLiteral("insert into class values('四组','O''Neil','501','三年','x','y','无');"
                                "insert into xj(门诊号,姓名,科室) values('0100','O''Hara','O''Neil')"));
        Form3 *f = listNode(QStringLiteral("O'Neil"));
        QCOMPARE(listedNumbers(f), QStringList{QStringLiteral("0100")});
        QCOMPARE(f->MSF1->TextMatrix(1, 2), QStringLiteral("O'Hara"));
    }

    void failingStatementListsNothing()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        SqlText = QStringLiteral("select no_such_column from xj");
        f->showdata();  // browsing: the grid keeps what it shows
        QCOMPARE(listedNumbers(f), (QStringList{"0001", "0005", "0002"}));
    }

    void selectionTests_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("clickRow");  // -1: no click after the listing
        QTest::newRow("修改 right after listing") << "modi" << -1;
        QTest::newRow("删除 right after listing") << "del" << -1;
        QTest::newRow("修改 on an empty row") << "modi" << 10;
        QTest::newRow("删除 on an empty row") << "del" << 10;
        QTest::newRow("删除 on the title row") << "del" << 0;
    }
    void selectionTests()
    {
        QFETCH(QString, tag);
        QFETCH(int, clickRow);
        Form3 *f = listNode(QStringLiteral("一组"));
        if (clickRow >= 0)
            f->MSF1->setRow(clickRow);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(tag);
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], QStringLiteral("你还没有选择记录！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
        QVERIFY(!CaseEditMode);
        QVERIFY(!WindowRegistry::find<Form1>());
        QCOMPARE(db->count(QStringLiteral("xj")), 7);
    }

    void rightsTests_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("right");       // RightFlag afterwards
        QTest::addColumn<QStringList>("messages");  // empty: passes
        const QString noModify = QStringLiteral("对不起，你是只读用户不能修改记录，请与管理员联系！");
        const QString noDelete = QStringLiteral("对不起，你是只读用户不能删除记录，请与管理员联系！");
        const QString vanished = QStringLiteral("非法用户！");
        QTest::newRow("viewer 修改") << "viewer" << "modi" << "readonly" << QStringList{noModify};
        QTest::newRow("viewer 删除") << "viewer" << "del" << "readonly" << QStringList{noDelete};
        QTest::newRow("vanished user 修改") << "ghost" << "modi" << "nothing" << QStringList{vanished, noModify};
        QTest::newRow("vanished user 删除") << "ghost" << "del" << "nothing" << QStringList{vanished, noDelete};
        QTest::newRow("doctor 修改") << "doctor" << "modi" << "true" << QStringList{};
        QTest::newRow("admin 修改") << "admin" << "modi" << "admin" << QStringList{};
    }
    void rightsTests()
    {
        QFETCH(QString, user);
        QFETCH(QString, tag);
        QFETCH(QString, right);
        QFETCH(QStringList, messages);
        Form3 *f = listNode(QStringLiteral("一组"));
        signInAs(user);
        f->MSF1->setRow(2);
        MsgRecorder rec;
        rec.answers = {vbCancel};
        f->Toolbar1_ButtonClick(tag);
        QCOMPARE(RightFlag, right);
        if (messages.isEmpty()) {
            QVERIFY(rec.calls.isEmpty());
            QVERIFY(CaseEditMode);
            QVERIFY(WindowRegistry::find<Form1>());
            return;
        }
        QCOMPARE(rec.calls.size(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(rec.calls[i].text, messages[i]);
        QCOMPARE(rec.calls.last().flags, vbInformation | vbOKOnly);
        QCOMPARE(rec.calls.last().title, QStringLiteral(" 警告"));
        QVERIFY(!CaseEditMode);
        QVERIFY(!WindowRegistry::find<Form1>());
        QCOMPARE(db->count(QStringLiteral("xj")), 7);
    }

    void deleteAsksAndRefreshes_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("OK deletes") << int(vbOK);
        QTest::newRow("Cancel keeps") << int(vbCancel);
    }
    void deleteAsksAndRefreshes()
    {
        QFETCH(int, answer);
        Form3 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(2);  // 0005
        MsgRecorder rec;
        rec.answers = {answer};
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text,
                 QStringLiteral("确定要删除门诊号为 0005 的记录吗？\n\r该操作会导致该病例记录的丢失！确定吗？"));
        QCOMPARE(rec.calls[0].flags, vbExclamation | vbOKCancel);
        QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
        if (answer == vbOK) {
            QCOMPARE(db->count(QStringLiteral("xj where 门诊号='0005'")), 0);
            QCOMPARE(db->count(QStringLiteral("xj")), 6);
            QCOMPARE(listedNumbers(f), (QStringList{"0001", "0002"}));
            QCOMPARE(f->MSF1->Rows(), 52);
            QCOMPARE(f->MSF1->Row(), 3);
            QCOMPARE(SqlText, nodeStatement(QStringLiteral("一组")));
        } else {
            QCOMPARE(db->count(QStringLiteral("xj")), 7);
            QCOMPARE(listedNumbers(f), (QStringList{"0001", "0005", "0002"}));
        }
    }

    void deleteWithApostropheInNumber()
    {
        db->exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values('A''1','x','外科')"));
        Form3 *f = listNode(QStringLiteral("外科"));
        QCOMPARE(listedNumbers(f), (QStringList{"0002", "A'1"}));
        f->MSF1->setRow(2);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(db->count(QStringLiteral("xj where 门诊号='A''1'")), 0);
        QCOMPARE(db->count(QStringLiteral("xj")), 7);
        QCOMPARE(listedNumbers(f), QStringList{QStringLiteral("0002")});
    }

    void deleteThatFailsIsTold()
    {
        db->exec(QStringLiteral("create trigger keep before delete on xj begin select raise(abort,'locked'); end"));
        Form3 *f = listNode(QStringLiteral("外科"));
        f->MSF1->setRow(1);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(rec.calls.size(), 2);
        QVERIFY(rec.calls[1].text.startsWith(QStringLiteral("删除失败")));
        QCOMPARE(rec.calls[1].flags, vbExclamation | vbOKOnly);
        QCOMPARE(rec.calls[1].title, QStringLiteral("警告"));
        QCOMPARE(db->count(QStringLiteral("xj")), 7);
        QCOMPARE(listedNumbers(f), QStringList{QStringLiteral("0002")});
    }

    void refreshAfterModification()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(1);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        QVERIFY(CaseEditMode);
        QVERIFY(WindowRegistry::find<Form1>());
        // What the entry window's save does: 0005 moves to another group's department.
        db->exec(QStringLiteral("update xj set 科室='儿科', 姓名='乙乙' where 门诊号='0005';"
                                "update xj set 姓名='甲甲' where 门诊号='0001';"
                                "insert into class values('五组','新科','1','1','1','1','1')"));
        // The entry window closes; the browser becomes the active child again.
        WindowRegistry::find<Form1>()->parentWidget()->close();
        QCoreApplication::processEvents();
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), f->parentWidget());
        QVERIFY(!CaseEditMode);
        QCOMPARE(listedNumbers(f), (QStringList{"0001", "0002"}));
        QCOMPARE(f->MSF1->TextMatrix(1, 2), QStringLiteral("甲甲"));
        // No row of the longer earlier list stays below the new one.
        QCOMPARE(f->MSF1->TextMatrix(3, 1), QString());
        QCOMPARE(f->MSF1->Rows(), 52);
        QCOMPARE(f->MSF1->Row(), 3);
        // The tree was not rebuilt.
        QVERIFY(!nodeByText(f->TreeView1, QStringLiteral("五组")));
        // The next activation rebuilds it.
        f->activated();
        QVERIFY(nodeByText(f->TreeView1, QStringLiteral("五组")));
    }

    // The browser is closed while a modification is pending and the entry
    // window is then cancelled: a browser opened afterwards has listed
    // nothing, so it shows its tree instead of an empty refresh.
    void reopenedAfterPendingModificationShowsTree()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(1);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        QVERIFY(CaseEditMode);
        f->parentWidget()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        WindowRegistry::find<Form1>()->Command2_Click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!WindowRegistry::find<Form3>());
        main->entry(QStringLiteral("liulan"))->trigger();
        QCoreApplication::processEvents();
        Form3 *again = WindowRegistry::find<Form3>();
        QVERIFY(again);
        QVERIFY(!CaseEditMode);
        QCOMPARE(again->TreeView1->topLevelItemCount(), 4);
        QVERIFY(rec.calls.isEmpty());
    }

    void activationInQueryMode()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        Form4 *q = WindowRegistry::show<Form4>();
        CaseQueryFlag = true;
        db->exec(QStringLiteral("insert into class values('五组','新科','1','1','1','1','1')"));
        f->activated();
        QVERIFY(!nodeByText(f->TreeView1, QStringLiteral("五组")));
        QCOMPARE(listedNumbers(f), (QStringList{"0001", "0005", "0002"}));
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), q->parentWidget());
    }

    void queryListingOfOrphansOnly()
    {
        Form3 *f = open();
        WindowRegistry::show<Form4>();
        CaseQueryFlag = true;
        SqlText = kHead.left(kHead.indexOf(QStringLiteral("where"))) + QStringLiteral("where xj.姓名='己'");
        MsgRecorder rec;
        f->showtitle();
        f->showdata();
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], QStringLiteral("对不起，没有此病例的档案记录！"), vbOKOnly, QStringLiteral("查询"));
        QVERIFY(f->parentWidget()->isHidden());
        Form4 *q = WindowRegistry::find<Form4>();
        QVERIFY(q);
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), q->parentWidget());
    }

    void closingEndsQueryMode()
    {
        open();
        WindowRegistry::show<Form4>();
        CaseQueryFlag = true;
        WindowRegistry::find<Form3>()->parentWidget()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!WindowRegistry::find<Form3>());
        QVERIFY(!CaseQueryFlag);
    }

    void toolbarEntries()
    {
        Form3 *f = open();
        const QList<QAction *> acts{f->findAction, f->modiAction, f->delAction};
        const QStringList captions{"查找", "修改", "删除"};
        const QStringList tags{"find", "modi", "del"};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(acts[i]->text(), captions[i]);
            QCOMPARE(acts[i]->data().toString(), tags[i]);
            QVERIFY(!acts[i]->icon().isNull());
        }
        QCOMPARE(f->printButton->text(), QStringLiteral("打印"));
        QCOMPARE(f->printButton->menu()->actions().size(), 2);
        QCOMPARE(f->dangAction->text(), QStringLiteral("打印当前记录"));
        QCOMPARE(f->dangAction->data().toString(), QStringLiteral("dang"));
        QCOMPARE(f->allAction->text(), QStringLiteral("打印全部记录"));
        QCOMPARE(f->allAction->data().toString(), QStringLiteral("all"));
        // The 打印 button itself does nothing.
        MsgRecorder rec;
        f->printButton->defaultAction()->trigger();
        QVERIFY(rec.calls.isEmpty());
        // 查找 opens the query dialog.
        f->findAction->trigger();
        QVERIFY(WindowRegistry::find<Form4>());
    }

    // The print menu: the report's recordset reopened, then the report shown
    // modally, or "没有当前记录！" when there is nothing to print.
    void printMenu_data()
    {
        printMenuColumns();
        QTest::newRow("打印当前记录 before any listing") << "dang" << "" << -1;
        QTest::newRow("打印当前记录 after a listing") << "dang" << "一组" << 3;
        QTest::newRow("打印当前记录, listing without rows") << "dang" << "牙科" << -1;
        QTest::newRow("打印全部记录") << "all" << "" << 5;
        QTest::newRow("打印全部记录 after a listing") << "all" << "一组" << 5;
        QTest::newRow("another key") << "print" << "一组" << 0;
    }
    void printMenu()
    {
        QFETCH(QString, key);
        QFETCH(QString, node);
        QFETCH(int, rows);
        Form3 *f = node.isEmpty() ? open() : listNode(node);
        checkPrintMenu(f, key, rows, &DataReportclass::window, DataEnv1.rsCommand1, DataEnv1.Command1);
    }

    // A grid double-click shows the report modelessly with what its recordset
    // last held.
    void gridDoubleClickShowsReport()
    {
        Form3 *f = listNode(QStringLiteral("一组"));
        checkGridDoubleClick(f, &DataReportclass::window, 5, 3);
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
        CaseQueryFlag = true;
        MsgRecorder rec;
        main->entry(QStringLiteral("liulan"))->trigger();
        QCoreApplication::processEvents();
        Form3 *f = WindowRegistry::find<Form3>();
        if (opens) {
            QVERIFY(rec.calls.isEmpty());
            QVERIFY(f);
            QVERIFY(!CaseQueryFlag);
            QCOMPARE(f->TreeView1->topLevelItemCount(), 4);  // its activation built the tree
            QCOMPARE(f->MSF1->TextMatrix(0, 1), QString());  // and the grid is empty
        } else {
            QVERIFY(!f);
            QCOMPARE(rec.calls.size(), 1);
            XS_COMPARE_REFUSAL(rec.calls[0]);
            QVERIFY(CaseQueryFlag);
        }
    }
};

QTEST_MAIN(TestForm3)
#include "tst_form3.moc"
