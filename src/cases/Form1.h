#pragma once
#include "ui/fieldform.h"
#include "ui/window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <array>

namespace xs {

class Recordset;

// The case record entry window: registers a new outpatient case record in xj
// or, when CaseEditMode is set, edits the record selected in the case browser.
// Text1(i) has the caption label Label1(i); the combo boxes hold 性别, 科室 and
// 婚否 (see data/caserecord.h for which control holds which column).
class Form1 : public XsWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);

    QLabel *Label10;
    QGroupBox *Frame1;
    std::array<TextBox *, 17> Text1;
    std::array<QLabel *, 17> Label1;
    std::array<QComboBox *, 3> Combo1;  // 0 性别, 1 科室, 2 婚否
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    QPushButton *Command1;
    QPushButton *Command2;

    // Fills the department list and sets the fields up for the current mode.
    void load1();
    // Focus to 门诊号, then load1.
    void activated() override;

    // The typing limit of text box i as designed (0: none).
    static int typingLimit(int i);

public slots:
    void Command1_Click();
    void Command2_Click();

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override;

private:
    // The 门诊号 of the case browser's selected row, trimmed; empty when the
    // browser is not open.
    static QString browserKey();
    // The twenty values of the record as typed, trimmed, in column order.
    std::array<QString, 20> values() const;
    void fillFrom(const Recordset &rs);
    void clearBoxes();
    bool store();
    bool modify();
};

}  // namespace xs
