// The prescribing window: opening state, activation, the drug catalogue,
// picking, Enter and the tab order, and prescription generation.
#include "cases/Form3.h"
#include "data/dates.h"
#include "data/globals.h"
#include "prescribetest.h"
#include "windowtest.h"

#include <QApplication>
#include <QDialog>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTableWidget>
#include <QTimer>

using namespace xs;
using namespace xs::test;

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void opening();
    void menus_data();
    void menus();
    void noDepartment();
    void activationEmptiesTypedFieldsButNotPicks();
    void modalWindowClosingKeepsFields();
    void drugload_data();
    void drugload();
    void categoryKeepsPicks();
    void typeToNarrow_data();
    void typeToNarrow();
    void searchPicks_data();
    void searchPicks();
    void pick_data();
    void pick();
    void pickByMouse();
    void enterWalksTabOrder();
    void dateBoxSelectsOnFocus();
    void generateChecks_data();
    void generateChecks();
    void generateStoresAndReopens();
    void sameNumberTwiceInWorkTable();
    void failedStoreKeepsEverything();
    void modifyMode();
    void modifyRefusedWithoutLoadedRow_data();
    void modifyRefusedWithoutLoadedRow();
    void modifyWritesLoadedRow();
};

void TestForm2::opening()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    QVERIFY(w->isWindow());
    QVERIFY(!w->isMdiChild());
    QCOMPARE(w->windowTitle(), QStringLiteral("登记"));
    QCOMPARE(items(w->List1),
             (QStringList{"奥美拉唑肠溶胶囊 20mg", "", "", " 多潘立酮片 10mg ", "奥美拉唑肠溶胶囊 20mg", "10"}));
    QCOMPARE(w->List2->count(), 0);
    for (int i = 0; i < 17; ++i)
        QCOMPARE(w->Text2[size_t(i)]->text(), i == 6 ? todayText() : QString());
    QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(w->Combo1[2]->currentText(), QStringLiteral("Combo1"));
    QCOMPARE(w->Combo1[0]->count(), 0);
    QCOMPARE(w->Combo1[2]->count(), 0);
    QCOMPARE(w->Combo1[1]->currentText(), QStringLiteral("儿科"));
    QCOMPARE(w->Combo1[1]->count(), 2);
    // 科室 only takes a department of table class.
    QVERIFY(!w->Combo1[1]->isEditable());
    QVERIFY(w->Combo1[0]->isEditable() && w->Combo1[2]->isEditable());
    QCOMPARE(QApplication::focusWidget(), w->Text2[0]->editor());
    QVERIFY(w->Text2[12]->isMultiLine() && w->Text2[13]->isMultiLine());
    QVERIFY(!w->Text2[7]->isMultiLine());
    // Every control on view at once on a 1920 x 1080 screen.
    const QSize full = w->openingSize(QSize(1920, 1040));
    QCOMPARE(full.width(), 1585);
    QVERIFY(full.height() > 857 && full.height() < 1000);
    QCOMPARE(w->openingSize(QSize(800, 600)), QSize(784, 560));
    QCOMPARE(w->size(), w->openingSize(QGuiApplication::primaryScreen()->availableSize()));
    // At full size the page of controls needs no scrolling.
    w->resize(full);
    QTRY_VERIFY(w->client->viewport()->rect().contains(w->List2->geometry()));
    QVERIFY(w->client->viewport()->rect().contains(w->Frame2->geometry()));
    QVERIFY(w->client->viewport()->rect().contains(w->MSHFlexGrid1->geometry()));
    // Labels beside their boxes, as buddies, with the index-to-column captions.
    QCOMPARE(w->Label2[17]->text(), QStringLiteral("出生年月"));
    QCOMPARE(w->Label2[17]->buddy(), w->Text2[2]);
    QCOMPARE(w->Label2[5]->text(), QStringLiteral("电话"));
    QCOMPARE(w->Label2[5]->buddy(), w->Text2[5]);
    QCOMPARE(w->Label2[19]->buddy(), w->Combo1[1]);
    QCOMPARE(w->Label4->text(), QStringLiteral("输入数量"));
    QCOMPARE(w->Label4->buddy(), w->Text1);
    QCOMPARE(w->Text1->parentWidget(), w->Frame1);
    QCOMPARE(w->Text2[16]->objectName(), QStringLiteral("Text2(16)"));
    QCOMPARE(w->Combo1[2]->objectName(), QStringLiteral("Combo1(2)"));
}

