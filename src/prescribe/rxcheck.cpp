#include "prescribe/rxcheck.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace xs {

namespace {

// "第 3 行（阿莫西林胶囊）": the line as the doctor sees it in the dialog.
QString lineName(int index, const RxLine &line)
{
    const QString name = line.generic.trimmed().isEmpty() ? line.entry.trimmed() : line.generic.trimmed();
    return QStringLiteral("第 %1 行（%2）").arg(index + 1).arg(name);
}

// A route that says nothing: empty, or only "遵医嘱" / "自用" with blanks and punctuation.
bool vagueRoute(const QString &route)
{
    QString rest = route;
    rest.remove(QStringLiteral("遵医嘱")).remove(QStringLiteral("自用"));
    return std::ranges::all_of(rest, [](QChar c) { return c.isSpace() || c.isPunct(); });
}

// The days as a whole number (digits only, blanks around allowed, full-width
// digits as well); -1 when the text is no such number, 0 when it is empty.
int wholeDays(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return 0;
    if (t.size() > 4)
        return -1;
    int n = 0;
    for (const QChar c : t) {
        if (c.digitValue() < 0)
            return -1;
        n = n * 10 + c.digitValue();
    }
    return n;
}

// The clause of the history that names the allergy class (its name without
// a trailing 类) before a 过敏; empty when none does.
QString allergyClause(const QString &history, const QString &allergy)
{
    QString stem = allergy.trimmed();
    if (stem.endsWith(QStringLiteral("类")))
        stem.chop(1);
    if (stem.isEmpty())
        return {};
    static const QRegularExpression breaks(QStringLiteral("[。；;，,！!？?\\n\\r]"));
    for (const QString &clause : history.split(breaks, Qt::SkipEmptyParts)) {
        const qsizetype at = clause.indexOf(stem);
        if (at >= 0 && clause.indexOf(QStringLiteral("过敏"), at + stem.size()) >= 0)
            return clause.trimmed();
    }
    return {};
}

// Whether two lines are the same drug: the same catalogue code, or, when
// either has none, the same 通用名 and 规格.
bool sameDrug(const RxLine &a, const RxLine &b)
{
    const QString ca = a.code.trimmed(), cb = b.code.trimmed();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    return a.generic.trimmed() == b.generic.trimmed() && a.spec.trimmed() == b.spec.trimmed();
}

}  // namespace

std::vector<RxProblem> checkPrescription(const RxHeader &header, const std::vector<RxLine> &lines)
{
    std::vector<RxProblem> out;
    const int limit = header.emergency ? 3 : 7;
    for (int i = 0; i < int(lines.size()); ++i) {
        const RxLine &l = lines[size_t(i)];
        const QString name = lineName(i, l);
        auto add = [&](RxProblem::Field field, const QString &text, bool blocking) {
            out.push_back({i, field, name + text, blocking});
        };

        // What stops the sheet: the drug itself first, then the line's columns left to right.
        if (l.withdrawn)
            add(RxProblem::Drug, QStringLiteral("已停用，不能开具：请在处方窗口删去或换用其他药品。"), true);
        if ((l.control == kControlNarcotic || l.control == kControlPsychotropic1)
            && header.idNumber.trimmed().isEmpty())
            add(RxProblem::IdNumber,
                QStringLiteral("是%1，须登记患者身份证号码：请在处方窗口填写身份证后再打印。").arg(l.control), true);
        if (l.route.trimmed().isEmpty())
            add(RxProblem::Usage, QStringLiteral("没有写用法：请写明用法（如口服、外用）。"), true);
        else if (vagueRoute(l.route))
            add(RxProblem::Usage, QStringLiteral("的用法不能只写“遵医嘱”或“自用”：请写明用法（如口服、外用）。"), true);
        const int days = wholeDays(l.days);
        if (l.days.trimmed().isEmpty())
            add(RxProblem::Days, QStringLiteral("没有写天数：请填写 1 至 365 的整数。"), true);
        else if (days < 1 || days > 365)
            add(RxProblem::Days, QStringLiteral("的天数“%1”不对：请填写 1 至 365 的整数。").arg(l.days.trimmed()),
                true);
        else if (days > limit && l.reason.trimmed().isEmpty())
            add(RxProblem::Reason,
                header.emergency ? QStringLiteral("开了 %1 天，急诊处方一般不超过 3 天：请填写超量理由。").arg(days)
                                 : QStringLiteral("开了 %1 天，超过 7 天：请填写超量理由。").arg(days),
                true);

        // What the doctor is asked about.
        if (l.skinTest)
            add(RxProblem::Drug, QStringLiteral("需要皮试：请确认皮试结果为阴性。"), false);
        if (const QString clause = allergyClause(header.history, l.allergy); !clause.isEmpty())
            add(RxProblem::Drug,
                QStringLiteral("属%1，病史记有“%2”：请确认患者不过敏。").arg(l.allergy.trimmed(), clause), false);
        for (int j = 0; j < i; ++j)
            if (sameDrug(lines[size_t(j)], l)) {
                add(RxProblem::Drug, QStringLiteral("与第 %1 行是同一药品：请确认不是重复开具。").arg(j + 1), false);
                break;
            }
    }
    return out;
}

}  // namespace xs
