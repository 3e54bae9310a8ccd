// The prescribing window's work table: removing a row, 保存 into the archive,
// 清空打印库 with its rights test, 退出, 打印, and the database file used when
// the program runs from another working directory.
#include "data/globals.h"
#include "data/recordset.h"
#include "data/schema.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "prescribe/DataReport1.h"
#include "prescribetest.h"
#include "report/preview.h"
#include "report/reportdocument.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

class TestPrescribeActions : public QObject {
    Q_OBJECT
private slots:
    void removal_data();
    void removal();
    void removalEmptyKey_data();
    void removalEmptyKey();
    void saveCopiesCurrentRow();
    void saveTwice();
    void saveSharedNumberRefused_data();
    void saveSharedNumberRefused();
    void saveWithoutWorkRows();
    void clear_data();
    void clear();
    void clearVanishedUser();
    void exitKeepsWorkTable();
    void printShowsWorkTable();
    void otherWorkingDirectory();
    void actionsAskSignedInUser_data();
    void actionsAskSignedInUser();
};

namespace {
const QString kRow = QStringLiteral("'张三','男','内科','1980-05-06','北京路1号','100000','13800000000','2024-03-01',"
                                    "'无','未婚','正常','无','腹痛','胃炎','奥美拉唑','2盒','王医生','45','110101'");

void addWorkRow(const TestDb &db, const QString &number)
{
    db.exec(QStringLiteral("insert into yc values('%1',%2)").arg(number, kRow));
}

// Double-clicks the cell of column 1 in grid row r (the row becomes current).
void doubleClickRow(FlexGrid *grid, int r)
{
    const QRect cell = grid->visualRect(grid->model()->index(r - 1, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

// Something typed and picked, to see whether it survives.
void typeAndPick(Form2 *w)
{
    w->Text2[1]->setText(QStringLiteral("正在输入"));
    w->Text1->setText(QStringLiteral("1"));
    w->List1->setCurrentRow(0);
    w->List1_DblClick();
}
}  // namespace

void TestPrescribeActions::removal_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("left");  // 门诊号 left in yc, in order
    QTest::newRow("OK removes every row of the number") << int(vbOK) << 1 << "M1" << QStringList{"M2"};
    QTest::newRow("OK on the other number") << int(vbOK) << 2 << "M2" << QStringList{"M1", "M1"};
    QTest::newRow("Cancel removes nothing") << int(vbCancel) << 1 << "M1" << QStringList{"M1", "M2", "M1"};
}

void TestPrescribeActions::removal()
{
    QFETCH(int, answer);
    QFETCH(int, row);
    QFETCH(QString, key);
    QFETCH(QStringList, left);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    addWorkRow(db, QStringLiteral("M1"));
    addWorkRow(db, QStringLiteral("M2"));
    addWorkRow(db, QStringLiteral("M1"));
    db.exec(QStringLiteral("insert into xj values('M1',%1)").arg(kRow));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typeAndPick(w);
    MsgRecorder rec;
    rec.answers = {answer};
    QPointer<Form2> old(w);
    doubleClickRow(w->MSHFlexGrid1, row);
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("确定要删除门诊号为 ") + key
                                    + QStringLiteral(" 的记录吗？\n\r该操作会导致该病例的丢失！确定吗？"));
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKCancel));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(db.rows(QStringLiteral("select 门诊号 from yc")), left);
    // The archive keeps its record.
    QCOMPARE(db.count(QStringLiteral("xj")), 1);
    // Reopened in every case, so that typing and picks are gone.
    Form2 *n = reopened(old);
    QVERIFY(n);
    QCOMPARE(n->Text2[1]->text(), QString());
    QCOMPARE(n->List2->count(), 0);
    QCOMPARE(n->MSHFlexGrid1->Rows(), left.size() + 1);
}

void TestPrescribeActions::removalEmptyKey_data()
{
    QTest::addColumn<QString>("number");  // SQL literal
    QTest::newRow("null") << "NULL";
    QTest::newRow("empty") << "''";
    QTest::newRow("blanks") << "'   '";
}

