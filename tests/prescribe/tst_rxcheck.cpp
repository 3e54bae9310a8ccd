// The checks before a 处方笺 prints and the dialog in which the doctor
// completes the lines: what stops the sheet, what is asked about, where the
// focus goes, and that what was typed comes back.
#include "prescribe/rxcheck.h"
#include "prescribe/rxdialog.h"
#include "testenv.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using namespace xs;
using namespace xs::test;

namespace {

// A line that passes every check, changed by "key=value" pairs joined by ';'.
RxLine line(const QString &changes = {})
{
    RxLine l;
    l.code = QStringLiteral("A1");
    l.generic = QStringLiteral("阿莫西林胶囊");
    l.spec = QStringLiteral("0.25g");
    l.quantity = QStringLiteral("2");
    l.unit = QStringLiteral("盒");
    l.dose = QStringLiteral("0.5");
    l.doseUnit = QStringLiteral("g");
    l.route = QStringLiteral("口服");
    l.frequency = QStringLiteral("tid");
    l.days = QStringLiteral("3");
    l.control = kControlOrdinary;
    for (const QString &change : changes.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString key = change.section(QLatin1Char('='), 0, 0), value = change.section(QLatin1Char('='), 1);
        QString *field = key == QLatin1String("code")      ? &l.code
                         : key == QLatin1String("generic") ? &l.generic
                         : key == QLatin1String("spec")    ? &l.spec
                         : key == QLatin1String("route")   ? &l.route
                         : key == QLatin1String("days")    ? &l.days
                         : key == QLatin1String("reason")  ? &l.reason
                         : key == QLatin1String("control") ? &l.control
                         : key == QLatin1String("allergy") ? &l.allergy
                                                           : nullptr;
        if (field)
            *field = value;
        else if (key == QLatin1String("skin"))
            l.skinTest = true;
        else if (key == QLatin1String("withdrawn"))
            l.withdrawn = true;
        else
            qFatal("unknown line change %s", qPrintable(key));
    }
    return l;
}

std::vector<RxLine> linesOf(const QStringList &changes)
{
    std::vector<RxLine> out;
    for (const QString &c : changes)
        out.push_back(line(c));
    return out;
}

RxHeader header(bool emergency = false, const QString &idNumber = {}, const QString &history = {})
{
    RxHeader h;
    h.name = QStringLiteral("张三");
    h.diagnosis = QStringLiteral("急性支气管炎");
    h.emergency = emergency;
    h.idNumber = idNumber;
    h.history = history;
    return h;
}

const char *const kFields[] = {"Usage", "Days", "Reason", "IdNumber", "Drug"};

// "line|field|B or W|text"
QStringList described(const std::vector<RxProblem> &problems)
{
    QStringList out;
    for (const RxProblem &p : problems)
        out << QStringLiteral("%1|%2|%3|%4")
                   .arg(p.line)
                   .arg(QLatin1String(kFields[p.field]), p.blocking ? QStringLiteral("B") : QStringLiteral("W"),
                        p.text);
    return out;
}

// Types into whatever has the focus, key by key (an editor opens on the first).
void type(const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

QTableWidget *table(RxDialog &d) { return d.findChild<QTableWidget *>(QStringLiteral("lines")); }

}  // namespace

class TestRxCheck : public QObject {
    Q_OBJECT
private slots:
    void checks_data();
    void checks();
    void blockingFocusesTheCell_data();
    void blockingFocusesTheCell();
    void warningsAsked_data();
    void warningsAsked();
    void editsComeBack();
    void keyboard();
};

void TestRxCheck::checks_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("emergency");
    QTest::addColumn<QString>("idNumber");
    QTest::addColumn<QString>("history");
    QTest::addColumn<QStringList>("problems");
    const QString a = QStringLiteral("第 1 行（阿莫西林胶囊）");
    const QString noRoute =
        QStringLiteral("0|Usage|B|") + a + QStringLiteral("没有写用法：请写明用法（如口服、外用）。");
    const QString vague = QStringLiteral("0|Usage|B|") + a
                          + QStringLiteral("的用法不能只写“遵医嘱”或“自用”：请写明用法（如口服、外用）。");
    const auto badDays = [&](const QString &d) {
        return QStringLiteral("0|Days|B|") + a + QStringLiteral("的天数“%1”不对：请填写 1 至 365 的整数。").arg(d);
    };
    const QString over8 = QStringLiteral("0|Reason|B|") + a + QStringLiteral("开了 8 天，超过 7 天：请填写超量理由。");
    const QString skin = QStringLiteral("0|Drug|W|") + a + QStringLiteral("需要皮试：请确认皮试结果为阴性。");
    const auto allergic = [&](const QString &clause) {
        return QStringLiteral("0|Drug|W|") + a
               + QStringLiteral("属青霉素类，病史记有“%1”：请确认患者不过敏。").arg(clause);
    };
    const QString twice = QStringLiteral("1|Drug|W|第 2 行（阿莫西林胶囊）与第 1 行是同一药品：请确认不是重复开具。");
    const QString none;
    const QString id = QStringLiteral("110101198005060011");
    const auto row = [](const char *name, const QStringList &lines, bool emergency, const QString &idNumber,
                        const QString &history, const QStringList &problems) {
        QTest::newRow(name) << lines << emergency << idNumber << history << problems;
    };

