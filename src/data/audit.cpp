#include "data/audit.h"

#include "data/statements.h"

#include "data/auditanchor.h"
#include "data/globals.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <optional>

namespace xs {

namespace {

QString g_actor;

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

}  // namespace

QString auditFieldsHash(const QStringList &fields)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(fields.join(QChar(0x1f)).toUtf8(), QCryptographicHash::Sha256).toHex());
}

void setAuditActor(const QString &who) { g_actor = who; }

QString auditActor() { return g_actor.isEmpty() ? CurrentUser : g_actor; }

AuditActorScope::AuditActorScope(const QString &who) : saved_(g_actor) { g_actor = who; }

AuditActorScope::~AuditActorScope() { g_actor = saved_; }

QList<AuditChange> parseChanges(const QString &stored)
{
    QList<AuditChange> out;
    const QJsonArray entries = QJsonDocument::fromJson(stored.toUtf8()).array();
    for (const QJsonValue v : entries) {
        const QJsonArray a = v.toArray();
        out << AuditChange{a.at(0).toString(), a.at(1).toString(), a.at(2).toString(), a.at(1).isNull(),
                           a.at(2).isNull()};
    }
    return out;
}

QString describeChanges(const AuditEntry &e)
{
    const auto shown = [](const QString &v, bool null) { return null ? QStringLiteral("（空）") : v; };
    QStringList parts;
    for (const AuditChange &ch : parseChanges(e.changes)) {
        const QString column = ch.column == QLatin1String("password") ? QStringLiteral("密码") : ch.column;
        if (e.action == QStringLiteral("修改"))
            parts << QStringLiteral("%1：%2 → %3")
                         .arg(column, shown(ch.oldValue, ch.oldNull), shown(ch.newValue, ch.newNull));
        else if (ch.newNull)
            parts << QStringLiteral("%1：%2").arg(column, shown(ch.oldValue, ch.oldNull));
        else
            parts << QStringLiteral("%1：%2").arg(column, ch.newValue);
    }
    return parts.join(QStringLiteral("；"));
}

QString auditHash(const AuditEntry &e, const QString &previous)
{
    // The server's role is part of what an entry vouches for, when it has one.
    if (!e.role.isEmpty())
        return auditFieldsHash({e.time, e.user, e.action, e.table, e.key, e.changes, e.role, previous});
    return auditFieldsHash({e.time, e.user, e.action, e.table, e.key, e.changes, previous});
}

namespace {
// An entry from its row of the trail: every column in table order, the
// server's role last.
AuditEntry entryOf(const Cells &row)
{
    const auto at = [&](int c) { return row.value(c).value_or(QString()); };
    return AuditEntry{at(0).toLongLong(), at(1), at(2), at(3), at(4), at(5), at(6), at(7), at(8)};
}
}  // namespace

bool readOnEngine(const QString &sql, const std::function<bool(const Cells &)> &row, QString *why)
{
    return eachRow(sql, {}, row, why);
}

bool hasAuditTrail(const TrailReading &read, const AuditTrailSide &side, QString *why)
{
    bool present = false;
    const auto seen = [&](const Cells &) {
        present = true;
        return false;
    };
    if (!read(side.present, seen, why))
        return false;
    return present || fail(why, side.missing);
}

