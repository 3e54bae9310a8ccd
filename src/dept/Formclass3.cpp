#include "dept/Formclass3.h"

#include "data/globals.h"
#include "dept/Formclass2.h"
#include "ui/fieldform.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/twips.h"

#include <QCloseEvent>

namespace xs {

Formclass3::Formclass3(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("Formclass3"));
    setWindowTitle(QStringLiteral("科室查询"));
    setWindowIcon(appIcon());
    setClientSizeTw(3990, 2895);

    Label3 = new QLabel(QStringLiteral("科室设置查询"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setFont(oldFont(QStringLiteral("华文中宋"), 15.75));
    placeTw(Label3, 840, 120, 2175, 375);

    auto label = [this](const char *caption, const char *name, int top, int width) {
        auto *l = new QLabel(QString::fromUtf8(caption), this);
        l->setObjectName(QString::fromLatin1(name));
        styleQueryLabel(l);
        placeTw(l, 840, top, width, 255);
        return l;
    };
    Label1 = label("年级：", "Label1", 960, 975);
    Label2 = label("科室：", "Label2", 1440, 1455);
    Label4 = label("专业：", "Label4", 1920, 1575);

    const int boxes[3][3] = {{960, 975, 270}, {1440, 1215, 255}, {1920, 1695, 255}};
    for (int i = 0; i < 3; ++i) {
        auto *t = new QLineEdit(this);
        t->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        t->setFont(oldFont(QStringLiteral("宋体"), 10.5));
        placeTw(t, 1560, boxes[i][0], boxes[i][1], boxes[i][2]);
        Text1[size_t(i)] = t;
    }
    pairLabel(Label1, Text1[0]);
    pairLabel(Label2, Text1[1]);
    pairLabel(Label4, Text1[2]);

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    placeTw(Command1, 1440, 2520, 1095, 255);

    setTabOrder(Text1[2], Text1[1]);
    setTabOrder(Text1[1], Command1);
    setTabOrder(Command1, Text1[0]);
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