    row("complete line", {""}, false, none, none, {});
    row("no route", {"route="}, false, none, none, {noRoute});
    row("blank route", {"route=  "}, false, none, none, {noRoute});
    row("遵医嘱", {"route=遵医嘱"}, false, none, none, {vague});
    row("自用 with punctuation", {"route= 自用。"}, false, none, none, {vague});
    row("both and nothing else", {"route=遵医嘱、自用"}, false, none, none, {vague});
    row("a route besides 遵医嘱", {"route=口服（遵医嘱）"}, false, none, none, {});
    row("no days", {"days="}, false, none, none,
        {QStringLiteral("0|Days|B|") + a + QStringLiteral("没有写天数：请填写 1 至 365 的整数。")});
    row("zero days", {"days=0"}, false, none, none, {badDays("0")});
    row("366 days", {"days=366;reason=长期"}, false, none, none, {badDays("366")});
    row("half a day", {"days=3.5"}, false, none, none, {badDays("3.5")});
    row("negative", {"days=-2"}, false, none, none, {badDays("-2")});
    row("words", {"days= 三天 "}, false, none, none, {badDays("三天")});
    row("365 with a reason", {"days=365;reason=慢性病长期用药"}, false, none, none, {});
    row("7 days", {"days=7"}, false, none, none, {});
    row("8 days", {"days=8"}, false, none, none, {over8});
    row("8 full-width days", {"days=８"}, false, none, none, {over8});
    row("8 days, blank reason", {"days=8;reason=  "}, false, none, none, {over8});
    row("8 days with a reason", {"days=8;reason=慢性病"}, false, none, none, {});
    row("emergency, 3 days", {""}, true, none, none, {});
    row("emergency, 4 days", {"days=4"}, true, none, none,
        {QStringLiteral("0|Reason|B|") + a + QStringLiteral("开了 4 天，急诊处方一般不超过 3 天：请填写超量理由。")});
    row("emergency, 4 days with a reason", {"days=4;reason=路远"}, true, none, none, {});
    for (const QString &control : {kControlNarcotic, kControlPsychotropic1}) {
        const QString text =
            QStringLiteral("0|IdNumber|B|") + a
            + QStringLiteral("是%1，须登记患者身份证号码：请在处方窗口填写身份证后再打印。").arg(control);
        QTest::addRow("%s, no 身份证", qPrintable(control))
            << QStringList{"control=" + control} << false << none << none << QStringList{text};
        QTest::addRow("%s, blank 身份证", qPrintable(control))
            << QStringList{"control=" + control} << false << QStringLiteral("  ") << none << QStringList{text};
        QTest::addRow("%s with 身份证", qPrintable(control))
            << QStringList{"control=" + control} << false << id << none << QStringList{};
    }
    for (const QString &control : {kControlPsychotropic2, kControlToxic})
        QTest::addRow("%s needs no 身份证", qPrintable(control))
            << QStringList{"control=" + control} << false << none << none << QStringList{};
    row("withdrawn", {"withdrawn"}, false, none, none,
        {QStringLiteral("0|Drug|B|") + a + QStringLiteral("已停用，不能开具：请在处方窗口删去或换用其他药品。")});
    row("everything wrong on one line, in column order", {"withdrawn;control=麻醉药品;route=;days=", "skin"}, false,
        none, none,
        {QStringLiteral("0|Drug|B|") + a + QStringLiteral("已停用，不能开具：请在处方窗口删去或换用其他药品。"),
         QStringLiteral("0|IdNumber|B|") + a
             + QStringLiteral("是麻醉药品，须登记患者身份证号码：请在处方窗口填写身份证后再打印。"),
         noRoute, QStringLiteral("0|Days|B|") + a + QStringLiteral("没有写天数：请填写 1 至 365 的整数。"),
         QStringLiteral("1|Drug|W|第 2 行（阿莫西林胶囊）需要皮试：请确认皮试结果为阴性。"), twice});
    row("warnings and blocking in line order", {"skin;code=A2", "route=自用"}, false, none, none,
        {skin, QStringLiteral(
                   "1|Usage|B|第 2 行（阿莫西林胶囊）的用法不能只写“遵医嘱”或“自用”：请写明用法（如口服、外用）。")});
    row("skin test", {"skin"}, false, none, none, {skin});
    for (const char *history : {"青霉素过敏", "对青霉素过敏", "青霉素类过敏"})
        QTest::addRow("allergy: %s", history) << QStringList{"allergy=青霉素类"} << false << none
                                              << QString::fromUtf8(history) << QStringList{allergic(history)};
    row("allergy in its own clause", {"allergy=青霉素类"}, false, none,
        QStringLiteral("高血压病史十年。 对青霉素、磺胺过敏；"), {allergic(QStringLiteral("对青霉素、磺胺过敏"))});
    row("allergy on its own line", {"allergy=青霉素类"}, false, none, QStringLiteral("胃炎\n青霉素过敏史"),
        {allergic(QStringLiteral("青霉素过敏史"))});
    row("过敏 before the class", {"allergy=青霉素类"}, false, none, QStringLiteral("过敏体质，青霉素皮试阴性"), {});
    row("过敏 in another clause", {"allergy=青霉素类"}, false, none, QStringLiteral("青霉素皮试阴性，对磺胺过敏"), {});
    row("another class", {"allergy=头孢菌素类"}, false, none, QStringLiteral("青霉素过敏"), {});
    row("no class", {""}, false, none, QStringLiteral("青霉素过敏"), {});
    row("same code", {"", "generic=阿莫西林胶囊;spec=0.5g"}, false, none, none, {twice});
    row("other codes, same name and spec", {"", "code=A2"}, false, none, none, {});
    row("no code, same name and spec", {"code=", "code=B7"}, false, none, none, {twice});
    row("no code, other spec", {"code=", "code=;spec=0.5g"}, false, none, none, {});
    row("a third time: the first line named", {"", "code=A2", ""}, false, none, none,
        {QStringLiteral("2|Drug|W|第 3 行（阿莫西林胶囊）与第 1 行是同一药品：请确认不是重复开具。")});
}

