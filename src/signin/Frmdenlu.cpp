#include "signin/Frmdenlu.h"

#include "data/backup.h"

#include "data/globals.h"
#include "data/passwords.h"
#include "data/recordset.h"
#include "data/serverdb.h"
#include "data/sqltext.h"
#include "ui/images.h"
#include "ui/msgbox.h"
#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>

namespace xs {

namespace {
std::function<void()> g_signedIn;
}

void Frmdenlu::setSignedInHandler(std::function<void()> handler) { g_signedIn = std::move(handler); }

Frmdenlu::Frmdenlu(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("Frmdenlu"));
    setWindowTitle(QStringLiteral("登录"));
    setWindowIcon(appIcon());
    setClientSizeTw(6240, 4200);
    setFixedSize(size());

    auto *banner = new QLabel(this);
    banner->setPixmap(loginBanner(tw(6240), tw(1080)));
    placeTw(banner, 0, 0, 6240, 1080);
    Image[0] = banner;

    Label3 = new QLabel(QStringLiteral("澄衡"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    QFont title(QStringLiteral("华文中宋"));
    title.setPointSizeF(24);
    title.setBold(true);
    Label3->setFont(title);
    Label3->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    placeTw(Label3, 0, 180, 6240, 720);

    Frame1 = new QGroupBox(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    placeTw(Frame1, 600, 1320, 5040, 1560);

    Label1 = new QLabel(QStringLiteral("用户名："), Frame1);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeTw(Label1, 600, 360, 1080, 300);
    Text1 = new QLineEdit(Frame1);
    Text1->setObjectName(QStringLiteral("Text1"));
    placeTw(Text1, 1740, 330, 2700, 360);
    Label1->setBuddy(Text1);
    Text1->setAccessibleName(QStringLiteral("用户名"));

    Label2 = new QLabel(QStringLiteral("密码："), Frame1);
    Label2->setObjectName(QStringLiteral("Label2"));
    placeTw(Label2, 600, 900, 1080, 300);
    Text2 = new QLineEdit(Frame1);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setEchoMode(QLineEdit::Password);
    // Each typed character shows as "*", not as the style's own dot.
    Text2->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    placeTw(Text2, 1740, 870, 2700, 360);
    Label2->setBuddy(Text2);
    Text2->setAccessibleName(QStringLiteral("密码"));

    Command1 = new QPushButton(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setIcon(signInIcon());
    Command1->setIconSize(QSize(tw(1200) - 12, tw(600) - 12));
    Command1->setToolTip(QStringLiteral("登录"));
    Command1->setAccessibleName(QStringLiteral("登录"));
    placeTw(Command1, 1560, 3180, 1200, 600);

    Command2 = new QPushButton(this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setIcon(closeIcon());
    Command2->setIconSize(QSize(tw(1200) - 12, tw(600) - 12));
    Command2->setToolTip(QStringLiteral("关闭"));
    Command2->setAccessibleName(QStringLiteral("关闭"));
    placeTw(Command2, 3480, 3180, 1200, 600);

    for (int i = 1; i < 4; ++i) {
        Image[size_t(i)] = new QLabel(this);
        Image[size_t(i)]->setObjectName(QStringLiteral("Image%1").arg(i + 1));
        Image[size_t(i)]->setPixmap(decorationPixmap(i, tw(360)));
        placeTw(Image[size_t(i)], 120 + (i - 1) * 420, 3780, 360, 360);
    }
    Image[0]->setObjectName(QStringLiteral("Image1"));

    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command1);
    setTabOrder(Command1, Command2);

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
    RecordsetPtr rs = runsql(QStringLiteral("select username from use where username='") + q(name) + QStringLiteral("'"));
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
    // The first sign-in of a day copies the archive in the background; a
    // failure is told once and the work goes on.
    // (On the shared server the clinic's own server backups take its place.)
    if (!onServer()) {
        startDailyBackup(dbPath(), [](const QString &why) {
            MsgBox(QStringLiteral("今天的自动备份没有成功：%1\n程序照常使用。请检查 backups 文件夹所在磁盘的空间和权限，"
                                  "或用 chengheng-db backup 手动备份。")
                       .arg(why),
                   vbExclamation | vbOKOnly, QStringLiteral("警告"));
        });
    }
    if (g_signedIn)
        g_signedIn();
    close();
}

void Frmdenlu::Command2_Click() { close(); }

}  // namespace xs
