#include "data/idcard.h"

#include <algorithm>
#include <array>

namespace xs {

namespace {

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// The check character of the first 17 digits.
QChar checkCharacter(QStringView digits)
{
    static constexpr std::array<int, 17> kWeights = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    static constexpr char kChecks[] = "10X98765432";
    int sum = 0;
    for (size_t i = 0; i < kWeights.size(); ++i)
        sum += digits[qsizetype(i)].digitValue() * kWeights[i];
    return QLatin1Char(kChecks[sum % 11]);
}

QString longDate(const QDate &d) { return QStringLiteral("%1年%2月%3日").arg(d.year()).arg(d.month()).arg(d.day()); }

// The birth date written at `at` as yyyyMMdd (`century` given, the digits
// then yyMMdd), checked; `info` gets the date or the problem.
void readBirth(QStringView number, qsizetype at, const QString &century, IdCardInfo &info)
{
    const QString written = century + number.mid(at, century.isEmpty() ? 8 : 6).toString();
    const QDate d = QDate::fromString(written, QStringLiteral("yyyyMMdd"));
    if (!d.isValid())
        info.problem = QStringLiteral("身份证号中的出生日期 %1 不是真实的日期").arg(written);
    else if (d.year() < 1900)
        info.problem = QStringLiteral("身份证号中的出生日期是 %1，早于 1900 年").arg(longDate(d));
    else if (d > QDate::currentDate())
        info.problem = QStringLiteral("身份证号中的出生日期是 %1，晚于今天").arg(longDate(d));
    else
        info.birth = d;
}

}  // namespace

IdCardInfo readIdCard(const QString &number)
{
    IdCardInfo info;
    const QString n = number.trimmed();
    if (n.isEmpty())
        return info;
    const qsizetype length = n.size();
    if (length != 18 && length != 15) {
        info.problem = QStringLiteral("身份证号应为 18 位或 15 位，现在是 %1 位").arg(length);
        return info;
    }
    const QStringView digits = QStringView(n).left(length == 18 ? 17 : 15);
    if (!std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
        info.problem = length == 18 ? QStringLiteral("18 位身份证号的前 17 位应为数字，末位应为数字或 X")
                                    : QStringLiteral("15 位身份证号应全为数字");
        return info;
    }
    const QChar last = n.back().toUpper();
    if (length == 18 && !isAsciiDigit(last) && last != QLatin1Char('X')) {
        info.problem = QStringLiteral("18 位身份证号的前 17 位应为数字，末位应为数字或 X");
        return info;
    }
    // A wrong date is told before a wrong check character: a mistyped date
    // spoils both, and the date is what has to be mended.
    readBirth(n, 6, length == 18 ? QString() : QStringLiteral("19"), info);
    if (!info.problem.isEmpty())
        return info;
    if (length == 18) {
        if (const QChar expected = checkCharacter(digits); last != expected) {
            info.birth = QDate();
            info.problem = QStringLiteral("校验位不对，应为 %1").arg(expected);
            return info;
        }
    }
    info.sex = digits[length == 18 ? 16 : 14].digitValue() % 2 ? QStringLiteral("男") : QStringLiteral("女");
    info.valid = true;
    return info;
}

}  // namespace xs
