#pragma once
#include <QDate>
#include <QString>

// Reading a resident identity card number (身份证号): the 18-character form
// of GB 11643-1999 and the old 15-digit form. No database: what the number
// itself tells.
namespace xs {

struct IdCardInfo {
    bool valid = false;
    QDate birth;
    QString sex;      // 男 or 女
    QString problem;  // why the number cannot be right; "" when valid or empty
};

// The 18-character number: 17 digits and a check character (ISO 7064
// MOD 11-2, X or x for ten), the birth date yyyyMMdd at positions 7-14, the
// 17th digit odd for 男 and even for 女. The 15-digit number: the birth date
// 19yyMMdd at positions 7-12, the 15th digit for the sex, no check digit.
// The birth date must be a real date, not before 1900 and not after today.
// Outer blanks are ignored; an empty number is neither valid nor a problem.
IdCardInfo readIdCard(const QString &number);

}  // namespace xs
