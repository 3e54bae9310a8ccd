#include "ui/layout.h"

#include "ui/fieldform.h"
#include "ui/flexgrid.h"
#include "ui/images.h"
#include "ui/twips.h"
#include "ui/window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace xs {

QWidget *Controls::widget(const QString &name) const
{
    QWidget *w = byName_.value(name);
    if (!w)
        qFatal("layout table without control %s", qPrintable(name));
    return w;
}

const Control *controlNamed(std::span<const Control> controls, const QString &name)
{
    for (const Control &c : controls)
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

Controls buildControls(QWidget *window, std::span<const Control> controls)
{
    Controls built;
    for (const Control &c : controls) {
        QWidget *parent = c.parent ? built.get<QWidget>(c.parent) : window;
        const QString caption = QString::fromUtf8(c.caption);
        QWidget *w = nullptr;
        switch (c.kind) {
        case Control::Label:
        case Control::Picture: {
            auto *l = new QLabel(caption, parent);
            if (c.align)
                l->setAlignment(Qt::Alignment(c.align));
            w = l;
            break;
        }
        case Control::Line:
            w = new QLineEdit(parent);
            break;
        case Control::Caret:
            w = new KeepCaretLineEdit(parent);
            break;
        case Control::Box:
        case Control::Memo: {
            auto *t = new TextBox(c.kind == Control::Memo ? TextBox::MultiLine : TextBox::SingleLine, parent);
            t->setTypingLimit(c.limit);
            w = t;
            break;
        }
        case Control::Combo:
            w = new QComboBox(parent);
            break;
        case Control::Button:
            w = new QPushButton(caption, parent);
            break;
        case Control::Frame:
            w = new QGroupBox(caption, parent);
            break;
        case Control::Grid:
            w = new FlexGrid(parent);
            break;
        case Control::List:
            w = new QListWidget(parent);
            break;
        }
        w->setObjectName(QString::fromUtf8(c.name));
        if (c.width || c.height)
            placeTw(w, c.left, c.top, c.width, c.height);
        built.byName_.insert(w->objectName(), w);
    }
    // Pairs last: a label may stand before the box it names.
    for (const Control &c : controls)
        if (c.buddy)
            pairLabel(built.get<QLabel>(c.name), built.get<QWidget>(c.buddy));
    return built;
}

Controls buildWindow(XsWindow *window, const WindowLayout &layout)
{
    window->setObjectName(QString::fromUtf8(layout.name));
    window->setWindowTitle(QString::fromUtf8(layout.caption));
    window->setWindowIcon(appIcon());
    window->setClientSizeTw(layout.clientWidth, layout.clientHeight);
    Controls built = buildControls(window, layout.controls);
    auto stop = [&built](const char *name) {
        QWidget *w = built.get<QWidget>(name);
        if (auto *t = qobject_cast<TextBox *>(w))
            return t->editor();
        return w;
    };
    for (size_t i = 0; i + 1 < layout.tabOrder.size(); ++i)
        QWidget::setTabOrder(stop(layout.tabOrder[i]), stop(layout.tabOrder[i + 1]));
    return built;
}

}  // namespace xs