void TestRxCheck::checks()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, emergency);
    QFETCH(QString, idNumber);
    QFETCH(QString, history);
    QFETCH(QStringList, problems);
    QCOMPARE(described(checkPrescription(header(emergency, idNumber, history), linesOf(lines))), problems);
}

void TestRxCheck::blockingFocusesTheCell_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("column");
    const QString b = QStringLiteral("第 2 行（布洛芬片）");
    QTest::newRow("route") << QStringList{"skin", "generic=布洛芬片;code=B1;route=遵医嘱;days=9"}
                           << b + QStringLiteral("的用法不能只写“遵医嘱”或“自用”：请写明用法（如口服、外用）。")
                           << int(RxDialog::Route);
    QTest::newRow("days") << QStringList{"", "generic=布洛芬片;code=B1;days=0"}
                          << b + QStringLiteral("的天数“0”不对：请填写 1 至 365 的整数。") << int(RxDialog::Days);
    QTest::newRow("reason") << QStringList{"", "generic=布洛芬片;code=B1;days=14"}
                            << b + QStringLiteral("开了 14 天，超过 7 天：请填写超量理由。") << int(RxDialog::Reason);
    QTest::newRow("身份证: the drug's cell")
        << QStringList{"", "generic=布洛芬片;code=B1;control=第一类精神药品"}
        << b + QStringLiteral("是第一类精神药品，须登记患者身份证号码：请在处方窗口填写身份证后再打印。")
        << int(RxDialog::Drug);
    QTest::newRow("withdrawn") << QStringList{"", "generic=布洛芬片;code=B1;withdrawn"}
                               << b + QStringLiteral("已停用，不能开具：请在处方窗口删去或换用其他药品。")
                               << int(RxDialog::Drug);
}

