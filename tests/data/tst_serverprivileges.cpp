// What a room's login role may do on the shared server, and what the owner's
// tampering leaves behind: the room is refused everything beyond its windows'
// work, and audit verify finds what the owner did to the trail.
#include "data/audit.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "testenv.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

class TestServerPrivileges : public QObject {
    Q_OBJECT
private slots:
    void init();
    void roomRefused_data();
    void roomRefused();
    void roomDoesItsWork();
    void ownerTamperingFound_data();
    void ownerTamperingFound();
    void nameGivenPastTheProgramMarked();
    void programRefusesTheAdministration();

private:
    QString db_;
};

void TestServerPrivileges::init()
{
    QString why;
    db_ = freshServerDatabase(&why);
    QVERIFY2(!db_.isEmpty(), qPrintable(why));
    PgConnection c(db_);
    QVERIFY2(createServerSchema(c, QStringLiteral("1"), &why), qPrintable(why));
    QVERIFY2(addServerRoom(c, QStringLiteral("2"), testRoomPassword(), &why), qPrintable(why));
    QVERIFY(c.run(QStringLiteral(
        "insert into chengheng.class values('一组','内科','101','五年','临床','王医生',null);"
        "insert into chengheng.xj(门诊号,姓名,科室) values('0001','甲','内科'),('0002','乙','内科');"
        "update chengheng.xj set 姓名='丙' where 门诊号='0002';insert into room_2.yc(门诊号) values('Y2')")));
}

// Each way of tampering with the trail, and every reach past the windows'
// work, tried with room 1's credentials: the server refuses it for want of
// privilege (SQLSTATE 42501), and nothing changed.
void TestServerPrivileges::roomRefused_data()
{
    QTest::addColumn<QString>("sql");
    const QString trigger = QStringLiteral("create or replace trigger audit_trail after %1 on chengheng.xj for each row"
                                           " %2 execute function chengheng.audit_write('门诊号', '%3')");
    QTest::newRow("trail trigger off") << "alter table chengheng.xj disable trigger audit_trail";
    QTest::newRow("trail trigger dropped") << "drop trigger audit_trail on chengheng.xj";
    QTest::newRow("trigger for INSERT only") << trigger.arg("insert", "", "");
    QTest::newRow("trigger with a WHEN") << trigger.arg("insert or update or delete", "when (false)", "");
    QTest::newRow("a column made secret") << trigger.arg("insert or update or delete", "", "诊断");
    QTest::newRow("trail function replaced") << "create or replace function chengheng.audit_write() returns trigger "
                                                "language plpgsql as $f$begin return null; end$f$";
    QTest::newRow("trail function made invoker") << "alter function chengheng.audit_write() security invoker";
    QTest::newRow("forged entry") << "insert into chengheng.audit(序号,时间,用户,操作,表名,记录,改动,校验值) values "
                                     "(99,'2026-01-01 00:00:00','doctor','修改','xj','0001','[]','x')";
    QTest::newRow("entry altered") << "update chengheng.audit set 改动='[]' where 序号=2";
    QTest::newRow("last entries deleted") << "delete from chengheng.audit where 序号>1";
    QTest::newRow("counter set back") << "update chengheng.audit_counter set given=1";
    QTest::newRow("trail truncated") << "truncate chengheng.audit";
    QTest::newRow("guard off") << "alter table chengheng.audit disable trigger audit_no_change";
    QTest::newRow("trail read") << "select * from chengheng.audit";
    QTest::newRow("triggers skipped") << "set session_replication_role = replica";
    QTest::newRow("trail appended by hand") << "select chengheng.audit_ddl()";
    QTest::newRow("another room's table read") << "select * from room_2.yc";
    QTest::newRow("another room's table written") << "delete from room_2.yc";
    QTest::newRow("archive truncated") << "truncate chengheng.xj";
    QTest::newRow("column added") << "alter table chengheng.xj add column x text";
    QTest::newRow("table made in the shared schema") << "create table chengheng.t(x int)";
    QTest::newRow("table made in public") << "create table public.t(x int)";
    QTest::newRow("function made") << "create function chengheng.f() returns int language sql as 'select 1'";
    QTest::newRow("kept count written") << "delete from chengheng.row_counts";
    QTest::newRow("catalogue written") << "delete from chengheng.表1";
    QTest::newRow("rooms written") << "update chengheng.rooms set role='chengheng_room_1'";
    QTest::newRow("temporary table") << "create temporary table t(x int)";
    QTest::newRow("large object made") << "select lo_from_bytea(0, 'x')";
    QTest::newRow("role made") << "create role intruder login";
}