AuditVerification verifyAuditTrail(const TrailReading &read, const AuditTrailSide &side,
                                   const TrailSurroundings &surroundings)
{
    AuditVerification v;
    const auto bad = [&](qint64 id, const QString &text) {
        v.firstBad = id;
        v.problem = text;
        return v;
    };
    QString why;
    if (!hasAuditTrail(read, side, &why))
        return bad(0, why == side.missing ? why + side.missingHint : why);
    qint64 expected = 1;
    const auto readFailed = [&] {
        return bad(expected, QStringLiteral("审计记录表读到第 %1 条时出错：%2").arg(expected).arg(why));
    };
    Cells counter;
    const auto keep = [&](const Cells &row) {
        counter = row;
        return false;
    };
    if (!read(side.counter, keep, &why))
        return readFailed();
    const qint64 given = counter.value(0).value_or(QString()).toLongLong();
    QString previous;
    QString counted;
    std::optional<AuditEntry> misfit;  // an entry whose hash does not fit, judged by the next one
    const bool whole = read(
        QStringLiteral("SELECT * FROM %1 ORDER BY 序号").arg(side.table),
        [&](const Cells &row) {
            const AuditEntry e = entryOf(row);
            ++v.entries;
            if (misfit) {
                // The entry after a misfit tells what happened to it: the
                // chain goes on past it (it was put in) or from it (it was changed).
                bad(misfit->id, auditHash(e, previous) == e.hash
                                    ? QStringLiteral("第 %1 条审计记录不是程序写入的（被插入）").arg(misfit->id)
                                    : QStringLiteral("第 %1 条审计记录被改动").arg(misfit->id));
                return false;
            }
            if (e.id != expected) {
                bad(expected, e.id == expected + 1
                                  ? QStringLiteral("第 %1 条审计记录被删除").arg(expected)
                                  : QStringLiteral("第 %1 至 %2 条审计记录被删除").arg(expected).arg(e.id - 1));
                return false;
            }
            if (e.id == given)
                counted = e.hash;
            if (auditHash(e, previous) != e.hash)
                misfit = e;
            else {
                previous = e.hash;
                ++expected;
            }
            return true;
        },
        &why);
    if (!v.problem.isEmpty())
        return v;
    if (!whole)
        return readFailed();
    if (misfit)
        return bad(misfit->id, QStringLiteral("第 %1 条审计记录被改动或不是程序写入的").arg(misfit->id));
    if (given >= expected)
        return bad(expected, given == expected
                                 ? QStringLiteral("最后的第 %1 条审计记录被删除").arg(expected)
                                 : QStringLiteral("最后的第 %1 至 %2 条审计记录被删除").arg(expected).arg(given));
    v.lastHash = previous;
    const QString problem = surroundings(counter, counted);
    if (!problem.isEmpty())
        return bad(0, problem);
    v.ok = true;
    return v;
}

bool readAuditTrail(const AuditFilter &filter, QList<AuditEntry> *out, QString *why)
{
    QStringList where;
    Params values;
    if (!filter.record.isEmpty()) {
        values << filter.record;
        where << QStringLiteral("记录=$%1").arg(values.size());
    }
    if (!filter.user.isEmpty()) {
        values << filter.user;
        where << QStringLiteral("lower(用户)=lower($%1)").arg(values.size());
    }
    if (filter.since.isValid()) {
        values << filter.since.toString(QStringLiteral("yyyy-MM-dd"));
        where << QStringLiteral("时间>=$%1").arg(values.size());
    }
    // Every column: the server's trail also names the role each change was made as.
    QString sql = QStringLiteral("SELECT * FROM audit");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY 序号");
    QList<AuditEntry> entries;
    if (!eachRow(
            sql, values,
            [&](const Cells &row) {
                entries << entryOf(row);
                return true;
            },
            why))
        return false;
    // A role that is none of the rooms' programs' login roles is marked: the
    // name it gave is vouched for by no program's sign-in.
    if (std::any_of(entries.cbegin(), entries.cend(), [](const AuditEntry &e) { return !e.role.isEmpty(); })) {
        QStringList programs;
        if (!eachRow(
                QStringLiteral("SELECT role FROM rooms"), {},
                [&](const Cells &r) {
                    programs << r.value(0).value_or(QString());
                    return true;
                },
                why))
            return false;
        for (AuditEntry &e : entries)
            e.outsideProgram = !e.role.isEmpty() && !programs.contains(e.role);
    }
    *out << entries;
    return true;
}

bool readAuditPosition(const TrailReading &read, const AuditTrailSide &side, qint64 number, AuditTrailPosition *out,
                       QString *why)
{
    if (!hasAuditTrail(read, side, why))
        return false;
    // One statement: one state of the trail.
    bool found = false;
    if (!read(
            QStringLiteral("SELECT (SELECT 序号 FROM %1 ORDER BY 序号 DESC LIMIT 1),"
                           " (SELECT 校验值 FROM %1 ORDER BY 序号 DESC LIMIT 1),"
                           " (SELECT 校验值 FROM %1 WHERE 序号=%2)")
                .arg(side.table)
                .arg(number),
            [&](const Cells &row) {
                *out = AuditTrailPosition();
                out->last = row.value(0).value_or(QString()).toLongLong();
                out->lastHash = row.value(1).value_or(QString());
                out->found = number > 0 && row.value(2).has_value();
                out->foundHash = row.value(2).value_or(QString());
                found = true;
                return false;
            },
            why))
        return false;
    return found || fail(why, QStringLiteral("审计记录表无法读取"));
}

}  // namespace xs
