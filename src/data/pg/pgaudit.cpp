#include "data/pg/pgaudit.h"

#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/schema.h"

#include <memory>

namespace xs {

namespace {

// One function writes the entries of every audited table: the trigger's
// arguments name the key column and the column whose values never reach the
// trail. Columns are taken in table order, as in the file, and the changes
// are written as the same compact JSON array of [column, old, new].
const char *const kWriteBody = R"SQL(
DECLARE
  o jsonb := CASE WHEN TG_OP <> 'INSERT' THEN to_jsonb(OLD) END;
  n jsonb := CASE WHEN TG_OP <> 'DELETE' THEN to_jsonb(NEW) END;
  col text; ov text; nv text;
  parts text[] := '{}';
  act text; who text; t text; k text; c text; num bigint; prev text; h text;
BEGIN
  FOR col IN SELECT attname FROM pg_attribute WHERE attrelid = TG_RELID AND attnum > 0 AND NOT attisdropped
             ORDER BY attnum LOOP
    ov := o ->> col;
    nv := n ->> col;
    IF (TG_OP = 'UPDATE' AND ov IS NOT DISTINCT FROM nv) OR (TG_OP = 'INSERT' AND nv IS NULL)
       OR (TG_OP = 'DELETE' AND ov IS NULL) THEN
      CONTINUE;
    END IF;
    IF lower(col) = TG_ARGV[1] THEN
      ov := CASE WHEN ov IS NOT NULL THEN '******' END;
      nv := CASE WHEN nv IS NOT NULL THEN '******' END;
    END IF;
    parts := parts || ('[' || to_json(col)::text || ',' || coalesce(to_json(ov)::text, 'null') || ','
                       || coalesce(to_json(nv)::text, 'null') || ']');
  END LOOP;
  IF TG_OP = 'UPDATE' AND cardinality(parts) = 0 THEN
    RETURN NULL;
  END IF;
  c := '[' || array_to_string(parts, ',') || ']';
  act := CASE TG_OP WHEN 'INSERT' THEN '新增' WHEN 'UPDATE' THEN '修改' ELSE '删除' END;
  IF TG_OP = 'INSERT' AND TG_TABLE_NAME = 'xj'
     AND current_query() ~* '^\s*insert\s+into\s+xj\M.*\mselect\M.*\mfrom\s+yc\M' THEN
    act := '归档';
  ELSIF TG_OP = 'DELETE' AND TG_TABLE_NAME = 'yc' AND current_query() ~* '^\s*delete\s+from\s+yc\s*;?\s*$' THEN
    act := '清空';
  END IF;
  who := coalesce(current_setting('xs.user', true), 'postgres:' || session_user);
  t := to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS');
  k := (CASE WHEN TG_OP = 'INSERT' THEN n ELSE o END) ->> TG_ARGV[0];
  -- One writer at a time appends: the number and the previous hash come
  -- from the counter row, locked until this transaction ends.
  PERFORM pg_advisory_xact_lock(7268031);
  UPDATE chengheng.audit_counter SET given = given + 1 RETURNING given, last_hash INTO num, prev;
  h := encode(sha256(convert_to(array_to_string(ARRAY[t, who, act, TG_TABLE_NAME::text, k, c, session_user::text,
                                                     prev], chr(31), ''), 'UTF8')), 'hex');
  INSERT INTO chengheng.audit(序号, 时间, 用户, 操作, 表名, 记录, 改动, 校验值, 角色)
    VALUES (num, t, who, act, TG_TABLE_NAME, k, c, h, session_user);
  UPDATE chengheng.audit_counter SET last_hash = h;
  RETURN NULL;
END
)SQL";

// Every change of structure (DDL) of the database's schemas is written into
// the same chain as an entry of its own (action 改结构: the object's kind,
// its name, the statement), by event triggers only a superuser can make or
// switch off: a trigger switched off and on again, a trail function
// replaced and put back, stay on record.
const char *const kDdlBody = R"SQL(
DECLARE
  q text := left(current_query(), 4000);
  kinds text[]; names text[]; tags text[];
  who text; t text; c text; num bigint; prev text; h text;
BEGIN
  IF TG_EVENT = 'sql_drop' THEN
    SELECT array_agg(d.object_type), array_agg(d.object_identity), array_agg(TG_TAG::text) INTO kinds, names, tags
      FROM pg_event_trigger_dropped_objects() d WHERE d.schema_name = 'chengheng' OR d.schema_name LIKE 'room\_%';
  ELSE
    SELECT array_agg(d.object_type), array_agg(d.object_identity), array_agg(d.command_tag) INTO kinds, names, tags
      FROM pg_event_trigger_ddl_commands() d WHERE d.schema_name = 'chengheng' OR d.schema_name LIKE 'room\_%';
  END IF;
  FOR i IN 1 .. coalesce(cardinality(kinds), 0) LOOP
    who := coalesce(current_setting('xs.user', true), 'postgres:' || session_user);
    t := to_char(clock_timestamp(), 'YYYY-MM-DD HH24:MI:SS');
    c := '[[' || to_json(tags[i])::text || ',null,' || to_json(q)::text || ']]';
    PERFORM pg_advisory_xact_lock(7268031);
    UPDATE chengheng.audit_counter SET given = given + 1 RETURNING given, last_hash INTO num, prev;
    h := encode(sha256(convert_to(array_to_string(ARRAY[t, who, '改结构', kinds[i], names[i], c, session_user::text,
                                                         prev], chr(31), ''), 'UTF8')), 'hex');
    PERFORM set_config('xs.structure_entry', 'on', true);
    INSERT INTO chengheng.audit(序号, 时间, 用户, 操作, 表名, 记录, 改动, 校验值, 角色)
      VALUES (num, t, who, '改结构', kinds[i], names[i], c, h, session_user);
    PERFORM set_config('xs.structure_entry', 'off', true);
    UPDATE chengheng.audit_counter SET last_hash = h;
  END LOOP;
END
)SQL";