void TestServerPrivileges::roomRefused()
{
    QFETCH(QString, sql);
    PgConnection admin(db_);
    const auto state = [&] {
        return admin
            .exec(QStringLiteral("select (select string_agg(序号||校验值, ',' order by 序号) from chengheng.audit)"
                                 "||(select given||last_hash from chengheng.audit_counter)"
                                 "||(select count(*) from room_2.yc)||(select count(*) from chengheng.xj)"))
            .text(0, 0);
    };
    const QString before = state();
    PgConnection room(roomConninfo(db_));
    const PgResult r = room.exec(sql);
    QVERIFY2(!r.ok(), "the room's role was allowed");
    QCOMPARE(r.sqlState(), QByteArray("42501"));
    QCOMPARE(state(), before);
    const AuditVerification v = verifyServerAuditTrail(admin);
    QVERIFY2(v.ok, qPrintable(v.problem));
}

// What the windows do, the room's role may: read and write the shared
// tables and its own work table, its changes on record under its role.
void TestServerPrivileges::roomDoesItsWork()
{
    PgConnection room(roomConninfo(db_));
    room.setOnConnect(searchPathFor(QStringLiteral("1")));
    QVERIFY(room.setAuditUser(QStringLiteral("doctor")));
    for (const char *sql : {"insert into yc(门诊号,姓名) values('Y1','丁')", "insert into xj select * from yc",
                            "delete from yc", "update xj set 姓名='戊' where 门诊号='Y1'",
                            "insert into class(科室) values('外科')", "delete from class where 科室='外科'",
                            "insert into use(username) values('li')", "update use set qx1='y' where username='li'",
                            "select count(*) from 表1", "select chengheng.row_counts_compact()"})
        QVERIFY2(room.exec(QString::fromUtf8(sql)).ok(), qPrintable(QString::fromUtf8(sql) + room.lastError()));
    PgConnection admin(db_);
    const PgResult r = admin.exec(QStringLiteral("select 用户||' '||角色||' '||操作||' '||表名 from chengheng.audit "
                                                 "where 角色='chengheng_room_1' order by 序号"));
    QStringList entries;
    for (int i = 0; i < r.rows(); ++i)
        entries << r.text(i, 0);
    QCOMPARE(entries, (QStringList{"doctor chengheng_room_1 新增 yc", "doctor chengheng_room_1 归档 xj",
                                   "doctor chengheng_room_1 清空 yc", "doctor chengheng_room_1 修改 xj",
                                   "doctor chengheng_room_1 新增 class", "doctor chengheng_room_1 删除 class",
                                   "doctor chengheng_room_1 新增 use", "doctor chengheng_room_1 修改 use"}));
    const AuditVerification v = verifyServerAuditTrail(admin);
    QVERIFY2(v.ok, qPrintable(v.problem));
}

