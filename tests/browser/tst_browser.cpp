// The browser design: tree of groups and departments, a node's listing,
// 修改 and 删除 with their checks, the refresh after a modification, query
// mode, the print menu and the main window entry. One source, built once per
// browser: XS_CASE_BROWSER selects the case record browser, else the
// department browser; each set below says what that browser shows.
#include "cases/DataReportclass.h"
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "cases/Form4.h"
#include "data/globals.h"
#include "dept/DataReportclass2.h"
#include "dept/Formclass1.h"
#include "dept/Formclass2.h"
#include "dept/Formclass3.h"
#include "mainwin/MDIForm1.h"
#include "report/dataenv.h"
#include "signin/frmuser1.h"
#include "ui/images.h"
#include "ui/twips.h"
#include "windowtest.h"

#include <QAction>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using namespace xs;
using namespace xs::test;

namespace {

struct Cell {
    int col;
    QString text;
};

#if defined(XS_CASE_BROWSER)

using Browser = Form3;
using Query = Form4;
using Editor = Form1;
using Report = DataReportclass;
const char *const kEntry = "liulan";
bool &queryFlag = CaseQueryFlag;
bool &editMode = CaseEditMode;
const QString kCaption = QStringLiteral("浏览病例档案");
const bool kRootLines = false;
const bool kKeepEmptyRows = true;
const bool kQueryEndsOnClose = true;
const int kListColumn = 1;  // 门诊号
const QString kTable = QStringLiteral("xj"), kKeyField = QStringLiteral("门诊号");
const QString kNoQueryRows = QStringLiteral("对不起，没有此病例的档案记录！");
const QString kQuestionTail = QStringLiteral("该操作会导致该病例记录的丢失！确定吗？");

QString nodeStatement(const QString &t)
{
    return QStringLiteral(
               "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,xj.家庭住址,"
               "xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,xj.症状,xj.诊断,xj.药名,"
               "xj.药量,xj.医生签字,xj.年龄,xj.身份证  from xj inner join class on xj.科室=class.科室  where "
               "class.科室='")
           + t + QStringLiteral("' or 年级='") + t + QStringLiteral("' order by class.年级 ,class.科室 ,xj.门诊号 ");
}

// Groups 一组, 二组, 三组 and a group named like a department ("内科" is both);
// case records: one per department, one more in 内科, one naming no
// department (骨科), one naming only a group (二组).
const QString kSeed = QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                                     "insert into class values('一组','外科','102','五年','外科学','李医生','无');"
                                     "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"
                                     "insert into class values('内科','眼科','301','三年','眼科学','钱医生','无');"
                                     "insert into class values('三组','牙科','401','三年','口腔','孙医生','无');"
                                     "insert into xj(门诊号,姓名,性别,科室,出生年月,家庭住址,入诊时间) "
                                     "values('0001','甲','男','内科','1980-01-02','东路1号','2024-03-01');"
                                     "insert into xj(门诊号,姓名,性别,科室) values('0002','乙','女','外科');"
                                     "insert into xj(门诊号,姓名,性别,科室) values('0003','丙','男','儿科');"
                                     "insert into xj(门诊号,姓名,性别,科室) values('0004','丁','女','眼科');"
                                     "insert into xj(门诊号,姓名,性别,科室) values('0005','戊','男','内科');"
                                     "insert into xj(门诊号,姓名,性别,科室) values('0006','己','女','骨科');"
                                     "insert into xj(门诊号,姓名,性别,科室) values('0007','庚','男','二组');");
const int kRecords = 7, kDepartments = 5;
const QStringList kGroups{"一组", "三组", "二组", "内科"};
const QList<QStringList> kTreeDepts{{"内科", "外科"}, {"牙科"}, {"儿科"}, {"眼科"}};

void nodeRows()
{
    QTest::newRow("group: its departments' records") << "一组"
                                                     << "一组" << QStringList{"0001", "0005", "0002"};
    QTest::newRow("department") << "外科"
                                << "外科" << QStringList{"0002"};
    QTest::newRow("group and department: both sets") << "内科"
                                                     << "内科" << QStringList{"0001", "0005", "0004"};
    QTest::newRow("group named by an orphan record") << "二组"
                                                     << "二组" << QStringList{"0003"};
    QTest::newRow("department without records") << "牙科"
                                                << "牙科" << QStringList{};
    QTest::newRow("blanks around the text are kept") << " 一组 "
                                                     << " 一组 " << QStringList{};
}
const QString kEmptyNode = QStringLiteral("牙科");
const QStringList kApostropheListed{"0100"};

const QStringList kTitles{"门诊号",   "姓名",     "性别",     "年级",     "科室",     "专业", "年制",     "出生年月",
                          "家庭住址", "邮政编码", "联系电话", "入诊时间", "备注",     "婚否", "体格检查", "既往病史",
                          "症状",     "诊断",     "药名",     "药量",     "医生签字", "年龄", "身份证"};
