#include "data/pgaudit.h"

#include "data/pgschema.h"
#include "data/pgsql.h"

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
  h := encode(sha256(convert_to(array_to_string(ARRAY[t, who, act, TG_TABLE_NAME::text, k, c, prev], chr(31), ''),
                                'UTF8')), 'hex');
  INSERT INTO chengheng.audit VALUES (num, t, who, act, TG_TABLE_NAME, k, c, h);
  UPDATE chengheng.audit_counter SET last_hash = h;
  RETURN NULL;
END
)SQL";

const char *const kRefuseBody = R"SQL(
BEGIN
  IF TG_OP = 'UPDATE' THEN
    RAISE EXCEPTION '审计记录只能追加，不能修改';
  END IF;
  RAISE EXCEPTION '审计记录只能追加，不能删除';
END
)SQL";

struct SharedTable {
    const char *name;
    const char *key;
    const char *secret;
};
const SharedTable kShared[] = {
    {"xj", "门诊号", ""},
    {"class", "科室", ""},
    {"use", "username", "password"},
};

QString triggerOn(const QString &table, const QString &key, const QString &secret)
{
    return QStringLiteral("CREATE OR REPLACE TRIGGER audit_trail AFTER INSERT OR UPDATE OR DELETE ON %1"
                          " FOR EACH ROW EXECUTE FUNCTION chengheng.audit_write('%2', '%3');")
        .arg(table, key, secret);
}

QString sqlLiteral(const QString &s)
{
    return QLatin1Char('\'') + QString(s).replace(u'\'', QLatin1String("''")) + QLatin1Char('\'');
}

}  // namespace

QString serverAuditTriggers()
{
    QString sql;
    for (const SharedTable &t : kShared)
        sql += triggerOn(QStringLiteral("chengheng.") + QString::fromUtf8(t.name), QString::fromUtf8(t.key),
                         QString::fromUtf8(t.secret));
    return sql;
}

QString dropServerAuditTriggers()
{
    QString sql;
    for (const SharedTable &t : kShared)
        sql += QStringLiteral("DROP TRIGGER IF EXISTS audit_trail ON chengheng.%1;").arg(QString::fromUtf8(t.name));
    return sql;
}

QString serverAuditDdl()
{
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS chengheng.audit(序号 bigint PRIMARY KEY, 时间 text NOT NULL, 用户 text,"
               " 操作 text NOT NULL, 表名 text NOT NULL, 记录 text, 改动 text NOT NULL, 校验值 text NOT NULL);"
               "CREATE INDEX IF NOT EXISTS audit_jilu ON chengheng.audit(记录);"
               "CREATE TABLE IF NOT EXISTS chengheng.audit_counter(given bigint NOT NULL, last_hash text NOT NULL);"
               "INSERT INTO chengheng.audit_counter SELECT 0, '' WHERE NOT EXISTS (SELECT 1 FROM "
               "chengheng.audit_counter);"
               "CREATE OR REPLACE FUNCTION chengheng.audit_write() RETURNS trigger LANGUAGE plpgsql AS $xs$%1$xs$;"
               "CREATE OR REPLACE FUNCTION chengheng.audit_refuse() RETURNS trigger LANGUAGE plpgsql AS $xs$%2$xs$;"
               "CREATE OR REPLACE TRIGGER audit_no_change BEFORE UPDATE OR DELETE ON chengheng.audit"
               " FOR EACH ROW EXECUTE FUNCTION chengheng.audit_refuse();"
               "CREATE OR REPLACE TRIGGER audit_no_truncate BEFORE TRUNCATE ON chengheng.audit"
               " FOR EACH STATEMENT EXECUTE FUNCTION chengheng.audit_refuse();")
               .arg(QString::fromUtf8(kWriteBody), QString::fromUtf8(kRefuseBody))
           + serverAuditTriggers();
}

QString serverRoomAuditDdl(const QString &room)
{
    return triggerOn(roomSchema(room) + QStringLiteral(".yc"), QStringLiteral("门诊号"), QString());
}