// The first blocking problem is shown, nothing prints, and its cell has the focus.
void TestRxCheck::blockingFocusesTheCell()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, text);
    QFETCH(int, column);
    MsgRecorder msgs;
    RxDialog d(header(), linesOf(lines), nullptr);
    int printed = 0;
    d.setPreview([&](const RxHeader &, const std::vector<RxLine> &) { ++printed; });
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    d.findChild<QPushButton *>(QStringLiteral("preview"))->click();
    QCOMPARE(msgs.calls.size(), 1);
    QCOMPARE(msgs.calls[0].text, text);
    QCOMPARE(msgs.calls[0].flags, int(vbExclamation));
    QCOMPARE(msgs.calls[0].title, QStringLiteral("处方笺"));
    QCOMPARE(printed, 0);
    QCOMPARE(QApplication::focusWidget(), table(d));
    QCOMPARE(table(d)->currentRow(), 1);
    QCOMPARE(table(d)->currentColumn(), column);
}

void TestRxCheck::warningsAsked_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("printed");
    QTest::newRow("否") << int(vbNo) << 0;
    QTest::newRow("是") << int(vbYes) << 1;
}

// Every warning in one question; 否 prints nothing and goes to the first warned line.
void TestRxCheck::warningsAsked()
{
    QFETCH(int, answer);
    QFETCH(int, printed);
    MsgRecorder msgs;
    msgs.answers = {answer};
    RxDialog d(header(false, {}, QStringLiteral("青霉素过敏")),
               linesOf({"generic=布洛芬片;code=B1", "allergy=青霉素类;skin", "generic=布洛芬片;code=B1"}), nullptr);
    std::vector<RxLine> got;
    int calls = 0;
    d.setPreview([&](const RxHeader &h, const std::vector<RxLine> &ls) {
        ++calls;
        QCOMPARE(h.name, QStringLiteral("张三"));
        got = ls;
    });
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    table(d)->setCurrentCell(2, RxDialog::Reason);
    d.findChild<QPushButton *>(QStringLiteral("preview"))->click();
    QCOMPARE(msgs.calls.size(), 1);
    QCOMPARE(msgs.calls[0].text,
             QStringLiteral("第 2 行（阿莫西林胶囊）需要皮试：请确认皮试结果为阴性。\n"
                            "第 2 行（阿莫西林胶囊）属青霉素类，病史记有“青霉素过敏”：请确认患者不过敏。\n"
                            "第 3 行（布洛芬片）与第 1 行是同一药品：请确认不是重复开具。\n"
                            "仍要打印吗？"));
    QCOMPARE(msgs.calls[0].flags, int(vbQuestion | vbYesNo));
    QCOMPARE(msgs.calls[0].title, QStringLiteral("处方笺"));
    QCOMPARE(calls, printed);
    if (printed) {
        QCOMPARE(got.size(), size_t(3));
        QCOMPARE(got[1].generic, QStringLiteral("阿莫西林胶囊"));
    } else {
        QCOMPARE(QApplication::focusWidget(), table(d));
        QCOMPARE(table(d)->currentRow(), 1);
        QCOMPARE(table(d)->currentColumn(), int(RxDialog::Drug));
    }
}