void TestPrescribeActions::removalEmptyKey()
{
    QFETCH(QString, number);
    TestDb db;
    addDepartments(db);
    db.exec(QStringLiteral("insert into yc values(%1,%2)").arg(number, kRow));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    w->Text2[1]->setText(QStringLiteral("正在输入"));
    MsgRecorder rec;
    QPointer<Form2> old(w);
    doubleClickRow(w->MSHFlexGrid1, 1);
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("你还没有选择记录！"));
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(db.count(QStringLiteral("yc")), 1);
    Form2 *n = reopened(old);
    QVERIFY(n);
    QCOMPARE(n->Text2[1]->text(), QString());
}

void TestPrescribeActions::saveCopiesCurrentRow()
{
    TestDb db;
    addDepartments(db);
    addWorkRow(db, QStringLiteral("M1"));
    db.exec(
        QStringLiteral("insert into yc values('M2','李四','女','儿科','1990-01-02','上海路2号','200000','139',"
                       "'2024-03-02','O''Neil','已婚','体','史','咳嗽','感冒','止咳糖浆','1瓶','李医生','34','31')"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    // The first work row is current when the window opens; a click chooses another.
    QCOMPARE(w->workRowKey(), QStringLiteral("M1"));
    const QRect cell = w->MSHFlexGrid1->visualRect(w->MSHFlexGrid1->model()->index(1, 3));
    QTest::mouseClick(w->MSHFlexGrid1->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(w->workRowKey(), QStringLiteral("M2"));
    MsgRecorder rec;
    QPointer<Form2> old(w);
    w->baocun->trigger();
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(db.rows(QStringLiteral("select * from xj")),
             db.rows(QStringLiteral("select * from yc where 门诊号='M2'")));
    QCOMPARE(db.count(QStringLiteral("yc")), 2);
    Form2 *n = reopened(old);
    QVERIFY(n);
    QCOMPARE(n->MSF1->Rows(), 2);
    QCOMPARE(n->MSF1->TextMatrix(1, 1), QStringLiteral("M2"));
    QCOMPARE(n->MSF1->TextMatrix(1, 10), QStringLiteral("O'Neil"));
}

void TestPrescribeActions::saveTwice()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    addWorkRow(db, QStringLiteral("M1"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    QPointer<Form2> old(w);
    w->baocun->trigger();
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(db.count(QStringLiteral("xj where 门诊号='M1'")), 1);

    // Again: the archive holds the number already; nothing is copied and the
    // window keeps what was typed and picked.
    typeAndPick(w);
    MsgRecorder rec;
    QPointer<Form2> guard(w);
    w->baocun->trigger();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("已经存在该门诊号的记录,门诊号不能重复！"));
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(db.count(QStringLiteral("xj")), 1);
    QCOMPARE(db.count(QStringLiteral("yc")), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard && guard->isVisible());
    QCOMPARE(w->Text2[1]->text(), QStringLiteral("正在输入"));
    QCOMPARE(w->List2->count(), 2);
}

void TestPrescribeActions::saveSharedNumberRefused_data()
{
    QTest::addColumn<QStringList>("work");      // 门诊号 of the work rows, in order
    QTest::addColumn<QStringList>("archived");  // 门诊号 already in the archive
    QTest::addColumn<QString>("message");
    const QString twice = QStringLiteral("打印库中有 2 条门诊号为 M1 的处方,档案中每个门诊号只能保存一条！\n"
                                         "病例没有保存到档案。请先删除多余的处方，再保存。");
    QTest::newRow("two rows, one number") << QStringList{"M1", "M2", "M1"} << QStringList{} << twice;
    QTest::newRow("one number in other case") << QStringList{"M1", "m1"} << QStringList{} << twice;
    QTest::newRow("archived in other case")
        << QStringList{"M1"} << QStringList{"m1"} << "已经存在该门诊号的记录,门诊号不能重复！";
}

// The archive holds each number once: when the work rows of the current
// number cannot all enter it, nothing is copied, the work table stays as it
// was, and the user is told which number and why.
void TestPrescribeActions::saveSharedNumberRefused()
{
    QFETCH(QStringList, work);
    QFETCH(QStringList, archived);
    QFETCH(QString, message);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    for (const QString &n : work)
        addWorkRow(db, n);
    for (const QString &n : archived)
        db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('%1','档案')").arg(n));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typeAndPick(w);
    const QStringList xj = db.rows(QStringLiteral("select * from xj"));
    const QStringList yc = db.rows(QStringLiteral("select * from yc"));
    MsgRecorder rec;
    // While the message is up the refused change is over: another write goes
    // through and stays.
    setMsgBoxAnswerer([&rec](const MsgBoxCall &c) {
        rec.calls << c;
        runaction(QStringLiteral("insert into use(username,password) values('probe','p')"));
        return int(vbOK);
    });
    QPointer<Form2> guard(w);
    w->baocun->trigger();
    QCOMPARE(db.count(QStringLiteral("use where username='probe'")), 1);
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, message);
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(db.rows(QStringLiteral("select * from xj")), xj);
    QCOMPARE(db.rows(QStringLiteral("select * from yc")), yc);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard);
    QCOMPARE(w->Text2[1]->text(), QStringLiteral("正在输入"));
    QCOMPARE(w->List2->count(), 2);
}

void TestPrescribeActions::saveWithoutWorkRows()
{
    TestDb db;
    addDepartments(db);
    db.exec(QStringLiteral("insert into xj(门诊号) values('门诊号')"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    QCOMPARE(w->MSHFlexGrid1->Rows(), 1);
    QCOMPARE(w->workRowKey(), QString());
    MsgRecorder rec;
    QPointer<Form2> old(w);
    w->baocun->trigger();
    // The title row is no record: no message, nothing copied, window reopened.
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(db.count(QStringLiteral("xj")), 1);
    QVERIFY(reopened(old));
}

void TestPrescribeActions::clear_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("passes");
    QTest::newRow("super administrator") << "admin" << true;
    QTest::newRow("read-only administrator") << "viewer" << true;
    QTest::newRow("ordinary user with qx2") << "doctor" << false;
    QTest::newRow("ordinary user with qx1") << "clerk" << false;
    QTest::newRow("no right") << "guest" << false;
}

void TestPrescribeActions::clear()
{
    QFETCH(QString, user);
    QFETCH(bool, passes);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    addWorkRow(db, QStringLiteral("M1"));
    addWorkRow(db, QStringLiteral("M2"));
    db.exec(QStringLiteral("insert into xj values('M1',%1)").arg(kRow));
    signInAs(user);
    Form2 *w = openForm2();
    typeAndPick(w);
    w->Combo1[0]->setEditText(QStringLiteral("男"));
    MsgRecorder rec;
    QPointer<Form2> old(w);
    w->ck->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!passes) {
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text, QStringLiteral("对不起，你是普通用户不能修改记录，请与管理员联系！"));
        QCOMPARE(rec.calls[0].flags, int(vbInformation | vbOKOnly));
        QCOMPARE(rec.calls[0].title, QStringLiteral(" 警告"));
        QCOMPARE(db.count(QStringLiteral("yc")), 2);
        QVERIFY(old);
        QCOMPARE(w->Text2[1]->text(), QStringLiteral("正在输入"));
        QCOMPARE(w->List2->count(), 2);
        QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("男"));
        return;
    }
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(db.count(QStringLiteral("yc")), 0);
    QCOMPARE(db.count(QStringLiteral("xj")), 1);
    Form2 *n = reopened(old);
    QVERIFY(n);
    QCOMPARE(n->MSHFlexGrid1->Rows(), 1);
    QCOMPARE(n->List2->count(), 0);
    QCOMPARE(n->Text2[1]->text(), QString());
    QCOMPARE(n->Combo1[0]->currentText(), QStringLiteral("Combo1"));
    // The second choice, as the caption asks, finds nothing more to do.
    QPointer<Form2> again(n);
    n->ck->trigger();
    QCOMPARE(rec.calls.size(), 0);
    QVERIFY(reopened(again));
    QCOMPARE(db.count(QStringLiteral("yc")), 0);
}

