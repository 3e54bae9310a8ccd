#pragma once
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

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

// The chain check itself, for a trail read from either engine: entries are
// fed in number order; the first one at fault ends the check.
class AuditChainCheck {
public:
    // False once a fault is known (then result() names it).
    bool next(const AuditEntry &e);
    // After the last entry: `given` is the highest number the trail ever gave
    // out (entries removed from the end leave no gap, the counter knows them).
    AuditVerification finish(qint64 given);
    // Reading stopped at the next entry for this reason.
    AuditVerification readFailed(const QString &detail);
    const AuditVerification &result() const { return v_; }

private:
    bool bad(qint64 id, const QString &text);
    AuditVerification v_;
    QString previous_;
    qint64 expected_ = 1;
    bool pending_ = false;
    AuditEntry misfit_;  // an entry whose hash does not fit, judged by the next one
    bool done_ = false;
};

struct AuditFilter {
    QString record;  // key of the row (门诊号 and the other tables' keys), exact
    QString user;    // exact, ignoring letter case
    QDate since;     // entries from this day on
};

// Entries of the engine of this process (the file or the server alike) that
// pass the filter, in the order written; false with a reason when the trail
// cannot be read.
bool readAuditTrail(const AuditFilter &filter, QList<AuditEntry> *out, QString *why);
// The same position on the engine of this process.
bool readAuditPosition(qint64 number, AuditTrailPosition *out, QString *why);

}  // namespace xs
