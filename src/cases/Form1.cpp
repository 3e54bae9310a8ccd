#include "cases/Form1.h"

#include "cases/Form3.h"
#include "data/caserecord.h"
#include "data/dates.h"
#include "data/globals.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "ui/entertab.h"
#include "ui/fonts.h"
#include "ui/idhint.h"
#include "ui/images.h"
#include "ui/layout.h"
#include "ui/msgbox.h"

#include <QEvent>
#include <QTimer>

namespace xs {

namespace {

using C = Control;
constexpr int kRight = Qt::AlignRight | Qt::AlignVCenter;
// Text1(0..16) with their labels, then the combo boxes 性别, 科室, 婚否 with
// theirs. The boxes of the first column end before the labels of the combo
// boxes; the findings below them have the width of the frame's left half.
const Control kControls[] = {
    {C::Label, "Label10", "病例登记", 2400, 0, 4000, 480},
    {C::Frame, "Frame1", "", 120, 480, 11775, 9135},
    {C::Box, "Text1(0)", "", 1440, 240, 1560, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(0)", "门诊号：", 400, 240, 1000, 300, "Frame1", "Text1(0)", 0, kRight},
    {C::Box, "Text1(1)", "", 1440, 840, 1560, 300, "Frame1", nullptr, 8},
    {C::Label, "Label1(1)", "姓名：", 400, 840, 1000, 300, "Frame1", "Text1(1)", 0, kRight},
    {C::Box, "Text1(2)", "", 1200, 1320, 1800, 300, "Frame1", nullptr, 0},
    {C::Label, "Label1(2)", "出生年月：", 160, 1320, 1000, 300, "Frame1", "Text1(2)", 0, kRight},
    {C::Box, "Text1(3)", "", 1320, 1800, 1680, 300, "Frame1", nullptr, 30},
    {C::Label, "Label1(3)", "家庭住址：", 280, 1800, 1000, 300, "Frame1", "Text1(3)", 0, kRight},
    {C::Box, "Text1(4)", "", 1200, 2160, 1800, 300, "Frame1", nullptr, 6},
    {C::Label, "Label1(4)", "邮政编码：", 160, 2160, 1000, 300, "Frame1", "Text1(4)", 0, kRight},
    {C::Box, "Text1(5)", "", 1200, 2520, 1800, 300, "Frame1", nullptr, 12},
    {C::Label, "Label1(5)", "联系电话：", 160, 2520, 1000, 300, "Frame1", "Text1(5)", 0, kRight},
    {C::Box, "Text1(6)", "", 1320, 3000, 1680, 300, "Frame1", nullptr, 0},
    {C::Label, "Label1(6)", "入诊时间：", 280, 3000, 1000, 300, "Frame1", "Text1(6)", 0, kRight},
    {C::Memo, "Text1(7)", "", 1320, 3480, 2415, 420, "Frame1", nullptr, 0},
    {C::Label, "Label1(7)", "备注：", 280, 3480, 1000, 300, "Frame1", "Text1(7)", 0, kRight},
    {C::Box, "Text1(8)", "", 1320, 4560, 4800, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(8)", "体格检查：", 280, 4560, 1000, 300, "Frame1", "Text1(8)", 0, kRight},
    {C::Box, "Text1(9)", "", 1200, 5040, 4800, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(9)", "既往病史：", 160, 5040, 1000, 300, "Frame1", "Text1(9)", 0, kRight},
    {C::Box, "Text1(10)", "", 1080, 5640, 4800, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(10)", "症状：", 40, 5640, 1000, 300, "Frame1", "Text1(10)", 0, kRight},
    {C::Box, "Text1(11)", "", 1080, 6360, 4800, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(11)", "诊断：", 40, 6360, 1000, 300, "Frame1", "Text1(11)", 0, kRight},
    {C::Box, "Text1(12)", "", 1080, 6840, 4800, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(12)", "药名：", 40, 6840, 1000, 300, "Frame1", "Text1(12)", 0, kRight},
    {C::Box, "Text1(13)", "", 8640, 1680, 2400, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(13)", "药量：", 7600, 1680, 1000, 300, "Frame1", "Text1(13)", 0, kRight},
    {C::Box, "Text1(14)", "", 8760, 2520, 2400, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(14)", "医生签字：", 7720, 2520, 1000, 300, "Frame1", "Text1(14)", 0, kRight},
    {C::Box, "Text1(15)", "", 8520, 3240, 2400, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(15)", "年龄：", 7480, 3240, 1000, 300, "Frame1", "Text1(15)", 0, kRight},
    {C::Box, "Text1(16)", "", 8640, 3960, 2400, 300, "Frame1", nullptr, 5},
    {C::Label, "Label1(16)", "身份证：", 7600, 3960, 1000, 300, "Frame1", "Text1(16)", 0, kRight},
    {C::Combo, "Combo1(0)", "", 4080, 1440, 1800, 300, "Frame1"},
    {C::Combo, "Combo1(1)", "", 4080, 2040, 1800, 300, "Frame1"},
    {C::Combo, "Combo1(2)", "", 4080, 2520, 1800, 300, "Frame1"},
    {C::Label, "Label2", "性别", 3040, 1440, 1000, 300, "Frame1", "Combo1(0)", 0, kRight},
    {C::Label, "Label3", "科室：", 3040, 2040, 1000, 300, "Frame1", "Combo1(1)", 0, kRight},
    {C::Label, "Label4", "婚否：", 3040, 2520, 1000, 300, "Frame1", "Combo1(2)", 0, kRight},
    {C::Button, "Command1", "确定", 600, 8280, 1095, 270, "Frame1"},
    {C::Button, "Command2", "取消", 4200, 8280, 1095, 270, "Frame1"},
};
// The findings upwards from 身份证, the buttons, then the personal data;
// Enter follows the same order.
const char *const kTabOrder[] = {
    "Text1(16)", "Text1(15)", "Text1(14)", "Text1(13)", "Text1(12)", "Text1(11)", "Text1(10)", "Text1(9)",
    "Text1(8)",  "Command1",  "Command2",  "Text1(0)",  "Text1(1)",  "Text1(3)",  "Text1(4)",  "Text1(5)",
    "Text1(6)",  "Text1(7)",  "Combo1(1)", "Text1(2)",  "Combo1(0)", "Combo1(2)",
};
// The designer caption; set-up replaces it with 登记 or 修改 and leaves it
// when there is no department to register under.
const WindowLayout kLayout{"Form1", "Form1", 11715, 9975, kControls, kTabOrder};

const QString kTitle = QStringLiteral("警告");
const QString kDuplicate = QStringLiteral("已经存在该门诊号的记录,门诊号不能重复！");

// Red text on the tooltip background, the look of every entry box.
void paintEntryBox(QWidget *w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Text, QColor(255, 0, 0));
    p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
    w->setPalette(p);
}

}  // namespace

int Form1::typingLimit(int i)
{
    const Control *box = controlNamed(kControls, QStringLiteral("Text1(%1)").arg(i));
    return box ? box->limit : 0;
}

Form1::Form1(QWidget *parent) : XsWindow(parent)
{
    const Controls c = buildWindow(this, kLayout);
    Label10 = c.get<QLabel>("Label10");
    Label10->setFont(oldFont(QStringLiteral("宋体"), 18));
    {
        QPalette p = Label10->palette();
        p.setColor(QPalette::WindowText, QColor(0, 0, 192));
        Label10->setPalette(p);
    }
    Frame1 = c.get<QGroupBox>("Frame1");
    c.getArray("Text1", Text1);
    c.getArray("Label1", Label1);
    c.getArray("Combo1", Combo1);
    for (TextBox *t : Text1)
        paintEntryBox(t->editor());
    for (QComboBox *box : Combo1) {
        box->setEditable(true);
        // Enter moves on; it must not add the typed text to the list.
        box->setInsertPolicy(QComboBox::NoInsert);
        paintEntryBox(box);
    }
    Combo1[kSexCombo]->setEditText(QStringLiteral("Combo1"));
    Combo1[kMarriedCombo]->setEditText(QStringLiteral("Combo1"));
    Label2 = c.get<QLabel>("Label2");
    Label3 = c.get<QLabel>("Label3");
    Label4 = c.get<QLabel>("Label4");
    Command1 = c.get<QPushButton>("Command1");
    Command2 = c.get<QPushButton>("Command2");

    for (TextBox *t : Text1)
        EnterAsTab::install(t->editor());
    for (QComboBox *c : Combo1)
        EnterAsTab::install(c);
    Text1[kVisitBox]->editor()->installEventFilter(this);
    new IdCardHint(Text1[kIdCardBox], Combo1[kSexCombo], Text1[kBirthBox]);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
}

bool Form1::eventFilter(QObject *obj, QEvent *ev)
{
    // 入诊时间 selects its whole text whenever it gets the focus, however it
    // got it (a click would otherwise place the cursor after the selection).
    if (obj == Text1[kVisitBox]->editor() && ev->type() == QEvent::FocusIn)
        QTimer::singleShot(0, Text1[kVisitBox], [box = Text1[kVisitBox]] {
            if (box->editor()->hasFocus())
                box->selectAll();
        });
    return XsWindow::eventFilter(obj, ev);
}

void Form1::activated()
{
    Text1[0]->setFocus(Qt::OtherFocusReason);
    load1();
}

QString Form1::browserKey()
{
    const Form3 *b = WindowRegistry::find<Form3>();
    return b ? b->currentKey() : QString();
}

void Form1::clearBoxes()
{
    for (TextBox *t : Text1)
        t->clear();
}

void Form1::fillFrom(const Recordset &rs)
{
    const auto &fieldSlots = caseFieldSlots();
    for (int c = 0; c < int(fieldSlots.size()) && c < rs.fieldCount(); ++c) {
        const QString v = rs.text(c);
        if (fieldSlots[size_t(c)].combo)
            Combo1[size_t(fieldSlots[size_t(c)].index)]->setEditText(v);
        else
            Text1[size_t(fieldSlots[size_t(c)].index)]->setText(v);
    }
}

void Form1::load1()
{
    RecordsetPtr rs = runsql(QStringLiteral("select DISTINCT 科室 from class order by 科室"));
    if (!rs || rs->atEOF()) {
        MsgBox(QStringLiteral("请先设置科室部署！"), vbOKOnly, kTitle);
        return;
    }
    Combo1[kDeptCombo]->clear();
    for (; !rs->atEOF(); rs->MoveNext())
        Combo1[kDeptCombo]->addItem(rs->text(0));
    rs->Close();
    Combo1[kDeptCombo]->setCurrentIndex(0);

    if (CaseEditMode) {
        setWindowTitle(QStringLiteral("修改"));
        RecordsetPtr rec =
            runsql(QStringLiteral("select * from xj where 门诊号='") + q(browserKey()) + QStringLiteral("'"));
        // The record may have gone meanwhile: the boxes are then left empty,
        // and 确定 tells that there is nothing to change.
        clearBoxes();
        if (rec && !rec->atEOF())
            fillFrom(*rec);
        return;
    }
    setWindowTitle(QStringLiteral("登记"));
    clearBoxes();
    Text1[kVisitBox]->setText(todayText());
}

std::array<QString, 20> Form1::values() const
{
    std::array<QString, 20> v;
    const auto &fieldSlots = caseFieldSlots();
    for (size_t c = 0; c < fieldSlots.size(); ++c)
        v[c] = (fieldSlots[c].combo ? Combo1[size_t(fieldSlots[c].index)]->currentText()
                                    : Text1[size_t(fieldSlots[c].index)]->text())
                   .trimmed();
    return v;
}

void Form1::Command1_Click()
{
    for (int i = 0; i < 17; ++i)
        if (Text1[size_t(i)]->text().isEmpty())
            return refuseAt(Text1[size_t(i)], Label1[size_t(i)]->text() + QStringLiteral("不能为空！"), vbExclamation,
                            kTitle);

    const bool modifying = CaseEditMode;
    if (!modifying) {
        SqlOutcome o;
        RecordsetPtr rs = runsql(QStringLiteral("select * from xj where 门诊号='") + q(Text1[0]->text().trimmed())
                                     + QStringLiteral("'"),
                                 &o);
        if (!rs) {
            MsgBox(QStringLiteral("病例记录没有保存成功！\n") + o.error, vbExclamation | vbOKOnly, kTitle);
            return;
        }
        if (!rs->atEOF())
            return refuseAt(Text1[0], kDuplicate, vbExclamation, kTitle);
    }

    for (int box : {kBirthBox, kVisitBox})
        if (!isDate(Text1[size_t(box)]->text()))
            return refuseAt(Text1[size_t(box)], QStringLiteral("应输入日期 mm-dd-yy"), vbInformation, kTitle);

    if (modifying) {
        if (modify())
            close();
        return;
    }
    if (store())
        clearBoxes();
}

bool Form1::modify()
{
    const std::array<QString, 20> v = values();
    const QString key = browserKey();
    const QString notFound = QStringLiteral("没有找到门诊号为 ") + key + QStringLiteral(" 的记录，修改没有保存！");
    // No browser row (the browser was closed): there is no record to change,
    // and the test below would take the record itself for another one.
    if (key.isEmpty()) {
        MsgBox(notFound, vbExclamation | vbOKOnly, kTitle);
        return false;
    }

    // Another record must not get this record's new number.
    SqlOutcome o;
    RecordsetPtr other = runsql(QStringLiteral("select * from xj where 门诊号='") + q(v[0])
                                    + QStringLiteral("' and 门诊号<>'") + q(key) + QStringLiteral("'"),
                                &o);
    if (!other) {
        MsgBox(QStringLiteral("病例记录没有修改成功！\n") + o.error, vbExclamation | vbOKOnly, kTitle);
        return false;
    }
    if (!other->atEOF()) {
        refuseAt(Text1[0], kDuplicate, vbExclamation, kTitle);
        return false;
    }
    other.reset();

    const auto sql = caseUpdateStatement(kCaseUpdateHead, v, key);
    if (sql)
        runsql(*sql, &o);
    if (sql && !o.ok && o.fault == DbFault::Unique) {
        refuseAt(Text1[0], kDuplicate, vbExclamation, kTitle);
        return false;
    }
    if (!sql || !o.ok) {
        MsgBox(QStringLiteral("病例记录没有修改成功！\n") + o.error, vbExclamation | vbOKOnly, kTitle);
        return false;
    }
    if (o.changes == 0) {
        MsgBox(notFound, vbExclamation | vbOKOnly, kTitle);
        return false;
    }
    return true;
}

bool Form1::store()
{
    const std::array<QString, 20> v = values();
    RecordsetPtr rs = runsql(QStringLiteral("select * from xj "));
    bool ok = rs && rs->AddNew();
    for (int c = 0; ok && c < 20; ++c)
        ok = rs->setField(c, v[size_t(c)]);
    ok = ok && rs->Update();
    // Another room stored the same number between the check and the save:
    // the same refusal as the check's.
    if (!ok && rs && rs->lastFault() == DbFault::Unique) {
        refuseAt(Text1[0], kDuplicate, vbExclamation, kTitle);
        return false;
    }
    if (!ok) {
        const QString why = rs ? rs->lastError() : QString();
        MsgBox(QStringLiteral("病例记录没有保存成功！") + (why.isEmpty() ? QString() : QLatin1Char('\n') + why),
               vbExclamation | vbOKOnly, kTitle);
        return false;
    }
    return true;
}

void Form1::Command2_Click() { close(); }

}  // namespace xs
