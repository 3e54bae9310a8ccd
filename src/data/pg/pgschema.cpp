#include "data/pg/pgschema.h"

#include "data/audit.h"
#include "data/builtin.h"
#include "data/passwords.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"
#include "data/statements.h"

namespace xs {

QString roomSchema(const QString &room)
{
    QString name = QStringLiteral("room_") + room.trimmed();
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString roomNameProblem(const QString &room)
{
    const QString name = room.trimmed();
    if (name.isEmpty())
        return QStringLiteral("诊室名不能为空。请给出诊室名，如 1 或 诊室三。");
    // The longest of the names made from it is the room's login role.
    const qsizetype bytes = roomRole(name).toUtf8().size();
    if (bytes <= kServerNameBytes)
        return {};
    const int most = kServerNameBytes - int(roomRole(QString()).toUtf8().size());
    return QStringLiteral("诊室名“%1”太长：服务器上它的登录账户 %2 有 %3 字节，而服务器只保留前 %4 字节，"
                          "名字相近的两个诊室会共用一个账户。请用不超过 %5 字节的诊室名"
                          "（一个汉字占 3 字节，即不超过 %6 个汉字）。")
        .arg(name, roomRole(name))
        .arg(bytes)
        .arg(kServerNameBytes)
        .arg(most)
        .arg(most / 3);
}

QString searchPathFor(const QString &room)
{
    return QStringLiteral("SET search_path = %1, chengheng, public").arg(roomSchema(room));
}

QString beforeObjectsDdl()
{
    return QStringLiteral("CREATE EXTENSION IF NOT EXISTS citext;") + rolesDdl() + QStringLiteral("SET LOCAL ROLE ")
           + kOwnerRole + QLatin1Char(';');
}

bool createServerSchema(PgConnection &c, const QString &room, QString *error,
                        const std::optional<QString> &roomPassword)
{
    const auto refuse = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (const QString problem = roomNameProblem(room); !problem.isEmpty())
        return refuse(problem);
    QString why;
    if (const int version = serverSchemaVersion(c, &why); version != 0)
        return refuse(
            version > 0 ? QStringLiteral("服务器上已经有澄衡数据库（模式 chengheng），init 不改动已有的数据库") : why);
    QString verifier;
    if (roomPassword) {
        verifier = c.passwordVerifier(roomPassword->trimmed(), roomRole(room));
        if (verifier.isEmpty())
            return refuse(QStringLiteral("无法生成诊室账户的密码：") + c.lastError());
    }
    const QString ddl = QStringLiteral("BEGIN;") + beforeObjectsDdl() + serverSharedDdl() + roomsTableDdl()
                        + serverAuditDdl() + sharedGrantsDdl() + roomDdl(room, verifier) + serverDdlTrailDdl();
    if (c.run(ddl) && c.run(QStringLiteral("COMMIT")))
        return true;
    refuse(QStringLiteral("建表失败：") + c.lastError());
    c.run(QStringLiteral("ROLLBACK"));
    return false;
}

bool seedServerCatalogue(PgConnection &server, QString *error)
{
    std::vector<CsvRecord> rows;
    if (!readBuiltinTable(QStringLiteral(":/seed/catalogue.csv"), catalogueColumns(), &rows, error))
        return false;
    size_t next = 0;
    const qint64 copied =
        server.copyIn(QStringLiteral("chengheng.表1"), catalogueColumns(), [&](QList<std::optional<QString>> &row) {
            if (next == rows.size())
                return false;
            row = QList<std::optional<QString>>(rows[next].begin(), rows[next].end());
            ++next;
            return true;
        });
    if (copied < 0)
        return falseWith(error, server.lastError());
    const QString drugs = drugSeedSql(QStringLiteral("chengheng.drugs"), error);
    return !drugs.isEmpty() && (server.run(drugs) || falseWith(error, server.lastError()));
}

}  // namespace xs
