#pragma once
#include "data/fault.h"

#include <QString>

namespace xs {

// Result of a rights look-up for the signed-in user (CurrentUser).
struct RightLookup {
    QString result;         // "admin", "readonly", "true", "false", "nothing" or empty
    bool vanished = false;  // the signed-in name is no longer in table use
    bool failed = false;    // the look-up itself failed (the file cannot be read, say)
    DbFault fault = DbFault::None;
    QString error;  // why, in Chinese, when failed
};

// Reads the user's flags afresh: admin "y" -> "admin"; else readonly "y" ->
// "readonly"; else qx<code> "y" -> "true", otherwise "false". A flag is set
// only by exactly "y". A code outside 1..4 gives "false"; a failing look-up
// gives the empty result. Shows nothing (userright() in ui tells the user).
RightLookup lookupRight(int code);

// The four gate rules. Unlike the old gates, "nothing" and the empty result
// never pass.
enum class Gate { View, Change, EditButton, Prescribing };
bool gatePasses(Gate g, const QString &right);

}  // namespace xs
