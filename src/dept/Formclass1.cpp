#include "dept/Formclass1.h"

#include "data/globals.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "dept/Formclass2.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/layout.h"
#include "ui/msgbox.h"

namespace xs {

namespace {

using C = Control;
constexpr int kRight = Qt::AlignRight | Qt::AlignVCenter;
// Text1(0..6) in the column order of class, each with its label.
const Control kControls[] = {
    {C::Label, "Label1", "班级设置", 2040, 240, 2400, 420},
    {C::Box, "Text1(0)", "", 1320, 840, 1095, 300, nullptr, nullptr, 16},
    {C::Label, "Label2(0)", "年级：", 320, 840, 960, 300, nullptr, "Text1(0)", 0, kRight},
    {C::Box, "Text1(1)", "", 3600, 840, 1095, 300, nullptr, nullptr, 20},
    {C::Label, "Label2(1)", "科室：", 2600, 840, 960, 300, nullptr, "Text1(1)", 0, kRight},
    {C::Box, "Text1(2)", "", 1320, 1320, 1095, 300, nullptr, nullptr, 5},
    {C::Label, "Label2(2)", "诊室：", 320, 1320, 960, 300, nullptr, "Text1(2)", 0, kRight},
    {C::Box, "Text1(3)", "", 3600, 1320, 1095, 300, nullptr, nullptr, 8},
    {C::Label, "Label2(3)", "年制：", 2600, 1320, 960, 300, nullptr, "Text1(3)", 0, kRight},
    {C::Box, "Text1(4)", "", 1320, 1920, 1095, 300, nullptr, nullptr, 16},
    {C::Label, "Label2(4)", "专业：", 320, 1920, 960, 300, nullptr, "Text1(4)", 0, kRight},
    {C::Box, "Text1(5)", "", 3600, 1920, 1095, 300, nullptr, nullptr, 8},
    {C::Label, "Label2(5)", "医生：", 2600, 1920, 960, 300, nullptr, "Text1(5)", 0, kRight},
    {C::Memo, "Text1(6)", "", 1320, 2400, 3375, 1215, nullptr, nullptr, 0},
    {C::Label, "Label8", "备注：", 320, 2400, 960, 300, nullptr, "Text1(6)", 0, kRight},
    // Two labels without caption or place that show nothing.
    {C::Label, "Label4", "", 0, 0, 0, 0},
    {C::Label, "Label7", "", 0, 0, 0, 0},
    {C::Button, "Command1", "确定", 1440, 3840, 1215, 255},
    {C::Button, "Command2", "取消", 3240, 3840, 1215, 255},
};
const char *const kTabOrder[] = {"Text1(0)", "Text1(1)", "Text1(2)", "Text1(3)", "Text1(4)",
                                 "Text1(5)", "Text1(6)", "Command1", "Command2"};
const WindowLayout kLayout{"Formclass1", "添加科室", 5940, 4305, kControls, kTabOrder};
constexpr int kMemo = 6;
constexpr int kDept = 1;
const QString kTitle = QStringLiteral("警告");

}  // namespace

int Formclass1::typingLimit(int i)
{
    const Control *box = controlNamed(kControls, QStringLiteral("Text1(%1)").arg(i));
    return box ? box->limit : 0;
}

Formclass1::Formclass1(QWidget *parent) : XsWindow(parent)
{
    const Controls c = buildWindow(this, kLayout);
    Label1 = c.get<QLabel>("Label1");
    Label1->setFont(oldFont(QStringLiteral("宋体"), 15.75, true));
    c.getArray("Text1", Text1);
    c.getArray("Label2", Label2);
    Label8 = c.get<QLabel>("Label8");
    Label4 = c.get<QLabel>("Label4");
    Label7 = c.get<QLabel>("Label7");
    Command1 = c.get<QPushButton>("Command1");
    Command2 = c.get<QPushButton>("Command2");

    connect(Command1, &QPushButton::clicked, this, &Formclass1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Formclass1::Command2_Click);
}

void Formclass1::activated() { Text1[0]->setFocus(Qt::OtherFocusReason); }

void Formclass1::clearBoxes()
{
    for (TextBox *t : Text1)
        t->clear();
}

void Formclass1::classload()
{
    loadedDept_.reset();
    if (!DeptEditMode) {
        setWindowTitle(QStringLiteral("添加科室设置"));
        clearBoxes();
        return;
    }
    setWindowTitle(QStringLiteral("修改科室设置"));
    QString dept;
    if (const Formclass2 *b = WindowRegistry::find<Formclass2>())
        dept = b->currentKey();
    RecordsetPtr rs = runsql(QStringLiteral("select * from class where 科室='") + q(dept) + QStringLiteral("'"));
    // No row (deleted meanwhile, or stored with outer blanks): the boxes stay
    // empty, and what is typed then is stored as a new setting.
    clearBoxes();
    if (!rs || rs->atEOF())
        return;
    for (int i = 0; i < 7 && i < rs->fieldCount(); ++i)
        Text1[size_t(i)]->setText(rs->text(i));
    rs->Close();
    loadedDept_ = dept;
}

void Formclass1::Command1_Click()
{
    for (int i = 0; i < 6; ++i)
        if (Text1[size_t(i)]->text().isEmpty())
            return refuseAt(Text1[size_t(i)], Label2[size_t(i)]->text() + QStringLiteral("不能为空！"), vbExclamation,
                            kTitle);

    const QString dept = Text1[kDept]->text().trimmed();
    const bool modifying = DeptEditMode;
    // A new setting needs a name of its own. A modified one may keep the name
    // of the setting loaded, but not take another setting's name: storing
    // would replace that other setting's row.
    if (!modifying || loadedDept_ != dept) {
        printstr = QStringLiteral("select * from class where 科室='") + q(dept) + QStringLiteral("'");
        if (modifying && loadedDept_)
            printstr += QStringLiteral(" and 科室<>'") + q(*loadedDept_) + QStringLiteral("'");
        SqlOutcome o;
        RecordsetPtr rs = runsql(printstr, &o);
        if (!rs) {
            MsgBox(QStringLiteral("科室设置没有保存成功！\n") + o.error, vbExclamation | vbOKOnly, kTitle);
            return;
        }
        if (!rs->atEOF()) {
            rs->Close();
            return refuseAt(Text1[kDept], QStringLiteral("已经存在该科室的设置,不能重复！"), vbOKOnly, kTitle);
        }
    }
    if (!store(dept))
        return;
    if (modifying)
        close();
    else
        clearBoxes();
}

bool Formclass1::store(const QString &dept)
{
    // Delete and add are one change: when the add fails the old row stays.
    // The user is told only after the transaction has ended, so no write lock
    // is held while a message waits.
    QString why;
    bool ok = false;
    bool duplicate = false;
    {
        Transaction tx;
        SqlOutcome o;
        printstr = QStringLiteral("delete * from class where 科室='") + q(dept) + QStringLiteral("'");
        runsql(printstr, &o);
        why = o.error;
        ok = o.ok;
        // The name is stored as typed; blanks around it make it a name of its
        // own that the test above (on the trimmed name) did not see.
        const QString typed = Text1[kDept]->text();
        if (ok && typed != dept
            && hasRows(QStringLiteral("select * from class where 科室='") + q(typed) + QStringLiteral("'"))) {
            ok = false;
            duplicate = true;
        }
        if (ok) {
            if (Text1[kMemo]->text().isEmpty())
                Text1[kMemo]->setText(QStringLiteral("无"));
            printstr = QStringLiteral("select * from class ");
            RecordsetPtr rs = runsql(printstr, &o);
            ok = rs && rs->AddNew();
            for (int i = 0; ok && i < 7; ++i)
                ok = rs->setField(i, Text1[size_t(i)]->text());
            ok = ok && rs->Update();
            why = rs ? rs->lastError() : o.error;
            rs.reset();
            if (ok && !tx.commit()) {
                ok = false;
                why = QStringLiteral("数据库没有接受这次修改");
            }
        }
    }
    if (duplicate)
        refuseAt(Text1[kDept], QStringLiteral("已经存在该科室的设置,不能重复！"), vbOKOnly, kTitle);
    else if (!ok)
        MsgBox(QStringLiteral("科室设置没有保存成功！") + (why.isEmpty() ? QString() : QLatin1Char('\n') + why),
               vbExclamation | vbOKOnly, kTitle);
    return ok;
}

void Formclass1::Command2_Click() { close(); }

}  // namespace xs
