// A typical case from sign-in to the printed archive, through the real
// windows: sign in, 开药, type the patient, pick drugs, 生成处方, 打印, 保存,
// 清空打印库, then find the archived case with the case query and print it.
#include "cases/DataReportclass.h"
#include "cases/Form3.h"
#include "cases/Form4.h"
#include "data/dates.h"
#include "data/globals.h"
#include "mainwin/MDIForm1.h"
#include "prescribe/DataReport1.h"
#include "prescribe/rxdialog.h"
#include "prescribetest.h"
#include "report/preview.h"
#include "report/report.h"
#include "report/reportdocument.h"
#include "signin/Frmdenlu.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

using namespace xs;
using namespace xs::test;

class TestTypicalCase : public QObject {
    Q_OBJECT
private slots:
    void endToEnd();
    void prescriptionSheets();
};

namespace {
// What a report preview showed: its caption, its rows, and the listed columns
// of its first row.
struct Shown {
    QString caption;
    int rows = -1;
    bool modal = false;
    QStringList first;
};

// Runs `open` (which shows a report modally) and reads the preview of
// `reportName` while it is open, then closes it as the user would.
template <class F>
Shown whileShown(const QString &reportName, F open, const QStringList &columns)
{
    Shown s;
    QTimer::singleShot(0, [&] {
        ReportPreview *p = openReportPreview(reportName);
        if (!p)
            return;
        s.caption = p->windowTitle();
        s.modal = p->isModal();
        s.rows = p->document().rowCount();
        ReportRows &rows = p->document().rows();
        rows.read(0, 1, [&](int, const QStringList &v) {
            for (const QString &c : columns)
                s.first << v.value(int(rows.columns().indexOf(c)));
        });
        p->close();
    });
    open();
    return s;
}

// Types text as the user would: plain keys for ASCII, and text with Chinese
// characters as an input method commits it.
void type(QWidget *box, const QString &text)
{
    bool ascii = true;
    for (QChar ch : text)
        ascii = ascii && ch.unicode() < 128;
    if (ascii) {
        QTest::keyClicks(box, text);
        return;
    }
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(box, &commit);
}

void typeInto(QWidget *box, const QString &text)
{
    box->setFocus(Qt::MouseFocusReason);
    type(box, text);
}
}  // namespace