const QList<int> kWidths{800, 800,  700,  500,  1000, 800,  700,  800, 800, 3000, 800, 1000,
                         800, 6000, 1000, 1000, 1000, 1000, 1000, 800, 700, 800,  800, 800};
// Row 1 of 内科: 0001 of group 一组; joined columns and dates as short
// dates, columns without a value empty.
const QString kCellsNode = QStringLiteral("内科");
const QList<Cell> kCells{{0, ""},     {1, "0001"},       {2, "甲"},      {4, "一组"},        {5, "内科"}, {6, "临床"},
                         {7, "五年"}, {8, "1980-01-02"}, {9, "东路1号"}, {12, "2024-03-01"}, {13, ""}};

// 修改 tests the row before the right, and so does 删除.
void refusalRows()
{
    const QString none = QStringLiteral("你还没有选择记录！");
    const QString noModify = QStringLiteral("对不起，你是只读用户不能修改记录，请与管理员联系！");
    const QString noDelete = QStringLiteral("对不起，你是只读用户不能删除记录，请与管理员联系！");
    const QString vanished = QStringLiteral("非法用户！");
    QTest::newRow("修改 right after listing") << "一组" << -1 << "admin"
                                              << "modi" << QStringList{none} << "";
    QTest::newRow("删除 right after listing") << "一组" << -1 << "admin"
                                              << "del" << QStringList{none} << "";
    QTest::newRow("修改 on an empty row") << "一组" << 10 << "admin"
                                          << "modi" << QStringList{none} << "";
    QTest::newRow("删除 on an empty row") << "一组" << 10 << "admin"
                                          << "del" << QStringList{none} << "";
    QTest::newRow("删除 on the title row") << "一组" << 0 << "admin"
                                           << "del" << QStringList{none} << "";
    QTest::newRow("viewer 删除, no row") << "一组" << 0 << "viewer"
                                         << "del" << QStringList{none} << "";
    QTest::newRow("viewer 修改") << "一组" << 2 << "viewer"
                                 << "modi" << QStringList{noModify} << "readonly";
    QTest::newRow("viewer 删除") << "一组" << 2 << "viewer"
                                 << "del" << QStringList{noDelete} << "readonly";
    QTest::newRow("vanished user 修改") << "一组" << 2 << "ghost"
                                        << "modi" << QStringList{vanished, noModify} << "nothing";
    QTest::newRow("vanished user 删除") << "一组" << 2 << "ghost"
                                        << "del" << QStringList{vanished, noDelete} << "nothing";
    QTest::newRow("doctor 修改") << "一组" << 2 << "doctor"
                                 << "modi" << QStringList{} << "true";
    QTest::newRow("admin 修改") << "一组" << 2 << "admin"
                                << "modi" << QStringList{} << "admin";
}

// 删除 of row 2 of 一组: 0005.
const int kDeleteRow = 2;
const QString kDeleteKey = QStringLiteral("0005");
const QStringList kListedAfterDelete{"0001", "0002"};
const QStringList kCasesAfterDelete{"0001", "0002", "0003", "0004", "0006", "0007"};

void storedKeyRows()
{
    QTest::newRow("apostrophe in the number")
        << "insert into xj(门诊号,姓名,科室) values('A''1','x','外科')"
        << "外科" << 2 << "A'1" << QStringList{"0001", "0002", "0003", "0004", "0005", "0006", "0007"} << kRecords;
}

// What the entry window's save does: 0005 moves to another group's
// department, 0001 gets a new name.
const QString kModifyChange = QStringLiteral("update xj set 科室='儿科', 姓名='乙乙' where 门诊号='0005';"
                                             "update xj set 姓名='甲甲' where 门诊号='0001'");
const int kModifyRow = 1;
const QString kModifyKey = QStringLiteral("0001");
const QStringList kListedAfterModify{"0001", "0002"};
const Cell kModifiedCell{2, "甲甲"};
QString editorKey(Editor *e) { return e->Text1[0]->text().trimmed(); }
void cancelEditor(Editor *e) { e->Command2_Click(); }

// The query of the other subsystem, which puts its own statement in SqlText.
void runOtherQuery()
{
    Formclass3 *q = showSettled<Formclass3>();
    q->Text1[0]->setText(QStringLiteral("一组"));
    q->Command1_Click();
    QVERIFY(SqlText.contains(QStringLiteral("from class")));
    q->close();
}