void TestForm2::menus_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("文件") << "文件"
                          << "文件" << QStringList{"保存", "退出"} << QStringList{"保存", "退出"};
    const QStringList drugs = {"输液",     "抗生素",   "心血管",     "呼吸",     "消化",    "神经",
                               "内分泌",   "解热阵痛", "维生素激素", "外用",     "中成药",  "其他",
                               "收费项目", "用法",     "中药",       "中药方剂", "个人定制"};
    // The search across the categories comes after them, behind a separator.
    QTest::newRow("药物查询") << "药物查询"
                              << "药物查询" << drugs + QStringList{"", "chazhao"}
                              << drugs + QStringList{"", "查找药品…"};
    QTest::newRow("chufang") << "chufang"
                             << "处方" << QStringList{"sccf", "ck", "dayin", "", "chufangjian"}
                             << QStringList{"生成处方", "清空打印库(按2次）", "打印", "", "处方笺…"};
}

void TestForm2::menus()
{
    QFETCH(QString, menu);
    QFETCH(QString, caption);
    QFETCH(QStringList, names);
    QFETCH(QStringList, captions);
    TestDb db;
    addDepartments(db);
    Form2 *w = openForm2();
    auto *m = w->findChild<QMenu *>(menu);
    QVERIFY(m);
    QCOMPARE(m->title(), caption);
    QVERIFY(w->menuBar->actions().contains(m->menuAction()));
    QStringList gotNames, gotCaptions;
    for (QAction *a : m->actions()) {
        gotNames << a->objectName();
        gotCaptions << a->text();
    }
    QCOMPARE(gotNames, names);
    QCOMPARE(gotCaptions, captions);
}

void TestForm2::noDepartment()
{
    TestDb db;
    MsgRecorder rec;
    Form2 *w = openForm2();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("请先设置科室部署！"));
    QCOMPARE(rec.calls[0].flags, int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Form1"));
    QVERIFY(w->isVisible());
    QCOMPARE(w->Text2[6]->text(), QString());
}

void TestForm2::activationEmptiesTypedFieldsButNotPicks()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral("M1"), QStringLiteral("手写"), QStringLiteral("1"));
    w->Combo1[0]->setEditText(QStringLiteral("男"));
    w->Combo1[1]->setCurrentIndex(1);
    w->Text1->setText(QStringLiteral("3盒"));
    w->List1->setCurrentRow(0);
    w->List1_DblClick();
    QCOMPARE(w->Text2[12]->text(), QStringLiteral("手写奥美拉唑肠溶胶囊 20mg"));

    // Over to another window of the application and back.
    QWidget other;
    other.setWindowTitle(QStringLiteral("other"));
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));

    for (int i = 0; i < 17; ++i)
        QCOMPARE(w->Text2[size_t(i)]->text(), i == 6 ? todayText() : QString());
    QCOMPARE(items(w->List2), (QStringList{"奥美拉唑肠溶胶囊 20mg", "3盒"}));
    QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("男"));
    QCOMPARE(w->Combo1[1]->currentIndex(), 0);
    QCOMPARE(w->Text1->text(), QStringLiteral("3盒"));
    QCOMPARE(QApplication::focusWidget(), w->Text2[0]->editor());
}

void TestForm2::modalWindowClosingKeepsFields()
{
    TestDb db;
    addDepartments(db);
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral("M1"));
    // A modal window that the prescribing window opens (a message box, the
    // report preview) is no switch to another window: nothing is set up anew.
    QDialog dialog(w);
    dialog.setModal(true);
    bool dialogActive = false;
    QTimer::singleShot(0, &dialog, [&] {
        dialogActive = QTest::qWaitForWindowActive(&dialog);
        dialog.accept();
    });
    dialog.exec();
    QVERIFY(dialogActive);
    // (Without a window manager nothing hands the focus back by itself.)
    if (QApplication::activeWindow() != w)
        w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QTest::qWait(50);
    QCOMPARE(w->Text2[0]->text(), QStringLiteral("M1"));
    QCOMPARE(w->Text2[6]->text(), QStringLiteral("2024-03-01"));
}

void TestForm2::drugload_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("消化: repeats, empty, null, blanks kept")
        << "消化" << QStringList{"奥美拉唑肠溶胶囊 20mg", "", "", " 多潘立酮片 10mg ", "奥美拉唑肠溶胶囊 20mg", "10"};
    QTest::newRow("呼吸: row order") << "呼吸"
                                     << QStringList{"氨溴索片 30mg", "复方甘草片", "", "氨溴索片 30mg", "", ""};
    QTest::newRow("外用") << "外用" << QStringList{"红霉素软膏", "", "炉甘石洗剂", "", "", ""};
    QTest::newRow("个人定制: only empty lines") << "个人定制" << QStringList{"", "", "", "", "", ""};
}

