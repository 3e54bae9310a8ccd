#pragma once
#include "prescribe/rxmodel.h"

#include <QString>
#include <vector>

// The checks a prescription passes before its 处方笺 prints: what stops it
// (no real route, days beyond the limit without a reason or not a whole
// number, a 麻醉药品 or 第一类精神药品 without the patient's 身份证, a
// withdrawn drug) and what the doctor is asked about (a skin test, an allergy
// in the history, the same drug twice).
namespace xs {

struct RxProblem {
    int line;  // index into the lines (the text counts from 1)
    // The place the doctor puts it right: a column of the line, or the 身份证
    // of the prescribing window.
    enum Field { Usage, Days, Reason, IdNumber, Drug } field;
    QString text;   // names the line and says what to do
    bool blocking;  // true: the sheet does not print; false: a warning
};

// Every problem of the prescription, in line order.
std::vector<RxProblem> checkPrescription(const RxHeader &header, const std::vector<RxLine> &lines);

}  // namespace xs
