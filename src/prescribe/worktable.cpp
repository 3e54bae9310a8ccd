#include "prescribe/worktable.h"

#include "data/caserecord.h"
#include "data/dates.h"
#include "data/recordset.h"
#include "data/schema.h"
#include "data/sqltext.h"
#include "data/statements.h"
#include "prescribe/prescribefields.h"

namespace xs {

namespace {

GenerateOutcome outcome(GenerateOutcome::Result r, int box = -1, const QString &error = {})
{
    GenerateOutcome o;
    o.result = r;
    o.box = box;
    o.error = error;
    return o;
}

// The first check the record fails, if any.
std::optional<GenerateOutcome> check(const WorkRecord &typed, bool modify)
{
    auto box = [&typed](int i) { return typed[size_t(columnOfTextBox(i))]; };
    for (int i = 0; i < 17; ++i)
        if (box(i).isEmpty())
            return outcome(GenerateOutcome::EmptyBox, i);
    if (!modify) {
        SqlOutcome o;
        RecordsetPtr rs =
            runsql(QStringLiteral("select * from xj where 门诊号='") + q(box(0).trimmed()) + QStringLiteral("'"), &o);
        if (!rs)
            return outcome(GenerateOutcome::CheckFailed, -1, o.error);
        if (!rs->atEOF())
            return outcome(GenerateOutcome::NumberTaken, 0);
    }
    for (int i : {kBirthBox, kVisitBox})
        if (!isDate(box(i).trimmed()))
            return outcome(GenerateOutcome::NotADate, i);
    return std::nullopt;
}

}  // namespace

GenerateOutcome generatePrescription(const WorkRecord &typed, bool modify, const std::optional<QString> &loadedKey,
                                     const std::vector<RxPick> &picks)
{
    if (std::optional<GenerateOutcome> refused = check(typed, modify))
        return *refused;
    WorkRecord values;
    for (size_t c = 0; c < values.size(); ++c)
        values[c] = typed[c].trimmed();
    if (modify && !loadedKey)
        return outcome(GenerateOutcome::NothingLoaded);

    // The row and its lines are stored together or not at all.
    Transaction tx;
    const QString key = values[0];
    QString why;
    const auto withLines = [&](GenerateOutcome stored) {
        if (stored.result != GenerateOutcome::Stored)
            return stored;
        const bool renamed = modify && *loadedKey != key;
        if ((renamed
             && !runStatement(QStringLiteral("UPDATE ycrx SET 门诊号 = $1 WHERE 门诊号 = $2"), {key, *loadedKey}, &why))
            || !appendWorkLines(key, picks, &why))
            return outcome(GenerateOutcome::WriteFailed, -1, why);
        if (!tx.commit())
            return outcome(GenerateOutcome::WriteFailed, -1, QStringLiteral("数据库没有接受这次修改"));
        return stored;
    };

    if (modify) {
        SqlOutcome o;
        if (const auto sql = caseUpdateStatement(kWorkUpdateHead, values, *loadedKey))
            runsql(*sql, &o);
        if (!o.ok)
            return outcome(GenerateOutcome::WriteFailed, -1, o.error);
        // The loaded work row is gone (removed or cleared meanwhile): nothing
        // was stored.
        if (o.changes == 0)
            return outcome(GenerateOutcome::RowGone);
        return withLines(outcome(GenerateOutcome::Stored));
    }

    SqlOutcome o;
    RecordsetPtr rs = runsql(QStringLiteral("select * from yc "), &o);
    if (!rs)
        return outcome(GenerateOutcome::WriteFailed, -1, o.error);
    rs->AddNew();
    for (size_t c = 0; c < values.size(); ++c)
        rs->setField(int(c), values[c]);
    if (!rs->Update())
        return outcome(GenerateOutcome::WriteFailed, -1, rs->lastError());
    rs.reset();
    return withLines(outcome(GenerateOutcome::Stored));
}

QString archiveStatement(const QString &key)
{
    return QStringLiteral("insert into xj(门诊号,姓名,性别,科室,出生年月,家庭住址,邮政编码,联系电话,入诊时间,备注,婚否,"
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
    QString why;
    if (o.ok
        && !(runStatement(QStringLiteral("DELETE FROM xjrx WHERE 门诊号 = $1"), {key}, &why)
             && runStatement(QStringLiteral("INSERT INTO xjrx(%1) SELECT %1 FROM ycrx WHERE 门诊号 = $1")
                                 .arg(rxLineColumns().join(QLatin1Char(','))),
                             {key}, &why))) {
        o.ok = false;
        o.error = why;
    }
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

namespace {
WorkWrite write(const QString &statement)
{
    SqlOutcome o;
    runsql(statement, &o);
    return {o.ok, o.error};
}
}  // namespace

WorkWrite removeWorkRows(const QString &key)
{
    Transaction tx;
    WorkWrite w = write(QStringLiteral("delete * from yc where 门诊号='") + q(key) + QStringLiteral("'"));
    if (w.ok && !runStatement(QStringLiteral("DELETE FROM ycrx WHERE 门诊号 = $1"), {key}, &w.error))
        w.ok = false;
    if (w.ok && !tx.commit())
        w = {false, QStringLiteral("数据库没有接受这次修改")};
    return w;
}

WorkWrite clearWorkTable()
{
    Transaction tx;
    WorkWrite w = write(QStringLiteral("delete from yc"));
    if (w.ok && !runStatement(QStringLiteral("DELETE FROM ycrx"), {}, &w.error))
        w.ok = false;
    if (w.ok && !tx.commit())
        w = {false, QStringLiteral("数据库没有接受这次修改")};
    return w;
}

}  // namespace xs
