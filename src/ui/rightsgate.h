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

// The refusal shown by a gate: information icon, OK, title " 警告".
QString refusalText(Gate g);
}  // namespace xs
