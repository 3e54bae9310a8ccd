#pragma once
#include "data/statements.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The audit trail: table `audit`, one entry per changed row of xj, yc, class
// and use, written by triggers on those tables inside the changing statement
// (so in its transaction, and no statement of the program can forget it).
// The triggers ask this module, through SQL functions that every connection
// of the system registers, for the signed-in user, the action, the changed
// columns and the entry's hash: SHA-256 over its content and the previous
// entry's hash, so that `chengheng-db audit verify` finds any entry altered,
// inserted or removed. Other triggers refuse UPDATE and DELETE on the trail.
// A connection without the functions (the sqlite3 shell) cannot change the
// four tables: its statement fails on the missing function, since the change
// could not be recorded.
namespace xs {
struct AuditTrailPosition;

// Who the trail names for changes of this process: the given name when one
// was set (the database tool sets the system account it runs as), else the
// signed-in user (CurrentUser).
void setAuditActor(const QString &who);
QString auditActor();
// Names `who` for the changes made while it lives (a sign-in's own write,
// before CurrentUser is set), then puts back what was named before.
class AuditActorScope {
public:
    explicit AuditActorScope(const QString &who);
    ~AuditActorScope();
    AuditActorScope(const AuditActorScope &) = delete;
    AuditActorScope &operator=(const AuditActorScope &) = delete;

private:
    QString saved_;
};

struct AuditChange {
    QString column;
    QString oldValue;  // "" with oldNull when the row did not exist / the cell was null
    QString newValue;
    bool oldNull = false;
    bool newNull = false;
};

struct AuditEntry {
    qint64 id = 0;
    QString time;  // YYYY-MM-DD HH:MM:SS, local time
    QString user;
    QString action;  // 新增 修改 删除 归档 清空
    QString table;
    QString key;      // 门诊号, 科室 or username of the row
    QString changes;  // the changed columns as stored (JSON)
    QString hash;
    // The server role the change was made as (the server's trail only; empty
    // in a file and in entries a file brought to the server).
    QString role;
    // The role is none of the rooms' programs' login roles (a change made
    // with psql, by the administration, or by the owner).
    bool outsideProgram = false;
};

// The changed columns of an entry, in column order.
QList<AuditChange> parseChanges(const QString &stored);
// "姓名：张三 → 李四；性别：男 → 女" (a new row lists its values, a deleted one
// what it held).
QString describeChanges(const AuditEntry &e);

// The hash an entry must carry after the entry whose hash is `previous`
// ("" for the first entry).
QString auditHash(const AuditEntry &e, const QString &previous);
// SHA-256 (hex) over fields joined by the unit separator: what every hash
// of the trail is made of.
QString auditFieldsHash(const QStringList &fields);

struct AuditVerification {
    bool ok = false;
    qint64 entries = 0;   // entries read
    qint64 firstBad = 0;  // the first entry at fault (0 when none)
    QString problem;      // in Chinese: which entry and what happened to it
    QString lastHash;     // the hash of the last entry (when ok)
};

// One reading of the trail on a database: each row's cells go to `row`,
// which may stop the reading by returning false; false with why (in
// Chinese) when the reading fails.
using TrailReading =
    std::function<bool(const QString &sql, const std::function<bool(const Cells &)> &row, QString *why)>;
// A reading on the engine of this process.
bool readOnEngine(const QString &sql, const std::function<bool(const Cells &)> &row, QString *why);

// Where one engine keeps its trail.
struct AuditTrailSide {
    QString table;        // the trail's table, as a reading names it
    QString present;      // a reading with a row when the trail's table is there
    QString missing;      // what is told when it is not
    QString missingHint;  // and, by the check, why that may be
    // A reading of one row, its first cell the highest number the trail ever
    // gave out (entries removed from the end leave no gap, the counter knows them).
    QString counter;
};
// What one engine checks beyond the chain, once the chain holds: its
// problem, or nothing. `counter` is the counter's row, `counted` the hash of
// the entry it numbers last.
using TrailSurroundings = std::function<QString(const Cells &counter, const QString &counted)>;

// Whether the trail's table is there: false with why (the side's missing text
// when it is not).
bool hasAuditTrail(const TrailReading &read, const AuditTrailSide &side, QString *why);
// Recomputes the chain over the whole trail, entry by entry in number order
// (reading only; the counter is read first: entries appended meanwhile only
// add to it), then asks `surroundings`.
AuditVerification verifyAuditTrail(const TrailReading &read, const AuditTrailSide &side,
                                   const TrailSurroundings &surroundings);
// The trail's newest entry and the entry numbered `number` (none asked for
// with 0), for an anchor (data/auditanchor.h); false with a reason when the
// trail cannot be read.
bool readAuditPosition(const TrailReading &read, const AuditTrailSide &side, qint64 number, AuditTrailPosition *out,
                       QString *why);

struct AuditFilter {
    QString record;  // key of the row (门诊号 and the other tables' keys), exact
    QString user;    // exact, ignoring letter case
    QDate since;     // entries from this day on
};

// Entries of the engine of this process (the file or the server alike) that
// pass the filter, in the order written; false with a reason when the trail
// cannot be read.
bool readAuditTrail(const AuditFilter &filter, QList<AuditEntry> *out, QString *why);

}  // namespace xs
