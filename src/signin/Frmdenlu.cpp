#include "signin/Frmdenlu.h"

#include "data/globals.h"
#include "data/passwords.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "ui/images.h"
#include "ui/layout.h"
#include "ui/msgbox.h"
#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace xs {

namespace {
std::function<void()> g_signedIn;
}

void Frmdenlu::setSignedInHandler(std::function<void()> handler) { g_signedIn = std::move(handler); }

namespace {
using C = Control;
const Control kControls[] = {
    {C::Picture, "Image1", "", 0, 0, 6240, 1080},  // the banner
    {C::Label, "Label3", "澄衡", 0, 180, 6240, 720, nullptr, nullptr, 0, Qt::AlignCenter},
    {C::Frame, "Frame1", "", 600, 1320, 5040, 1560},
    {C::Label, "Label1", "用户名：", 600, 360, 1080, 300, "Frame1", "Text1"},
    {C::Line, "Text1", "", 1740, 330, 2700, 360, "Frame1"},
    {C::Label, "Label2", "密码：", 600, 900, 1080, 300, "Frame1", "Text2"},
    {C::Line, "Text2", "", 1740, 870, 2700, 360, "Frame1"},
    {C::Button, "Command1", "", 1560, 3180, 1200, 600},
    {C::Button, "Command2", "", 3480, 3180, 1200, 600},
    {C::Picture, "Image2", "", 120, 3780, 360, 360},
    {C::Picture, "Image3", "", 540, 3780, 360, 360},
    {C::Picture, "Image4", "", 960, 3780, 360, 360},
};
const char *const kTabOrder[] = {"Text1", "Text2", "Command1", "Command2"};
const WindowLayout kLayout{"Frmdenlu", "登录", 6240, 4200, kControls, kTabOrder};

// A picture button: the icon fills it; its name is said by the tooltip.
void pictureButton(QPushButton *b, const QIcon &icon, const QString &name)
{
    b->setIcon(icon);
    b->setIconSize(b->size() - QSize(12, 12));
    b->setToolTip(name);
    b->setAccessibleName(name);
}
}  // namespace

Frmdenlu::Frmdenlu(QWidget *parent) : XsWindow(parent)
{
    const Controls c = buildWindow(this, kLayout);
    setFixedSize(size());
    for (int i = 0; i < 4; ++i)
        Image[size_t(i)] = c.get<QLabel>(qPrintable(QStringLiteral("Image%1").arg(i + 1)));
    Image[0]->setPixmap(loginBanner(tw(6240), tw(1080)));
    for (int i = 1; i < 4; ++i)
        Image[size_t(i)]->setPixmap(decorationPixmap(i, tw(360)));

    Label3 = c.get<QLabel>("Label3");
    QFont title(QStringLiteral("华文中宋"));
    title.setPointSizeF(24);
    title.setBold(true);
    Label3->setFont(title);
    Label3->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

    Frame1 = c.get<QGroupBox>("Frame1");
    Label1 = c.get<QLabel>("Label1");
    Text1 = c.get<QLineEdit>("Text1");
    Label2 = c.get<QLabel>("Label2");
    Text2 = c.get<QLineEdit>("Text2");
    Text2->setEchoMode(QLineEdit::Password);
    // Each typed character shows as "*", not as the style's own dot.
    Text2->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));

    Command1 = c.get<QPushButton>("Command1");
    pictureButton(Command1, signInIcon(), QStringLiteral("登录"));
    Command2 = c.get<QPushButton>("Command2");
    pictureButton(Command2, closeIcon(), QStringLiteral("关闭"));

    connect(Command1, &QPushButton::clicked, this, &Frmdenlu::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Frmdenlu::Command2_Click);
    // Enter in the password box signs in.
    connect(Text2, &QLineEdit::returnPressed, this, &Frmdenlu::Command1_Click);
    // Enter in the name box moves on to the password.
    connect(Text1, &QLineEdit::returnPressed, Text2, [this] { Text2->setFocus(Qt::TabFocusReason); });
}

void Frmdenlu::showEvent(QShowEvent *e)
{
    XsWindow::showEvent(e);
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    Text1->setFocus();
}

void Frmdenlu::Command1_Click()
{
    const QString name = Text1->text().trimmed();
    RecordsetPtr rs =
        runsql(QStringLiteral("select username from use where username='") + q(name) + QStringLiteral("'"));
    if (!rs || rs->atEOF()) {
        MsgBox(QStringLiteral(" 用户名错误！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
        Text1->setFocus();
        Text1->selectAll();
        return;
    }
    // The name as stored; it becomes the signed-in user only with its
    // password (the prescribing window asks for rights by CurrentUser while
    // this window is shown again).
    const QString user = rs->text(0);
    rs.reset();

    // The password column may hold hashes: the comparison (blanks at the
    // ends and letter case ignored) is made in the data layer, not in SQL.
    if (!signInPasswordMatches(name, Text2->text())) {
        MsgBox(QStringLiteral(" 密码错误！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
        Text2->setFocus();
        Text2->selectAll();
        return;
    }
    CurrentUser = user;
    // The first sign-in of a day copies the archive in the background (where
    // the engine keeps such copies); a failure is told once and the work goes on.
    engine().afterSignIn([](const QString &why) {
        MsgBox(QStringLiteral("今天的自动备份没有成功：%1\n程序照常使用。请检查 backups 文件夹所在磁盘的空间和权限，"
                              "或用 chengheng-db backup 手动备份。")
                   .arg(why),
               vbExclamation | vbOKOnly, QStringLiteral("警告"));
    });
    if (g_signedIn)
        g_signedIn();
    close();
}

void Frmdenlu::Command2_Click() { close(); }

}  // namespace xs
