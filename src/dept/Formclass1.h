#pragma once
#include "ui/window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <array>

namespace xs {

// The department editor: adds a row of class or, when DeptEditMode is set,
// edits the row selected in the department browser.
class Formclass1 : public XsWindow {
    Q_OBJECT
public:
    explicit Formclass1(QWidget *parent = nullptr);

    QLabel *Label1;
    std::array<QLineEdit *, 7> Text1;
    std::array<QLabel *, 6> Label2;
    QLabel *Label8;
    QLabel *Label4;
    QLabel *Label7;
    QPushButton *Command1;
    QPushButton *Command2;
    QString printstr;  // the statement being built and run

    // Sets the caption and the fields for the current mode.
    void classload();
    void activated() override;

public slots:
    void Command1_Click();
    void Command2_Click();
};

}  // namespace xs