void TestPrescribeActions::clearVanishedUser()
{
    TestDb db;
    addDepartments(db);
    addWorkRow(db, QStringLiteral("M1"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    db.exec(QStringLiteral("delete from use where username='admin'"));
    MsgRecorder rec;
    w->ck->trigger();
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(rec.calls[0].text, QStringLiteral("非法用户！"));
    QCOMPARE(rec.calls[1].text, QStringLiteral("对不起，你是普通用户不能修改记录，请与管理员联系！"));
    QCOMPARE(db.count(QStringLiteral("yc")), 1);
}

void TestPrescribeActions::exitKeepsWorkTable()
{
    TestDb db;
    addDepartments(db);
    addWorkRow(db, QStringLiteral("M1"));
    Form2 *w = openForm2();
    typeAndPick(w);
    MsgRecorder rec;
    QPointer<Form2> guard(w);
    w->tuichu->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!guard);
    QVERIFY(!WindowRegistry::find<Form2>());
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(db.count(QStringLiteral("yc")), 1);
}

void TestPrescribeActions::printShowsWorkTable()
{
    TestDb db;
    addDepartments(db);
    addWorkRow(db, QStringLiteral("M1"));
    addWorkRow(db, QStringLiteral("M2"));
    addCatalogue(db);
    Form2 *w = openForm2();
    typeAndPick(w);
    int rows = -1;
    bool modal = false;
    QString caption, firstNumber;
    QTimer::singleShot(0, w, [&] {
        ReportPreview *p = DataReport1::window();
        QVERIFY(p);
        modal = p->isModal();
        caption = p->windowTitle();
        rows = p->document().rowCount();
        p->document().rows().read(0, 1, [&](int, const QStringList &v) { firstNumber = v.value(0); });
        p->close();
    });
    w->dayin->trigger();
    QVERIFY(modal);
    QCOMPARE(caption, QStringLiteral("DataReport1"));
    QCOMPARE(rows, 2);
    QCOMPARE(firstNumber, QStringLiteral("M1"));
    // Back in the prescribing window, which is unchanged.
    // (Without a window manager nothing hands the focus back by itself.)
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::qWait(50);
    QCOMPARE(w->Text2[1]->text(), QStringLiteral("正在输入"));
    QCOMPARE(w->List2->count(), 2);
    QCOMPARE(db.count(QStringLiteral("yc")), 2);
}

void TestPrescribeActions::otherWorkingDirectory()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    // Another xs.mdb in the working directory, with its own catalogue: the
    // window never reads or writes it.
    QTemporaryDir elsewhere;
    {
        Connection c = Connection::create(elsewhere.path() + QStringLiteral("/xs.mdb"));
        QVERIFY(createSchema(c));
        QVERIFY(c.exec("insert into 表1(消化) values('别处的药')"));
    }
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    QCOMPARE(w->List1->item(0)->text(), QStringLiteral("奥美拉唑肠溶胶囊 20mg"));
    w->findChild<QAction *>(QStringLiteral("消化"))->trigger();
    QCOMPARE(w->List1->count(), 6);

    typePatient(w, QStringLiteral("W1"));
    QPointer<Form2> old(w);
    w->sccf->trigger();
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(db.count(QStringLiteral("yc")), 1);
    old = w;
    w->baocun->trigger();
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(db.count(QStringLiteral("xj where 门诊号='W1'")), 1);
    old = w;
    w->ck->trigger();
    QVERIFY(reopened(old));
    QCOMPARE(db.count(QStringLiteral("yc")), 0);
    {
        Connection c = Connection::open(elsewhere.path() + QStringLiteral("/xs.mdb"));
        StmtHandle s = c.prepare(QStringLiteral("select (select count(*) from yc) + (select count(*) from xj)"));
        QVERIFY(s && sqlite3_step(s.get()) == SQLITE_ROW);
        QCOMPARE(columnText(s.get(), 0), QStringLiteral("0"));
    }
    QVERIFY(QDir::setCurrent(previous));
}