void printRows()
{
    QTest::newRow("打印当前记录 before any listing") << "dang"
                                                     << "" << -1;
    QTest::newRow("打印当前记录 after a listing") << "dang"
                                                  << "一组" << 3;
    QTest::newRow("打印当前记录, listing without rows") << "dang"
                                                        << "牙科" << -1;
    QTest::newRow("打印全部记录") << "all"
                                  << "" << 5;
    QTest::newRow("打印全部记录 after a listing") << "all"
                                                  << "一组" << 5;
    QTest::newRow("another key") << "print"
                                 << "一组" << 0;
}
DataEnvRecordset &reportData() { return DataEnv1.rsCommand1; }
const DataCommand &reportCommand() { return DataEnv1.Command1; }
const int kAllReportRows = 5, kListedReportRows = 3;

#else

using Browser = Formclass2;
using Query = Formclass3;
using Editor = Formclass1;
using Report = DataReportclass2;
const char *const kEntry = "classbrowse";
bool &queryFlag = DeptQueryFlag;
bool &editMode = DeptEditMode;
const QString kCaption = QStringLiteral("浏览科室");
const bool kRootLines = true;
const bool kKeepEmptyRows = false;
const bool kQueryEndsOnClose = false;
const int kListColumn = 2;  // 科室
const QString kTable = QStringLiteral("class"), kKeyField = QStringLiteral("科室");
const QString kNoQueryRows = QStringLiteral("对不起，没有此科室的档案记录！");
const QString kQuestionTail = QStringLiteral("该操作会导致该学生交费记录和成绩记录的丢失！确定吗？");

QString nodeStatement(const QString &t)
{
    return QStringLiteral(" select * from class where 年级='") + t + QStringLiteral("' or 科室='") + t
           + QStringLiteral("' order by 年级 ,科室 ");
}

// Groups 一组, 二组, a group named like a department (内科) and one without a
// name; case records in three departments and one naming no department.
const QString kSeed = QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                                     "insert into class values('一组','外科','102','五年','外科学','李医生','备注一');"
                                     "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"
                                     "insert into class values('内科','眼科','301','三年','眼科学','钱医生','无');"
                                     "insert into class values('','无组科','9','1','x','y','无');"
                                     "insert into xj(门诊号,姓名,科室) values('0001','甲','内科');"
                                     "insert into xj(门诊号,姓名,科室) values('0002','乙','外科');"
                                     "insert into xj(门诊号,姓名,科室) values('0003','丙','内科');"
                                     "insert into xj(门诊号,姓名,科室) values('0004','丁','眼科');"
                                     "insert into xj(门诊号,姓名,科室) values('0005','戊','骨科')");
const int kRecords = 5, kDepartments = 5;
const QStringList kGroups{"", "一组", "二组", "内科"};
const QList<QStringList> kTreeDepts{{"无组科"}, {"内科", "外科"}, {"儿科"}, {"眼科"}};

void nodeRows()
{
    QTest::newRow("group") << "一组"
                           << "一组" << QStringList{"内科", "外科"};
    QTest::newRow("department") << "儿科"
                                << "儿科" << QStringList{"儿科"};
    QTest::newRow("group and department") << "内科"
                                          << "内科" << QStringList{"内科", "眼科"};
    QTest::newRow("blanks around the text are trimmed") << " 二组 "
                                                        << "二组" << QStringList{"儿科"};
}
const QString kEmptyNode = QStringLiteral("九组");
const QStringList kApostropheListed{"O'Neil"};

const QStringList kTitles{"年级", "科室", "诊室", "年制", "专业", "医生", "备注"};
const QList<int> kWidths{100, 1300, 1200, 800, 800, 800, 800, 5000};
const QString kCellsNode = QStringLiteral("外科");
const QList<Cell> kCells{{0, ""},     {1, "一组"},   {2, "外科"},   {3, "102"},
                         {4, "五年"}, {5, "外科学"}, {6, "李医生"}, {7, "备注一"}};

// 修改 tests the row first, 删除 the right first.
void refusalRows()
{
    const QString none = QStringLiteral("你还没有选择记录！");
    const QString noModify = QStringLiteral("对不起，你是只读用户不能修改记录，请与管理员联系！");
    const QString noDelete = QStringLiteral("对不起，你是只读用户不能删除记录，请与管理员联系！");
    QTest::newRow("viewer 修改, no row") << "一组" << -1 << "viewer"
                                         << "modi" << QStringList{none} << "";
    QTest::newRow("viewer 删除, no row") << "一组" << -1 << "viewer"
                                         << "del" << QStringList{noDelete} << "readonly";
    QTest::newRow("viewer 修改, row") << "一组" << 1 << "viewer"
                                      << "modi" << QStringList{noModify} << "readonly";
    QTest::newRow("viewer 删除, row") << "一组" << 1 << "viewer"
                                      << "del" << QStringList{noDelete} << "readonly";
    QTest::newRow("admin 修改, title row") << "一组" << 0 << "admin"
                                           << "modi" << QStringList{none} << "";
    QTest::newRow("admin 删除, title row") << "一组" << 0 << "admin"
                                           << "del" << QStringList{none} << "";
    QTest::newRow("修改 of a row without group") << "无组科" << 1 << "admin"
                                                 << "modi" << QStringList{none} << "";
    QTest::newRow("删除 of a row without group") << "无组科" << 1 << "admin"
                                                 << "del" << QStringList{none} << "";
    QTest::newRow("doctor 修改") << "一组" << 1 << "doctor"
                                 << "modi" << QStringList{} << "true";
    QTest::newRow("admin 修改") << "一组" << 1 << "admin"
                                << "modi" << QStringList{} << "admin";
}

