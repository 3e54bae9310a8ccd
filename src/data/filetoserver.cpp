#include "data/filetoserver.h"

#include "data/passwords.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"
#include "data/sqlite/fileaudit.h"
#include "data/sqlite/sqlite.h"

namespace xs {

namespace {
qint64 fileCount(const Connection &c, const QString &table)
{
    const std::optional<QString> n = c.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(table));
    return n ? n->toLongLong() : -1;
}
}  // namespace

bool copyFileToServer(const Connection &file, PgConnection &server, const QString &room, QStringList *summary,
                      QString *error, const std::optional<QString> &roomPassword)
{
    auto refuse = [&](const QString &why) {
        if (error)
            *error = why;
        server.run(QStringLiteral("ROLLBACK"));
        return false;
    };
    if (const QString problem = roomNameProblem(room); !problem.isEmpty())
        return refuse(problem);
    QString verifier;
    if (roomPassword) {
        verifier = server.passwordVerifier(roomPassword->trimmed(), roomRole(room));
        if (verifier.isEmpty())
            return refuse(QStringLiteral("无法生成诊室账户的密码：") + server.lastError());
    }
    QString why;
    const int version = serverSchemaVersion(server, &why);
    if (version < 0)
        return refuse(why);
    const bool exists = version > 0;
    if (exists) {
        const PgResult r =
            server.exec(QStringLiteral("select (select count(*) from chengheng.xj) + (select count(*) from "
                                       "chengheng.class) + (select count(*) from chengheng.use)"));
        if (!r.ok())
            return refuse(r.error());
        if (r.text(0, 0).toLongLong() > 0)
            return refuse(
                QStringLiteral("服务器上的澄衡数据库已有记录，migrate 不覆盖已有的记录；请迁移到一个空的数据库"));
    }
    // The copied rows are the server's first state, not changes: the trail's
    // triggers start once they are in, and the file's own trail comes along
    // whole (same entries, same chain).
    if (!server.run(QStringLiteral("BEGIN;") + beforeObjectsDdl() + (exists ? QString() : serverSharedDdl())
                    + roomsTableDdl() + serverAuditDdl() + dropServerAuditTriggers() + serverRoomTableDdl(room)
                    + QStringLiteral("DROP TRIGGER IF EXISTS audit_trail ON %1.yc;").arg(roomSchema(room))))
        return refuse(QStringLiteral("建表失败：") + server.lastError());
    {
        const PgResult trail = server.exec(QStringLiteral("select count(*) from chengheng.audit"));
        if (!trail.ok())
            return refuse(trail.error());
        if (trail.text(0, 0).toLongLong() > 0)
            return refuse(
                QStringLiteral("服务器上的澄衡数据库已有审计记录，migrate 不覆盖已有的记录；请迁移到一个空的数据库"));
    }
    QStringList lines;
    for (const QString &table : kSchemaTables) {
        const QString serverTable =
            (isRoomTable(table) ? roomSchema(room) : QStringLiteral("chengheng")) + QLatin1Char('.') + table;
        const QStringList &columns = tableColumns(table);
        RowReader rows(file, table, columns);
        if (!rows.valid())
            return refuse(QStringLiteral("无法读取文件中的表 %1：").arg(table) + file.lastError());
        // The server keeps passwords only as hashes: a plain one is hashed on its way.
        const bool accounts = columns == useColumns();
        bool hashFailed = false;
        const qint64 copied = server.copyIn(serverTable, columns, [&](QList<std::optional<QString>> &row) {
            if (!rows.next(row))
                return false;
            if (accounts && row.size() > 1 && row[1] && !isPasswordHash(*row[1])) {
                row[1] = hashPassword(*row[1]);
                hashFailed = hashFailed || row[1]->isEmpty();
            }
            return true;
        });
        if (hashFailed)
            return refuse(QStringLiteral("密码散列失败（内存不足）"));
        if (rows.failed())
            return refuse(QStringLiteral("读取文件中的表 %1 时出错：").arg(table) + file.lastError());
        if (copied < 0)
            return refuse(QStringLiteral("表 %1 没有复制成功：").arg(table) + server.lastError());
        const qint64 inFile = fileCount(file, table);
        const PgResult onServer = server.exec(QStringLiteral("select count(*) from %1").arg(serverTable));
        if (!onServer.ok())
            return refuse(onServer.error());
        if (inFile != copied || onServer.text(0, 0).toLongLong() != inFile)
            return refuse(QStringLiteral("表 %1 的行数不符：文件 %2 行，服务器 %3 行，没有迁移任何数据")
                              .arg(table, QString::number(inFile), onServer.text(0, 0)));
        lines << QStringLiteral("%1：%2 行").arg(table, QString::number(inFile));
    }
    if (hasAuditTrail(file.get())) {
        RowReader rows(file, QStringLiteral("audit"), kTrailColumns);
        if (!rows.valid())
            return refuse(QStringLiteral("无法读取文件中的审计记录：") + file.lastError());
        const qint64 copied = server.copyIn(QStringLiteral("chengheng.audit"), kTrailColumns,
                                            [&](QList<std::optional<QString>> &row) { return rows.next(row); });
        if (rows.failed() || copied < 0)
            return refuse(QStringLiteral("审计记录没有复制成功：") + server.lastError());
        qint64 given = 0;
        if (const auto seq = file.scalar(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name='audit'")))
            given = seq->toLongLong();
        const PgResult counter = server.exec(
            QStringLiteral(
                "update chengheng.audit_counter set given=greatest($1::bigint, (select coalesce(max(序号),0) from"
                " chengheng.audit)), last_hash=coalesce((select 校验值 from chengheng.audit order by 序号 desc"
                " limit 1), '')"),
            {QString::number(given)});
        if (!counter.ok())
            return refuse(QStringLiteral("审计记录没有复制成功：") + counter.error());
        lines << QStringLiteral("审计记录：%1 条").arg(copied);
    }
    if (!server.run(serverAuditTriggers() + sharedGrantsDdl() + roomDdl(room, verifier) + serverDdlTrailDdl()))
        return refuse(QStringLiteral("建立审计触发器失败：") + server.lastError());
    if (!server.run(QStringLiteral("COMMIT")))
        return refuse(QStringLiteral("提交失败：") + server.lastError());
    if (summary)
        *summary = lines;
    return true;
}

}  // namespace xs
