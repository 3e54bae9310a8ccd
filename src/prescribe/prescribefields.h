#pragma once
#include <QString>
#include <array>

namespace xs {

// How the prescribing window lays out the twenty columns of a case record
// (which box holds which column is the shared assignment of CaseFields.h):
// the caption of the label beside the box, that label's index in Label2, and
// the box's place inside Frame2 (twips). Listed in column order 0..19.
struct PrescribeField {
    const char *caption;
    int label;
    int left, top, width, height;
};
const std::array<PrescribeField, 20> &prescribeFields();

// The first literal of the prescribing window's modify statement.
inline const QString kWorkUpdateHead = QStringLiteral("update   yc set 门诊号='");

}  // namespace xs