// 删除 of row 1 of 一组: 内科, and with it exactly its case records.
const int kDeleteRow = 1;
const QString kDeleteKey = QStringLiteral("内科");
const QStringList kListedAfterDelete{"外科"};
const QStringList kCasesAfterDelete{"0002", "0004", "0005"};

// A department stored with blanks around its name is a department of its
// own: deleting it never takes the department of the bare name, nor that
// one's case records.
void storedKeyRows()
{
    QTest::newRow("blanks around the name")
        << "insert into class values('五组',' 内科 ','9','1','x','y','无')"
        << "五组" << 1 << "内科" << QStringList{"儿科", "内科", "外科", "无组科", "眼科"} << kRecords;
    QTest::newRow("apostrophe in the name")
        << "insert into class values('五组','O''Neil','9','1','x','y','无')"
        << "五组" << 1 << "O'Neil" << QStringList{"儿科", "内科", "外科", "无组科", "眼科"} << kRecords;
}

// What the editor's save does: 外科 gets another consulting room.
const QString kModifyChange = QStringLiteral("update class set 诊室='999' where 科室='外科'");
const int kModifyRow = 2;
const QString kModifyKey = QStringLiteral("外科");
const QStringList kListedAfterModify{"内科", "外科"};
const Cell kModifiedCell{3, "999"};
QString editorKey(Editor *e) { return e->Text1[1]->text().trimmed(); }
void cancelEditor(Editor *e) { e->Command2_Click(); }

// The query of the other subsystem, which puts its own statement in SqlText.
void runOtherQuery()
{
    Form4 *q = showSettled<Form4>();
    q->Text1[0]->setText(QStringLiteral("0001"));
    q->Command1_Click();
    QVERIFY(SqlText.contains(QStringLiteral("from xj")));
    q->close();
}

void printRows()
{
    QTest::newRow("打印当前记录 before any listing") << "dang"
                                                     << "" << -1;
    QTest::newRow("打印当前记录 after a listing") << "dang"
                                                  << "一组" << 2;
    QTest::newRow("打印全部记录") << "all"
                                  << "" << 5;
    QTest::newRow("打印全部记录 after a listing") << "all"
                                                  << "一组" << 5;
    QTest::newRow("another key") << "print"
                                 << "一组" << 0;
}
DataEnvRecordset &reportData() { return DataEnv1.rsCommand2; }
const DataCommand &reportCommand() { return DataEnv1.Command2; }
const int kAllReportRows = 5, kListedReportRows = 2;

#endif

// The listed keys: down to the first empty row where the browser keeps empty
// rows below its listing, else every row.
QStringList listed(const Browser *f) { return gridColumn(f->MSF1, kListColumn, kKeepEmptyRows); }

// The grid's row count and current row after a listing of n rows: 50 + n
// rows with the first empty one current, or n + 1 rows with none current.
void checkRowCount(const Browser *f, int n)
{
    if (kKeepEmptyRows) {
        QCOMPARE(f->MSF1->Rows(), 50 + n);
        QCOMPARE(f->MSF1->Row(), n + 1);
    } else {
        QCOMPARE(f->MSF1->Rows(), n + 1);
        QCOMPARE(f->MSF1->Row(), 0);
    }
}

QStringList keys(const TestDb &db)
{
    return db.rows(QStringLiteral("select %1 from %2 order by %1").arg(kKeyField, kTable));
}

}  // namespace

class TestBrowser : public QObject {
    Q_OBJECT

    std::unique_ptr<TestDb> db;
    QPointer<MDIForm1> main;

    static Browser *open() { return showSettled<Browser>(); }
    static Browser *listNode(const QString &text) { return xs::test::listNode<Browser>(text); }
    // Lists a node of this text added to the tree, whether or not class has it.
    static Browser *listAddedNode(const QString &text)
    {
        Browser *f = open();
        auto *node = new QTreeWidgetItem(QStringList{text});
        f->TreeView1->addTopLevelItem(node);
        selectAndList(f, node);
        return f;
    }

private slots:
    void init()
    {
        db = std::make_unique<TestDb>(Accounts);
        db->exec(kSeed);
        signInAs(QStringLiteral("admin"));
        main = new MDIForm1;
        main->show();
    }
    void cleanup()
    {
        Report::Unload();
        DataEnv1.Close();
        WindowRegistry::closeAll();
        delete main;
        db.reset();
    }

