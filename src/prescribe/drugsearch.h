#pragma once
#include "data/pinyin.h"

#include <QDialog>
#include <QString>
#include <vector>

class QLineEdit;
class QTableWidget;

// 查找药品: every entry of the seventeen categories of 表1 found by what is
// typed (pinyin initials, whole or begun readings, or characters), listed
// with its category; the one chosen (Enter, 选定 or a double-click) is picked
// as a double-click in the prescribing window's drug list picks it.
namespace xs {

class DrugSearch : public QDialog {
public:
    explicit DrugSearch(QWidget *parent);
    // The entry chosen (valid once the dialog was accepted).
    const QString &chosen() const { return chosen_; }
    // Its category.
    const QString &chosenCategory() const { return chosenCategory_; }

    QLineEdit *typed;
    QTableWidget *found;

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;

private:
    struct Entry {
        QString text;
        QString category;
        PinyinName name;
        QString spec;  // 规格 from the drug catalogue ("" when it has no row for the entry)
    };
    void narrow();
    void choose();
    std::vector<Entry> entries_;
    QString chosen_;
    QString chosenCategory_;
};

}  // namespace xs
