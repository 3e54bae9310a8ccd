#pragma once
#include "data/pinyin.h"

#include <QObject>
#include <QString>
#include <vector>

class QListWidget;

// Typing into a list narrows it to the entries whose pinyin initials, whole
// or begun readings, or characters match what was typed ("amxl", "amoxi",
// "阿莫"), and makes the first of them current. Backspace takes back the last
// letter; Esc, leaving the list or new contents show every entry again.
// What was typed is shown in a tip beside the list.
namespace xs {

class PinyinListFilter : public QObject {
public:
    explicit PinyinListFilter(QListWidget *list);
    const QString &typed() const { return typed_; }
    // Narrows the list to `typed` (empty: every entry).
    void setTyped(const QString &typed);

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;

private:
    void clear();
    QListWidget *list_;
    QString typed_;
    std::vector<PinyinName> names_;  // of the list's rows, made on the first letter typed
};

}  // namespace xs
