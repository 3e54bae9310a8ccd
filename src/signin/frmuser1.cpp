#include "signin/frmuser1.h"

#include "data/globals.h"
#include "data/passwords.h"
#include "data/recordset.h"
#include "data/serverdb.h"
#include "data/sqltext.h"
#include "ui/images.h"
#include "ui/msgbox.h"
#include "ui/twips.h"

#include <QEvent>
#include <QMdiSubWindow>
#include <QTimer>

namespace xs {

frmuser1::frmuser1(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("frmuser1"));
    setWindowTitle(QStringLiteral("新增用户"));
    setWindowIcon(appIcon());
    setClientSizeTw(6600, 3300);

    Frame1 = new QGroupBox(QStringLiteral("新增用户"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    placeTw(Frame1, 120, 120, 6360, 2040);

    Image1 = new QLabel(Frame1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(decorationPixmap(0, tw(480)));
    placeTw(Image1, 240, 360, 480, 480);

    Label2 = new QLabel(QStringLiteral("新用户名："), Frame1);
    Label2->setObjectName(QStringLiteral("Label2"));
    placeTw(Label2, 960, 480, 1080, 300);
    Label1 = new QLabel(QStringLiteral("密码："), Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeTw(Label1, 240, 1320, 720, 300);
    Label3 = new QLabel(QStringLiteral("确定密码："), Frame1);
    Label3->setObjectName(QStringLiteral("Label3"));
    placeTw(Label3, 3240, 1320, 1080, 300);

    const QString names[3] = {QStringLiteral("新用户名"), QStringLiteral("密码"), QStringLiteral("确定密码")};
    for (int i = 0; i < 3; ++i) {
        Text1[size_t(i)] = new QLineEdit(Frame1);
        Text1[size_t(i)]->setObjectName(QStringLiteral("Text1(%1)").arg(i));
        Text1[size_t(i)]->setAccessibleName(names[i]);
    }
    placeTw(Text1[0], 2040, 450, 2880, 360);
    placeTw(Text1[1], 960, 1290, 2040, 360);
    placeTw(Text1[2], 4320, 1290, 1860, 360);
    // Each typed character of the passwords shows as "*", not as the style's own dot.
    for (int i = 1; i < 3; ++i) {
        Text1[size_t(i)]->setEchoMode(QLineEdit::Password);
        Text1[size_t(i)]->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
    Label2->setBuddy(Text1[0]);
    Label1->setBuddy(Text1[1]);
    Label3->setBuddy(Text1[2]);

    Command1 = new QPushButton(QStringLiteral("确定"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    placeTw(Command1, 1560, 2520, 1200, 420);
    Command2 = new QPushButton(QStringLiteral("取消"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    placeTw(Command2, 3840, 2520, 1200, 420);

    // The confirmation box comes after the buttons in the tab order.
    setTabOrder(Text1[0], Text1[1]);
    setTabOrder(Text1[1], Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Text1[2]);

    connect(Command1, &QPushButton::clicked, this, &frmuser1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmuser1::Command2_Click);
}

void frmuser1::resizeEvent(QResizeEvent *e)
{
    XsWindow::resizeEvent(e);
    Text1[0]->setFocus();
}

void frmuser1::focusNameAfterStateChange()
{
    QTimer::singleShot(0, this, [this] { Text1[0]->setFocus(); });
}

void frmuser1::changeEvent(QEvent *e)
{
    XsWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange)
        focusNameAfterStateChange();
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
        focusNameAfterStateChange();
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

    // The password as the file keeps them: as typed, or its hash.
    QString kept;
    try {
        kept = onServer() ? hashPassword(password) : storedPasswordFor(Connection::open(dbPath()).get(), password);
    } catch (const DbError &e) {
        MsgBox(QStringLiteral("用户没有添加成功！\n") + e.message(), vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return;
    }
    SqlText = QStringLiteral("select * from use");
    rs = runsql(SqlText);
    const bool stored = !kept.isEmpty() && rs && rs->AddNew() && rs->setField(0, name) && rs->setField(1, kept) && rs->Update();
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