void TestForm2::drugload()
{
    QFETCH(QString, column);
    QFETCH(QStringList, expected);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    QAction *entry = w->findChild<QAction *>(column);
    QVERIFY(entry);
    QCOMPARE(entry->text(), column);
    entry->trigger();
    QCOMPARE(items(w->List1), expected);
    // Again: the same list, not a doubled one.
    entry->trigger();
    QCOMPARE(items(w->List1), expected);
}

void TestForm2::categoryKeepsPicks()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    w->Text1->setText(QStringLiteral("1"));
    w->List1->setCurrentRow(0);
    w->List1_DblClick();
    w->findChild<QAction *>(QStringLiteral("呼吸"))->trigger();
    QCOMPARE(w->List1->item(1)->text(), QStringLiteral("复方甘草片"));
    QCOMPARE(items(w->List2), (QStringList{"奥美拉唑肠溶胶囊 20mg", "1"}));
    QCOMPARE(w->Text2[12]->text(), QStringLiteral("奥美拉唑肠溶胶囊 20mg"));
    QCOMPARE(w->Text2[13]->text(), QStringLiteral("1"));
    // A pick from the new category goes behind the first one.
    w->Text1->setText(QStringLiteral("2"));
    w->List1->setCurrentRow(1);
    w->List1_DblClick();
    QCOMPARE(w->Text2[12]->text(), QStringLiteral("奥美拉唑肠溶胶囊 20mg复方甘草片"));
    QCOMPARE(w->Text2[13]->text(), QStringLiteral("12"));
}

// Letters typed into the catalogue list narrow it to the entries they match
// by pinyin or characters; the first becomes current, so a pick takes it.
void TestForm2::typeToNarrow_data()
{
    QTest::addColumn<QStringList>("keys");  // typed in turn; "⌫" Backspace, "⎋" Esc, "ime:X" X from an input method
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<int>("current");
    QTest::newRow("initials") << QStringList{"amlz"} << QList<int>{0, 4} << 0;
    QTest::newRow("begun reading") << QStringList{"aomei"} << QList<int>{0, 4} << 0;
    QTest::newRow("after a blank") << QStringList{"dp"} << QList<int>{3} << 3;
    QTest::newRow("digits") << QStringList{"10"} << QList<int>{3, 5} << 3;
    QTest::newRow("characters from an input method") << QStringList{"ime:多潘"} << QList<int>{3} << 3;
    QTest::newRow("nothing matches") << QStringList{"xyz"} << QList<int>{} << -1;
    QTest::newRow("backspace widens") << QStringList{"amlzq", "⌫"} << QList<int>{0, 4} << 0;
    QTest::newRow("esc shows all") << QStringList{"dp", "⎋"} << QList<int>{0, 1, 2, 3, 4, 5} << 3;
}

void TestForm2::typeToNarrow()
{
    QFETCH(QStringList, keys);
    QFETCH(QList<int>, shown);
    QFETCH(int, current);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    w->List1->setFocus();
    for (const QString &k : keys) {
        if (k == QStringLiteral("⌫")) {
            QTest::keyClick(w->List1, Qt::Key_Backspace);
        } else if (k == QStringLiteral("⎋")) {
            QTest::keyClick(w->List1, Qt::Key_Escape);
        } else if (k.startsWith(QStringLiteral("ime:"))) {
            QInputMethodEvent ev;
            ev.setCommitString(k.mid(4));
            QCoreApplication::sendEvent(w->List1, &ev);
        } else {
            QTest::keyClicks(w->List1, k);
        }
    }
    QList<int> visible;
    for (int i = 0; i < w->List1->count(); ++i)
        if (!w->List1->isRowHidden(i))
            visible << i;
    QCOMPARE(visible, shown);
    QCOMPARE(w->List1->currentRow(), current);
    // The window stays open: Esc on a narrowed list only widens it again.
    QVERIFY(w->isVisible());
    if (current >= 0) {
        w->Text1->setText(QStringLiteral("1"));
        w->List1_DblClick();
        QCOMPARE(w->List2->item(0)->text(), w->List1->item(current)->text());
    }
}