// The guards of the trail's table: no entry is changed or removed, and an
// entry is added only by the trail's own trigger function (a trigger called
// from a trigger) or, for a change of structure, by the event trigger.
const char *const kRefuseBody = R"SQL(
BEGIN
  IF TG_OP = 'INSERT' THEN
    IF pg_trigger_depth() > 1 OR (NEW.操作 = '改结构' AND current_setting('xs.structure_entry', true) = 'on') THEN
      RETURN NEW;
    END IF;
    RAISE EXCEPTION '审计记录只能由程序的触发器写入';
  END IF;
  IF TG_OP = 'UPDATE' THEN
    RAISE EXCEPTION '审计记录只能追加，不能修改';
  END IF;
  RAISE EXCEPTION '审计记录只能追加，不能删除';
END
)SQL";

QString triggerOn(const QString &table, const QString &key, const QString &secret)
{
    return QStringLiteral("CREATE OR REPLACE TRIGGER audit_trail AFTER INSERT OR UPDATE OR DELETE ON %1"
                          " FOR EACH ROW EXECUTE FUNCTION chengheng.audit_write('%2', '%3');")
        .arg(table, key, secret);
}

}  // namespace

QString serverAuditTriggers()
{
    // Made once the trail holds what a migration brings along (by COPY).
    QString sql = QStringLiteral("CREATE OR REPLACE TRIGGER audit_only_appended BEFORE INSERT ON chengheng.audit"
                                 " FOR EACH ROW EXECUTE FUNCTION chengheng.audit_refuse();");
    for (const AuditedTable &t : kAuditedTables)
        if (QLatin1String(t.name) != QLatin1String("yc"))
            sql += triggerOn(QStringLiteral("chengheng.") + QString::fromUtf8(t.name), QString::fromUtf8(t.key),
                             QString::fromUtf8(t.secret));
    return sql;
}

