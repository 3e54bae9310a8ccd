#include "data/globals.h"

namespace xs {
void resetGlobals()
{
    CurrentUser.clear();
    RightFlag.clear();
    SqlText.clear();
    CaseEditMode = DeptEditMode = CaseQueryFlag = DeptQueryFlag = false;
}
}  // namespace xs
