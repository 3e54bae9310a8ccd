#include "cases/Form4.h"

#include "cases/Form3.h"
#include "data/globals.h"
#include "data/pager.h"
#include "data/sqltext.h"
#include "ui/fieldform.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/twips.h"

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

Form4::Form4(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("查询"));
    setWindowIcon(appIcon());
    setClientSizeTw(4530, 2970);

    Label3 = new QLabel(QStringLiteral("病例档案查询"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setFont(oldFont(QStringLiteral("宋体"), 15.75));
    placeTw(Label3, 1200, 0, 2175, 375);

    auto label = [this](const char *caption, const char *name, int left, int top, int width) {
        auto *l = new QLabel(QString::fromUtf8(caption), this);
        l->setObjectName(QString::fromLatin1(name));
        styleQueryLabel(l);
        placeTw(l, left, top, width, 255);
        return l;
    };
    Label1 = label("门诊号：", "Label1", 1200, 600, 975);
    Label2 = label("姓名：", "Label2", 1200, 1080, 1455);
    Label4 = label("科室：", "Label4", 1200, 1560, 1575);
    Label5 = label("按姓名关键字查询：", "Label5", 0, 2040, 2775);

    const int boxes[4][2] = {{600, 975}, {1080, 1215}, {1560, 1695}, {2040, 1695}};
    for (int i = 0; i < 4; ++i) {
        auto *t = new QLineEdit(this);
        t->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        placeTw(t, 1920, boxes[i][0], boxes[i][1], 255);
        t->installEventFilter(this);
        Text1[size_t(i)] = t;
    }
    // The labels overlap the boxes' left edge; the boxes stay on top.
    for (QLineEdit *t : Text1)
        t->raise();
    Text1[0]->setText(QStringLiteral("   "));
    pairLabel(Label1, Text1[0]);
    pairLabel(Label2, Text1[1]);
    pairLabel(Label4, Text1[2]);
    pairLabel(Label5, Text1[3]);

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    placeTw(Command1, 600, 2520, 1095, 255);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    placeTw(Command2, 2880, 2520, 1095, 255);

    setTabOrder(Text1[0], Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text1[1]);
    setTabOrder(Text1[1], Text1[2]);
    setTabOrder(Text1[2], Text1[3]);

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
