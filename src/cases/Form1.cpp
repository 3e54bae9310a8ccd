#include "cases/Form1.h"

#include "data/caserecord.h"
#include "cases/Form3.h"
#include "data/dates.h"
#include "data/globals.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "ui/entertab.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/msgbox.h"
#include "ui/twips.h"

#include <QEvent>
#include <QTimer>

namespace xs {

namespace {

// One text box of the form: caption, typing limit (0: none), place in Frame1.
struct BoxLayout {
    const char *caption;
    int limit;
    int left, top, width, height;
};

// Text1(0..16). The boxes of the first column end before the labels of the
// combo boxes; the findings below them have the width of the frame's left half.
const BoxLayout kBoxes[17] = {
    {"门诊号：", 5, 1440, 240, 1560, 300},
    {"姓名：", 8, 1440, 840, 1560, 300},
    {"出生年月：", 0, 1200, 1320, 1800, 300},
    {"家庭住址：", 30, 1320, 1800, 1680, 300},
    {"邮政编码：", 6, 1200, 2160, 1800, 300},
    {"联系电话：", 12, 1200, 2520, 1800, 300},
    {"入诊时间：", 0, 1320, 3000, 1680, 300},
    {"备注：", 0, 1320, 3480, 2415, 420},
    {"体格检查：", 5, 1320, 4560, 4800, 300},
    {"既往病史：", 5, 1200, 5040, 4800, 300},
    {"症状：", 5, 1080, 5640, 4800, 300},
    {"诊断：", 5, 1080, 6360, 4800, 300},
    {"药名：", 5, 1080, 6840, 4800, 300},
    {"药量：", 5, 8640, 1680, 2400, 300},
    {"医生签字：", 5, 8760, 2520, 2400, 300},
    {"年龄：", 5, 8520, 3240, 2400, 300},
    {"身份证：", 5, 8640, 3960, 2400, 300},
};
constexpr int kMemoBox = 7;     // 备注: several lines
constexpr int kVisitBox = 6;    // 入诊时间
constexpr int kBirthBox = 2;    // 出生年月
constexpr int kLabelWidth = 1000;

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

QLabel *makeLabel(const QString &caption, const QString &name, QWidget *parent, int boxLeft, int top)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    placeTw(l, boxLeft - kLabelWidth - 40, top, kLabelWidth, 300);
    return l;
}

}  // namespace

int Form1::typingLimit(int i) { return i >= 0 && i < 17 ? kBoxes[i].limit : 0; }

Form1::Form1(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    // The designer caption; set-up replaces it with 登记 or 修改 and leaves it
    // when there is no department to register under.
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(appIcon());
    setClientSizeTw(11715, 9975);

    Label10 = new QLabel(QStringLiteral("病例登记"), this);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label10->setFont(oldFont(QStringLiteral("宋体"), 18));
    {
        QPalette p = Label10->palette();
        p.setColor(QPalette::WindowText, QColor(0, 0, 192));
        Label10->setPalette(p);
    }
    placeTw(Label10, 2400, 0, 4000, 480);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    placeTw(Frame1, 120, 480, 11775, 9135);

    for (int i = 0; i < 17; ++i) {
        const BoxLayout &s = kBoxes[i];
        auto *box = new TextBox(i == kMemoBox ? TextBox::MultiLine : TextBox::SingleLine, Frame1);
        box->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        box->setTypingLimit(s.limit);
        placeTw(box, s.left, s.top, s.width, s.height);
        paintEntryBox(box->editor());
        Text1[size_t(i)] = box;
        Label1[size_t(i)] = makeLabel(QString::fromUtf8(s.caption), QStringLiteral("Label1(%1)").arg(i), Frame1,
                                      s.left, s.top);
        pairLabel(Label1[size_t(i)], box);
    }

    const int comboTops[3] = {1440, 2040, 2520};
    for (int i = 0; i < 3; ++i) {
        auto *c = new QComboBox(Frame1);
        c->setObjectName(QStringLiteral("Combo1(%1)").arg(i));
        c->setEditable(true);
        // Enter moves on; it must not add the typed text to the list.
        c->setInsertPolicy(QComboBox::NoInsert);
        placeTw(c, 4080, comboTops[i], 1800, 300);
        paintEntryBox(c);
        Combo1[size_t(i)] = c;
    }
    Combo1[0]->setEditText(QStringLiteral("Combo1"));
    Combo1[2]->setEditText(QStringLiteral("Combo1"));
    Label2 = makeLabel(QStringLiteral("性别"), QStringLiteral("Label2"), Frame1, 4080, comboTops[0]);
    Label3 = makeLabel(QStringLiteral("科室："), QStringLiteral("Label3"), Frame1, 4080, comboTops[1]);
    Label4 = makeLabel(QStringLiteral("婚否："), QStringLiteral("Label4"), Frame1, 4080, comboTops[2]);
    pairLabel(Label2, Combo1[0]);
    pairLabel(Label3, Combo1[1]);
    pairLabel(Label4, Combo1[2]);

    Command1 = new QPushButton(QStringLiteral("确定"), Frame1);
    Command1->setObjectName(QStringLiteral("Command1"));
    placeTw(Command1, 600, 8280, 1095, 270);
    Command2 = new QPushButton(QStringLiteral("取消"), Frame1);
    Command2->setObjectName(QStringLiteral("Command2"));
    placeTw(Command2, 4200, 8280, 1095, 270);

    // Tab order: the findings upwards from 身份证, the buttons, then the
    // personal data; Enter follows the same order.
    const std::vector<QWidget *> order = {
        Text1[16]->editor(), Text1[15]->editor(), Text1[14]->editor(), Text1[13]->editor(),
        Text1[12]->editor(), Text1[11]->editor(), Text1[10]->editor(), Text1[9]->editor(),
        Text1[8]->editor(),  Command1,            Command2,            Text1[0]->editor(),
        Text1[1]->editor(),  Text1[3]->editor(),  Text1[4]->editor(),  Text1[5]->editor(),
        Text1[6]->editor(),  Text1[7]->editor(),  Combo1[1],           Text1[2]->editor(),
        Combo1[0],           Combo1[2],
    };
    for (size_t k = 0; k + 1 < order.size(); ++k)
        setTabOrder(order[k], order[k + 1]);

    for (TextBox *t : Text1)
        EnterAsTab::install(t->editor());
    for (QComboBox *c : Combo1)
        EnterAsTab::install(c);
    Text1[kVisitBox]->editor()->installEventFilter(this);

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
    Combo1[1]->clear();
    for (; !rs->atEOF(); rs->MoveNext())
        Combo1[1]->addItem(rs->text(0));
    rs->Close();
    Combo1[1]->setCurrentIndex(0);

    if (CaseEditMode) {
        setWindowTitle(QStringLiteral("修改"));
        RecordsetPtr rec = runsql(QStringLiteral("select * from xj where 门诊号='") + q(browserKey())
                                  + QStringLiteral("'"));
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
        v[c] = (fieldSlots[c].combo ? Combo1[size_t(fieldSlots[c].index)]->currentText() : Text1[size_t(fieldSlots[c].index)]->text())
                   .trimmed();
    return v;
}

void Form1::Command1_Click()
{
    for (int i = 0; i < 17; ++i)
        if (Text1[size_t(i)]->text().isEmpty())
            return refuseAt(Text1[size_t(i)], Label1[size_t(i)]->text() + QStringLiteral("不能为空！"),
                            vbExclamation, kTitle);

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