// The owner may change anything; what it does to the trail is found by
// audit verify (or refused outright), whether left in place or put back.
void TestServerPrivileges::ownerTamperingFound_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("problem");  // the start of verify's problem, or of the server's refusal
    const QString trigger = QStringLiteral("create or replace trigger audit_trail after %1 on chengheng.xj for each row"
                                           " %2 execute function chengheng.audit_write('门诊号', '%3')");
    const QString changed = QStringLiteral("表 chengheng.xj 的审计触发器被改动");
    const QString flagged = QStringLiteral("审计记录：账户 xs_test 停用过触发器或改动过审计记录所依赖的对象 ");
    const QString guardOff = QStringLiteral("alter table chengheng.audit disable trigger user;");
    const QString guardOn = QStringLiteral(";alter table chengheng.audit enable trigger user");
    // The chain computed afresh from entry 3 on, as the program computes it.
    const QString recompute = QStringLiteral(
        ";DO $x$DECLARE r record; prev text; h text; BEGIN SELECT 校验值 INTO prev FROM chengheng.audit WHERE 序号=2;"
        " FOR r IN SELECT * FROM chengheng.audit WHERE 序号>=3 ORDER BY 序号 LOOP"
        " h := encode(sha256(convert_to(array_to_string(CASE WHEN r.角色 IS NULL THEN ARRAY[r.时间,r.用户,r.操作,"
        "r.表名,r.记录,r.改动,prev] ELSE ARRAY[r.时间,r.用户,r.操作,r.表名,r.记录,r.改动,r.角色,prev] END,"
        " chr(31), ''), 'UTF8')), 'hex'); UPDATE chengheng.audit SET 校验值=h WHERE 序号=r.序号; prev := h;"
        " END LOOP; UPDATE chengheng.audit_counter SET last_hash=prev; END$x$");
    QTest::newRow("trigger off, a change, trigger on")
        << "alter table chengheng.xj disable trigger audit_trail;update chengheng.xj set 姓名='X';"
           "alter table chengheng.xj enable trigger audit_trail"
        << "第 NEXT 条" + flagged + "chengheng.xj";
    QTest::newRow("trigger for INSERT only") << trigger.arg("insert", "", "") << changed;
    QTest::newRow("trigger with a WHEN") << trigger.arg("insert or update or delete", "when (false)", "") << changed;
    QTest::newRow("a column made secret") << trigger.arg("insert or update or delete", "", "姓名") << changed;
    QTest::newRow("trigger dropped") << "drop trigger audit_trail on chengheng.xj"
                                     << "表 chengheng.xj 的审计触发器缺失";
    QTest::newRow("trigger dropped and made again")
        << "drop trigger audit_trail on chengheng.xj;update chengheng.xj set 姓名='X';"
               + trigger.arg("insert or update or delete", "", "")
        << "第 NEXT 条" + flagged + "audit_trail on chengheng.xj";
    QTest::newRow("trail function replaced")
        << "create or replace function chengheng.audit_write() returns trigger language plpgsql as $f$begin return "
           "null; end$f$"
        << "审计触发器函数 chengheng.audit_write 被改动";
    QTest::newRow("trail function made invoker") << "alter function chengheng.audit_write() security invoker"
                                                 << "审计触发器函数 chengheng.audit_write 的执行权限或搜索路径被改动";
    QTest::newRow("forged entry")
        << "insert into chengheng.audit(序号,时间,用户,操作,表名,记录,改动,校验值) values (7,'2026-01-01 00:00:00',"
           "'doctor','修改','xj','0001','[]','x')"
        << "审计记录只能由程序的触发器写入";
    QTest::newRow("entry altered, chain recomputed")
        << guardOff + "update chengheng.audit set 改动='[]' where 序号=3" + recompute + guardOn
        << "第 NEXT 条" + flagged + "chengheng.audit";
    QTest::newRow("last entries deleted, counter set back")
        << guardOff
               + "delete from chengheng.audit where 序号>4;update chengheng.audit_counter set given=4, "
                 "last_hash=(select 校验值 from chengheng.audit where 序号=4)"
               + guardOn
        << "第 5 条" + flagged + "chengheng.audit";
    QTest::newRow("trail truncated, counter reset")
        << guardOff + "truncate chengheng.audit;update chengheng.audit_counter set given=0, last_hash=''" + guardOn
        << "第 1 条" + flagged + "chengheng.audit";
    QTest::newRow("counter set back") << "update chengheng.audit_counter set given=given-1"
                                      << "审计记录的计数器被改动";
    QTest::newRow("guard off") << "alter table chengheng.audit disable trigger audit_no_change"
                               << "审计记录表的保护触发器 audit_no_change 被停用";
    QTest::newRow("trail made writable for the rooms") << "grant insert on chengheng.audit to chengheng_rooms"
                                                       << "审计记录的表不只归 chengheng_owner 写";
    QTest::newRow("a trigger of its own on the trail")
        << "create trigger z after insert on chengheng.audit for each row execute function "
           "chengheng.row_counts_added()"
        << "审计记录表上有不属于程序的触发器 z";
}

