#pragma once
#include <QColor>
#include <QObject>
#include <QPalette>
#include <QString>

class QComboBox;

// The hint an entry window gives beside its 身份证 box. It blocks nothing: the
// record is stored as typed, whatever the hint says.
namespace xs {

class TextBox;

// What there is to tell about `number` in a record whose 性别 is `sex` and
// whose 出生年月 is `birth`: the problem of a number that cannot be right, or,
// for a right one, where it disagrees with 性别 (compared when it is 男 or 女)
// or 出生年月 (compared when it reads as a date), one line each. "" when
// there is nothing to tell, or no number.
QString idCardHint(const QString &number, const QString &sex, const QString &birth);

// Keeps the hint of an entry window's 身份证 box up to date as the number, the
// 性别 or the 出生年月 change: with a hint the box gets a light red
// background and the hint as its tooltip; without, its own look back and no
// tooltip. A child of the 身份证 box.
class IdCardHint : public QObject {
public:
    IdCardHint(TextBox *number, QComboBox *sex, TextBox *birth);
    // The background of a box with a hint.
    static QColor colour() { return {255, 210, 210}; }

private:
    void refresh();
    TextBox *number_;
    QComboBox *sex_;
    TextBox *birth_;
    bool marked_ = false;
    QPalette own_;  // the box's palette before it was marked
};

}  // namespace xs
