#include "mainwin/MDIForm1.h"

#include "cases/Form1.h"
#include "cases/Form3.h"
#include "cases/Form4.h"
#include "data/globals.h"
#include "dept/Formclass1.h"
#include "dept/Formclass2.h"
#include "dept/Formclass3.h"
#include "prescribe/Form2.h"
#include "signin/Frmdenlu.h"
#include "signin/frmuser1.h"
#include "ui/images.h"
#include "ui/msgbox.h"
#include "ui/rightsgate.h"
#include "ui/window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>

namespace xs {

namespace {
std::function<void()> g_quit = [] { QCoreApplication::exit(0); };
}

void MDIForm1::setQuitHandler(std::function<void()> h)
{
    g_quit = h ? std::move(h) : [] { QCoreApplication::exit(0); };
}

void MDIForm1::wireSignIn()
{
    Frmdenlu::setSignedInHandler([] { WindowRegistry::show<MDIForm1>(); });
}

namespace {
// The client area: the background picture once, unscaled, at the top left,
// and the window's background colour around it (a brush would tile it).
class BackgroundArea : public QMdiArea {
public:
    explicit BackgroundArea(QWidget *parent) : QMdiArea(parent), picture_(mainBackground())
    {
        setBackground(palette().brush(QPalette::Window));
    }

protected:
    void paintEvent(QPaintEvent *e) override
    {
        QPainter p(viewport());
        p.fillRect(e->rect(), palette().brush(QPalette::Window));
        p.drawPixmap(0, 0, picture_);
    }

private:
    QPixmap picture_;
};
}  // namespace

MDIForm1::MDIForm1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MDIForm1"));
    setWindowTitle(QStringLiteral("澄衡"));
    setWindowIcon(appIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    area_ = new BackgroundArea(this);
    area_->setObjectName(QStringLiteral("MDIClient"));
    area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(area_);
    WindowRegistry::setMdiArea(area_);
    connect(area_, &QMdiArea::subWindowActivated, this, [](QMdiSubWindow *sub) {
        if (sub)
            if (auto *w = qobject_cast<XsWindow *>(sub->widget()))
                w->activated();
    });

    buildGates();

    // Creates the action of a gated entry and adds it to `menu`, or to the
    // menu bar itself when menu is null.
    auto addGate = [this](QMenu *menu, const char *name) {
        for (const GateEntry &g : gates_) {
            if (qstrcmp(g.name, name) != 0)
                continue;
            auto *a = new QAction(QString::fromUtf8(g.caption), this);
            if (menu)
                menu->addAction(a);
            else
                menuBar()->addAction(a);
            a->setObjectName(QString::fromUtf8(g.name));
            if (*g.shortcut)
                a->setShortcut(QKeySequence(QString::fromLatin1(g.shortcut)));
            connect(a, &QAction::triggered, this, [this, &g] { runGate(g); });
            return a;
        }
        return static_cast<QAction *>(nullptr);
    };

    xitong = menuBar()->addMenu(QStringLiteral("系统管理 &(O)"));
    xitong->setObjectName(QStringLiteral("xitong"));
    addGate(xitong, "useradd");
    denglu2 = xitong->addAction(QStringLiteral("重新登陆"));
    denglu2->setObjectName(QStringLiteral("denglu2"));
    denglu2->setShortcut(QKeySequence(QStringLiteral("Ctrl+F1")));
    connect(denglu2, &QAction::triggered, this, &MDIForm1::denglu2_Click);
    exitAction = xitong->addAction(QStringLiteral("退出"));
    exitAction->setObjectName(QStringLiteral("exit"));
    connect(exitAction, &QAction::triggered, this, &MDIForm1::exit_Click);

    classMenu = menuBar()->addMenu(QStringLiteral("科室管理&(P)"));
    classMenu->setObjectName(QStringLiteral("class"));
    addGate(classMenu, "classbrowse");
    addGate(classMenu, "classapp");
    addGate(classMenu, "classfind");

    dangan = menuBar()->addMenu(QStringLiteral("病例档案管理&(T)"));
    dangan->setObjectName(QStringLiteral("dangan"));
    addGate(dangan, "add");
    addGate(dangan, "liulan");
    addGate(dangan, "claasfind");

    // The prescribing entry is a command on the menu bar itself, not a list.
    kaiyao = addGate(nullptr, "kaiyao");

    resize(1280, 800);
    setWindowState(Qt::WindowMaximized);

    // The menu's shortcut keys come before the keys of the text boxes in the
    // child windows (Ctrl+A, Ctrl+C, ... would otherwise select or copy text).
    qApp->installEventFilter(this);
}

bool MDIForm1::eventFilter(QObject *obj, QEvent *ev)
{
    if (ev->type() == QEvent::ShortcutOverride && obj->isWidgetType()
        && static_cast<QWidget *>(obj)->window() == this) {
        const auto *ke = static_cast<QKeyEvent *>(ev);
        const QKeySequence keys(ke->keyCombination());
        for (QAction *a : findChildren<QAction *>()) {
            if (!a->shortcut().isEmpty() && a->shortcut() == keys && a->isEnabled()) {
                // Not claimed by the box: the menu's shortcut runs.
                ev->ignore();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(obj, ev);
}

MDIForm1::~MDIForm1()
{
    if (WindowRegistry::mdiArea() == area_)
        WindowRegistry::setMdiArea(nullptr);
}

QAction *MDIForm1::entry(const QString &name) const
{
    for (QAction *a : findChildren<QAction *>())
        if (a->objectName() == name)
            return a;
    return nullptr;
}

void MDIForm1::runGate(const GateEntry &g)
{
    RightFlag = userright(g.code);
    if (rightsUnread(RightFlag))
        return;
    if (!gatePasses(g.gate, RightFlag)) {
        MsgBox(refusalText(g.gate), vbInformation | vbOKOnly, kRefusalTitle);
        return;
    }
    g.onPass();
}

void MDIForm1::buildGates()
{
    // The gated entries of the menus: name, caption, shortcut, right code, the
    // gate that guards it and the window it opens.
    gates_ = {
        {"useradd", "添加用户", "Ctrl+A", 1, Gate::Change,
         [] { WindowRegistry::bringToFront(WindowRegistry::show<frmuser1>()); }},
        {"classbrowse", "科室浏览", "Ctrl+C", 2, Gate::View, [] { WindowRegistry::show<Formclass2>(); }},
        {"classapp", "添加科室", "Ctrl+D", 2, Gate::Change,
         [] {
             Formclass1 *w = WindowRegistry::show<Formclass1>();
             DeptEditMode = false;
             w->classload();
             WindowRegistry::bringToFront(w);
         }},
        {"classfind", "科室查询", "Ctrl+E", 2, Gate::View,
         [] { WindowRegistry::bringToFront(WindowRegistry::show<Formclass3>()); }},
        {"add", "档案添加", "Ctrl+F", 2, Gate::Change,
         [] {
             Form1 *w = WindowRegistry::show<Form1>();
             CaseEditMode = false;
             WindowRegistry::bringToFront(w);
         }},
        {"liulan", "档案浏览", "Ctrl+G", 2, Gate::View,
         [] {
             CaseQueryFlag = false;
             WindowRegistry::show<Form3>();
         }},
        {"claasfind", "档案查询", "Ctrl+H", 2, Gate::View,
         [] {
             Form4 *w = WindowRegistry::show<Form4>();
             WindowRegistry::bringToFront(w);
             w->keepOnTop();
         }},
        {"kaiyao", "开药", "", 1, Gate::Prescribing,
         [] { WindowRegistry::bringToFront(WindowRegistry::show<Form2>()); }},
    };
}

void MDIForm1::denglu2_Click()
{
    WindowRegistry::show<Frmdenlu>();
    close();
}

void MDIForm1::exit_Click() { g_quit(); }

}  // namespace xs
