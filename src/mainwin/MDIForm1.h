#pragma once
#include "data/rights.h"

#include <QAction>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <functional>
#include <vector>

namespace xs {

class MDIForm1;

// One gated menu entry: which right it asks for, which gate rule decides, and
// what it does when the gate passes.
struct GateEntry {
    const char *name;      // menu entry name (objectName of its action)
    const char *caption;   // caption shown in the menu
    const char *shortcut;  // key sequence, or empty
    int code;              // rights code asked of userright
    Gate gate;
    std::function<void()> onPass;
};

// The application's frame: an MDI parent whose menus are the only way to the
// functions, each behind a rights gate.
class MDIForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit MDIForm1(QWidget *parent = nullptr);
    ~MDIForm1() override;

    QMdiArea *mdiArea() const { return area_; }
    QMenu *xitong;
    QMenu *classMenu;  // "class" is a C++ keyword; objectName is "class"
    QMenu *dangan;
    QAction *kaiyao;
    QAction *denglu2;
    QAction *exitAction;  // objectName "exit"

    // The gate table in menu order.
    const std::vector<GateEntry> &gates() const { return gates_; }
    // The action of a menu entry by its name ("useradd", "liulan", ...).
    QAction *entry(const QString &name) const;
    // Runs a gated entry: RightFlag := userright(code), then its window or the refusal.
    void runGate(const GateEntry &g);

    // What "退出" does (replaced in tests: ending the test process is no test).
    static void setQuitHandler(std::function<void()> h);
    // Makes a successful sign-in open the main window.
    static void wireSignIn();

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;

private:
    void buildGates();
    void denglu2_Click();
    void exit_Click();

    QMdiArea *area_;
    std::vector<GateEntry> gates_;
};

}  // namespace xs