bool serverHasAuditTrail(PgConnection &c, QString *error)
{
    const PgResult r = c.exec(QStringLiteral("select to_regclass('chengheng.audit') is not null"));
    if (!r.ok()) {
        if (error)
            *error = r.error();
        return false;
    }
    return r.text(0, 0) == QLatin1String("t");
}

namespace {
const char *const kEntryColumns = "select 序号,时间,用户,操作,表名,记录,改动,校验值 from chengheng.audit";

AuditEntry entryAt(const PgCursor &cur)
{
    AuditEntry e;
    e.id = cur.text(0).toLongLong();
    e.time = cur.text(1);
    e.user = cur.text(2);
    e.action = cur.text(3);
    e.table = cur.text(4);
    e.key = cur.text(5);
    e.changes = cur.text(6);
    e.hash = cur.text(7);
    return e;
}

// A second connection to the same server for reading (a cursor needs a
// connection of its own while the first one asks other questions).
std::shared_ptr<PgConnection> readerFor(const PgConnection &c, QString *why)
{
    auto r = std::make_shared<PgConnection>(c.conninfo());
    if (!r->ensure()) {
        if (why)
            *why = r->lastError();
        return {};
    }
    return r;
}

// What is wrong with the triggers that write the trail, or nothing.
QString triggerProblem(PgConnection &c)
{
    const PgResult body =
        c.exec(QStringLiteral("select p.proname, p.prosrc from pg_proc p join pg_namespace n on n.oid=p.pronamespace"
                              " where n.nspname='chengheng' and p.proname in ('audit_write','audit_refuse')"));
    if (!body.ok())
        return QStringLiteral("无法读取审计触发器：%1").arg(body.error());
    int found = 0;
    for (int i = 0; i < body.rows(); ++i) {
        const QString want =
            QString::fromUtf8(body.text(i, 0) == QLatin1String("audit_write") ? kWriteBody : kRefuseBody);
        if (body.text(i, 1) != want)
            return QStringLiteral("审计触发器函数 chengheng.%1 被改动：此后的修改可能没有记录").arg(body.text(i, 0));
        ++found;
    }
    if (found != 2)
        return QStringLiteral("审计触发器函数缺失：此后的修改没有记录");
    // Every audited table (the shared ones and each room's yc) has its trigger, enabled.
    const PgResult tables = c.exec(
        QStringLiteral("select n.nspname||'.'||c.relname, (select t.tgenabled from pg_trigger t where t.tgrelid=c.oid"
                       " and t.tgname='audit_trail') from pg_class c join pg_namespace n on n.oid=c.relnamespace"
                       " where c.relkind='r' and (n.nspname='chengheng' and c.relname in ('xj','class','use')"
                       " or n.nspname like 'room\\_%' and c.relname='yc') order by 1"));
    if (!tables.ok())
        return QStringLiteral("无法读取审计触发器：%1").arg(tables.error());
    for (int i = 0; i < tables.rows(); ++i) {
        if (tables.isNull(i, 1))
            return QStringLiteral("表 %1 的审计触发器缺失：此后的修改没有记录").arg(tables.text(i, 0));
        if (tables.text(i, 1) != QLatin1String("O"))
            return QStringLiteral("表 %1 的审计触发器被停用：此后的修改没有记录").arg(tables.text(i, 0));
    }
    const PgResult others =
        c.exec(QStringLiteral("select t.tgname from pg_trigger t where t.tgrelid='chengheng.audit'::regclass"
                              " and t.tgname not in ('audit_no_change','audit_no_truncate') order by 1"));
    if (!others.ok())
        return QStringLiteral("无法读取审计触发器：%1").arg(others.error());
    if (others.rows() > 0)
        return QStringLiteral("审计记录表上有不属于程序的触发器 %1").arg(others.text(0, 0));
    const PgResult guards = c.exec(QStringLiteral(
        "select count(*) from pg_trigger t where t.tgrelid='chengheng.audit'::regclass and t.tgenabled='O'"));
    if (!guards.ok() || guards.text(0, 0) != QLatin1String("2"))
        return QStringLiteral("审计记录表的保护触发器缺失或被停用：审计记录可能被改动");
    return {};
}
}  // namespace