QString dropServerAuditTriggers()
{
    QString sql = QStringLiteral("DROP TRIGGER IF EXISTS audit_only_appended ON chengheng.audit;");
    for (const AuditedTable &t : kAuditedTables)
        if (QLatin1String(t.name) != QLatin1String("yc"))
            sql += QStringLiteral("DROP TRIGGER IF EXISTS audit_trail ON chengheng.%1;").arg(QString::fromUtf8(t.name));
    return sql;
}

QString serverAuditDdl()
{
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS chengheng.audit(序号 bigint PRIMARY KEY, 时间 text NOT NULL, 用户 text,"
               " 操作 text NOT NULL, 表名 text NOT NULL, 记录 text, 改动 text NOT NULL, 校验值 text NOT NULL,"
               " 角色 text);"
               "ALTER TABLE chengheng.audit ADD COLUMN IF NOT EXISTS 角色 text;"
               "CREATE INDEX IF NOT EXISTS audit_jilu ON chengheng.audit(记录);"
               "CREATE TABLE IF NOT EXISTS chengheng.audit_counter(given bigint NOT NULL, last_hash text NOT NULL);"
               "INSERT INTO chengheng.audit_counter SELECT 0, '' WHERE NOT EXISTS (SELECT 1 FROM "
               "chengheng.audit_counter);"
               "CREATE OR REPLACE FUNCTION chengheng.audit_write() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
               " SET search_path = pg_catalog, pg_temp AS $xs$%1$xs$;"
               "CREATE OR REPLACE FUNCTION chengheng.audit_refuse() RETURNS trigger LANGUAGE plpgsql AS $xs$%2$xs$;"
               "CREATE OR REPLACE FUNCTION chengheng.audit_ddl() RETURNS event_trigger LANGUAGE plpgsql"
               " SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $xs$%3$xs$;"
               "CREATE OR REPLACE TRIGGER audit_no_change BEFORE UPDATE OR DELETE ON chengheng.audit"
               " FOR EACH ROW EXECUTE FUNCTION chengheng.audit_refuse();"
               "CREATE OR REPLACE TRIGGER audit_no_truncate BEFORE TRUNCATE ON chengheng.audit"
               " FOR EACH STATEMENT EXECUTE FUNCTION chengheng.audit_refuse();")
               .arg(QString::fromUtf8(kWriteBody), QString::fromUtf8(kRefuseBody), QString::fromUtf8(kDdlBody))
           + serverAuditTriggers();
}

QString serverDdlTrailDdl()
{
    // Only a superuser may make event triggers: made when the session is
    // one, under its own role (the caller's SET LOCAL ROLE is left for it and
    // put back after).
    return QStringLiteral(
        "SET LOCAL ROLE NONE;"
        "DO $xs$BEGIN IF (SELECT rolsuper FROM pg_roles WHERE rolname = session_user) THEN"
        " IF NOT EXISTS (SELECT 1 FROM pg_event_trigger WHERE evtname = 'chengheng_ddl') THEN"
        " CREATE EVENT TRIGGER chengheng_ddl ON ddl_command_end EXECUTE FUNCTION chengheng.audit_ddl(); END IF;"
        " IF NOT EXISTS (SELECT 1 FROM pg_event_trigger WHERE evtname = 'chengheng_drop') THEN"
        " CREATE EVENT TRIGGER chengheng_drop ON sql_drop EXECUTE FUNCTION chengheng.audit_ddl(); END IF;"
        " END IF; END$xs$;");
}

QString serverRoomAuditDdl(const QString &room)
{
    return triggerOn(roomSchema(room) + QStringLiteral(".yc"), QStringLiteral("门诊号"), QString());
}

