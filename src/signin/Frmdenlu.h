#pragma once
#include "ui/window.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <functional>

namespace xs {

// The login window: the first window of the application.
class Frmdenlu : public XsWindow {
    Q_OBJECT
public:
    explicit Frmdenlu(QWidget *parent = nullptr);
    bool isMdiChild() const override { return false; }
    // What a successful sign-in opens (the main window); the application
    // wires it at start-up, so the login window knows nothing above it.
    static void setSignedInHandler(std::function<void()> handler);

    QLabel *Label3;
    QGroupBox *Frame1;
    QLabel *Label1;
    QLineEdit *Text1;
    QLabel *Label2;
    QLineEdit *Text2;
    QPushButton *Command1;
    QPushButton *Command2;
    std::array<QLabel *, 4> Image;  // Image1..Image4, decoration

public slots:
    void Command1_Click();
    void Command2_Click();

protected:
    void showEvent(QShowEvent *e) override;
};

}  // namespace xs