// 查找药品 (F3) lists the entries of every category that match what is
// typed, with their category; the one chosen is picked as List1 picks, and
// the window keeps what was typed in it.
void TestForm2::searchPicks_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("found");  // "entry|category|规格", in the order listed
    QTest::addColumn<int>("downs");          // Down presses before Enter
    QTest::addColumn<QString>("picked");     // empty: nothing found, the dialog closed with Esc
    QTest::newRow("initials, first found")
        << "ffgc" << QStringList{"复方甘草片|呼吸|每片含甘草浸膏粉112.5mg"} << 0 << "复方甘草片";
    QTest::newRow("one entry in two rows listed once")
        << "aomei" << QStringList{"奥美拉唑肠溶胶囊 20mg|消化|20mg"} << 0 << "奥美拉唑肠溶胶囊 20mg";
    QTest::newRow("in menu order, Down moves")
        << "pian"
        << QStringList{"氨溴索片 30mg|呼吸|", "复方甘草片|呼吸|每片含甘草浸膏粉112.5mg", " 多潘立酮片 10mg |消化|"} << 2
        << " 多潘立酮片 10mg ";
    QTest::newRow("characters") << "炉甘" << QStringList{"炉甘石洗剂|外用|"} << 0 << "炉甘石洗剂";
    QTest::newRow("nothing found") << "xyzq" << QStringList{} << 0 << "";
}

void TestForm2::searchPicks()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, found);
    QFETCH(int, downs);
    QFETCH(QString, picked);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    w->Text2[0]->setText(QStringLiteral("张三"));
    w->Text1->setText(QStringLiteral("2盒"));
    QStringList listed;
    QTimer::singleShot(0, [&] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(d);
        QCOMPARE(d->windowTitle(), QStringLiteral("查找药品"));
        auto *box = d->findChild<QLineEdit *>(QStringLiteral("typed"));
        auto *table = d->findChild<QTableWidget *>(QStringLiteral("found"));
        // Characters come from an input method, letters from the keys.
        if (typed.front().unicode() < 0x80)
            QTest::keyClicks(box, typed);
        else
            box->insert(typed);
        for (int r = 0; r < table->rowCount(); ++r)
            listed << table->item(r, 0)->text() + QLatin1Char('|') + table->item(r, 1)->text() + QLatin1Char('|')
                          + table->item(r, 2)->text();
        for (int i = 0; i < downs; ++i)
            QTest::keyClick(box, Qt::Key_Down);
        QTest::keyClick(box, picked.isEmpty() ? Qt::Key_Escape : Qt::Key_Return);
        if (d->isVisible())
            d->reject();
    });
    QTest::keyClick(w, Qt::Key_F3);
    QCOMPARE(listed, found);
    const QStringList list2 = picked.isEmpty() ? QStringList{} : QStringList{picked, QStringLiteral("2盒")};
    QCOMPARE(items(w->List2), list2);
    QCOMPARE(w->Text2[12]->text(), picked);
    QCOMPARE(w->Text2[0]->text(), QStringLiteral("张三"));
}

void TestForm2::pick_data()
{
    // picks: "row:quantity" or "row" in order (rows of the 消化 list); typed: text in
    // 药名|药量 before the picks.
    QTest::addColumn<QStringList>("picks");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("list2");
    QTest::addColumn<QString>("names");
    QTest::addColumn<QString>("amounts");
    const QString A = QStringLiteral("奥美拉唑肠溶胶囊 20mg");
    const QString B = QStringLiteral(" 多潘立酮片 10mg ");
    QTest::newRow("A with 1, then B with 2")
        << QStringList{"0:1", "3:2"} << "|" << QStringList{A, "1", B, "2"} << A + B << "12";
    QTest::newRow("typed text stays in front")
        << QStringList{"0:1", "3:2"} << "胃药\n|x" << QStringList{A, "1", B, "2"} << "胃药\n" + A + B << "x12";
    QTest::newRow("same entry twice ignored") << QStringList{"0:1", "0:5"} << "|" << QStringList{A, "1"} << A << "1";
    QTest::newRow("equal entry in another row ignored")
        << QStringList{"0:1", "4:5"} << "|" << QStringList{A, "1"} << A << "1";
    QTest::newRow("entry equal to a quantity ignored")
        << QStringList{"0:10", "5:3"} << "|" << QStringList{A, "10"} << A << "10";
    QTest::newRow("empty quantity") << QStringList{"0:", "3:2"} << "|" << QStringList{A, "", B, "2"} << A + B << "2";
    QTest::newRow("empty entry, then an empty quantity blocks it")
        << QStringList{"1:", "2:7"} << "|" << QStringList{"", ""} << ""
        << "";
    QTest::newRow("quantity kept for the next pick")
        << QStringList{"0:2", "3"} << "|" << QStringList{A, "2", B, "2"} << A + B << "22";
}

