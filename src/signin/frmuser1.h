#pragma once
#include "ui/window.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

namespace xs {

// Adds a user account: a name and a password, nothing else.
class frmuser1 : public XsWindow {
    Q_OBJECT
public:
    explicit frmuser1(QWidget *parent = nullptr);

    QGroupBox *Frame1;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    std::array<QLineEdit *, 3> Text1;  // name, password, confirmation
    QPushButton *Command1;
    QPushButton *Command2;
    QLabel *Image1;

    // Moves the focus to the name when the dialog was resized while another
    // window was in front.
    void activated() override;

public slots:
    void Command1_Click();
    void Command2_Click();

protected:
    void resizeEvent(QResizeEvent *e) override;
    void changeEvent(QEvent *e) override;
    bool event(QEvent *e) override;
    bool eventFilter(QObject *obj, QEvent *ev) override;

private:
    void refuse(const QString &text, int box, bool select);
    // The focus to the name box, now when the dialog is the active window,
    // else when it next becomes active.
    void focusName();
    bool isActiveChild() const;
    // After a change of window state (maximised, restored) the frame puts the
    // focus back where it was once the resize is over; the name box takes it
    // after that.
    void focusNameAfterStateChange(const QEvent *e);
    bool nameOnActivation_ = false;
};

}  // namespace xs
