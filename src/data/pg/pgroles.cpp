#include "data/pg/pgroles.h"

#include "data/pg/pgaudit.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"

namespace xs {

namespace {
QString ident(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString literal(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

// A role made unless the cluster has it; two administrations making it at
// the same moment both go on (the second finds it made).
QString createRole(const QString &name, const QString &options)
{
    return QStringLiteral("DO $xs$BEGIN CREATE ROLE %1 %2; EXCEPTION WHEN duplicate_object OR unique_violation THEN "
                          "NULL; END$xs$;")
        .arg(ident(name), options);
}

// Membership granted unless held already (a second grant would update the
// catalogue row another administration may be granting at the same moment).
QString grantRole(const QString &group, const QString &member, bool withAdmin)
{
    return QStringLiteral("DO $xs$BEGIN IF NOT EXISTS (SELECT 1 FROM pg_auth_members m JOIN pg_roles a ON a.oid ="
                          " m.roleid JOIN pg_roles b ON b.oid = m.member WHERE a.rolname = %1 AND b.rolname = %2) THEN"
                          " GRANT %3 TO %4%5; END IF; EXCEPTION WHEN unique_violation THEN NULL; END$xs$;")
        .arg(literal(group), literal(member), ident(group), ident(member),
             withAdmin ? QStringLiteral(" WITH ADMIN OPTION") : QString());
}

// A room's login role: made when absent, allowed to sign in, a member of the
// rooms role; its password set when a verifier is given. Run under the administrator.
QString roomRoleDdl(const QString &room, const QString &verifier)
{
    const QString role = roomRole(room);
    return createRole(role, QStringLiteral("LOGIN"))
           + QStringLiteral("DO $xs$BEGIN IF NOT (SELECT rolcanlogin FROM pg_roles WHERE rolname = %1) THEN"
                            " ALTER ROLE %2 LOGIN; END IF; END$xs$;")
                 .arg(literal(role), ident(role))
           + grantRole(kRoomsRole, role, false)
           + (verifier.isEmpty() ? QString()
                                 : QStringLiteral("ALTER ROLE %1 PASSWORD %2;").arg(ident(role), literal(verifier)));
}

QString asRole(const QString &role) { return QStringLiteral("SET LOCAL ROLE %1;").arg(ident(role)); }

bool failed(PgConnection &c, QString *why, const QString &what, const QString &detail)
{
    c.run(QStringLiteral("ROLLBACK"));
    if (why)
        *why = what + detail;
    return false;
}

// The failure of an administration statement in words its user can act on:
// a refusal for want of privilege (SET ROLE, an object not its own) means
// the command ran under an account that is not the administration's.
QString adminFailure(PgConnection &c)
{
    if (c.lastFault() == DbFault::ReadOnly)
        return QStringLiteral(
                   "这个服务器账户没有管理权限。请以数据库超级用户（如 postgres）或 %1 的成员的身份运行此命令。")
            .arg(kAdminRole);
    return c.lastError();
}

// Runs the administration's statements in one transaction; false with `what`
// and why when they did not all take effect (none did).
bool runAdministration(PgConnection &c, const QString &sql, QString *why, const QString &what)
{
    if (!c.run(QStringLiteral("BEGIN;") + sql))
        return failed(c, why, what, adminFailure(c));
    if (!c.run(QStringLiteral("COMMIT")))
        return failed(c, why, what, c.lastError());
    return true;
}
}  // namespace

QString roomRole(const QString &room) { return QStringLiteral("chengheng_room_") + room.trimmed(); }

QString rolesDdl()
{
    return createRole(kOwnerRole, QStringLiteral("NOLOGIN"))
           + createRole(kAdminRole, QStringLiteral("NOLOGIN CREATEROLE"))
           + createRole(kRoomsRole, QStringLiteral("NOLOGIN")) + grantRole(kOwnerRole, kAdminRole, false)
           + grantRole(kRoomsRole, kAdminRole, true)
           // Only the program's roles and the administration connect; the
           // owner makes the schemas. Nobody else creates anything in public.
           + QStringLiteral(
                 "DO $xs$BEGIN"
                 " EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());"
                 " EXECUTE format('GRANT CONNECT ON DATABASE %I TO %3, %2', current_database());"
                 " EXECUTE format('GRANT CONNECT, CREATE ON DATABASE %I TO %1', current_database());"
                 " END$xs$;"
                 "DO $xs$BEGIN REVOKE CREATE ON SCHEMA public FROM PUBLIC;"
                 " EXCEPTION WHEN insufficient_privilege THEN NULL; END$xs$;"
                 // Large objects are outside every table's grants: nobody
                 // but the administration makes or writes one here.
                 "DO $xs$BEGIN REVOKE EXECUTE ON FUNCTION pg_catalog.lo_create(oid), pg_catalog.lo_creat(integer),"
                 " pg_catalog.lo_from_bytea(oid, bytea), pg_catalog.lo_put(oid, bigint, bytea),"
                 " pg_catalog.lowrite(integer, bytea), pg_catalog.lo_truncate(integer, integer),"
                 " pg_catalog.lo_truncate64(integer, bigint), pg_catalog.lo_unlink(oid) FROM PUBLIC;"
                 " EXCEPTION WHEN insufficient_privilege THEN NULL; END$xs$;")
                 .arg(kOwnerRole, kAdminRole, kRoomsRole);
}

QString roomsTableDdl()
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS chengheng.rooms(room text PRIMARY KEY, role name NOT NULL,"
                          " added timestamptz NOT NULL DEFAULT now(), removed timestamptz);");
}

QString sharedGrantsDdl()
{
    return QStringLiteral(
               "REVOKE ALL ON SCHEMA chengheng FROM PUBLIC;"
               "GRANT USAGE ON SCHEMA chengheng TO %1;"
               "REVOKE ALL ON ALL TABLES IN SCHEMA chengheng FROM PUBLIC;"
               "REVOKE ALL ON ALL FUNCTIONS IN SCHEMA chengheng FROM PUBLIC;"
               // What the windows do: sign-in (and its password rehash) and 新增用户
               // on the accounts; departments and archive read, added, edited, deleted.
               "GRANT SELECT, INSERT, UPDATE ON chengheng.use TO %1;"
               "GRANT SELECT, INSERT, UPDATE, DELETE ON chengheng.class, chengheng.xj TO %1;"
               "GRANT SELECT ON chengheng.表1, chengheng.drugs, chengheng.row_counts, chengheng.rooms TO %1;"
               // An archived record's prescription lines come with it and go
               // with it; they are never rewritten.
               "GRANT SELECT, INSERT, DELETE ON chengheng.xjrx TO %1;"
               "GRANT EXECUTE ON FUNCTION chengheng.row_counts_compact(), chengheng.row_counts_recount() TO %1;")
        .arg(kRoomsRole);
}

// A room's schema and work table (under the owner) and its grants, and its
// row in the rooms table.
static QString roomGrantsDdl(const QString &room)
{
    const QString schema = roomSchema(room);
    const QString role = ident(roomRole(room));
    return asRole(kOwnerRole) + serverRoomTableDdl(room) + serverRoomAuditDdl(room)
           + QStringLiteral("REVOKE ALL ON SCHEMA %1 FROM PUBLIC;GRANT USAGE ON SCHEMA %1 TO %2;"
                            "REVOKE ALL ON %1.yc, %1.ycrx FROM PUBLIC;"
                            "GRANT SELECT, INSERT, UPDATE, DELETE ON %1.yc, %1.ycrx TO %2;"
                            "INSERT INTO chengheng.rooms(room, role) VALUES (%4, %5)"
                            " ON CONFLICT (room) DO UPDATE SET role = excluded.role, removed = NULL;")
                 .arg(schema, role, literal(room.trimmed()), literal(roomRole(room)));
}

QString roomDdl(const QString &room, const QString &verifier)
{
    return asRole(kAdminRole) + roomRoleDdl(room, verifier) + roomGrantsDdl(room);
}

bool addServerRoom(PgConnection &c, const QString &room, const std::optional<QString> &password, QString *why)
{
    if (const QString problem = roomNameProblem(room); !problem.isEmpty()) {
        if (why)
            *why = problem;
        return false;
    }
    const QString role = roomRole(room);
    QString verifier;
    if (password) {
        verifier = c.passwordVerifier(password->trimmed(), role);
        if (verifier.isEmpty()) {
            if (why)
                *why = QStringLiteral("无法生成账户密码：") + c.lastError();
            return false;
        }
    }
    // The login role is made under the administrator (who may make roles),
    // the schema and table under the owner (who then owns them).
    return runAdministration(c, roomDdl(room, verifier), why, QStringLiteral("诊室 %1 没有建立：").arg(room.trimmed()));
}

bool removeServerRoom(PgConnection &c, const QString &room, QString *why)
{
    const PgResult r = c.exec(QStringLiteral("select role from chengheng.rooms where room = $1 and removed is null"),
                              {room.trimmed()});
    if (!r.ok()) {
        if (why)
            *why = adminFailure(c);
        return false;
    }
    if (r.rows() == 0) {
        if (why)
            *why = QStringLiteral("服务器上没有在用的诊室 %1（用 chengheng-db room list 查看）").arg(room.trimmed());
        return false;
    }
    const QString role = ident(r.text(0, 0));
    const QString schema = roomSchema(room);
    const QString sql = asRole(kAdminRole)
                        + QStringLiteral("ALTER ROLE %1 NOLOGIN;REVOKE %2 FROM %1;").arg(role, kRoomsRole)
                        + asRole(kOwnerRole)
                        + QStringLiteral("REVOKE ALL ON %1.yc, %1.ycrx FROM %2;REVOKE ALL ON SCHEMA %1 FROM %2;"
                                         "UPDATE chengheng.rooms SET removed = now() WHERE room = %3;")
                              .arg(schema, role, literal(room.trimmed()));
    return runAdministration(c, sql, why, QStringLiteral("诊室 %1 没有停用：").arg(room.trimmed()));
}

bool listServerRooms(PgConnection &c, QList<ServerRoom> *out, QString *why)
{
    const PgResult r = c.exec(QStringLiteral(
        "select k.room, k.role, to_char(k.added, 'YYYY-MM-DD HH24:MI'), coalesce(to_char(k.removed, 'YYYY-MM-DD "
        "HH24:MI'), ''), coalesce(r.rolcanlogin, false) from chengheng.rooms k left join pg_roles r on r.rolname ="
        " k.role order by k.room"));
    if (!r.ok()) {
        if (why)
            *why = r.error();
        return false;
    }
    for (int i = 0; i < r.rows(); ++i)
        *out << ServerRoom{r.text(i, 0), r.text(i, 1), r.text(i, 2), r.text(i, 3), r.text(i, 4) == QLatin1String("t")};
    return true;
}

bool upgradeServerRoles(PgConnection &c, QStringList *rooms, QString *why)
{
    QString unread;
    const int version = serverSchemaVersion(c, &unread);
    if (version < 0)
        return failed(c, why, QString(), unread);
    const PgResult schemas = c.exec(
        QStringLiteral("select substr(n.nspname, 6) from pg_namespace n join pg_class k on k.relnamespace = n.oid"
                       " where n.nspname like 'room\\_%' and k.relname = 'yc' and k.relkind = 'r' order by 1"));
    if (!schemas.ok())
        return failed(c, why, QStringLiteral("无法读取服务器上的诊室："), schemas.error());
    QStringList found;
    for (int i = 0; i < schemas.rows(); ++i) {
        const QString room = schemas.text(i, 0);
        if (const QString problem = roomNameProblem(room); !problem.isEmpty())
            return failed(c, why, QString(), problem);
        found << room;
    }
    // Every object of the database's schemas goes to the owner first (only
    // their owner may replace the functions and triggers below).
    QString owners = QStringLiteral("ALTER SCHEMA chengheng OWNER TO %1;").arg(kOwnerRole);
    owners +=
        QStringLiteral("DO $xs$DECLARE o record; BEGIN"
                       " FOR o IN SELECT k.oid::regclass AS name FROM pg_class k JOIN pg_namespace n ON n.oid ="
                       " k.relnamespace WHERE (n.nspname = 'chengheng' OR n.nspname LIKE 'room\\_%%') AND k.relkind IN"
                       " ('r','p','S','v','m') LOOP EXECUTE format('ALTER TABLE %s OWNER TO %1', o.name); END LOOP;"
                       " FOR o IN SELECT p.oid::regprocedure AS name FROM pg_proc p JOIN pg_namespace n ON n.oid ="
                       " p.pronamespace WHERE n.nspname = 'chengheng' LOOP"
                       " EXECUTE format('ALTER FUNCTION %s OWNER TO %1', o.name); END LOOP;"
                       " FOR o IN SELECT nspname FROM pg_namespace WHERE nspname LIKE 'room\\_%%' LOOP"
                       " EXECUTE format('ALTER SCHEMA %I OWNER TO %1', o.nspname); END LOOP; END$xs$;")
            .arg(kOwnerRole);
    // The structure is brought up first: the trail's triggers go on every audited table it has.
    QString sql = rolesDdl() + owners + asRole(kOwnerRole) + roomsTableDdl() + serverMigrationDdl(version)
                  + serverAuditDdl() + serverRowCountDdl() + sharedGrantsDdl();
    for (const QString &room : std::as_const(found))
        sql += roomDdl(room, QString());
    if (!runAdministration(c, sql + serverDdlTrailDdl(), why, QStringLiteral("服务器没有升级（没有任何改动）：")))
        return false;
    if (rooms)
        *rooms = found;
    return true;
}

QString programRoleProblem(PgConnection &c, const QString &room)
{
    const PgResult who = c.exec(
        QStringLiteral("select session_user, r.rolsuper, coalesce((select pg_has_role(session_user, o.oid, 'MEMBER') "
                       "from pg_roles o"
                       " where o.rolname = $1), false), to_regclass('chengheng.rooms') is not null from pg_roles r"
                       " where r.rolname = session_user"),
        {kOwnerRole});
    if (!who.ok() || who.rows() != 1)
        return QStringLiteral("无法确认连接服务器所用的账户：") + (who.ok() ? QString() : who.error());
    const QString role = who.text(0, 0);
    const QString useRoom = QStringLiteral("请在连接串中改用本诊室的账户 %1（由数据库管理员用 chengheng-db room add %2 "
                                           "--server … 建立，密码写在 ~/.pgpass 中）。")
                                .arg(roomRole(room), room.trimmed());
    if (who.text(0, 1) == QLatin1String("t"))
        return QStringLiteral("程序不以数据库超级用户 %1 的身份运行：超级用户能绕过审计记录和诊室之间的隔离。")
                   .arg(role)
               + useRoom;
    if (who.text(0, 2) == QLatin1String("t"))
        return QStringLiteral(
                   "程序不以数据库的所有者或管理员账户 %1 的身份运行：这些账户能改动审计记录所依赖的表和函数。")
                   .arg(role)
               + useRoom;
    if (who.text(0, 3) != QLatin1String("t"))
        return QStringLiteral(
            "服务器上的澄衡数据库由旧版本建立，还没有诊室账户。请数据库管理员运行 chengheng-db upgrade "
            "--server …，再用 chengheng-db room add 为每个诊室设定账户密码。");
    const PgResult mine =
        c.exec(QStringLiteral("select room from chengheng.rooms where role = session_user and removed is null"));
    if (!mine.ok() || mine.rows() == 0)
        return QStringLiteral("服务器账户 %1 不是任何在用诊室的账户。").arg(role) + useRoom;
    if (mine.text(0, 0) != room.trimmed())
        return QStringLiteral(
                   "服务器账户 %1 属于诊室 %2，而设置中的诊室是 %3。请改正设置中的诊室名，或在连接串中改用诊室 %3 "
                   "的账户 %4。")
            .arg(role, mine.text(0, 0), room.trimmed(), roomRole(room));
    return {};
}

}  // namespace xs
