#include "ui/pinyinfilter.h"

#include <QAbstractItemModel>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QToolTip>

namespace xs {

PinyinListFilter::PinyinListFilter(QListWidget *list) : QObject(list), list_(list)
{
    list->installEventFilter(this);
    // Chinese typed through an input method arrives as a commit.
    list->setAttribute(Qt::WA_InputMethodEnabled);
    QAbstractItemModel *m = list->model();
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(m, signal, this, [this] { clear(); });
    connect(m, &QAbstractItemModel::modelReset, this, [this] { clear(); });
    connect(m, &QAbstractItemModel::dataChanged, this, [this] { clear(); });
}

void PinyinListFilter::clear()
{
    names_.clear();
    if (typed_.isEmpty())
        return;
    typed_.clear();
    for (int i = 0; i < list_->count(); ++i)
        list_->setRowHidden(i, false);
    QToolTip::hideText();
}

void PinyinListFilter::setTyped(const QString &typed)
{
    if (typed.isEmpty()) {
        clear();
        return;
    }
    if (names_.size() != size_t(list_->count())) {
        names_.clear();
        names_.reserve(size_t(list_->count()));
        for (int i = 0; i < list_->count(); ++i)
            names_.emplace_back(list_->item(i)->text());
    }
    typed_ = typed;
    int first = -1;
    for (int i = 0; i < list_->count(); ++i) {
        const bool shown = names_[size_t(i)].match(typed_) >= 0;
        list_->setRowHidden(i, !shown);
        if (shown && first < 0)
            first = i;
    }
    list_->setCurrentRow(first);
    const QString tip = first < 0 ? QStringLiteral("查找：%1（没有相符的药品，Esc 清除）").arg(typed_)
                                  : QStringLiteral("查找：%1（Esc 清除）").arg(typed_);
    QToolTip::showText(list_->mapToGlobal(list_->rect().bottomLeft()), tip, list_);
}

bool PinyinListFilter::eventFilter(QObject *obj, QEvent *ev)
{
    if (obj != list_)
        return false;
    switch (ev->type()) {
    case QEvent::KeyPress: {
        const auto *k = static_cast<QKeyEvent *>(ev);
        if (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        if (k->key() == Qt::Key_Escape && !typed_.isEmpty()) {
            clear();
            return true;
        }
        if (k->key() == Qt::Key_Backspace && !typed_.isEmpty()) {
            setTyped(typed_.chopped(1));
            return true;
        }
        const QString text = k->text();
        if (text.size() == 1 && text[0].isLetterOrNumber()) {
            setTyped(typed_ + text);
            return true;
        }
        return false;
    }
    case QEvent::InputMethod: {
        const QString commit = static_cast<QInputMethodEvent *>(ev)->commitString();
        if (commit.isEmpty())
            return false;
        setTyped(typed_ + commit);
        return true;
    }
    case QEvent::FocusOut:
        clear();
        return false;
    default:
        return false;
    }
}

}  // namespace xs
