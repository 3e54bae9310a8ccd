#pragma once
#include <QString>

// Process-wide state shared by the windows. Strings start empty, flags start
// false; nothing here is ever written to disk.
namespace xs {
inline QString CurrentUser;         // stored name of the signed-in user
inline QString RightFlag;           // latest rights result of a gate
inline QString SqlText;             // statement handed from one window to another
inline bool CaseEditMode = false;   // case entry / prescribing window modify instead of add
inline bool DeptEditMode = false;   // department editor modifies instead of adding
inline bool CaseQueryFlag = false;  // the case query dialog drives the case browser
inline bool DeptQueryFlag = false;  // the department query dialog drives the department browser

// Puts every variable back to its start-up value (used between tests).
void resetGlobals();
}  // namespace xs
