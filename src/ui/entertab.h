#pragma once
#include <QObject>
#include <initializer_list>

class QWidget;

namespace xs {
// Enter in a box moves the focus on in the window's tab order, as Tab would.
// The key itself is not swallowed: the box still sees it afterwards.
class EnterAsTab : public QObject {
    Q_OBJECT
public:
    static EnterAsTab *instance();
    static void install(QWidget *w);
    static void install(std::initializer_list<QWidget *> ws);
    // Moves the focus from w to the next widget of its window that takes Tab.
    static void focusNext(QWidget *w);

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;
};
}  // namespace xs
