#pragma once
#include "ui/window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

namespace xs {

// The case record query dialog: builds a condition from its boxes and shows
// the matching records in the case browser.
class Form4 : public XsWindow {
    Q_OBJECT
public:
    explicit Form4(QWidget *parent = nullptr);
    ~Form4() override;

    QLabel *Label3;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label4;
    QLabel *Label5;
    std::array<QLineEdit *, 4> Text1;  // 门诊号, 姓名, 科室, name keyword
    QPushButton *Command1;
    QPushButton *Command2;

    void activated() override;

public slots:
    void Command1_Click();
    void Command2_Click();
};

}  // namespace xs