    void tree()
    {
        Browser *f = open();  // opening activates the window, which builds the tree
        QTreeWidget *t = f->TreeView1;
        QCOMPARE(t->rootIsDecorated(), kRootLines);
        QCOMPARE(t->topLevelItemCount(), kGroups.size());
        const QImage groupIcon = QIcon(treePixmap(QStringLiteral("class"))).pixmap(16).toImage();
        const QImage deptIcon = QIcon(treePixmap(QStringLiteral("cla2"))).pixmap(16).toImage();
        QString key = QStringLiteral("年级");
        for (int g = 0; g < kGroups.size(); ++g, key += QLatin1Char('1')) {
            QTreeWidgetItem *n = t->topLevelItem(g);
            QCOMPARE(n->text(0), kGroups[g]);
            QCOMPARE(n->data(0, BrowserKeyRole).toString(), key);
            QVERIFY(!n->isExpanded());
            QCOMPARE(n->icon(0).pixmap(16).toImage(), groupIcon);
            QCOMPARE(n->childCount(), kTreeDepts[g].size());
            for (int c = 0; c < n->childCount(); ++c) {
                QCOMPARE(n->child(c)->text(0), kTreeDepts[g][c]);
                QVERIFY(n->child(c)->data(0, BrowserKeyRole).isNull());
                QCOMPARE(n->child(c)->icon(0).pixmap(16).toImage(), deptIcon);
            }
        }

        // A rebuild starts over: the same nodes, not twice as many.
        db->exec(QStringLiteral("insert into class values('一组','皮肤科','103','五年','皮肤','周医生','无')"));
        f->buildTree();
        QCOMPARE(t->topLevelItemCount(), kGroups.size());
        QCOMPARE(nodeByText(t, QStringLiteral("一组"))->childCount(), 3);
    }

    void emptyClassGivesEmptyTree()
    {
        db->exec(QStringLiteral("delete from class"));
        QCOMPARE(open()->TreeView1->topLevelItemCount(), 0);
    }

    void nodeListing_data()
    {
        QTest::addColumn<QString>("nodeText");  // the node's text as stored
        QTest::addColumn<QString>("t");         // what the statement holds
        QTest::addColumn<QStringList>("keys");  // listed, in order
        nodeRows();
    }
    void nodeListing()
    {
        QFETCH(QString, nodeText);
        QFETCH(QString, t);
        QFETCH(QStringList, keys);
        Browser *f = listAddedNode(nodeText);
        QCOMPARE(SqlText, nodeStatement(t));
        QCOMPARE(f->printstr, nodeStatement(t));
        QCOMPARE(f->windowTitle(), kCaption);
        QCOMPARE(f->MSF1->Cols(), kTitles.size() + 1);
        QCOMPARE(listed(f), keys);
        if (!keys.isEmpty())
            checkRowCount(f, int(keys.size()));
    }

    void apostropheInDepartmentIsListed()
    {
        db->exec(QStringLiteral("insert into class values('四组','O''Neil','501','三年','x','y','无');"
                                "insert into xj(门诊号,姓名,科室) values('0100','O''Hara','O''Neil')"));
        QCOMPARE(listed(listNode(QStringLiteral("O'Neil"))), kApostropheListed);
    }

    void titlesWidthsAndCells()
    {
        Browser *f = listNode(kCellsNode);
        QCOMPARE(f->MSF1->TextMatrix(0, 0), QString());
        for (int c = 1; c <= kTitles.size(); ++c)
            QCOMPARE(f->MSF1->TextMatrix(0, c), kTitles[c - 1]);
        QCOMPARE(f->MSF1->verticalHeader()->width(), tw(kWidths[0]));  // the selector column, in pixels
        for (int c = 1; c <= kTitles.size(); ++c)
            QCOMPARE(f->MSF1->ColWidth(c), kWidths[c]);
        for (const Cell &cell : kCells)
            QCOMPARE(f->MSF1->TextMatrix(1, cell.col), cell.text);
    }

    // A node without rows writes the titles and leaves the rows empty, as
    // many as there were.
    void emptyNodeKeepsRowCountAndClearsTexts()
    {
        Browser *f = listNode(QStringLiteral("一组"));
        const int rows = f->MSF1->Rows();
        selectAndList(f, nodeByText(f->TreeView1, kEmptyNode) ? nodeByText(f->TreeView1, kEmptyNode)
                                                              : new QTreeWidgetItem(f->TreeView1, {kEmptyNode}));
        QCOMPARE(f->MSF1->Rows(), rows);
        QCOMPARE(f->MSF1->TextMatrix(0, 1), kTitles[0]);
        for (int r = 1; r < rows; ++r)
            QCOMPARE(f->MSF1->TextMatrix(r, 1), QString());
    }

