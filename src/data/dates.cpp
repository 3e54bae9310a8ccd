#include "data/dates.h"

#include <QRegularExpression>

namespace xs {

QString shortDate(const QDate &d) { return d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd")) : QString(); }

QString todayText() { return shortDate(QDate::currentDate()); }

std::optional<QDate> parseDate(const QString &input)
{
    static const QRegularExpression ymd(QStringLiteral(R"(^(\d{4})([-/.])(\d{1,2})\2(\d{1,2})$)"));
    static const QRegularExpression ymdCn(QStringLiteral(R"(^(\d{4})年(\d{1,2})月(\d{1,2})日$)"));
    static const QRegularExpression mdy(QStringLiteral(R"(^(\d{1,2})([-/])(\d{1,2})\2(\d{2}|\d{4})$)"));
    const QString t = input.trimmed();
    int y = 0, m = 0, d = 0;
    if (auto r = ymd.match(t); r.hasMatch()) {
        y = r.captured(1).toInt();
        m = r.captured(3).toInt();
        d = r.captured(4).toInt();
    } else if (auto c = ymdCn.match(t); c.hasMatch()) {
        y = c.captured(1).toInt();
        m = c.captured(2).toInt();
        d = c.captured(3).toInt();
    } else if (auto u = mdy.match(t); u.hasMatch()) {
        m = u.captured(1).toInt();
        d = u.captured(3).toInt();
        const QString ys = u.captured(4);
        y = ys.toInt();
        if (ys.size() == 2)
            y += y < 30 ? 2000 : 1900;
    } else {
        return std::nullopt;
    }
    if (y < 100)  // a four-digit year field such as 0099 is no real date here
        return std::nullopt;
    const QDate date(y, m, d);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

}  // namespace xs