void TestPrescribeActions::actionsAskSignedInUser_data()
{
    QTest::addColumn<QString>("action");  // 生成处方, 保存 or 删除 (double-click)
    QTest::addColumn<QString>("user");    // signed in after the window opened
    QTest::addColumn<bool>("passes");
    for (const char *action : {"生成处方", "保存", "删除"}) {
        const QString a = QString::fromUtf8(action);
        QTest::newRow(qPrintable(a + QStringLiteral(" guest"))) << a << "guest" << false;
        QTest::newRow(qPrintable(a + QStringLiteral(" doctor (qx2)"))) << a << "doctor" << false;
        QTest::newRow(qPrintable(a + QStringLiteral(" clerk (qx1)"))) << a << "clerk" << false;
        QTest::newRow(qPrintable(a + QStringLiteral(" viewer"))) << a << "viewer" << true;
    }
}

// The window stays open when another user signs in; each action that writes
// asks the prescribing right of whoever is signed in at that moment.
void TestPrescribeActions::actionsAskSignedInUser()
{
    QFETCH(QString, action);
    QFETCH(QString, user);
    QFETCH(bool, passes);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    addWorkRow(db, QStringLiteral("M1"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral("M7"));
    w->Text1->setText(QStringLiteral("1"));
    w->List1->setCurrentRow(0);
    w->List1_DblClick();
    signInAs(user);
    const QStringList typed = [w] {
        QStringList t;
        for (TextBox *b : w->Text2)
            t << b->text();
        return t;
    }();
    MsgRecorder rec;
    QPointer<Form2> guard(w);
    if (action == QStringLiteral("生成处方"))
        w->sccf->trigger();
    else if (action == QStringLiteral("保存"))
        w->baocun->trigger();
    else
        doubleClickRow(w->MSHFlexGrid1, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!passes) {
        QCOMPARE(rec.calls.size(), 1);
        QCOMPARE(rec.calls[0].text, QStringLiteral("对不起，你是普通用户不能修改记录，请与管理员联系！"));
        QCOMPARE(rec.calls[0].flags, int(vbInformation | vbOKOnly));
        QCOMPARE(rec.calls[0].title, QStringLiteral(" 警告"));
        QCOMPARE(db.rows(QStringLiteral("select 门诊号 from yc")), QStringList{"M1"});
        QCOMPARE(db.count(QStringLiteral("xj")), 0);
        QVERIFY(guard && guard->isVisible());
        QStringList now;
        for (TextBox *b : w->Text2)
            now << b->text();
        QCOMPARE(now, typed);
        QCOMPARE(w->List2->count(), 2);
        return;
    }
    QVERIFY(reopened(guard));
    if (action == QStringLiteral("生成处方")) {
        QCOMPARE(rec.calls.size(), 0);
        QCOMPARE(db.rows(QStringLiteral("select 门诊号 from yc order by 门诊号")), (QStringList{"M1", "M7"}));
    } else if (action == QStringLiteral("保存")) {
        QCOMPARE(rec.calls.size(), 0);
        QCOMPARE(db.rows(QStringLiteral("select 门诊号 from xj")), QStringList{"M1"});
    } else {
        QCOMPARE(rec.calls.size(), 1);  // the question before removing
        QCOMPARE(db.count(QStringLiteral("yc")), 0);
    }
}

QTEST_MAIN(TestPrescribeActions)
#include "tst_prescribeactions.moc"
