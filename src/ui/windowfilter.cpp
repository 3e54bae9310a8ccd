#include "ui/windowfilter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace xs {

namespace {
// QLineEdit's default maxLength.
constexpr int kLineEditDefaultLimit = 32767;
}  // namespace

void WindowFilter::ensureInstalled()
{
    static QPointer<WindowFilter> filter;
    if (filter || !qApp)
        return;
    filter = new WindowFilter;
    filter->setParent(qApp);
    qApp->installEventFilter(filter);
}

void WindowFilter::liftDefaultLimit(QLineEdit *box)
{
    if (box && box->maxLength() == kLineEditDefaultLimit && box->inputMask().isEmpty())
        box->setMaxLength(kNoTypingLimit);
}

bool WindowFilter::eventFilter(QObject *obj, QEvent *ev)
{
    switch (ev->type()) {
    case QEvent::Polish:
        // Sent once to every widget before it is first shown.
        if (auto *box = qobject_cast<QLineEdit *>(obj))
            liftDefaultLimit(box);
        break;
    case QEvent::KeyPress: {
        auto *k = static_cast<QKeyEvent *>(ev);
        if (k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter)
            break;
        if (k->modifiers() & ~Qt::KeypadModifier)
            break;
        auto *button = qobject_cast<QPushButton *>(obj);
        if (!button || !button->hasFocus() || !button->isEnabled() || !button->isVisible())
            break;
        // A button of a dialog presses itself on Enter (auto-default or the
        // default button); pressing it here as well would press it twice.
        if (button->autoDefault() || button->isDefault())
            break;
        if (!k->isAutoRepeat())
            button->click();
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(obj, ev);
}

}  // namespace xs
