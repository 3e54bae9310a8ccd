#pragma once
#include "ui/window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

namespace xs {

// The case record query dialog: builds a condition from its boxes and shows
// the matching records in the case browser, which it puts into query mode.
class Form4 : public XsWindow {
    Q_OBJECT
public:
    explicit Form4(QWidget *parent = nullptr);

    QLabel *Label3;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label4;
    QLabel *Label5;
    std::array<QLineEdit *, 4> Text1;  // 门诊号, 姓名, 科室, part of a name
    QPushButton *Command1;
    QPushButton *Command2;

    // Sets CaseQueryFlag: the case browser now belongs to this dialog.
    void activated() override;
    // Keeps the dialog in front of the other child windows while it is open,
    // also when another one becomes active.
    void keepOnTop();
    bool isKeptOnTop() const { return onTop_; }

    // The condition of the boxes as 确定 builds it (empty: no box filled).
    QString condition() const;

public slots:
    void Command1_Click();
    void Command2_Click();

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;
    void focusOutEvent(QFocusEvent *e) override;
    // Closing ends the browser's query mode before the next window becomes
    // active, so that window's activation already sees it ended.
    void closeEvent(QCloseEvent *e) override;

private:
    void raiseFrame();
    bool onTop_ = false;
};

}  // namespace xs