void TestForm2::pick()
{
    QFETCH(QStringList, picks);
    QFETCH(QString, typed);
    QFETCH(QStringList, list2);
    QFETCH(QString, names);
    QFETCH(QString, amounts);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    w->Text2[12]->setText(typed.section(QLatin1Char('|'), 0, 0));
    w->Text2[13]->setText(typed.section(QLatin1Char('|'), 1, 1));
    for (const QString &p : picks) {
        // "row:quantity" types the quantity first; "row" leaves the box as it is.
        if (p.contains(QLatin1Char(':')))
            w->Text1->setText(p.section(QLatin1Char(':'), 1));
        w->List1->setCurrentRow(p.section(QLatin1Char(':'), 0, 0).toInt());
        w->List1_DblClick();
    }
    QCOMPARE(items(w->List2), list2);
    QCOMPARE(w->Text2[12]->text(), names);
    QCOMPARE(w->Text2[13]->text(), amounts);
}

void TestForm2::pickByMouse()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    Form2 *w = openForm2();
    w->Text1->setText(QStringLiteral("2盒"));
    const QRect r = w->List1->visualItemRect(w->List1->item(3));
    QTest::mouseClick(w->List1->viewport(), Qt::LeftButton, {}, r.center());
    QTest::mouseDClick(w->List1->viewport(), Qt::LeftButton, {}, r.center());
    QCOMPARE(items(w->List2), (QStringList{" 多潘立酮片 10mg ", "2盒"}));
    QCOMPARE(w->Text2[12]->text(), QStringLiteral(" 多潘立酮片 10mg "));
    // Nothing chosen in the list: a double-click picks nothing.
    w->List1->setCurrentItem(nullptr);
    w->List1_DblClick();
    QCOMPARE(w->List2->count(), 2);
}

void TestForm2::enterWalksTabOrder()
{
    TestDb db;
    addDepartments(db);
    Form2 *w = openForm2();
    auto box = [w](int i) { return w->Text2[size_t(i)]->editor(); };
    // From 门诊号 to the archive grid, Enter moves on through every box.
    const QList<QWidget *> walk = {box(0), box(1), box(2),  box(3),       box(4),       box(5), box(6),
                                   box(7), box(8), box(14), w->Combo1[0], w->Combo1[1], w->MSF1};
    box(0)->setFocus();
    for (int k = 0; k + 1 < walk.size(); ++k) {
        QCOMPARE(QApplication::focusWidget(), walk[k]);
        QTest::keyClick(walk[k], Qt::Key_Return);
    }
    QCOMPARE(QApplication::focusWidget(), w->MSF1);
    const QList<QWidget *> rest = {box(15), box(16), w->Combo1[2], w->MSHFlexGrid1};
    box(15)->setFocus();
    for (int k = 0; k + 1 < rest.size(); ++k) {
        QCOMPARE(QApplication::focusWidget(), rest[k]);
        QTest::keyClick(rest[k], Qt::Key_Enter);
    }
    QCOMPARE(QApplication::focusWidget(), w->MSHFlexGrid1);
    // Single-line boxes take no line break; 药量 and 药名 take it and move on.
    QCOMPARE(w->Text2[3]->text(), QString());
    box(13)->setFocus();
    QTest::keyClicks(box(13), QStringLiteral("1"));
    QTest::keyClick(box(13), Qt::Key_Return);
    QCOMPARE(w->Text2[13]->text(), QStringLiteral("1\n"));
    QCOMPARE(QApplication::focusWidget(), box(12));
    // The whole tab order, back to the quantity box.
    QCOMPARE(tabOrder(w->Text1),
             (QList<QWidget *>{w->Text1, w->List1, w->List2,     box(13),        box(12),      box(11),      box(10),
                               box(9),   box(0),   box(1),       box(2),         box(3),       box(4),       box(5),
                               box(6),   box(7),   box(8),       box(14),        w->Combo1[0], w->Combo1[1], w->MSF1,
                               box(15),  box(16),  w->Combo1[2], w->MSHFlexGrid1}));
}

void TestForm2::dateBoxSelectsOnFocus()
{
    TestDb db;
    addDepartments(db);
    Form2 *w = openForm2();
    w->Text2[2]->setText(QStringLiteral("1980-01-01"));
    w->Text2[2]->editor()->setFocus(Qt::OtherFocusReason);
    QCOMPARE(w->Text2[2]->selectedText(), QString());
    w->Text2[6]->editor()->setFocus(Qt::OtherFocusReason);
    QCOMPARE(w->Text2[6]->selectedText(), todayText());
    QTest::keyClicks(w->Text2[6]->editor(), QStringLiteral("2024-1-2"));
    QCOMPARE(w->Text2[6]->text(), QStringLiteral("2024-1-2"));
}

