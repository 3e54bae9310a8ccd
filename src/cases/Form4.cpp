#include "cases/Form4.h"

#include "cases/Form3.h"
#include "data/globals.h"
#include "data/pager.h"
#include "data/sqltext.h"
#include "ui/fieldform.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>

namespace xs {

namespace {
// The column list of a case record listing, joined with the department; the
// condition and the ordering follow it.
const QString kListHead = QStringLiteral(
    "select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,xj.家庭住址,"
    "xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,xj.症状,xj.诊断,xj.药名,"
    "xj.药量,xj.医生签字,xj.年龄,xj.身份证 from xj inner join class on xj.科室=class.科室  where ");
const QString kListOrder = QStringLiteral("order by class.年级 desc,class.科室 desc,xj.门诊号 desc");
const QString kNothingFound = QStringLiteral("对不起，没有此病例的档案记录！");
}  // namespace

namespace {
using C = Control;
// The labels overlap the boxes' left edge; the boxes, later in the table, lie
// on top of them.
const Control kControls[] = {
    {C::Label, "Label3", "病例档案查询", 1200, 0, 2175, 375},
    {C::Label, "Label1", "门诊号：", 1200, 600, 975, 255, nullptr, "Text1(0)"},
    {C::Label, "Label2", "姓名：", 1200, 1080, 1455, 255, nullptr, "Text1(1)"},
    {C::Label, "Label4", "科室：", 1200, 1560, 1575, 255, nullptr, "Text1(2)"},
    {C::Label, "Label5", "按姓名关键字查询：", 0, 2040, 2775, 255, nullptr, "Text1(3)"},
    {C::Line, "Text1(0)", "", 1920, 600, 975, 255},
    {C::Line, "Text1(1)", "", 1920, 1080, 1215, 255},
    {C::Line, "Text1(2)", "", 1920, 1560, 1695, 255},
    {C::Line, "Text1(3)", "", 1920, 2040, 1695, 255},
    {C::Button, "Command1", "确定", 600, 2520, 1095, 255},
    {C::Button, "Command2", "取消", 2880, 2520, 1095, 255},
};
const char *const kTabOrder[] = {"Text1(0)", "Command1", "Command2", "Text1(1)", "Text1(2)", "Text1(3)"};
const WindowLayout kLayout{"Form4", "查询", 4530, 2970, kControls, kTabOrder};
}  // namespace

Form4::Form4(QWidget *parent) : XsWindow(parent)
{
    const Controls c = buildWindow(this, kLayout);
    Label3 = c.get<QLabel>("Label3");
    Label3->setFont(oldFont(QStringLiteral("宋体"), 15.75));
    Label1 = c.get<QLabel>("Label1");
    Label2 = c.get<QLabel>("Label2");
    Label4 = c.get<QLabel>("Label4");
    Label5 = c.get<QLabel>("Label5");
    for (QLabel *l : {Label1, Label2, Label4, Label5})
        styleQueryLabel(l);
    c.getArray("Text1", Text1);
    for (QLineEdit *t : Text1)
        t->installEventFilter(this);
    Text1[0]->setText(QStringLiteral("   "));
    Command1 = c.get<QPushButton>("Command1");
    Command2 = c.get<QPushButton>("Command2");

    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
}

void Form4::closeEvent(QCloseEvent *e)
{
    CaseQueryFlag = false;
    XsWindow::closeEvent(e);
}

void Form4::activated() { CaseQueryFlag = true; }

bool Form4::eventFilter(QObject *obj, QEvent *ev)
{
    // The apostrophe cannot be typed into the boxes.
    if (ev->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(ev)->text() == QLatin1String("'"))
        for (QLineEdit *t : Text1)
            if (obj == t)
                return true;
    return XsWindow::eventFilter(obj, ev);
}

void Form4::focusOutEvent(QFocusEvent *e)
{
    XsWindow::focusOutEvent(e);
    // The dialog itself (not one of its boxes or buttons) losing the focus to
    // another window closes it. Leaving the whole application, or a popup
    // opening, is no loss of focus here.
    if (e->reason() == Qt::ActiveWindowFocusReason || e->reason() == Qt::PopupFocusReason)
        return;
    QWidget *now = QApplication::focusWidget();
    if (now && (now == this || isAncestorOf(now)))
        return;
    QTimer::singleShot(0, this, &QWidget::close);
}

void Form4::raiseFrame()
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
        sub->raise();
    else
        raise();
}

void Form4::keepOnTop()
{
    if (!onTop_) {
        onTop_ = true;
        if (QMdiArea *area = WindowRegistry::mdiArea())
            connect(area, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow *sub) {
                if (sub && sub->widget() != this)
                    QTimer::singleShot(0, this, &Form4::raiseFrame);
            });
    }
    raiseFrame();
}

QString Form4::condition() const
{
    QString cond;
    const char *columns[3] = {"xj.门诊号", "xj.姓名", "xj.科室"};
    for (int i = 0; i < 3; ++i) {
        const QString v = Text1[size_t(i)]->text().trimmed();
        if (!v.isEmpty())
            addCondition(cond, QString::fromUtf8(columns[i]), v);
    }
    // A part of a name replaces every other condition.
    const QString keyword = Text1[3]->text().trimmed();
    if (!keyword.isEmpty())
        cond = QStringLiteral("xj.姓名 like '%") + q(keyword) + QStringLiteral("%'");
    return cond;
}

void Form4::Command1_Click()
{
    SqlText = condition();
    if (SqlText.isEmpty())
        return tellNoCondition(Text1[0]);
    const QString cond = SqlText;
    const QString list = kListHead + cond + kListOrder;
    // The listing's first page is read first: a listed record is a matching
    // record, so the archive is searched once. Only a listing without rows
    // leaves open whether any record matches (records naming no department
    // are not listed); the plain search answers that.
    std::unique_ptr<Pager> first = Pager::open(list);
    const bool listed = first && !first->isEmpty();
    if (!listed && !hasRows(QStringLiteral("select * from xj where ") + cond))
        return tellNothingFound(this, Text1[0], kNothingFound);

    SqlText = list;
    // The browser lists this statement with the page already read.
    PrefetchedListing::put(SqlText, std::move(first));
    CaseQueryFlag = true;
    Form3 *browser = WindowRegistry::show<Form3>();
    browser->printstr = SqlText;
    browser->setWindowTitle(QStringLiteral("病例档案查询结果"));
    browser->showtitle();
    browser->showdata();
    PrefetchedListing::drop();
}

void Form4::Command2_Click() { close(); }

}  // namespace xs
