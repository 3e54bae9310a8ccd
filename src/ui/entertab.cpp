#include "ui/entertab.h"

#include <QKeyEvent>
#include <QWidget>

namespace xs {

EnterAsTab *EnterAsTab::instance()
{
    static EnterAsTab *f = new EnterAsTab;
    return f;
}

void EnterAsTab::install(QWidget *w) { w->installEventFilter(instance()); }

void EnterAsTab::install(std::initializer_list<QWidget *> ws)
{
    for (QWidget *w : ws)
        install(w);
}

void EnterAsTab::focusNext(QWidget *w)
{
    // Tab stays inside an MDI child window, as the child's own Tab does.
    QWidget *top = w;
    while (top->parentWidget() && !top->isWindow() && top->windowType() != Qt::SubWindow)
        top = top->parentWidget();
    for (QWidget *n = w->nextInFocusChain(); n && n != w; n = n->nextInFocusChain()) {
        if ((n->focusPolicy() & Qt::TabFocus) && n->isVisibleTo(w->window()) && n->isEnabled()
            && n->window() == w->window() && !n->focusProxy() && (top->isWindow() || top->isAncestorOf(n))) {
            n->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

bool EnterAsTab::eventFilter(QObject *obj, QEvent *ev)
{
    if (ev->type() == QEvent::KeyPress) {
        auto *k = static_cast<QKeyEvent *>(ev);
        if ((k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
            && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            if (auto *w = qobject_cast<QWidget *>(obj))
                focusNext(w);
        }
    }
    return false;
}

}  // namespace xs