void TestTypicalCase::endToEnd()
{
    TestDb db(All);
    MsgRecorder rec;
    const QString department = db.scalar(QStringLiteral("select 科室 from class order by 科室 limit 1"));
    const QString drugA = db.scalar(QStringLiteral("select 消化 from 表1 where 消化<>'' limit 1"));
    const QString drugB = db.scalar(QStringLiteral("select 抗生素 from 表1 where 抗生素<>'' limit 1 offset 2"));
    QVERIFY(!department.isEmpty() && !drugA.isEmpty() && !drugB.isEmpty());
    const QString number = QStringLiteral("T2024");
    QCOMPARE(db.count(QStringLiteral("xj where 门诊号='T2024'")), 0);

    // Sign in as the read-only administrator, who may prescribe.
    Frmdenlu *login = WindowRegistry::show<Frmdenlu>();
    QVERIFY(QTest::qWaitForWindowActive(login));
    QTest::keyClicks(login->Text1, QStringLiteral("viewer"));
    QTest::keyClicks(login->Text2, QStringLiteral("viewer123"));
    QTest::mouseClick(login->Command1, Qt::LeftButton);
    MDIForm1 *main = WindowRegistry::find<MDIForm1>();
    QVERIFY(main);
    QVERIFY(QTest::qWaitForWindowActive(main));
    QCOMPARE(CurrentUser, QStringLiteral("viewer"));

    // 开药 on the menu bar.
    QTest::mouseClick(main->menuBar(), Qt::LeftButton, {}, main->menuBar()->actionGeometry(main->kaiyao).center());
    QCOMPARE(RightFlag, QStringLiteral("readonly"));
    Form2 *w = WindowRegistry::find<Form2>();
    QVERIFY(w);
    QVERIFY(w->isWindow());
    QVERIFY(QTest::qWaitForWindowActive(w));
    QCOMPARE(w->windowTitle(), QStringLiteral("登记"));
    QCOMPARE(w->Text2[6]->text(), todayText());
    QCOMPARE(w->List1->item(0)->text(), db.scalar(QStringLiteral("select 消化 from 表1 limit 1")));
    QCOMPARE(w->Combo1[1]->currentText(), department);

    // The patient, typed box by box with Enter moving on.
    auto box = [w](int i) { return w->Text2[size_t(i)]->editor(); };
    QCOMPARE(QApplication::focusWidget(), box(0));
    const QStringList walk = {number,
                              QStringLiteral("王小明"),
                              QStringLiteral("1985-7-9"),
                              QStringLiteral("青禾市河西路8号"),
                              QStringLiteral("300100"),
                              QStringLiteral("13912345678")};
    for (const QString &t : walk) {
        type(QApplication::focusWidget(), t);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    QCOMPARE(QApplication::focusWidget(), box(6));
    QTest::keyClick(box(6), Qt::Key_Return);  // today's date stays
    type(box(7), QStringLiteral("青霉素过敏"));
    QTest::keyClick(box(7), Qt::Key_Return);
    type(box(8), QStringLiteral("体温37.8℃"));
    QTest::keyClick(box(8), Qt::Key_Return);
    type(box(14), QStringLiteral("王医生"));
    QTest::keyClick(box(14), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w->Combo1[0]);
    w->Combo1[0]->lineEdit()->selectAll();
    type(w->Combo1[0], QStringLiteral("男"));
    typeInto(box(15), QStringLiteral("38"));
    typeInto(box(16), QStringLiteral("120101198507090011"));
    w->Combo1[2]->setFocus(Qt::MouseFocusReason);
    w->Combo1[2]->lineEdit()->selectAll();
    type(w->Combo1[2], QStringLiteral("已婚"));
    typeInto(box(9), QStringLiteral("无"));
    typeInto(box(10), QStringLiteral("腹痛两天"));
    typeInto(box(11), QStringLiteral("急性胃肠炎"));

    // Two drugs from two categories, each with its quantity.
    auto pick = [w](const QString &entry, const QString &quantity) {
        w->Text1->setText(quantity);
        const QList<QListWidgetItem *> found = w->List1->findItems(entry, Qt::MatchExactly);
        QVERIFY(!found.isEmpty());
        w->List1->scrollToItem(found.first());
        const QPoint at = w->List1->visualItemRect(found.first()).center();
        QTest::mouseClick(w->List1->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w->List1->viewport(), Qt::LeftButton, {}, at);
    };
    pick(drugA, QStringLiteral("2盒;"));
    w->findChild<QAction *>(QStringLiteral("抗生素"))->trigger();
    pick(drugB, QStringLiteral("1盒;"));
    QCOMPARE(items(w->List2), (QStringList{drugA, QStringLiteral("2盒;"), drugB, QStringLiteral("1盒;")}));
    QCOMPARE(w->Text2[12]->text(), drugA + drugB);
    QCOMPARE(w->Text2[13]->text(), QStringLiteral("2盒;1盒;"));

    // 生成处方: the work table holds the prescription; the window reopens.
    QPointer<Form2> old(w);
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(db.rows(QStringLiteral("select * from yc")),
             QStringList{number + QStringLiteral("|王小明|男|") + department
                         + QStringLiteral("|1985-07-09|青禾市河西路8号|"
                                          "300100|13912345678|")
                         + todayText()
                         + QStringLiteral("|青霉素过敏|已婚|体温37.8℃|无|腹痛两天|"
                                          "急性胃肠炎|")
                         + drugA + drugB + QStringLiteral("|2盒;1盒;|王医生|38|120101198507090011")});
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(w->MSHFlexGrid1->TextMatrix(1, 1), number);

    // 打印: the electronic prescription of the work table.
    const Shown prescription = whileShown(QStringLiteral("DataReport1"), [w] { w->dayin->trigger(); },
                                          {QStringLiteral("门诊号"), QStringLiteral("药名"), QStringLiteral("药量")});
    QVERIFY(prescription.modal);
    QCOMPARE(prescription.caption, QStringLiteral("DataReport1"));
    QCOMPARE(prescription.rows, 1);
    QCOMPARE(prescription.first, (QStringList{number, drugA + drugB, QStringLiteral("2盒;1盒;")}));
    if (QApplication::activeWindow() != w)
        w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));

    // 保存 into the archive.
    old = w;
    w->baocun->trigger();
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(db.rows(QStringLiteral("select * from xj where 门诊号='T2024'")),
             db.rows(QStringLiteral("select * from yc")));
    bool listed = false;
    for (int r = 1; r < w->MSF1->Rows(); ++r)
        listed = listed || w->MSF1->TextMatrix(r, 1) == number;
    QVERIFY(listed);

    // 清空打印库(按2次）: twice, as its caption says.
    for (int k = 0; k < 2; ++k) {
        old = w;
        w->ck->trigger();
        w = reopened(old);
        QVERIFY(w);
    }
    QCOMPARE(db.count(QStringLiteral("yc")), 0);
    QCOMPARE(w->MSHFlexGrid1->Rows(), 1);
    QCOMPARE(rec.calls.size(), 0);

    // Back in the main window: 档案查询 by the outpatient number.
    main->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main));
    main->entry(QStringLiteral("claasfind"))->trigger();
    Form4 *query = WindowRegistry::find<Form4>();
    QVERIFY(query);
    QTest::keyClicks(query->Text1[0], number);
    QTest::mouseClick(query->Command1, Qt::LeftButton);
    QCOMPARE(rec.calls.size(), 0);
    Form3 *browser = WindowRegistry::find<Form3>();
    QVERIFY(browser);
    QCOMPARE(browser->MSF1->TextMatrix(1, 1), number);
    QCOMPARE(browser->MSF1->TextMatrix(1, 2), QStringLiteral("王小明"));

    // ... and printed with the case record report.
    const Shown record = whileShown(QStringLiteral("DataReportclass"), [browser] { browser->dangAction->trigger(); },
                                    {QStringLiteral("门诊号"), QStringLiteral("姓名"), QStringLiteral("药名")});
    QCOMPARE(rec.calls.size(), 0);
    QVERIFY(record.modal);
    QCOMPARE(record.rows, 1);
    QCOMPARE(record.first, (QStringList{number, QStringLiteral("王小明"), drugA + drugB}));
}