void TestServerPrivileges::ownerTamperingFound()
{
    QFETCH(QString, sql);
    QFETCH(QString, problem);
    PgConnection owner(db_);
    QVERIFY(owner.run(QStringLiteral("set role chengheng_owner")));
    const AuditVerification before = verifyServerAuditTrail(owner);
    QVERIFY2(before.ok, qPrintable(before.problem));
    QVERIFY(before.entries >= 6);
    problem.replace(QStringLiteral("NEXT"), QString::number(before.entries + 1));
    if (!owner.run(sql)) {
        QVERIFY2(owner.lastError().contains(problem), qPrintable(owner.lastError()));
        return;
    }
    PgConnection admin(db_);
    const AuditVerification v = verifyServerAuditTrail(admin);
    QVERIFY(!v.ok);
    QVERIFY2(v.problem.startsWith(problem), qPrintable(v.problem));
}

// A name given by a role that is not a room's program (psql as the owner,
// say) is written with that role beside it, and marked when shown.
void TestServerPrivileges::nameGivenPastTheProgramMarked()
{
    PgConnection other(db_);
    QVERIFY(other.run(QStringLiteral("select set_config('xs.user', 'doctor', false);"
                                     "update chengheng.xj set 姓名='丁' where 门诊号='0001'")));
    PgConnection room(roomConninfo(db_));
    QVERIFY(room.setAuditUser(QStringLiteral("doctor")));
    QVERIFY(room.run(QStringLiteral("update chengheng.xj set 姓名='戊' where 门诊号='0001'")));
    // Shown by audit show: the role beside the name, marked when it is no room's program.
    const ToolRun shown = runTool({"audit", "show", "--record", "0001", "--user", "doctor", "--server", db_});
    QVERIFY2(shown.code == 0, qPrintable(shown.err));
    const QStringList lines = shown.out.trimmed().split(u'\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[1].simplified().contains(QStringLiteral("doctor xs_test（非诊室程序） 修改")), qPrintable(lines[1]));
    QVERIFY2(lines[2].simplified().contains(QStringLiteral("doctor chengheng_room_1 修改")), qPrintable(lines[2]));
    QCOMPARE(lines[3], QStringLiteral("共 2 条"));
}

// An administrator's own login role (a member of the owner through
// chengheng_admin) may not run a room's program.
void TestServerPrivileges::programRefusesTheAdministration()
{
    PgConnection c(db_);
    QVERIFY(c.run(QStringLiteral("DO $x$BEGIN CREATE ROLE bob LOGIN; EXCEPTION WHEN duplicate_object THEN NULL;"
                                 " END$x$;ALTER ROLE bob PASSWORD '%1';GRANT chengheng_admin TO bob")
                      .arg(testRoomPassword())));
    QString bob = roomConninfo(db_);
    bob.replace(QStringLiteral("user=chengheng_room_1"), QStringLiteral("user=bob"));
    PgConnection admin(bob);
    QCOMPARE(
        programRoleProblem(admin, QStringLiteral("1")),
        QStringLiteral("程序不以数据库的所有者或管理员账户 bob 的身份运行：这些账户能改动审计记录所依赖的表和函数。"
                       "请在连接串中改用本诊室的账户 chengheng_room_1（由数据库管理员用 chengheng-db room add 1 "
                       "--server … 建立，密码写在 ~/.pgpass 中）。"));
    PgConnection room(roomConninfo(db_));
    QCOMPARE(programRoleProblem(room, QStringLiteral("1")), QString());
}

QTEST_MAIN(TestServerPrivileges)
#include "tst_serverprivileges.moc"
