#include "prescribe/prescribefields.h"

#include "data/recordset.h"
#include "data/sqltext.h"

#include <optional>

namespace xs {

const std::array<PrescribeField, 20> &prescribeFields()
{
    static const std::array<PrescribeField, 20> f = {{
        {"门诊号", 0, 720, 240, 1095, 375},
        {"姓名", 1, 2640, 240, 1095, 375},
        {"性别", 2, 720, 840, 1095, 300},
        {"科室", 19, 2640, 840, 1095, 300},
        {"出生年月", 17, 720, 2040, 1095, 375},
        {"家庭住址", 6, 720, 2640, 4815, 375},
        {"邮政编码", 18, 2640, 1440, 1095, 375},
        {"电话", 5, 720, 1440, 1095, 375},
        {"入诊时间", 16, 4440, 1440, 1095, 375},
        {"备注", 15, 720, 6600, 4815, 1335},
        {"婚否", 3, 4440, 840, 1095, 300},
        {"体格检查", 9, 720, 4440, 4815, 975},
        {"既往病史", 10, 2640, 2040, 1095, 375},
        {"症状", 7, 720, 3600, 4815, 855},
        {"诊断", 11, 720, 5400, 4815, 1215},
        {"药名", 12, 5520, 360, 4215, 7575},
        {"药量", 13, 9720, 360, 3735, 7575},
        {"医生签字", 14, 4440, 2040, 1095, 375},
        {"年龄", 4, 4440, 240, 1095, 375},
        {"身份证", 8, 720, 3120, 4815, 375},
    }};
    return f;
}

QString archiveStatement(const QString &key)
{
    return QStringLiteral(
               "insert into xj(门诊号,姓名,性别,科室,出生年月,家庭住址,邮政编码,联系电话,入诊时间,备注,婚否,"
               "体格检查,既往病史,症状,诊断,药名,药量,医生签字,年龄,身份证)select 门诊号,姓名,性别,科室,"
               "出生年月,家庭住址,邮政编码,联系电话,入诊时间,备注,婚否,体格检查,既往病史,症状,诊断,药名,"
               "药量,医生签字,年龄,身份证  from yc where 门诊号='")
           + q(key) + QStringLiteral("'");
}

ArchiveOutcome archiveWorkRows(const QString &key)
{
    ArchiveOutcome out;
    Transaction tx;
    SqlOutcome o;
    const QString where = QStringLiteral(" where 门诊号='") + q(key) + QStringLiteral("'");
    auto count = [&](const QString &table) -> std::optional<int> {
        RecordsetPtr rs = runsql(QStringLiteral("select count(*) from ") + table + where, &o);
        if (!rs || rs->atEOF())
            return std::nullopt;
        return rs->text(0).toInt();
    };
    const std::optional<int> archived = count(QStringLiteral("xj"));
    const std::optional<int> work = archived ? count(QStringLiteral("yc")) : std::nullopt;
    if (!work) {
        out.error = o.error;
        return out;
    }
    out.workRows = *work;
    if (*archived > 0) {
        out.result = ArchiveOutcome::AlreadyArchived;
        return out;
    }
    if (*work > 1) {
        out.result = ArchiveOutcome::Doubled;
        return out;
    }
    runsql(archiveStatement(key), &o);
    if (!o.ok) {
        out.error = o.error;
        return out;
    }
    if (!tx.commit()) {
        out.error = QStringLiteral("数据库没有接受这次修改");
        return out;
    }
    out.result = ArchiveOutcome::Copied;
    return out;
}

}  // namespace xs
