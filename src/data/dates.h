#pragma once
#include <QDate>
#include <QString>
#include <optional>

// The one place that reads dates typed by users and writes the short date form.
namespace xs {
// Short date form shown by every grid, box and report: yyyy-MM-dd.
QString shortDate(const QDate &d);
// Accepted: yyyy-M-d, yyyy/M/d, yyyy.M.d, yyyy年M月d日, M-d-yy, M/d/yy,
// M-d-yyyy, M/d/yyyy (outer blanks ignored). Two-digit years 00-29 are
// 2000-2029, 30-99 are 1930-1999. Only real calendar dates.
std::optional<QDate> parseDate(const QString &text);
inline bool isDate(const QString &text) { return parseDate(text).has_value(); }
// Today in the short date form.
QString todayText();
}  // namespace xs
