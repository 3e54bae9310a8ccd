#pragma once
#include "data/rights.h"

#include <QString>

namespace xs {
// The rights look-up of the windows: sets nothing by itself; when the signed-in
// name has vanished from table use it tells the user "非法用户！" first.
QString userright(int code);

// The refusal shown by a gate: information icon, OK, title " 警告".
QString refusalText(Gate g);
}  // namespace xs