// Seven drugs picked (one needing a skin test, one 中药饮片), stored by
// 生成处方, completed in the 处方笺 dialog and previewed: three sheets (five
// drugs, one, and the herbal one); the lines as completed go to the archive
// with 保存.
void TestTypicalCase::prescriptionSheets()
{
    TestDb db(All);
    MsgRecorder rec;
    rec.answers = {vbYes};
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral("T7"), QString(), QString());
    const QList<QPair<QString, QString>> drugs = {
        {QStringLiteral("阿莫西林胶囊 0.25g"), QStringLiteral("抗生素")},
        {QStringLiteral("0.9%氯化钠注射液 250ml"), QStringLiteral("输液")},
        {QStringLiteral("硝苯地平控释片 30mg"), QStringLiteral("心血管")},
        {QStringLiteral("盐酸氨溴索片 30mg"), QStringLiteral("呼吸")},
        {QStringLiteral("加巴喷丁胶囊 0.1g"), QStringLiteral("神经")},
        {QStringLiteral("维生素C片 0.1g"), QStringLiteral("维生素激素")},
        {QStringLiteral("黄芪"), QStringLiteral("中药")}};
    for (const auto &[entry, category] : drugs) {
        w->findChild<QAction *>(category)->trigger();
        w->Text1->setText(category == QStringLiteral("中药") ? QStringLiteral("10") : QStringLiteral("1"));
        const QList<QListWidgetItem *> found = w->List1->findItems(entry, Qt::MatchExactly);
        QVERIFY2(!found.isEmpty(), qPrintable(entry));
        w->List1->setCurrentItem(found.first());
        w->List1_DblClick();
    }
    QPointer<Form2> old(w);
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 0);
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(w->workRowKey(), QStringLiteral("T7"));

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("T7.pdf"));
    setPdfPathChooser([&](QWidget *, const QString &) { return pdf; });
    int pages = 0;
    QTimer::singleShot(0, [&] {
        auto *d = dynamic_cast<RxDialog *>(QApplication::activeModalWidget());
        QVERIFY(d);
        auto *table = d->findChild<QTableWidget *>(QStringLiteral("lines"));
        QCOMPARE(table->rowCount(), 7);
        for (int r = 0; r < table->rowCount(); ++r)
            table->setItem(r, RxDialog::Days, new QTableWidgetItem(QStringLiteral("3")));
        QTimer::singleShot(0, [&] {
            auto *p = qobject_cast<ReportPreview *>(QApplication::activeModalWidget());
            QVERIFY(p);
            pages = p->pageCount();
            QVERIFY(p->exportPdf());
            p->close();
        });
        d->findChild<QPushButton *>(QStringLiteral("preview"))->click();
        d->findChild<QPushButton *>(QStringLiteral("ok"))->click();
    });
    w->chufangjian->trigger();
    setPdfPathChooser({});
    QCOMPARE(pages, 3);
    QCOMPARE(rec.calls.size(), 1);  // the skin test, asked about
    QCOMPARE(rec.calls[0].flags, int(vbQuestion | vbYesNo));
    QVERIFY2(rec.calls[0].text.contains(QStringLiteral("需要皮试")), qPrintable(rec.calls[0].text));
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(30000));
    const QStringList sheets = QString::fromUtf8(text.readAllStandardOutput()).remove(u' ').split(u'\f');
    QVERIFY(sheets.size() >= 3);
    for (int i = 0; i < 3; ++i)
        for (const QString &want :
             {QStringLiteral("姓名：张三"), QStringLiteral("门诊号：T7"), QStringLiteral("以下空白")})
            QVERIFY2(sheets[i].contains(want), qPrintable(sheets[i]));
    QVERIFY(sheets[0].contains(QStringLiteral("（皮试）")));
    QVERIFY(sheets[2].contains(QStringLiteral("黄芪")) && !sheets[0].contains(QStringLiteral("黄芪")));
    QCOMPARE(db.rows(QStringLiteral("select 天数 from ycrx where 门诊号='T7'")), QStringList(7, QStringLiteral("3")));

    old = w;
    w->baocun->trigger();
    w = reopened(old);
    QVERIFY(w);
    QCOMPARE(db.rows(QStringLiteral("select 药品 from xjrx where 门诊号='T7' order by 行号")).size(), 7);
}

QTEST_MAIN(TestTypicalCase)
#include "tst_typicalcase.moc"
