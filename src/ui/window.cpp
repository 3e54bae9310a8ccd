#include "ui/window.h"

#include "ui/twips.h"
#include "ui/windowfilter.h"

#include <QEvent>

#include <algorithm>

namespace xs {

namespace {
QPointer<QMdiArea> g_mdiArea;
}

XsWindow::XsWindow(QWidget *parent) : QWidget(parent)
{
    // Enter on buttons and the boxes' length limit behave alike in every window.
    WindowFilter::ensureInstalled();
}

void XsWindow::setClientSizeTw(int width, int height) { resize(tw(width), tw(height)); }

bool XsWindow::event(QEvent *e)
{
    if (e->type() == QEvent::WindowActivate && isWindow())
        activated();
    const bool handled = QWidget::event(e);
    // A child window that closes itself takes its MDI frame with it, so no
    // empty frame stays behind as the active child.
    if (e->type() == QEvent::Close && e->isAccepted() && !closingFrame_) {
        if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget())) {
            closingFrame_ = true;
            sub->close();
        }
    }
    return handled;
}

void WindowRegistry::setMdiArea(QMdiArea *area) { g_mdiArea = area; }
QMdiArea *WindowRegistry::mdiArea() { return g_mdiArea; }

std::map<QByteArray, QPointer<QWidget>> &WindowRegistry::windows()
{
    static std::map<QByteArray, QPointer<QWidget>> m;
    return m;
}

QWidget *WindowRegistry::findByName(const char *className)
{
    auto it = windows().find(QByteArray(className));
    QWidget *w = it == windows().end() ? nullptr : it->second.data();
    // A closed window lives on until its deferred deletion (Qt clears
    // WA_DeleteOnClose when it closes one); it is no longer open.
    return w && w->testAttribute(Qt::WA_DeleteOnClose) ? w : nullptr;
}

void WindowRegistry::present(QWidget *w)
{
    w->setAttribute(Qt::WA_DeleteOnClose);
    auto *xw = qobject_cast<XsWindow *>(w);
    if (xw && xw->isMdiChild() && g_mdiArea) {
        // The window's client size was set in twips; keep it inside the frame.
        const QSize client = w->size();
        QMdiSubWindow *sub = g_mdiArea->addSubWindow(w);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowIcon(w->windowIcon());
        sub->show();
        sub->resize(client.width() + sub->width() - w->width(), client.height() + sub->height() - w->height());
        // The area places a new child beside the open ones, which can put it
        // past the visible edge; pull it back so that it opens in full view
        // (its top-left corner stays visible when it is larger than the area).
        const QSize view = g_mdiArea->viewport()->size();
        const int x = std::clamp(sub->x(), 0, std::max(0, view.width() - sub->width()));
        const int y = std::clamp(sub->y(), 0, std::max(0, view.height() - sub->height()));
        sub->move(x, y);
        g_mdiArea->setActiveSubWindow(sub);
    } else {
        w->show();
        w->raise();
        w->activateWindow();
    }
}

void WindowRegistry::bringToFront(QWidget *w)
{
    if (!w)
        return;
    if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget())) {
        if (sub->isHidden())
            sub->show();
        w->show();
        sub->raise();
        if (QMdiArea *area = sub->mdiArea())
            area->setActiveSubWindow(sub);
        return;
    }
    w->show();
    w->raise();
    w->activateWindow();
}

void WindowRegistry::closeAll()
{
    for (auto &[name, w] : windows()) {
        if (!w)
            continue;
        QWidget *target = w;
        if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget()))
            target = sub;
        target->close();
    }
    windows().clear();
}

}  // namespace xs