void TestForm2::generateChecks_data()
{
    // changes: "i=text" for text boxes applied to a complete patient; "" empties.
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("archived");  // 门诊号 already in xj ("" none)
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("focus");
    const int ex = vbExclamation, info = vbInformation;
    QStringList allEmpty;
    for (int i = 0; i < 17; ++i)
        allEmpty << QStringLiteral("%1=").arg(i);
    QTest::newRow("all empty") << allEmpty << ""
                               << "门诊号不能为空！" << ex << 0;
    QTest::newRow("出生年月 before 身份证") << QStringList{"16=", "2="} << ""
                                            << "出生年月不能为空！" << ex << 2;
    QTest::newRow("nothing picked") << QStringList{"12=", "13="} << ""
                                    << "药名不能为空！" << ex << 12;
    QTest::newRow("药量 alone") << QStringList{"13="} << ""
                                << "药量不能为空！" << ex << 13;
    QTest::newRow("电话") << QStringList{"5="} << ""
                          << "电话不能为空！" << ex << 5;
    QTest::newRow("身份证") << QStringList{"16="} << ""
                            << "身份证不能为空！" << ex << 16;
    QTest::newRow("archived number") << QStringList{} << "M1"
                                     << "已经存在该门诊号的记录,门诊号不能重复！" << ex << 0;
    QTest::newRow("archived, other case and blanks") << QStringList{"0= m1 "} << "M1"
                                                     << "已经存在该门诊号的记录,门诊号不能重复！" << ex << 0;
    QTest::newRow("empty field before duplicate") << QStringList{"1="} << "M1"
                                                  << "姓名不能为空！" << ex << 1;
    QTest::newRow("bad birth date") << QStringList{"2=1980-02-30"} << ""
                                    << "应输入日期 mm-dd-yy" << info << 2;
    QTest::newRow("both dates bad") << QStringList{"2=abc", "6=xyz"} << ""
                                    << "应输入日期 mm-dd-yy" << info << 2;
    QTest::newRow("bad visit date") << QStringList{"6=2024-13-01"} << ""
                                    << "应输入日期 mm-dd-yy" << info << 6;
}

void TestForm2::generateChecks()
{
    QFETCH(QStringList, changes);
    QFETCH(QString, archived);
    QFETCH(QString, message);
    QFETCH(int, icon);
    QFETCH(int, focus);
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    if (!archived.isEmpty())
        db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('%1','李四')").arg(archived));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral("M1"));
    w->Text1->setText(QStringLiteral("1"));
    w->List1->setCurrentRow(5);
    w->List1_DblClick();
    for (const QString &c : changes)
        w->Text2[size_t(c.section(QLatin1Char('='), 0, 0).toInt())]->setText(c.section(QLatin1Char('='), 1));
    QStringList before;
    for (TextBox *t : w->Text2)
        before << t->text();

    MsgRecorder rec;
    QPointer<Form2> guard(w);
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, message);
    QCOMPARE(rec.calls[0].icon(), icon);
    QCOMPARE(rec.calls[0].buttons(), int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCOMPARE(db.count(QStringLiteral("yc")), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard && guard->isVisible());
    QCOMPARE(QApplication::focusWidget(), w->Text2[size_t(focus)]->editor());
    QCOMPARE(w->Text2[size_t(focus)]->selectedText(), w->Text2[size_t(focus)]->text());
    QStringList after;
    for (TextBox *t : w->Text2)
        after << t->text();
    QCOMPARE(after, before);
    QCOMPARE(w->List2->count(), 2);
}

