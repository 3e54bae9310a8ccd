#include "data/caserecord.h"

#include "data/dates.h"
#include "data/sqltext.h"

namespace xs {

const std::array<CaseFieldSlot, 20> &caseFieldSlots()
{
    static const std::array<CaseFieldSlot, 20> fieldSlots = {{
        {false, 0},   // 门诊号
        {false, 1},   // 姓名
        {true, 0},    // 性别
        {true, 1},    // 科室
        {false, 2},   // 出生年月
        {false, 3},   // 家庭住址
        {false, 4},   // 邮政编码
        {false, 5},   // 联系电话
        {false, 6},   // 入诊时间
        {false, 7},   // 备注
        {true, 2},    // 婚否
        {false, 8},   // 体格检查
        {false, 9},   // 既往病史
        {false, 10},  // 症状
        {false, 11},  // 诊断
        {false, 12},  // 药名
        {false, 13},  // 药量
        {false, 14},  // 医生签字
        {false, 15},  // 年龄
        {false, 16},  // 身份证
    }};
    return fieldSlots;
}

namespace {
int columnOf(bool combo, int i)
{
    const auto &fieldSlots = caseFieldSlots();
    for (int c = 0; c < int(fieldSlots.size()); ++c)
        if (fieldSlots[size_t(c)].combo == combo && fieldSlots[size_t(c)].index == i)
            return c;
    return -1;
}
}  // namespace

int columnOfTextBox(int i) { return columnOf(false, i); }

std::optional<QString> caseUpdateStatement(const QString &head, const std::array<QString, 20> &values,
                                           const QString &key)
{
    // The literal in front of each column's value, in column order; the first
    // one is the head. The blanks in them are part of the statement.
    static const char *const literals[20] = {
        nullptr,         "',姓名='",      "',性别='",      "',科室='",      "',出生年月=#",
        "# ,家庭住址='", "' ,邮政编码='", "' ,联系电话='", "' ,入诊时间=#", "# ,备注='",
        "',婚否='",      "' ,体格检查='", "' ,既往病史='", "' ,症状='",     "' ,诊断='",
        "' ,药名='",     "' ,药量='",     "' ,医生签字='", "' ,年龄='",     "' ,身份证='",
    };
    QString sql = head;
    for (int c = 0; c < 20; ++c) {
        if (c > 0)
            sql += QString::fromUtf8(literals[c]);
        const QString &v = values[size_t(c)];
        if (isDateColumn(c)) {
            const auto d = parseDate(v);
            if (!d)
                return std::nullopt;
            sql += shortDate(*d);
        } else {
            sql += q(v);
        }
    }
    sql += QStringLiteral("'where 门诊号='") + q(key) + QStringLiteral("'");
    return sql;
}

}  // namespace xs
