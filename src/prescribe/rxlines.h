#pragma once
#include "prescribe/rxmodel.h"

#include <optional>
#include <vector>

namespace xs {

// The lines of a prescription, kept beside its record: ycrx beside the work
// table yc (each room's own on the server), xjrx beside the archive xj. A
// line names its catalogue row (drugs) and keeps what the sheet prints of it.

// A drug picked in the prescribing window: the 表1 entry, the category it was
// picked from ("" when unknown) and the quantity typed with it.
struct RxPick {
    QString entry;
    QString category;
    QString quantity;
};

// The line a pick makes: the catalogue row whose 表1名称 is the entry (the
// one of the pick's category first), with its usual dose, route and
// frequency; without a row, the entry alone. Nothing when the catalogue
// cannot be read (why says so).
std::optional<RxLine> lineForPick(const RxPick &pick, QString *why);

// Appends lines for `picks` to the work lines of outpatient number `key`,
// numbered on after the last. Inside the caller's transaction.
bool appendWorkLines(const QString &key, const std::vector<RxPick> &picks, QString *why);
// The work lines of `key` in their order, with the catalogue's current facts
// (control, skin test, allergy class, withdrawn); nothing on failure.
std::optional<std::vector<RxLine>> workLines(const QString &key, QString *why);
// The archived lines of `key`, likewise.
std::optional<std::vector<RxLine>> archivedLines(const QString &key, QString *why);
// The patient's part of the sheet for the work row of `key`: from its fields
// (出生年月 and 性别, where empty, from the 身份证 number), issued today, the
// institution from the configuration. 急诊 and 儿科 are set when the 科室 says
// so, 儿科 also for a child under 14. Nothing when the row is not there
// (why empty) or cannot be read (why says so).
std::optional<RxHeader> workHeader(const QString &key, QString *why);
// Replaces the work lines of `key` by `lines` (the 处方笺 dialog's edits), in one transaction.
bool replaceWorkLines(const QString &key, const std::vector<RxLine> &lines, QString *why);

}  // namespace xs