    void noNodeSelectedClearsGrid()
    {
        Browser *f = listNode(QStringLiteral("一组"));
        selectAndList(f, nullptr);
        QCOMPARE(f->MSF1->TextMatrix(0, 1), QString());
        QCOMPARE(f->MSF1->TextMatrix(1, 1), QString());
    }

    // Browsing, a listing that fails or finds nothing keeps what the grid shows.
    void browsingKeepsGrid_data()
    {
        QTest::addColumn<QString>("statement");
        QTest::newRow("failing statement") << "select no_such_column from xj";
        QTest::newRow("no rows") << "select * from class where 科室='没有'";
    }
    void browsingKeepsGrid()
    {
        QFETCH(QString, statement);
        Browser *f = listNode(QStringLiteral("一组"));
        const QStringList before = listed(f);
        SqlText = statement;
        MsgRecorder rec;
        f->listRows();
        QVERIFY(rec.calls.isEmpty());
        QCOMPARE(listed(f), before);
    }

    // A refresh after a modification lists SqlText again; when that still
    // holds the statement of an earlier deletion it is not run a second time.
    void refreshNeverRepeatsADeletion()
    {
        Browser *f = open();
        const int before = db->count(QStringLiteral("xj where 科室='内科'"));
        SqlText = QStringLiteral("delete * from xj where 科室='内科'");
        editMode = true;
        f->activated();
        QVERIFY(!editMode);
        QCOMPARE(db->count(QStringLiteral("xj where 科室='内科'")), before);
    }

