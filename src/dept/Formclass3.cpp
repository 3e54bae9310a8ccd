#include "dept/Formclass3.h"

#include "data/globals.h"
#include "dept/Formclass2.h"
#include "ui/fieldform.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/layout.h"

#include <QCloseEvent>

namespace xs {

namespace {
using C = Control;
const Control kControls[] = {
    {C::Label, "Label3", "科室设置查询", 840, 120, 2175, 375},
    {C::Label, "Label1", "年级：", 840, 960, 975, 255, nullptr, "Text1(0)"},
    {C::Label, "Label2", "科室：", 840, 1440, 1455, 255, nullptr, "Text1(1)"},
    {C::Label, "Label4", "专业：", 840, 1920, 1575, 255, nullptr, "Text1(2)"},
    {C::Line, "Text1(0)", "", 1560, 960, 975, 270},
    {C::Line, "Text1(1)", "", 1560, 1440, 1215, 255},
    {C::Line, "Text1(2)", "", 1560, 1920, 1695, 255},
    {C::Button, "Command1", "确定", 1440, 2520, 1095, 255},
};
const char *const kTabOrder[] = {"Text1(2)", "Text1(1)", "Command1", "Text1(0)"};
const WindowLayout kLayout{"Formclass3", "科室查询", 3990, 2895, kControls, kTabOrder};
}  // namespace

Formclass3::Formclass3(QWidget *parent) : XsWindow(parent)
{
    const Controls c = buildWindow(this, kLayout);
    Label3 = c.get<QLabel>("Label3");
    Label3->setFont(oldFont(QStringLiteral("华文中宋"), 15.75));
    Label1 = c.get<QLabel>("Label1");
    Label2 = c.get<QLabel>("Label2");
    Label4 = c.get<QLabel>("Label4");
    for (QLabel *l : {Label1, Label2, Label4})
        styleQueryLabel(l);
    c.getArray("Text1", Text1);
    for (QLineEdit *t : Text1)
        t->setFont(oldFont(QStringLiteral("宋体"), 10.5));
    Command1 = c.get<QPushButton>("Command1");
    // A new dialog starts in the first box of its tab order.
    Text1[2]->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Formclass3::Command1_Click);
}

void Formclass3::closeEvent(QCloseEvent *e)
{
    DeptQueryFlag = false;
    XsWindow::closeEvent(e);
}

QString Formclass3::condition() const
{
    // A box counts as filled when it holds anything, blanks included; the
    // value compared is its trimmed text.
    QString cond;
    const char *columns[3] = {"年级", "科室", "专业"};
    for (int i = 0; i < 3; ++i)
        if (!Text1[size_t(i)]->text().isEmpty())
            addCondition(cond, QString::fromUtf8(columns[i]), Text1[size_t(i)]->text().trimmed());
    return cond;
}

void Formclass3::Command1_Click()
{
    SqlText = condition();
    if (SqlText.isEmpty())
        return tellNoCondition(Text1[0]);
    SqlText = QStringLiteral("select * from class where ") + SqlText;
    if (!hasRows(SqlText))
        return tellNothingFound(this, Text1[0], QStringLiteral("对不起，没有此科室的档案记录！"));

    DeptQueryFlag = true;
    Formclass2 *browser = WindowRegistry::show<Formclass2>();
    browser->printstr = SqlText;
    browser->classshowtitle();
    browser->classshowdata();
    browser->setWindowTitle(QStringLiteral("科室设置查询结果"));
    WindowRegistry::bringToFront(browser);
}

}  // namespace xs
