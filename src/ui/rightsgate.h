#pragma once
#include "data/rights.h"

#include <QString>

namespace xs {
// The rights look-up of the windows: sets nothing by itself; when the signed-in
// name has vanished from table use it tells the user "非法用户！" first. A
// look-up that failed gives the empty result; the failure is told once (a
// fault of the file by the fault listener, anything else here).
QString userright(int code);

// The gate refuses because the rights could not be read: the failure was told
// already, so no refusal follows it.
inline bool rightsUnread(const QString &right) { return right.isEmpty(); }

// The refusal shown by a gate: information icon, OK, title kRefusalTitle.
QString refusalText(Gate g);
// The title of every refusal of a right. The leading blank is intended: it is
// the title the user has always seen on these refusals, unlike the plain
// "警告" of the other warnings.
inline const QString kRefusalTitle = QStringLiteral(" 警告");
}  // namespace xs
