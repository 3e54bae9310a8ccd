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

// The statement that copies the work rows with outpatient number `key` into
// the archive (key quoted).
QString archiveStatement(const QString &key);

// What archiving the work rows of one outpatient number came to.
struct ArchiveOutcome {
    enum Result { Copied, AlreadyArchived, Doubled, Failed };
    Result result = Failed;
    int workRows = 0;  // work rows holding the number
    QString error;     // why, when Failed
};

// Copies the work rows with outpatient number `key` into the archive, in one
// transaction: nothing is copied when the archive holds the number already or
// when more than one work row holds it (the archive keeps each number once).
// The work table is never changed.
ArchiveOutcome archiveWorkRows(const QString &key);

}  // namespace xs