void TestForm2::generateStoresAndReopens()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    // A number in the work table but not in the archive passes.
    db.exec(QStringLiteral("insert into yc(门诊号,姓名) values('M9','旧')"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral(" M9 "), QString(), QString());
    w->Text2[1]->setText(QStringLiteral(" O'Brien "));
    w->Text2[7]->setText(QStringLiteral("   "));
    w->Text2[2]->setText(QStringLiteral("5/6/80"));
    w->Combo1[1]->setCurrentIndex(1);
    w->Text1->setText(QStringLiteral("1盒"));
    w->List1->setCurrentRow(0);
    w->List1_DblClick();
    w->Text1->setText(QStringLiteral("2片"));
    w->List1->setCurrentRow(3);
    w->List1_DblClick();

    MsgRecorder rec;
    QPointer<Form2> old(w);
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 0);
    QCOMPARE(db.count(QStringLiteral("yc where 门诊号='M9'")), 2);
    QCOMPARE(
        db.rows(QStringLiteral("select * from yc where 姓名<>'旧'")),
        QStringList{QStringLiteral("M9|O'Brien|Combo1|内科|1980-05-06|北京路1号|100000|13800000000|2024-03-01||Combo1|"
                                   "正常|无|腹痛|胃炎|奥美拉唑肠溶胶囊 20mg 多潘立酮片 10mg|1盒2片|王医生|45|"
                                   "110101198005060011")});
    // Reopened: a fresh window, fields set up anew, the work grid shows the row.
    Form2 *n = reopened(old);
    QVERIFY(n);
    QCOMPARE(n->windowTitle(), QStringLiteral("登记"));
    QCOMPARE(n->Text2[0]->text(), QString());
    QCOMPARE(n->Text2[12]->text(), QString());
    QCOMPARE(n->Text2[6]->text(), todayText());
    QCOMPARE(n->List2->count(), 0);
    QCOMPARE(n->List1->item(0)->text(), QStringLiteral("奥美拉唑肠溶胶囊 20mg"));
    QCOMPARE(n->MSHFlexGrid1->Rows(), 3);
    QCOMPARE(n->MSHFlexGrid1->TextMatrix(0, 1), QStringLiteral("门诊号"));
    QCOMPARE(n->MSHFlexGrid1->TextMatrix(2, 2), QStringLiteral("O'Brien"));
    QCOMPARE(n->MSHFlexGrid1->TextMatrix(2, 5), QStringLiteral("1980-05-06"));
    // 生成处方 at once: the empty 门诊号 is reported.
    n->sccf->trigger();
    QCOMPARE(rec.lastText(), QStringLiteral("门诊号不能为空！"));
}

void TestForm2::sameNumberTwiceInWorkTable()
{
    TestDb db;
    addDepartments(db);
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    for (int k = 0; k < 2; ++k) {
        typePatient(w, QStringLiteral("M5"));
        QPointer<Form2> old(w);
        w->sccf->trigger();
        w = reopened(old);
        QVERIFY(w);
    }
    QCOMPARE(db.count(QStringLiteral("yc where 门诊号='M5'")), 2);
    QCOMPARE(w->MSHFlexGrid1->Rows(), 3);
    QCOMPARE(w->MSF1->Rows(), 1);
}

void TestForm2::failedStoreKeepsEverything()
{
    TestDb db;
    addDepartments(db);
    addCatalogue(db);
    db.exec(QStringLiteral("create trigger refuse before insert on yc begin select raise(abort,'磁盘已满'); end"));
    signInAs(QStringLiteral("admin"));
    Form2 *w = openForm2();
    typePatient(w, QStringLiteral("M1"));
    w->Text1->setText(QStringLiteral("1"));
    w->List1->setCurrentRow(0);
    w->List1_DblClick();
    MsgRecorder rec;
    QPointer<Form2> guard(w);
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY(rec.calls[0].text.contains(QStringLiteral("处方没有保存")));
    QVERIFY(rec.calls[0].text.contains(QStringLiteral("磁盘已满")));
    QCOMPARE(rec.calls[0].flags, int(vbExclamation | vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard);
    QCOMPARE(w->Text2[0]->text(), QStringLiteral("M1"));
    QCOMPARE(w->Text2[12]->text(), QStringLiteral("奥美拉唑奥美拉唑肠溶胶囊 20mg"));
    QCOMPARE(w->List2->count(), 2);
    QCOMPARE(db.count(QStringLiteral("yc")), 0);
}

namespace {
const QString kK1 =
    QStringLiteral("'K1','赵六','女','内科','1970-01-02','地址','200000','123','2024-02-03','备注','已婚',"
                   "'查体','病史','症状','诊断','药','量','医生','54','身份证'");
const QString kK0 =
    QStringLiteral("'K0','钱七','男','内科','1960-01-02','地址','200000','123','2024-02-03','备注','已婚',"
                   "'查体','病史','症状','诊断','药','量','医生','64','身份证'");
}  // namespace

void TestForm2::modifyMode()
{
    TestDb db;
    addDepartments(db);
    // The archive grid's first row names the work row to load.
    db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('K1','档案')"));
    db.exec(QStringLiteral("insert into yc values(%1)").arg(kK1));
    signInAs(QStringLiteral("admin"));
    CaseEditMode = true;
    Form2 *w = openForm2();
    QCOMPARE(w->windowTitle(), QStringLiteral("修改"));
    QCOMPARE(w->Text2[1]->text(), QStringLiteral("赵六"));
    QCOMPARE(w->Combo1[0]->currentText(), QStringLiteral("女"));
    QCOMPARE(w->Combo1[1]->currentText(), QStringLiteral("内科"));
    QCOMPARE(w->Combo1[2]->currentText(), QStringLiteral("已婚"));
    QCOMPARE(w->Text2[2]->text(), QStringLiteral("1970-01-02"));
    QCOMPARE(w->Text2[16]->text(), QStringLiteral("身份证"));
    // No case browser is needed: the loaded row is stored, the window closes.
    w->Text2[1]->setText(QStringLiteral("改名"));
    QPointer<Form2> guard(w);
    MsgRecorder rec;
    w->sccf->trigger();
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QCOMPARE(db.rows(QStringLiteral("select 门诊号,姓名 from yc")), QStringList{"K1|改名"});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!guard);
}

