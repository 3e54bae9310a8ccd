#pragma once
#include "ui/window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

namespace xs {

// The department query dialog: builds a condition from its boxes and shows
// the matching rows in the department browser, which it puts into query mode.
class Formclass3 : public XsWindow {
    Q_OBJECT
public:
    explicit Formclass3(QWidget *parent = nullptr);

    QLabel *Label3;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label4;
    std::array<QLineEdit *, 3> Text1;  // 年级, 科室, 专业
    QPushButton *Command1;

    // The condition of the boxes as 确定 builds it (empty: no box filled).
    QString condition() const;

public slots:
    void Command1_Click();

protected:
    // Closing ends the browser's query mode before the next window becomes
    // active, so that window's activation already sees it ended.
    void closeEvent(QCloseEvent *e) override;
};

}  // namespace xs
