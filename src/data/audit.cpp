#include "data/audit.h"

#include "data/statements.h"

#include "data/auditanchor.h"
#include "data/globals.h"
#include "data/schema.h"

#include <QCryptographicHash>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <optional>

namespace xs {

namespace {

QString g_actor;

QString hashOf(const QStringList &fields)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(fields.join(QChar(0x1f)).toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

}  // namespace

QString auditFieldsHash(const QStringList &fields) { return hashOf(fields); }

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
        AuditChange ch;
        ch.column = a.at(0).toString();
        ch.oldNull = a.at(1).isNull();
        ch.newNull = a.at(2).isNull();
        ch.oldValue = a.at(1).toString();
        ch.newValue = a.at(2).toString();
        out << ch;
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
        return hashOf({e.time, e.user, e.action, e.table, e.key, e.changes, e.role, previous});
    return hashOf({e.time, e.user, e.action, e.table, e.key, e.changes, previous});
}

bool AuditChainCheck::bad(qint64 id, const QString &text)
{
    v_.firstBad = id;
    v_.problem = text;
    done_ = true;
    return false;
}

bool AuditChainCheck::next(const AuditEntry &e)
{
    if (done_)
        return false;
    ++v_.entries;
    if (pending_) {
        // The entry after a misfit tells what happened to it: the chain goes
        // on past it (it was put in) or from it (it was changed).
        if (auditHash(e, previous_) == e.hash)
            return bad(misfit_.id, QStringLiteral("第 %1 条审计记录不是程序写入的（被插入）").arg(misfit_.id));
        return bad(misfit_.id, QStringLiteral("第 %1 条审计记录被改动").arg(misfit_.id));
    }
    if (e.id != expected_)
        return bad(expected_, e.id == expected_ + 1
                                  ? QStringLiteral("第 %1 条审计记录被删除").arg(expected_)
                                  : QStringLiteral("第 %1 至 %2 条审计记录被删除").arg(expected_).arg(e.id - 1));
    if (auditHash(e, previous_) != e.hash) {
        pending_ = true;
        misfit_ = e;
        return true;
    }
    previous_ = e.hash;
    ++expected_;
    return true;
}

AuditVerification AuditChainCheck::readFailed(const QString &detail)
{
    if (!done_)
        bad(expected_, QStringLiteral("审计记录表读到第 %1 条时出错：%2").arg(expected_).arg(detail));
    return v_;
}

AuditVerification AuditChainCheck::finish(qint64 given)
{
    if (done_)
        return v_;
    if (pending_) {
        bad(misfit_.id, QStringLiteral("第 %1 条审计记录被改动或不是程序写入的").arg(misfit_.id));
        return v_;
    }
    if (given >= expected_) {
        bad(expected_, given == expected_
                           ? QStringLiteral("最后的第 %1 条审计记录被删除").arg(expected_)
                           : QStringLiteral("最后的第 %1 至 %2 条审计记录被删除").arg(expected_).arg(given));
        return v_;
    }
    done_ = true;
    v_.ok = true;
    v_.lastHash = previous_;
    return v_;
}

namespace {
AuditEntry entryOfRow(const Cells &row, int role)
{
    AuditEntry e;
    e.id = row.value(0).value_or(QString()).toLongLong();
    e.time = row.value(1).value_or(QString());
    e.user = row.value(2).value_or(QString());
    e.action = row.value(3).value_or(QString());
    e.table = row.value(4).value_or(QString());
    e.key = row.value(5).value_or(QString());
    e.changes = row.value(6).value_or(QString());
    e.hash = row.value(7).value_or(QString());
    if (role >= 0)
        e.role = row.value(role).value_or(QString());
    return e;
}
}  // namespace

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
    int role = -1;
    QList<AuditEntry> entries;
    SqlOutcome outcome;
    const std::unique_ptr<Rows> rows = engine().exec(sql, values, outcome);
    if (!rows)
        return fail(why, outcome.error);
    for (int c = 0; c < rows->columns(); ++c)
        if (rows->name(c) == QStringLiteral("角色"))
            role = c;
    Cells cells;
    while (rows->next()) {
        cells.clear();
        for (int c = 0; c < rows->columns(); ++c)
            cells << (rows->isNull(c) ? std::nullopt : std::optional<QString>(rows->text(c)));
        entries << entryOfRow(cells, role);
    }
    if (rows->fault() != DbFault::None)
        return fail(why, rows->error());
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

bool readAuditPosition(qint64 number, AuditTrailPosition *out, QString *why)
{
    // One statement: one state of the trail.
    bool read = false;
    if (!eachRow(
            QStringLiteral("SELECT (SELECT 序号 FROM audit ORDER BY 序号 DESC LIMIT 1),"
                           " (SELECT 校验值 FROM audit ORDER BY 序号 DESC LIMIT 1),"
                           " (SELECT 校验值 FROM audit WHERE 序号=$1)"),
            {QString::number(number)},
            [&](const Cells &row) {
                *out = AuditTrailPosition();
                out->last = row.value(0).value_or(QString()).toLongLong();
                out->lastHash = row.value(1).value_or(QString());
                out->found = number > 0 && row.value(2).has_value();
                out->foundHash = row.value(2).value_or(QString());
                read = true;
                return false;
            },
            why))
        return false;
    return read || fail(why, QStringLiteral("审计记录表无法读取"));
}

}  // namespace xs
