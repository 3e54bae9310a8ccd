#include "dept/Formclass1.h"

#include "data/globals.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "dept/Formclass2.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/msgbox.h"
#include "ui/twips.h"

namespace xs {

namespace {

struct BoxLayout {
    const char *caption;
    int limit;  // 0: no limit
    int left, top;
};

// Text1(0..6), in the column order of class.
const BoxLayout kBoxes[7] = {
    {"年级：", 16, 1320, 840}, {"科室：", 20, 3600, 840}, {"诊室：", 5, 1320, 1320}, {"年制：", 8, 3600, 1320},
    {"专业：", 16, 1320, 1920}, {"医生：", 8, 3600, 1920}, {"备注：", 0, 1320, 2400},
};
constexpr int kMemo = 6;
constexpr int kDept = 1;
const QString kTitle = QStringLiteral("警告");

}  // namespace

int Formclass1::typingLimit(int i) { return i >= 0 && i < 7 ? kBoxes[i].limit : 0; }

Formclass1::Formclass1(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("Formclass1"));
    setWindowTitle(QStringLiteral("添加科室"));
    setWindowIcon(appIcon());
    setClientSizeTw(5940, 4305);

    Label1 = new QLabel(QStringLiteral("班级设置"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(oldFont(QStringLiteral("宋体"), 15.75, true));
    placeTw(Label1, 2040, 240, 2400, 420);

    for (int i = 0; i < 7; ++i) {
        const BoxLayout &s = kBoxes[i];
        auto *box = new TextBox(i == kMemo ? TextBox::MultiLine : TextBox::SingleLine, this);
        box->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        box->setTypingLimit(s.limit);
        if (i == kMemo)
            placeTw(box, s.left, s.top, 3375, 1215);
        else
            placeTw(box, s.left, s.top, 1095, 300);
        Text1[size_t(i)] = box;

        auto *l = new QLabel(QString::fromUtf8(s.caption), this);
        l->setObjectName(i == kMemo ? QStringLiteral("Label8") : QStringLiteral("Label2(%1)").arg(i));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        placeTw(l, s.left - 1000, s.top, 960, 300);
        pairLabel(l, box);
        if (i == kMemo)
            Label8 = l;
        else
            Label2[size_t(i)] = l;
    }

    // Two labels without caption that show nothing.
    Label4 = new QLabel(this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label7 = new QLabel(this);
    Label7->setObjectName(QStringLiteral("Label7"));

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    placeTw(Command1, 1440, 3840, 1215, 255);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    placeTw(Command2, 3240, 3840, 1215, 255);

    for (int i = 0; i + 1 < 7; ++i)
        setTabOrder(Text1[size_t(i)]->editor(), Text1[size_t(i + 1)]->editor());
    setTabOrder(Text1[kMemo]->editor(), Command1);
    setTabOrder(Command1, Command2);

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
            return refuseAt(Text1[size_t(i)], Label2[size_t(i)]->text() + QStringLiteral("不能为空！"),
                            vbExclamation, kTitle);

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
