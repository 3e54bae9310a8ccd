#pragma once
#include "prescribe/rxlines.h"

#include <QString>
#include <array>
#include <optional>

namespace xs {

// The operations of the prescribing window on its work table yc (the
// prescriptions waiting to be printed) and on the archive xj. They take the
// values the window holds and return what happened as a value; the window
// tells the user and reopens itself.

// The twenty values of one prescription in column order, as typed (untrimmed).
using WorkRecord = std::array<QString, 20>;

// What 生成处方 came to.
struct GenerateOutcome {
    enum Result {
        Stored,         // new: a work row added; modify: the loaded row rewritten
        EmptyBox,       // text box `box` holds nothing
        NumberTaken,    // new: the archive holds the 门诊号 already
        CheckFailed,    // new: the archive could not be asked (error)
        NotADate,       // text box `box` holds no date
        NothingLoaded,  // modify: no work row was found when the window opened
        WriteFailed,    // the engine refused the write (error)
        RowGone,        // modify: the loaded work row is no longer there
    };
    Result result = WriteFailed;
    int box = -1;   // the text box (0..16) of EmptyBox and NotADate
    QString error;  // why, for CheckFailed and WriteFailed
};

// Checks the record the way the window always has (every text box filled, in
// box order; a new 门诊号 not yet archived; both dates readable), then stores
// it: as a new work row, or, when `loadedKey` is given (modify mode), into
// the work row of that 门诊号. `modify` without a loaded key refuses after the
// checks. The stored values are trimmed.
// The drugs picked since the window opened become the row's prescription
// lines, appended after those it has, in the same transaction; in modify mode
// a changed 门诊号 takes the row's lines along.
GenerateOutcome generatePrescription(const WorkRecord &typed, bool modify, const std::optional<QString> &loadedKey,
                                     const std::vector<RxPick> &picks = {});

// What 保存 (archiving the work rows of one 门诊号) came to.
struct ArchiveOutcome {
    enum Result { Copied, AlreadyArchived, Doubled, Failed };
    Result result = Failed;
    int workRows = 0;  // work rows holding the number
    QString error;     // why, when Failed
};

// Copies the work rows with outpatient number `key` into the archive, in one
// transaction: nothing is copied when the archive holds the number already or
// when more than one work row holds it (the archive keeps each number once).
// The row's prescription lines are copied with it (replacing any an earlier
// record of that number left). The work table is never changed.
ArchiveOutcome archiveWorkRows(const QString &key);

// The statement that copies the work rows with outpatient number `key` into
// the archive (key quoted).
QString archiveStatement(const QString &key);

// A write on the work table: done, or why not.
struct WorkWrite {
    bool ok = false;
    QString error;
};

// Removes every work row of outpatient number `key`, and their lines.
WorkWrite removeWorkRows(const QString &key);

// Empties the work table and its lines.
WorkWrite clearWorkTable();

}  // namespace xs
