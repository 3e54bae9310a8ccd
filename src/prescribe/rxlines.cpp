#include "prescribe/rxlines.h"

#include "data/caserecord.h"
#include "data/dates.h"
#include "data/dbconfig.h"
#include "data/idcard.h"
#include "data/schema.h"
#include "data/statements.h"

#include <algorithm>

namespace xs {

namespace {

QString text(const Cells &row, int i) { return i < row.size() && row[i] ? *row[i] : QString(); }

// The catalogue's columns a line reads, after the line's own.
const QStringList kFacts = {"特殊管理", "皮试", "过敏类别", "停用"};

// A line from a row of the line columns followed by the catalogue facts.
RxLine lineFrom(const Cells &row)
{
    RxLine l;
    int i = 2;  // after 门诊号 and 行号
    for (QString *field : {&l.code, &l.entry, &l.category, &l.generic, &l.form, &l.spec, &l.quantity, &l.unit, &l.price,
                           &l.dose, &l.doseUnit, &l.route, &l.frequency, &l.days, &l.reason})
        *field = text(row, i++);
    l.control = text(row, i++);
    if (l.control.isEmpty())
        l.control = kControlOrdinary;
    l.skinTest = text(row, i++) == QStringLiteral("是");
    l.allergy = text(row, i++);
    l.withdrawn = text(row, i++) == QStringLiteral("是");
    return l;
}

Params lineParams(const QString &key, const RxLine &l)
{
    Params p{key};
    for (const QString *field : {&l.code, &l.entry, &l.category, &l.generic, &l.form, &l.spec, &l.quantity, &l.unit,
                                 &l.price, &l.dose, &l.doseUnit, &l.route, &l.frequency, &l.days, &l.reason})
        p << *field;
    return p;
}

// Appends one line, numbered after the last of its key.
bool insertLine(const QString &key, const RxLine &line, QString *why)
{
    QStringList columns = rxLineColumns();
    columns.removeAt(1);  // 行号, given by the statement
    QStringList marks;
    for (int i = 2; i <= columns.size(); ++i)
        marks << QStringLiteral("$%1").arg(i);
    return runStatement(
        QStringLiteral("INSERT INTO ycrx(门诊号,行号,%1) VALUES ($1, (SELECT coalesce(max(行号), 0) + 1 "
                       "FROM ycrx WHERE 门诊号 = $1), %2)")
            .arg(columns.mid(1).join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
        lineParams(key, line), why);
}

std::optional<std::vector<RxLine>> linesOf(const QString &table, const QString &key, QString *why)
{
    QStringList columns;
    for (const QString &c : rxLineColumns())
        columns << QStringLiteral("l.") + c;
    for (const QString &c : kFacts)
        columns << QStringLiteral("d.") + c;
    std::vector<RxLine> lines;
    if (!eachRow(
            QStringLiteral("SELECT %1 FROM %2 l LEFT JOIN drugs d ON d.编码 = l.编码 WHERE l.门诊号 = $1 "
                           "ORDER BY l.行号")
                .arg(columns.join(QLatin1Char(',')), table),
            {key},
            [&](const Cells &row) {
                lines.push_back(lineFrom(row));
                return true;
            },
            why))
        return std::nullopt;
    return lines;
}

}  // namespace

std::optional<RxLine> lineForPick(const RxPick &pick, QString *why)
{
    std::optional<RxLine> line;
    QStringList columns = drugColumns();
    // The row of the pick's category first, then any row of that text.
    if (!eachRow(
            QStringLiteral("SELECT %1 FROM drugs WHERE 表1名称 = $1 ORDER BY CASE WHEN 类别 = $2 THEN 0 ELSE 1 "
                           "END, 编码 LIMIT 1")
                .arg(columns.join(QLatin1Char(','))),
            {pick.entry, pick.category},
            [&](const Cells &row) {
                RxLine l;
                l.code = text(row, 0);
                l.category = text(row, 2);
                l.generic = text(row, 3);
                l.form = text(row, 4);
                l.spec = text(row, 5);
                l.unit = text(row, 6);
                l.price = text(row, 7);
                l.control = text(row, 8);
                l.skinTest = text(row, 9) == QStringLiteral("是");
                l.allergy = text(row, 11);
                l.dose = text(row, 12);
                l.doseUnit = text(row, 13);
                l.route = text(row, 14);
                l.frequency = text(row, 15);
                l.withdrawn = text(row, 16) == QStringLiteral("是");
                line = l;
                return false;
            },
            why))
        return std::nullopt;
    if (!line) {
        line = RxLine{};
        line->category = pick.category;
        line->generic = pick.entry.trimmed();
        line->control = kControlOrdinary;
    }
    line->entry = pick.entry;
    line->quantity = pick.quantity.trimmed();
    return line;
}

bool appendWorkLines(const QString &key, const std::vector<RxPick> &picks, QString *why)
{
    return std::ranges::all_of(picks, [&](const RxPick &pick) {
        const std::optional<RxLine> line = lineForPick(pick, why);
        return line && insertLine(key, *line, why);
    });
}

std::optional<std::vector<RxLine>> workLines(const QString &key, QString *why)
{
    return linesOf(QStringLiteral("ycrx"), key, why);
}

std::optional<std::vector<RxLine>> archivedLines(const QString &key, QString *why)
{
    return linesOf(QStringLiteral("xjrx"), key, why);
}

std::optional<RxHeader> workHeader(const QString &key, QString *why)
{
    std::optional<RxHeader> header;
    const QStringList &columns = caseColumns();
    if (!eachRow(
            QStringLiteral("SELECT %1 FROM yc WHERE 门诊号 = $1").arg(columns.join(QLatin1Char(','))), {key},
            [&](const Cells &row) {
                const auto field = [&](const char *name) {
                    return text(row, int(columns.indexOf(QString::fromUtf8(name)))).trimmed();
                };
                RxHeader h;
                h.institution = loadDatabaseChoice().institution;
                h.number = field("门诊号");
                h.caseNo = h.number;
                h.name = field("姓名");
                h.sex = field("性别");
                // Anything but 男 or 女 (the box's own placeholder) is no sex given.
                if (h.sex != QStringLiteral("男") && h.sex != QStringLiteral("女"))
                    h.sex.clear();
                h.birth = parseDate(field("出生年月")).value_or(QDate());
                h.idNumber = field("身份证");
                if (const IdCardInfo id = readIdCard(h.idNumber); id.valid) {
                    if (!h.birth.isValid())
                        h.birth = id.birth;
                    if (h.sex.isEmpty())
                        h.sex = id.sex;
                }
                h.department = field("科室");
                h.diagnosis = field("诊断");
                h.date = QDate::currentDate();
                h.doctor = field("医生签字");
                h.history = QStringList{field("既往病史"), field("备注")}.join(QLatin1Char('\n'));
                h.emergency = h.department.contains(QStringLiteral("急诊"));
                h.paediatric = h.department.contains(QStringLiteral("儿科"))
                               || (h.birth.isValid() && h.birth.addYears(14) > h.date);
                header = h;
                return false;
            },
            why))
        return std::nullopt;
    if (!header && why)
        why->clear();
    return header;
}

bool replaceWorkLines(const QString &key, const std::vector<RxLine> &lines, QString *why)
{
    return inTransaction(why, [&](QString *failed) {
        return runStatement(QStringLiteral("DELETE FROM ycrx WHERE 门诊号 = $1"), {key}, failed)
               && std::ranges::all_of(lines, [&](const RxLine &l) { return insertLine(key, l, failed); });
    });
}

}  // namespace xs
