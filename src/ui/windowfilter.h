#pragma once
#include <QObject>
#include <limits>

class QLineEdit;

namespace xs {

// The typing limit of a box that has none: any length is accepted.
inline constexpr int kNoTypingLimit = std::numeric_limits<int>::max();

// One application-wide event filter for what every window does alike:
// - Enter (Return or the keypad Enter) on a focused command button presses
//   it, once, as Space does. Boxes, lists and grids keep their own Enter.
// - A one-line box left at the line edit's own limit (32,767 characters,
//   which silently cuts a longer paste) takes any length instead.
class WindowFilter : public QObject {
    Q_OBJECT
public:
    // Installs the filter on the application once; later calls do nothing.
    static void ensureInstalled();
    // Lifts the line edit's built-in limit from `box`; a limit set on
    // purpose (any other value) stays.
    static void liftDefaultLimit(QLineEdit *box);

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;
};

}  // namespace xs
