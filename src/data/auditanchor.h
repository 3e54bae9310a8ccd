#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// An anchor of the audit trail: the number and hash of its newest entry at
// one moment, kept outside the database (on another machine, on paper). The
// chain shows that the entries agree with one another; whoever can write the
// whole trail can recompute it, cut entries from its end and set the counter
// back, or empty it. The anchor is what shows that: the entry it names must
// still be there, carrying the same hash.
//
// An anchor is a short text file, one item a line:
//   澄衡审计锚点 1
//   序号：42
//   校验值：<64 hexadecimal digits, or （无） when 序号 is 0>
//   时间：2026-12-10 18:30:05
//   数据库：/srv/chengheng/xs.mdb
namespace xs {

struct AuditAnchor {
    qint64 number = 0;  // the newest entry's 序号 when it was taken (0: the trail was empty)
    QString hash;       // that entry's 校验值 ("" with number 0)
    QString taken;      // when it was taken: YYYY-MM-DD HH:MM:SS, local time
    QString database;   // the file's path or the server's connection text (without password)
};

// Where a trail stands: its newest entry, and the entry an anchor names.
struct AuditTrailPosition {
    qint64 last = 0;     // the newest entry's number (0 when the trail is empty)
    QString lastHash;    // its hash
    bool found = false;  // whether the entry asked for is there
    QString foundHash;   // its hash
};

// An anchor of the trail's newest entry, taken now.
AuditAnchor anchorOf(const AuditTrailPosition &p, const QString &database);

QString formatAuditAnchor(const AuditAnchor &a);
// Reads an anchor file, strictly: every item exactly once, nothing else; the
// reason (in Chinese, naming the line) when the text is no anchor.
std::optional<AuditAnchor> readAuditAnchor(const QString &path, QString *why);
// Writes the anchor under a temporary name beside `path`, flushed to disk,
// then renames it into place (mode 0640): a reader never meets half an anchor.
bool writeAuditAnchor(const QString &path, const AuditAnchor &a, QString *why);

struct AuditAnchorCheck {
    bool ok = true;  // the entry the anchor names is there with its hash
    QString text;    // in Chinese: up to where the trail matches, or what happened to it
};
// The trail's position (read for the anchor's number) against the anchor.
AuditAnchorCheck checkAuditAnchor(const AuditAnchor &a, const AuditTrailPosition &p);

}  // namespace xs