    // 修改 and 删除 refused: the messages in order, no editor, nothing deleted.
    void refusals_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("row");  // -1: as the listing left it
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("messages");  // empty: passes
        QTest::addColumn<QString>("right");         // RightFlag afterwards; empty: not asked
        refusalRows();
    }
    void refusals()
    {
        QFETCH(QString, node);
        QFETCH(int, row);
        QFETCH(QString, user);
        QFETCH(QString, tag);
        QFETCH(QStringList, messages);
        QFETCH(QString, right);
        Browser *f = listNode(node);
        if (row >= 0)
            f->MSF1->setRow(row);
        signInAs(user);
        MsgRecorder rec;
        rec.answers = {vbCancel};
        f->Toolbar1_ButtonClick(tag);
        if (!right.isEmpty())
            QCOMPARE(RightFlag, right);
        if (messages.isEmpty()) {
            QVERIFY(rec.calls.isEmpty());
            QVERIFY(editMode);
            QVERIFY(WindowRegistry::find<Editor>());
            return;
        }
        QCOMPARE(rec.calls.size(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QCOMPARE(rec.calls[i].text, messages[i]);
        if (messages.last() == QStringLiteral("你还没有选择记录！")) {
            QCOMPARE(rec.calls.last().flags, vbExclamation | vbOKOnly);
            QCOMPARE(rec.calls.last().title, QStringLiteral("警告"));
        } else {
            QCOMPARE(rec.calls.last().flags, vbInformation | vbOKOnly);
            QCOMPARE(rec.calls.last().title, QStringLiteral(" 警告"));
        }
        QVERIFY(!editMode);
        QVERIFY(!WindowRegistry::find<Editor>());
        QCOMPARE(db->count(QStringLiteral("xj")), kRecords);
        QCOMPARE(db->count(QStringLiteral("class")), kDepartments);
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
        Browser *f = listNode(QStringLiteral("一组"));
        const QStringList before = listed(f);
        f->MSF1->setRow(kDeleteRow);
        MsgRecorder rec;
        rec.answers = {answer};
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0],
                       QStringLiteral("确定要删除门诊号为 ") + kDeleteKey + QStringLiteral(" 的记录吗？\n\r")
                           + kQuestionTail,
                       vbExclamation | vbOKCancel, QStringLiteral("警告"));
        if (answer != vbOK) {
            QCOMPARE(db->count(QStringLiteral("xj")), kRecords);
            QCOMPARE(db->count(QStringLiteral("class")), kDepartments);
            QCOMPARE(listed(f), before);
            return;
        }
        QVERIFY(!keys(*db).contains(kDeleteKey));
        QCOMPARE(db->rows(QStringLiteral("select 门诊号 from xj order by 门诊号")), kCasesAfterDelete);
        QCOMPARE(SqlText, nodeStatement(QStringLiteral("一组")));
        QCOMPARE(listed(f), kListedAfterDelete);
        checkRowCount(f, int(kListedAfterDelete.size()));
    }

    // The statements take the key as stored in the grid.
    void deleteTakesTheKeyAsStored_data()
    {
        QTest::addColumn<QString>("insert");
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("asked");          // the key the question names
        QTest::addColumn<QStringList>("remaining");  // keys of the table afterwards
        QTest::addColumn<int>("records");            // case records afterwards
        storedKeyRows();
    }
    void deleteTakesTheKeyAsStored()
    {
        QFETCH(QString, insert);
        QFETCH(QString, node);
        QFETCH(int, row);
        QFETCH(QString, asked);
        QFETCH(QStringList, remaining);
        QFETCH(int, records);
        db->exec(insert);
        Browser *f = listNode(node);
        f->MSF1->setRow(row);
        MsgRecorder rec;
        rec.answers = {vbOK};
        f->Toolbar1_ButtonClick(QStringLiteral("del"));
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text,
                 QStringLiteral("确定要删除门诊号为 ") + asked + QStringLiteral(" 的记录吗？\n\r") + kQuestionTail);
        QCOMPARE(keys(*db), remaining);
        QCOMPARE(db->count(QStringLiteral("xj")), records);
    }

    void failedDeleteIsToldAndKeepsAll()
    {
        db->exec(QStringLiteral("create trigger keep before delete on xj begin select raise(abort,'locked'); end"));
        Browser *f = listNode(QStringLiteral("一组"));
        const QStringList before = listed(f);
        f->MSF1->setRow(kDeleteRow);
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
        QCOMPARE(rec.calls[1].flags, vbExclamation | vbOKOnly);
        QCOMPARE(rec.calls[1].title, QStringLiteral("警告"));
        QVERIFY(keys(*db).contains(kDeleteKey));
        QCOMPARE(db->count(QStringLiteral("xj")), kRecords);
        QCOMPARE(db->count(QStringLiteral("class")), kDepartments);
        QCOMPARE(listed(f), before);
    }

    // Back from the editor the browser lists its statement again; the tree
    // waits for the next activation.
    void refreshAfterModification()
    {
        Browser *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(kModifyRow);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        QVERIFY(rec.calls.isEmpty());
        QVERIFY(editMode);
        Editor *editor = WindowRegistry::find<Editor>();
        QVERIFY(editor);
        QCOMPARE(editorKey(editor), kModifyKey);  // the editor read the grid's row
        db->exec(kModifyChange);
        db->exec(QStringLiteral("insert into class values('九组','新科','1','1','1','1','1')"));
        frameOf(editor)->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QVERIFY(!WindowRegistry::find<Editor>());
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), frameOf(f));
        QVERIFY(!editMode);
        QCOMPARE(listed(f), kListedAfterModify);
        QCOMPARE(f->MSF1->TextMatrix(1 + int(kListedAfterModify.indexOf(kModifyKey)), kModifiedCell.col),
                 kModifiedCell.text);
        checkRowCount(f, int(kListedAfterModify.size()));
        if (kKeepEmptyRows)  // no row of the longer earlier list stays below the new one
            QCOMPARE(f->MSF1->TextMatrix(int(kListedAfterModify.size()) + 1, 1), QString());
        QVERIFY(!nodeByText(f->TreeView1, QStringLiteral("九组")));
        f->activated();
        QVERIFY(nodeByText(f->TreeView1, QStringLiteral("九组")));
        QVERIFY(rec.calls.isEmpty());
    }

    // While the editor is open other windows put their own statements into
    // SqlText; the refresh that follows the modification lists the browser's
    // own rows again, never theirs.
    void refreshListsOwnRowsAfterOtherWindows_data()
    {
        QTest::addColumn<QString>("other");
        QTest::newRow("user added") << "frmuser1";
        QTest::newRow("the other query") << "query";
    }
    void refreshListsOwnRowsAfterOtherWindows()
    {
        QFETCH(QString, other);
        Browser *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(kModifyRow);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        Editor *editor = WindowRegistry::find<Editor>();
        QVERIFY(editor);
        if (other == QLatin1String("frmuser1")) {
            frmuser1 *u = showSettled<frmuser1>();
            setBoxTexts(u->Text1, {"新用户", "pw", "pw"});
            u->Command1_Click();
            QCOMPARE(SqlText, QStringLiteral("select * from use"));
            QCOMPARE(rec.lastText(), QStringLiteral(" 用户添加成功！"));
            rec.clear();
        } else {
            runOtherQuery();
        }
        db->exec(kModifyChange);
        frameOf(editor)->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        WindowRegistry::bringToFront(f);
        QCoreApplication::processEvents();
        QVERIFY(!editMode);
        QCOMPARE(listed(f), kListedAfterModify);
        QCOMPARE(f->MSF1->TextMatrix(1 + int(kListedAfterModify.indexOf(kModifyKey)), kModifiedCell.col),
                 kModifiedCell.text);
        QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    }

    // The browser is closed while a modification is pending and the editor
    // is then cancelled: a browser opened afterwards has listed nothing, so
    // it shows its tree instead of an empty refresh.
    void reopenedAfterPendingModificationShowsTree()
    {
        Browser *f = listNode(QStringLiteral("一组"));
        f->MSF1->setRow(kModifyRow);
        MsgRecorder rec;
        f->Toolbar1_ButtonClick(QStringLiteral("modi"));
        QVERIFY(editMode);
        f->parentWidget()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        cancelEditor(WindowRegistry::find<Editor>());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!WindowRegistry::find<Browser>());
        main->entry(QString::fromLatin1(kEntry))->trigger();
        QCoreApplication::processEvents();
        Browser *again = WindowRegistry::find<Browser>();
        QVERIFY(again);
        QVERIFY(!editMode);
        QCOMPARE(again->TreeView1->topLevelItemCount(), kGroups.size());
        QVERIFY(rec.calls.isEmpty());
    }

    // In query mode the browser hands the focus to the query dialog and
    // keeps its tree; a query listing without rows goes back to the dialog.
    void queryMode()
    {
        Browser *f = listNode(QStringLiteral("一组"));
        const QStringList before = listed(f);
        Query *q = WindowRegistry::show<Query>();
        queryFlag = true;
        db->exec(QStringLiteral("insert into class values('九组','新科','1','1','1','1','1')"));
        f->activated();
        QVERIFY(!nodeByText(f->TreeView1, QStringLiteral("九组")));
        QCOMPARE(listed(f), before);
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), frameOf(q));

        // Records found by the query that the listing does not show (they name
        // no department).
        SqlText = QStringLiteral("select * from xj where 姓名='没有'");
        MsgRecorder rec;
        f->writeTitles();
        f->listRows();
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], kNoQueryRows, vbOKOnly, QStringLiteral("查询"));
        QVERIFY(f->parentWidget()->isHidden());
        QCOMPARE(WindowRegistry::find<Query>(), q);
        QCOMPARE(WindowRegistry::mdiArea()->activeSubWindow(), frameOf(q));

        // Closing the browser ends query mode, or leaves that to the dialog.
        f->parentWidget()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!WindowRegistry::find<Browser>());
        QCOMPARE(queryFlag, !kQueryEndsOnClose);
    }

    void toolbarEntries()
    {
        Browser *f = open();
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
        QVERIFY(WindowRegistry::find<Query>());
    }

    // The print menu: the report's recordset reopened, then the report shown
    // modally, or "没有当前记录！" when there is nothing to print.
    void printMenu_data()
    {
        printMenuColumns();
        printRows();
    }
    void printMenu()
    {
        QFETCH(QString, key);
        QFETCH(QString, node);
        QFETCH(int, rows);
        Browser *f = node.isEmpty() ? open() : listNode(node);
        checkPrintMenu(f, key, rows, &Report::window, reportData(), reportCommand());
    }

    // A grid double-click shows the report modelessly with what its recordset
    // last held.
    void gridDoubleClickShowsReport()
    {
        checkGridDoubleClick(listNode(QStringLiteral("一组")), &Report::window, kAllReportRows, kListedReportRows);
    }

    void mainWindowEntry_data() { browserEntryAccounts(); }
    void mainWindowEntry()
    {
        QFETCH(QString, user);
        QFETCH(bool, opens);
        signInAs(user);
        MsgRecorder rec;
        main->entry(QString::fromLatin1(kEntry))->trigger();
        QCoreApplication::processEvents();
        Browser *f = WindowRegistry::find<Browser>();
        if (opens) {
            QVERIFY(rec.calls.isEmpty());
            QVERIFY(f);
            QCOMPARE(f->TreeView1->topLevelItemCount(), kGroups.size());  // its activation built the tree
            QCOMPARE(f->MSF1->TextMatrix(0, 1), QString());               // and the grid is empty
        } else {
            QVERIFY(!f);
            QCOMPARE(rec.calls.size(), 1);
            XS_COMPARE_REFUSAL(rec.calls[0]);
        }
    }

#if defined(XS_CASE_BROWSER)
    // 档案浏览 ends a pending case query: the browser it opens builds its tree.
    void entryEndsCaseQuery()
    {
        CaseQueryFlag = true;
        main->entry(QStringLiteral("liulan"))->trigger();
        QCoreApplication::processEvents();
        QVERIFY(!CaseQueryFlag);
        QCOMPARE(WindowRegistry::find<Form3>()->TreeView1->topLevelItemCount(), kGroups.size());
    }
#endif
};

QTEST_MAIN(TestBrowser)
#include "tst_browser.moc"
