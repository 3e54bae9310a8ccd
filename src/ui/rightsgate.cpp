#include "ui/rightsgate.h"

#include "ui/msgbox.h"

namespace xs {
QString userright(int code)
{
    const RightLookup r = lookupRight(code);
    if (r.vanished)
        MsgBox(QStringLiteral("非法用户！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
    return r.result;
}
}  // namespace xs