namespace {
struct TrailFunction {
    const char *name;
    const char *body;
    bool definer;  // runs with the owner's rights, on a fixed search path
};
const TrailFunction kTrailFunctions[] = {
    {"audit_write", kWriteBody, true},
    {"audit_refuse", kRefuseBody, false},
    {"audit_ddl", kDdlBody, true},
};

// The trail's trigger as the program makes it on `table` (as the server
// prints it back, with the names qualified: the check reads the catalogue
// with only pg_catalog on its search path).
QString expectedTrailTrigger(const QString &table, const QString &key, const QString &secret)
{
    return QStringLiteral("CREATE TRIGGER audit_trail AFTER INSERT OR DELETE OR UPDATE ON %1 FOR EACH ROW EXECUTE "
                          "FUNCTION chengheng.audit_write('%2', '%3')")
        .arg(table, key, secret);
}

// What is wrong with what the trail depends on, or nothing: its functions
// (body, rights, search path, owner), every audited table's trigger (events,
// timing, condition, function and arguments, enabled), the guards of the
// trail's table, the event triggers that record changes of structure, who
// may write the trail and its counter, and the changes of structure the
// trail recorded that switched a trigger off or altered the trail's objects.
QString dependencyProblem(PgConnection &c)
{
    const QString readError = QStringLiteral("无法读取审计记录所依赖的对象：%1");
    // The catalogue is read with nothing but pg_catalog on the search path,
    // so that names come back qualified, as the check expects them.
    if (!c.run(QStringLiteral("SET search_path = pg_catalog, pg_temp")))
        return readError.arg(c.lastError());
    const PgResult fns = c.exec(QStringLiteral(
        "select p.proname, p.prosrc, p.prosecdef, coalesce(array_to_string(p.proconfig, ';'), ''),"
        " pg_get_userbyid(p.proowner), p.pronargs from pg_catalog.pg_proc p join pg_catalog.pg_namespace n"
        " on n.oid = p.pronamespace where n.nspname = 'chengheng' and p.proname in ('audit_write', 'audit_refuse',"
        " 'audit_ddl') order by p.proname"));
    if (!fns.ok())
        return readError.arg(fns.error());
    for (const TrailFunction &f : kTrailFunctions) {
        const QString name = QString::fromUtf8(f.name);
        int seen = 0;
        for (int i = 0; i < fns.rows(); ++i) {
            if (fns.text(i, 0) != name)
                continue;
            ++seen;
            if (fns.text(i, 5) != QLatin1String("0"))
                return QStringLiteral("审计记录表旁有同名的函数 chengheng.%1：触发器可能调用它").arg(name);
            if (fns.text(i, 1) != QString::fromUtf8(f.body))
                return QStringLiteral("审计触发器函数 chengheng.%1 被改动：此后的修改可能没有记录").arg(name);
            if ((fns.text(i, 2) == QLatin1String("t")) != f.definer
                || fns.text(i, 3) != (f.definer ? QStringLiteral("search_path=pg_catalog, pg_temp") : QString()))
                return QStringLiteral("审计触发器函数 chengheng.%1 的执行权限或搜索路径被改动").arg(name);
            if (fns.text(i, 4) != QLatin1String("chengheng_owner"))
                return QStringLiteral("审计触发器函数 chengheng.%1 的所有者是 %2，不是 chengheng_owner")
                    .arg(name, fns.text(i, 4));
        }
        if (seen == 0)
            return QStringLiteral("审计触发器函数 chengheng.%1 缺失：此后的修改没有记录").arg(name);
    }
    // Every audited table (the shared ones, the archived prescription lines
    // and each room's yc) has its trigger, as made, enabled.
    const PgResult tables = c.exec(QStringLiteral(
        "select k.oid::pg_catalog.regclass::text, k.relname, (select pg_catalog.pg_get_triggerdef(t.oid) from"
        " pg_catalog.pg_trigger t where t.tgrelid = k.oid and t.tgname = 'audit_trail'), (select t.tgenabled from"
        " pg_catalog.pg_trigger t where t.tgrelid = k.oid and t.tgname = 'audit_trail') from pg_catalog.pg_class k"
        " join pg_catalog.pg_namespace n on n.oid = k.relnamespace where k.relkind = 'r' and (n.nspname = 'chengheng'"
        " and k.relname in ('xj', 'class', 'use', 'xjrx') or n.nspname like 'room\\_%' and k.relname = 'yc')"
        " order by 1"));
    if (!tables.ok())
        return readError.arg(tables.error());
    for (int i = 0; i < tables.rows(); ++i) {
        const QString table = tables.text(i, 0);
        if (tables.isNull(i, 2))
            return QStringLiteral("表 %1 的审计触发器缺失：此后的修改没有记录").arg(table);
        QString key = QStringLiteral("门诊号");
        QString secret;
        for (const AuditedTable &t : kAuditedTables)
            if (tables.text(i, 1) == QString::fromUtf8(t.name)) {
                key = QString::fromUtf8(t.key);
                secret = QString::fromUtf8(t.secret);
            }
        if (tables.text(i, 2) != expectedTrailTrigger(table, key, secret))
            return QStringLiteral("表 %1 的审计触发器被改动（%2）：有些修改可能没有记录").arg(table, tables.text(i, 2));
        if (tables.text(i, 3) != QLatin1String("O"))
            return QStringLiteral("表 %1 的审计触发器被停用：此后的修改没有记录").arg(table);
    }
    const PgResult guards = c.exec(
        QStringLiteral("select t.tgname, pg_catalog.pg_get_triggerdef(t.oid), t.tgenabled from pg_catalog.pg_trigger t"
                       " where t.tgrelid = 'chengheng.audit'::pg_catalog.regclass order by 1"));
    if (!guards.ok())
        return readError.arg(guards.error());
    const QStringList wantGuards = {
        QStringLiteral("CREATE TRIGGER audit_no_change BEFORE DELETE OR UPDATE ON chengheng.audit FOR EACH ROW "
                       "EXECUTE FUNCTION chengheng.audit_refuse()"),
        QStringLiteral("CREATE TRIGGER audit_no_truncate BEFORE TRUNCATE ON chengheng.audit FOR EACH STATEMENT "
                       "EXECUTE FUNCTION chengheng.audit_refuse()"),
        QStringLiteral("CREATE TRIGGER audit_only_appended BEFORE INSERT ON chengheng.audit FOR EACH ROW "
                       "EXECUTE FUNCTION chengheng.audit_refuse()")};
    QStringList haveGuards;
    for (int i = 0; i < guards.rows(); ++i) {
        if (!guards.text(i, 0).startsWith(QLatin1String("audit_no_"))
            && guards.text(i, 0) != QLatin1String("audit_only_appended"))
            return QStringLiteral("审计记录表上有不属于程序的触发器 %1").arg(guards.text(i, 0));
        if (guards.text(i, 2) != QLatin1String("O"))
            return QStringLiteral("审计记录表的保护触发器 %1 被停用：审计记录可能被改动").arg(guards.text(i, 0));
        haveGuards << guards.text(i, 1);
    }
    if (haveGuards != wantGuards)
        return QStringLiteral("审计记录表的保护触发器缺失或被改动：审计记录可能被改动");
    const PgResult events = c.exec(QStringLiteral(
        "select evtname || ' ' || evtevent || ' ' || evtenabled::text || ' ' || evtfoid::pg_catalog.regproc::text from"
        " pg_catalog.pg_event_trigger where evtname in ('chengheng_ddl', 'chengheng_drop') order by 1"));
    if (!events.ok())
        return readError.arg(events.error());
    const QStringList wantEvents = {QStringLiteral("chengheng_ddl ddl_command_end O chengheng.audit_ddl"),
                                    QStringLiteral("chengheng_drop sql_drop O chengheng.audit_ddl")};
    QStringList haveEvents;
    for (int i = 0; i < events.rows(); ++i)
        haveEvents << events.text(i, 0);
    if (haveEvents != wantEvents)
        return QStringLiteral("记录结构改动的事件触发器缺失或被停用：停用后又恢复的触发器不会留下记录。"
                              "请数据库超级用户运行 chengheng-db upgrade --server … 补上。");
    // Only the owner writes the trail and its counter (the functions run as it).
    const PgResult writers = c.exec(QStringLiteral(
        "select k.relname || '：' || coalesce(pg_get_userbyid(a.grantee), 'PUBLIC') || ' ' || a.privilege_type from"
        " pg_catalog.pg_class k join pg_catalog.pg_namespace n on n.oid = k.relnamespace, aclexplode(coalesce(k.relacl,"
        " acldefault('r', k.relowner))) a where n.nspname = 'chengheng' and k.relname in ('audit', 'audit_counter')"
        " and (a.grantee <> k.relowner and a.privilege_type <> 'SELECT' or pg_get_userbyid(k.relowner) <>"
        " 'chengheng_owner') order by 1 limit 1"));
    if (!writers.ok())
        return readError.arg(writers.error());
    if (writers.rows() > 0)
        return QStringLiteral("审计记录的表不只归 chengheng_owner 写（%1）").arg(writers.text(0, 0));
    // The trail's own record of changes of structure: a trigger switched
    // off (and perhaps on again), a guard or trail trigger dropped, a trail
    // function or table altered.
    const PgResult ddl = c.exec(QStringLiteral(
        "select 序号, coalesce(角色, ''), 记录, 改动 from chengheng.audit where 操作 = '改结构' and ("
        "表名 = 'table' and 改动 ~* '(disable|enable)\\s+(always\\s+|replica\\s+)?trigger'"
        " or 表名 = 'trigger' and 记录 ~ '^(audit_trail|audit_no_change|audit_no_truncate|audit_only_appended) on ' "
        "and 改动 like '[[\"DROP%'"
        " or 表名 = 'function' and 记录 like 'chengheng.audit\\_%' and 改动 like '[[\"ALTER%'"
        " or 表名 = 'table' and 记录 in ('chengheng.audit', 'chengheng.audit_counter') and 改动 like '[[\"ALTER%')"
        " order by 序号 limit 1"));
    if (!ddl.ok())
        return readError.arg(ddl.error());
    if (ddl.rows() > 0)
        return QStringLiteral(
                   "第 %1 条审计记录：账户 %2 停用过触发器或改动过审计记录所依赖的对象 %3，此间的修改可能没有记录"
                   "（语句：%4）")
            .arg(ddl.text(0, 0), ddl.text(0, 1), ddl.text(0, 2),
                 parseChanges(ddl.text(0, 3)).value(0).newValue.left(200));
    return {};
}
}  // namespace

