#include "ui/rightsgate.h"

#include "ui/msgbox.h"

namespace xs {
QString userright(int code)
{
    const RightLookup r = lookupRight(code);
    if (r.vanished)
        MsgBox(QStringLiteral("非法用户！"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
    if (r.failed && !isFileFault(r.fault))
        MsgBox(QStringLiteral("无法读取用户权限，操作没有进行。\n") + r.error, vbExclamation | vbOKOnly,
               QStringLiteral("警告"));
    return r.result;
}

QString refusalText(Gate g)
{
    return g == Gate::Prescribing ? QStringLiteral("对不起，你是普通用户不能修改记录，请与管理员联系！")
                                  : QStringLiteral("对不起，你没有管理本功能的权限，请与管理员联系！");
}
}  // namespace xs
