#pragma once
#include "ui/window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

namespace xs {

// The case record entry window: registers a new outpatient case record in xj
// or, when CaseEditMode is set, edits the record selected in the case browser.
class Form1 : public XsWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);

    QLabel *Label10;
    QGroupBox *Frame1;
    std::array<QLineEdit *, 17> Text1;
    std::array<QLabel *, 17> Label1;
    std::array<QComboBox *, 3> Combo1;  // 0 性别, 1 科室, 2 婚否
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QPushButton *Command1;
    QPushButton *Command2;

    // Fills the department list and sets the fields up for the current mode.
    void load1();
    void activated() override;

public slots:
    void Command1_Click();
    void Command2_Click();
};

}  // namespace xs