const AuditTrailSide &serverAuditTrail()
{
    static const AuditTrailSide side{
        QStringLiteral("chengheng.audit"), QStringLiteral("select 1 where to_regclass('chengheng.audit') is not null"),
        QStringLiteral("服务器上没有审计记录表 chengheng.audit"), QString(),
        // Its hash is the one of the entry it numbers last.
        QStringLiteral("select coalesce(max(given), 0), count(*), max(last_hash) from chengheng.audit_counter")};
    return side;
}

AuditVerification verifyServerAuditTrail(PgConnection &c)
{
    // A connection of its own to the same server: its cursors and its search
    // path leave the caller's connection as it was.
    const auto reader = std::make_shared<PgConnection>(c.conninfo());
    if (!reader->ensure()) {
        AuditVerification v;
        v.problem = reader->lastError();
        return v;
    }
    // Each reading through a cursor: the trail is never read whole into memory.
    const auto read = [&](const QString &sql, const std::function<bool(const Cells &)> &row, QString *why) {
        PgCursor cur(reader, sql, true);
        Cells cells;
        while (cur.next()) {
            cells.clear();
            for (int i = 0; i < int(cur.names().size()); ++i)
                cells << (cur.isNull(i) ? std::nullopt : std::optional<QString>(cur.text(i)));
            if (!row(cells))
                return true;
        }
        if (!cur.ok() && why)
            *why = cur.error();
        return cur.ok();
    };
    return verifyAuditTrail(read, serverAuditTrail(), [&](const Cells &counter, const QString &counted) {
        const qint64 given = counter.value(0).value_or(QString()).toLongLong();
        if (counter.value(1) != QStringLiteral("1") || (given > 0 && counted != counter.value(2)))
            return QStringLiteral("审计记录的计数器被改动：它与第 %1 条审计记录不符").arg(given);
        return dependencyProblem(*reader);
    });
}

}  // namespace xs