// What is typed stays through a refused preview (the editor still open when
// Alt+P is pressed), prints once the problem is put right, and comes back
// through header() and lines() after 确定.
void TestRxCheck::editsComeBack()
{
    MsgRecorder msgs;
    RxDialog d(header(), linesOf({"route=;days=;generic=布洛芬片;code=B1;spec=0.2g", ""}), nullptr);
    std::vector<RxLine> printed;
    d.setPreview([&](const RxHeader &, const std::vector<RxLine> &ls) { printed = ls; });
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QTableWidget *t = table(d);
    QCOMPARE(t->item(0, RxDialog::Drug)->text(), QStringLiteral("布洛芬片 0.2g"));
    QCOMPARE(t->item(0, RxDialog::Quantity)->text(), QStringLiteral("2盒"));
    QVERIFY(!(t->item(0, RxDialog::Drug)->flags() & Qt::ItemIsEditable));
    QVERIFY(!(t->item(0, RxDialog::Quantity)->flags() & Qt::ItemIsEditable));
    t->setFocus();
    t->setCurrentCell(0, RxDialog::Dose);
    type(QStringLiteral("0.3"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    type(QStringLiteral("g"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    type(QStringLiteral("po"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    type(QStringLiteral("bid"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    type(QStringLiteral("10"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);  // the button clicks a moment later
    QTRY_COMPARE(msgs.lastText(), QStringLiteral("第 1 行（布洛芬片）开了 10 天，超过 7 天：请填写超量理由。"));
    QVERIFY(printed.empty());
    QCOMPARE(t->currentColumn(), int(RxDialog::Reason));
    std::vector<RxLine> ls = d.lines();
    QCOMPARE(QStringList({ls[0].dose, ls[0].doseUnit, ls[0].route, ls[0].frequency, ls[0].days, ls[0].reason}),
             QStringList({"0.3", "g", "po", "bid", "10", ""}));

    type(QStringLiteral("lc"));
    d.findChild<QComboBox *>(QStringLiteral("fee"))->setCurrentText(QStringLiteral("医保"));
    d.findChild<QCheckBox *>(QStringLiteral("paediatric"))->setChecked(true);
    d.findChild<QLineEdit *>(QStringLiteral("diagnosis"))->setText(QStringLiteral("上呼吸道感染"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
    QTRY_COMPARE(printed.size(), size_t(2));
    QCOMPARE(msgs.calls.size(), 1);
    QCOMPARE(printed[0].reason, QStringLiteral("lc"));

    d.findChild<QCheckBox *>(QStringLiteral("emergency"))->setChecked(true);
    t->setFocus();
    t->setCurrentCell(1, RxDialog::Frequency);
    type(QStringLiteral("qd"));
    d.findChild<QPushButton *>(QStringLiteral("ok"))->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    const RxHeader h = d.header();
    QCOMPARE(QStringList({h.fee, h.diagnosis, h.name}), QStringList({"医保", "上呼吸道感染", "张三"}));
    QVERIFY(h.emergency && h.paediatric);
    ls = d.lines();
    QCOMPARE(ls[0].reason, QStringLiteral("lc"));
    QCOMPARE(ls[1].frequency, QStringLiteral("qd"));
    QCOMPARE(ls[1].route, QStringLiteral("口服"));
    QCOMPARE(ls[1].code, QStringLiteral("A1"));
}

// The dialog opens in the table; Tab goes from the header through the cells
// to be filled and on to the buttons; Enter moves on in the table and past
// its last cell; Esc cancels.
void TestRxCheck::keyboard()
{
    MsgRecorder msgs;
    RxDialog d(header(), linesOf({"", "code=A2"}), nullptr);
    int printed = 0;
    d.setPreview([&](const RxHeader &, const std::vector<RxLine> &) { ++printed; });
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QTableWidget *t = table(d);
    const auto focused = [] { return QApplication::focusWidget()->objectName(); };
    QCOMPARE(focused(), QStringLiteral("lines"));  // it opens on the first cell to fill
    QCOMPARE(t->currentColumn(), int(RxDialog::Dose));
    d.findChild<QComboBox *>(QStringLiteral("fee"))->setFocus();
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        order << focused();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(order, QStringList({"fee", "emergency", "paediatric", "diagnosis"}));
    QCOMPARE(QApplication::focusWidget(), t);
    QCOMPARE(t->currentRow(), 0);
    QCOMPARE(t->currentColumn(), int(RxDialog::Dose));
    QStringList cells;
    for (int i = 0; i < 12; ++i) {
        cells << QStringLiteral("%1,%2").arg(t->currentRow()).arg(t->currentColumn());
        QTest::keyClick(QApplication::focusWidget(), i % 2 ? Qt::Key_Tab : Qt::Key_Return);
    }
    QCOMPARE(cells, QStringList({"0,2", "0,3", "0,4", "0,5", "0,6", "0,7", "1,2", "1,3", "1,4", "1,5", "1,6", "1,7"}));
    QCOMPARE(focused(), QStringLiteral("preview"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), t);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(focused(), QStringLiteral("preview"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(printed, 1);
    QVERIFY(d.isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY(!d.isVisible());
    QVERIFY(msgs.calls.isEmpty());
}

QTEST_MAIN(TestRxCheck)
#include "tst_rxcheck.moc"
