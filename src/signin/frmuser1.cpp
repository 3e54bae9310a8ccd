#include "signin/frmuser1.h"

#include "data/globals.h"
#include "data/passwords.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "ui/images.h"
#include "ui/layout.h"
#include "ui/msgbox.h"
#include "ui/twips.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <QWindowStateChangeEvent>

namespace xs {

namespace {
using C = Control;
const Control kControls[] = {
    {C::Frame, "Frame1", "新增用户", 120, 120, 6360, 2040},
    {C::Picture, "Image1", "", 240, 360, 480, 480, "Frame1"},
    {C::Label, "Label2", "新用户名：", 960, 480, 1080, 300, "Frame1", "Text1(0)"},
    {C::Label, "Label1", "密码：", 240, 1320, 720, 300, "Frame1", "Text1(1)"},
    {C::Label, "Label3", "确定密码：", 3240, 1320, 1080, 300, "Frame1", "Text1(2)"},
    {C::Line, "Text1(0)", "", 2040, 450, 2880, 360, "Frame1"},
    {C::Line, "Text1(1)", "", 960, 1290, 2040, 360, "Frame1"},
    {C::Line, "Text1(2)", "", 4320, 1290, 1860, 360, "Frame1"},
    {C::Button, "Command1", "确定", 1560, 2520, 1200, 420},
    {C::Button, "Command2", "取消", 3840, 2520, 1200, 420},
};
// The confirmation box comes after the buttons in the tab order.
const char *const kTabOrder[] = {"Text1(0)", "Text1(1)", "Command1", "Command2", "Text1(2)"};
const WindowLayout kLayout{"frmuser1", "新增用户", 6600, 3300, kControls, kTabOrder};
}  // namespace

frmuser1::frmuser1(QWidget *parent) : XsWindow(parent)
{
    const Controls c = buildWindow(this, kLayout);
    Frame1 = c.get<QGroupBox>("Frame1");
    Image1 = c.get<QLabel>("Image1");
    Image1->setPixmap(decorationPixmap(0, tw(480)));
    Label2 = c.get<QLabel>("Label2");
    Label1 = c.get<QLabel>("Label1");
    Label3 = c.get<QLabel>("Label3");
    c.getArray("Text1", Text1);
    // Each typed character of the passwords shows as "*", not as the style's own dot.
    for (int i = 1; i < 3; ++i) {
        Text1[size_t(i)]->setEchoMode(QLineEdit::Password);
        Text1[size_t(i)]->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    Command1 = c.get<QPushButton>("Command1");
    Command2 = c.get<QPushButton>("Command2");

    connect(Command1, &QPushButton::clicked, this, &frmuser1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmuser1::Command2_Click);
}

void frmuser1::resizeEvent(QResizeEvent *e)
{
    XsWindow::resizeEvent(e);
    focusName();
}

bool frmuser1::isActiveChild() const
{
    auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget());
    if (!sub)
        return true;  // a top-level window: its focus never activates it
    const QMdiArea *area = sub->mdiArea();
    return area && area->activeSubWindow() == sub;
}

void frmuser1::focusName()
{
    // Giving a box of a child window the focus makes that child the active
    // one. A dialog resized behind the window in front (opened or chosen
    // from the menu, or maximised with the others) leaves the focus there
    // and takes it into the name box when it is activated itself.
    if (isActiveChild()) {
        nameOnActivation_ = false;
        Text1[0]->setFocus();
    } else {
        nameOnActivation_ = true;
    }
}

void frmuser1::activated()
{
    if (!nameOnActivation_)
        return;
    nameOnActivation_ = false;
    // A click into one of the boxes activates the dialog too: the box clicked
    // keeps the focus.
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
        Text1[0]->setFocus();
}

void frmuser1::focusNameAfterStateChange(const QEvent *e)
{
    // Only maximising, minimising and restoring resize the dialog; the frame
    // also changes its state when it is activated or deactivated.
    constexpr Qt::WindowStates sized = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
    const auto *change = static_cast<const QWindowStateChangeEvent *>(e);
    const QWidget *frame = qobject_cast<QMdiSubWindow *>(parentWidget()) ? parentWidget() : this;
    if ((change->oldState() & sized) == (frame->windowState() & sized))
        return;
    QTimer::singleShot(0, this, [this] { focusName(); });
}

void frmuser1::changeEvent(QEvent *e)
{
    XsWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        focusNameAfterStateChange(e);
}

bool frmuser1::event(QEvent *e)
{
    // Shown inside the main window, the dialog's state is its MDI frame's.
    if (e->type() == QEvent::ParentChange)
        if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget()))
            sub->installEventFilter(this);
    return XsWindow::event(e);
}

bool frmuser1::eventFilter(QObject *obj, QEvent *ev)
{
    if (ev->type() == QEvent::WindowStateChange && obj == parentWidget())
        focusNameAfterStateChange(ev);
    return XsWindow::eventFilter(obj, ev);
}

void frmuser1::refuse(const QString &text, int box, bool select)
{
    MsgBox(text, vbExclamation | vbOKOnly, QStringLiteral("警告"));
    Text1[size_t(box)]->setFocus();
    if (select)
        Text1[size_t(box)]->selectAll();
}

void frmuser1::Command1_Click()
{
    const QString name = Text1[0]->text().trimmed();
    const QString password = Text1[1]->text().trimmed();
    const QString confirm = Text1[2]->text().trimmed();
    if (name.isEmpty())
        return refuse(QStringLiteral("用户名不能为空！"), 0, false);
    if (password.isEmpty())
        return refuse(QStringLiteral("密码不能为空！"), 1, false);
    if (confirm.isEmpty())
        return refuse(QStringLiteral("确认密码不能为空！"), 2, false);
    if (password != confirm)
        return refuse(QStringLiteral("确认密码不正确！"), 2, false);

    SqlText = QStringLiteral("select * from use where username='") + q(name) + QStringLiteral("'");
    RecordsetPtr rs = runsql(SqlText);
    if (rs && !rs->atEOF())
        return refuse(QStringLiteral(" 已存在该用户！"), 0, true);

    // The password as the database keeps them: as typed, or its hash.
    QString why;
    const std::optional<QString> kept = passwordToKeep(password, &why);
    if (!kept) {
        MsgBox(QStringLiteral("用户没有添加成功！\n") + why, vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return;
    }
    SqlText = QStringLiteral("select * from use");
    rs = runsql(SqlText);
    const bool stored =
        !kept->isEmpty() && rs && rs->AddNew() && rs->setField(0, name) && rs->setField(1, *kept) && rs->Update();
    if (!stored) {
        // Nothing was added: say so and keep what was typed.
        const QString why = rs ? rs->lastError() : QString();
        MsgBox(QStringLiteral("用户没有添加成功！") + (why.isEmpty() ? QString() : QLatin1Char('\n') + why),
               vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return;
    }
    rs.reset();
    MsgBox(QStringLiteral(" 用户添加成功！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
    for (QLineEdit *t : Text1)
        t->clear();
}

void frmuser1::Command2_Click() { close(); }

}  // namespace xs