AuditVerification verifyServerAuditTrail(PgConnection &c)
{
    AuditVerification v;
    QString why;
    if (!serverHasAuditTrail(c, &why)) {
        v.problem = why.isEmpty() ? QStringLiteral("服务器上没有审计记录表 chengheng.audit") : why;
        return v;
    }
    const std::shared_ptr<PgConnection> reader = readerFor(c, &why);
    if (!reader) {
        v.problem = why;
        return v;
    }
    // The counter first: entries appended while the chain is read only add to it.
    const PgResult given = c.exec(QStringLiteral("select coalesce(max(given), 0) from chengheng.audit_counter"));
    AuditChainCheck check;
    if (!given.ok())
        return check.readFailed(given.error());
    {
        PgCursor cur(reader, QString::fromUtf8(kEntryColumns) + QStringLiteral(" order by 序号"), true);
        while (cur.next())
            if (!check.next(entryAt(cur)))
                return check.result();
        if (!cur.ok())
            return check.readFailed(cur.error());
    }
    v = check.finish(given.text(0, 0).toLongLong());
    if (!v.ok)
        return v;
    const QString problem = triggerProblem(c);
    if (!problem.isEmpty()) {
        v.ok = false;
        v.problem = problem;
    }
    return v;
}

bool readServerAuditTrail(PgConnection &c, const AuditFilter &filter, QList<AuditEntry> *out, QString *why)
{
    QString error;
    if (!serverHasAuditTrail(c, &error)) {
        if (why)
            *why = error.isEmpty() ? QStringLiteral("服务器上没有审计记录表 chengheng.audit") : error;
        return false;
    }
    QStringList where;
    if (!filter.record.isEmpty())
        where << QStringLiteral("记录=%1").arg(sqlLiteral(filter.record));
    if (!filter.user.isEmpty())
        where << QStringLiteral("lower(用户)=lower(%1)").arg(sqlLiteral(filter.user));
    if (filter.since.isValid())
        where << QStringLiteral("时间>=%1").arg(sqlLiteral(filter.since.toString(QStringLiteral("yyyy-MM-dd"))));
    QString sql = QString::fromUtf8(kEntryColumns);
    if (!where.isEmpty())
        sql += QStringLiteral(" where ") + where.join(QStringLiteral(" and "));
    sql += QStringLiteral(" order by 序号");
    const std::shared_ptr<PgConnection> reader = readerFor(c, why);
    if (!reader)
        return false;
    PgCursor cur(reader, sql, true);
    while (cur.next())
        *out << entryAt(cur);
    if (!cur.ok()) {
        if (why)
            *why = cur.error();
        return false;
    }
    return true;
}

bool readServerAuditPosition(PgConnection &c, qint64 number, AuditTrailPosition *out, QString *why)
{
    QString error;
    if (!serverHasAuditTrail(c, &error)) {
        if (why)
            *why = error.isEmpty() ? QStringLiteral("服务器上没有审计记录表 chengheng.audit") : error;
        return false;
    }
    // One statement: one snapshot of the trail.
    const PgResult r = c.exec(QStringLiteral("select (select 序号 from chengheng.audit order by 序号 desc limit 1),"
                                             " (select 校验值 from chengheng.audit order by 序号 desc limit 1),"
                                             " (select 校验值 from chengheng.audit where 序号=$1::bigint)"),
                              {QString::number(number)});
    if (!r.ok() || r.rows() != 1) {
        if (why)
            *why = r.error();
        return false;
    }
    *out = AuditTrailPosition();
    out->last = r.isNull(0, 0) ? 0 : r.text(0, 0).toLongLong();
    out->lastHash = r.text(0, 1);
    out->found = number > 0 && !r.isNull(0, 2);
    out->foundHash = out->found ? r.text(0, 2) : QString();
    return true;
}

}  // namespace xs
