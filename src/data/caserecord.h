#pragma once
#include <QString>
#include <array>
#include <optional>

// How an entry window holds one case record: a text box array of 17 and a
// combo box array of three (0 性别, 1 科室, 2 婚否), and which control holds
// which of the twenty columns of xj / yc. The case entry window and the
// prescribing window share this assignment.
namespace xs {

struct CaseFieldSlot {
    bool combo;  // a combo box of the three, or a text box of the 17
    int index;   // index in its array
};

// Slot of each column, in column order (门诊号 .. 身份证).
const std::array<CaseFieldSlot, 20> &caseFieldSlots();
// The column shown by text box i (0..16).
int columnOfTextBox(int i);
// The boxes the windows address by what they hold: text boxes ...
constexpr int kBirthBox = 2;        // 出生年月
constexpr int kVisitBox = 6;        // 入诊时间
constexpr int kDrugNameBox = 12;    // 药名
constexpr int kDrugAmountBox = 13;  // 药量
constexpr int kIdCardBox = 16;      // 身份证
// ... and combo boxes.
constexpr int kSexCombo = 0;      // 性别
constexpr int kDeptCombo = 1;     // 科室
constexpr int kMarriedCombo = 2;  // 婚否
// Positions of the two date columns.
constexpr int kBirthColumn = 4;  // 出生年月
constexpr int kVisitColumn = 8;  // 入诊时间
inline bool isDateColumn(int column) { return column == kBirthColumn || column == kVisitColumn; }

// The first literal of the modify statement of the case entry window.
inline const QString kCaseUpdateHead = QStringLiteral("update   xj  set 门诊号='");

// The statement that writes a record's twenty values (column order) into the
// row whose 门诊号 is `key`: `head` (which ends in the quote before 门诊号)
// followed by the fixed literals and the values, text values quoted, the two
// dates as ISO text between # signs. No value is trimmed here. Empty when a
// date cannot be read.
std::optional<QString> caseUpdateStatement(const QString &head, const std::array<QString, 20> &values,
                                           const QString &key);

}  // namespace xs
