#pragma once
#include "ui/fieldform.h"
#include "ui/window.h"

#include <QLabel>
#include <QPushButton>
#include <array>
#include <optional>

namespace xs {

// The department editor: adds a row of class or, when DeptEditMode is set,
// edits the row selected in the department browser. Text1(i) holds column i
// of class; Text1(0..5) have the caption labels Label2(0..5), the multi-line
// 备注 box Text1(6) has Label8.
class Formclass1 : public XsWindow {
    Q_OBJECT
public:
    explicit Formclass1(QWidget *parent = nullptr);

    QLabel *Label1;
    std::array<TextBox *, 7> Text1;
    std::array<QLabel *, 6> Label2;
    QLabel *Label8;
    QLabel *Label4;
    QLabel *Label7;
    QPushButton *Command1;
    QPushButton *Command2;
    QString printstr;  // the statement being built and run

    // Sets the caption and the fields for the current mode.
    void classload();
    // Focus to 年级; what was typed stays.
    void activated() override;

    // The typing limit of box i as designed (0: none).
    static int typingLimit(int i);

public slots:
    void Command1_Click();
    void Command2_Click();

private:
    // Replaces the rows of department `dept` by the row typed, in one
    // transaction; tells the user and keeps everything when it fails.
    bool store(const QString &dept);
    void clearBoxes();
    // Modify mode: the department whose row classload loaded (none when no
    // row was found).
    std::optional<QString> loadedDept_;
};

}  // namespace xs