void TestForm2::modifyRefusedWithoutLoadedRow_data()
{
    QTest::addColumn<bool>("loaded");  // the work row was there at set-up
    QTest::addColumn<QString>("message");
    QTest::newRow("removed after set-up")
        << true << "处方没有修改：打印库中已经没有门诊号为 K1 的处方。\n请关闭本窗口，重新选择要修改的病例。";
    QTest::newRow("none at set-up")
        << false << "处方没有修改：打开窗口时没有找到要修改的处方。\n请关闭本窗口，重新选择要修改的病例。";
}

// The row to modify is gone: nothing else is written in its place, the user
// is told and the window keeps what was typed.
void TestForm2::modifyRefusedWithoutLoadedRow()
{
    QFETCH(bool, loaded);
    QFETCH(QString, message);
    TestDb db;
    addDepartments(db);
    db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('K1','档案')"));
    db.exec(QStringLiteral("insert into yc values(%1)").arg(loaded ? kK1 : kK0));
    signInAs(QStringLiteral("admin"));
    CaseEditMode = true;
    Form2 *w = openForm2();
    if (loaded)
        db.exec(QStringLiteral("delete from yc where 门诊号='K1'"));
    typePatient(w, QStringLiteral("K0"));
    QPointer<Form2> guard(w);
    MsgRecorder rec;
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 1);
    XS_COMPARE_MSG(rec.calls[0], message, vbExclamation | vbOKOnly, QStringLiteral("警告"));
    QCOMPARE(db.rows(QStringLiteral("select 门诊号,姓名 from yc")), loaded ? QStringList() : QStringList{"K0|钱七"});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(guard && guard->isVisible());
    QCOMPARE(w->Text2[0]->text(), QStringLiteral("K0"));
    QCOMPARE(w->Text2[1]->text(), QStringLiteral("张三"));
}

void TestForm2::modifyWritesLoadedRow()
{
    TestDb db;
    addDepartments(db);
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values('K0','甲','内科'),('K1','乙','内科')"));
    db.exec(QStringLiteral("insert into yc values(%1),(%2)").arg(kK1, kK0));
    // The case browser lists the archive; its second row (K1) is chosen.
    Form3 *browser = WindowRegistry::show<Form3>();
    QVERIFY(QTest::qWaitForWindowActive(browser));
    SqlText = QStringLiteral("select xj.门诊号,xj.姓名 from xj order by xj.门诊号");
    browser->showdata();
    browser->MSF1->setRow(2);
    QCOMPARE(browser->MSF1->TextMatrix(2, 1), QStringLiteral("K1"));
    signInAs(QStringLiteral("admin"));
    CaseEditMode = true;
    Form2 *w = openForm2();
    // The fields come from the work row of the prescribing window's own
    // archive grid (its first row, K0).
    QCOMPARE(w->Text2[1]->text(), QStringLiteral("钱七"));
    w->Text2[0]->setText(QStringLiteral(" K9 "));
    w->Text2[1]->setText(QStringLiteral("O'Hara"));
    w->Text2[2]->setText(QStringLiteral("3/4/1961"));
    w->Combo1[1]->setCurrentIndex(0);
    QPointer<Form2> guard(w);
    MsgRecorder rec;
    w->sccf->trigger();
    QCOMPARE(rec.calls.size(), 0);
    // The row written is the one loaded; the browser's K1 keeps its values.
    QCOMPARE(db.rows(QStringLiteral("select 门诊号,姓名,性别,科室,出生年月,年龄 from yc order by 门诊号")),
             (QStringList{"K1|赵六|女|内科|1970-01-02|54", "K9|O'Hara|男|儿科|1961-03-04|64"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!guard);
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
