// The audit trail: every change of xj, yc, class and use recorded with who,
// what and the old and new values; the chain that finds entries altered,
// inserted or removed; the trail's own refusals.
#include "data/audit.h"
#include "data/caserecord.h"
#include "data/globals.h"
#include "data/recordset.h"
#include "data/schema.h"
#include "data/sqlite/fileaudit.h"
#include "data/sqlite/sqlite.h"
#include "prescribe/prescribefields.h"
#include "prescribe/worktable.h"
#include "testenv.h"
#include "ui/application.h"

#include <QProcess>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

class TestAudit : public QObject {
    Q_OBJECT
private slots:
    void eachChangeRecorded_data();
    void eachChangeRecorded();
    void clearIsOneEntryPerRow();
    void passwordsNeverInTrail();
    void trailRefusesUpdateAndDelete_data();
    void trailRefusesUpdateAndDelete();
    void verifyFindsTampering_data();
    void verifyFindsTampering();
    void shellCannotChangeUnrecorded();
    void olderFileGetsTrail();
    void toolOnFileWithoutTrail_data();
    void toolOnFileWithoutTrail();
    void showFilters();
};

namespace {

// The file opened the way a hand editor would: a plain sqlite3 connection,
// without the program's functions. Fails the test on error.
void rawExec(const QString &path, const QString &sql)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    char *msg = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &msg);
    const QString why = QString::fromUtf8(msg ? msg : "");
    sqlite3_free(msg);
    sqlite3_close(db);
    QVERIFY2(rc == SQLITE_OK, qPrintable(why));
}

// The trail of the test's database (the engine points at it while the TestDb lives).
QList<AuditEntry> trail(const TestDb & /*db*/, const AuditFilter &f = {})
{
    QList<AuditEntry> out;
    QString why;
    if (!readAuditTrail(f, &out, &why))
        qFatal("trail: %s", qPrintable(why));
    return out;
}

// "column:old>new" for each change, nulls as "∅".
QString changesOf(const AuditEntry &e)
{
    QStringList parts;
    for (const AuditChange &c : parseChanges(e.changes))
        parts << QStringLiteral("%1:%2>%3")
                     .arg(c.column, c.oldNull ? QStringLiteral("∅") : c.oldValue,
                          c.newNull ? QStringLiteral("∅") : c.newValue);
    return parts.join(u' ');
}

std::array<QString, 20> caseValues(const QString &key, const QString &name)
{
    std::array<QString, 20> v;
    v[0] = key;
    v[1] = name;
    v[kBirthColumn] = QStringLiteral("1980-01-02");
    v[kVisitColumn] = QStringLiteral("2026-12-01");
    return v;
}

}  // namespace

void TestAudit::eachChangeRecorded_data()
{
    QTest::addColumn<QString>("change");  // what is done, below
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("changes");  // changesOf the entry
    QTest::newRow("case added") << "add"
                                << "新增"
                                << "xj"
                                << "A1"
                                << "门诊号:∅>A1 姓名:∅>张三";
    QTest::newRow("case modified") << "modify"
                                   << "修改"
                                   << "xj"
                                   << "B1"
                                   << "姓名:李四>李五 出生年月:1970-03-04>1980-01-02 入诊时间:2026-11-30>2026-12-01";
    QTest::newRow("case deleted") << "delete"
                                  << "删除"
                                  << "xj"
                                  << "B1"
                                  << "门诊号:B1>∅ 姓名:李四>∅ 出生年月:1970-03-04>∅ 入诊时间:2026-11-30>∅";
    QTest::newRow("work row archived") << "archive"
                                       << "归档"
                                       << "xj"
                                       << "W1"
                                       << "门诊号:∅>W1 姓名:∅>王五 诊断:∅>感冒";
    QTest::newRow("one work row deleted") << "deletework"
                                          << "删除"
                                          << "yc"
                                          << "W1"
                                          << "门诊号:W1>∅ 姓名:王五>∅ 诊断:感冒>∅";
    QTest::newRow("department renamed") << "dept"
                                        << "修改"
                                        << "class"
                                        << "内科"
                                        << "医生:赵>钱";
    QTest::newRow("user granted") << "grant"
                                  << "修改"
                                  << "use"
                                  << "guest"
                                  << "qx2:∅>y";
}

void TestAudit::eachChangeRecorded()
{
    QFETCH(QString, change);
    QFETCH(QString, action);
    QFETCH(QString, table);
    QFETCH(QString, key);
    QFETCH(QString, changes);
    TestDb db(Accounts);
    db.exec("insert into xj(门诊号,姓名,出生年月,入诊时间) values('B1','李四','1970-03-04','2026-11-30');"
            "insert into yc(门诊号,姓名,诊断) values('W1','王五','感冒');"
            "insert into class(年级,科室,诊室,年制,专业,医生,备注) values('一','内科','1','1','全科','赵','无')");
    if (change == QLatin1String("modify")) {
        // The entry window writes all twenty columns; those it leaves as
        // they were are no change.
        QStringList blanks;
        for (const QString &c : caseColumns())
            if (c != QStringLiteral("门诊号") && c != QStringLiteral("姓名")
                && !isDateColumn(int(caseColumns().indexOf(c))))
                blanks << c + QStringLiteral("=''");
        db.exec(QStringLiteral("update xj set ") + blanks.join(u','));
    }
    const int before = int(trail(db).size());
    signInAs(QStringLiteral("doctor"));
    // The statements the windows send.
    SqlOutcome o;
    if (change == QLatin1String("add")) {
        RecordsetPtr rs = runsql(QStringLiteral("select * from xj "));
        QVERIFY(rs && rs->AddNew() && rs->setField(0, "A1") && rs->setField(1, "张三") && rs->Update());
        o.ok = true;
    } else if (change == QLatin1String("modify")) {
        runsql(*caseUpdateStatement(kCaseUpdateHead, caseValues("B1", "李五"), "B1"), &o);
    } else if (change == QLatin1String("delete")) {
        runsql(QStringLiteral("delete * from xj where 门诊号='B1'"), &o);
    } else if (change == QLatin1String("archive")) {
        o.ok = archiveWorkRows(QStringLiteral("W1")).result == ArchiveOutcome::Copied;
    } else if (change == QLatin1String("deletework")) {
        runsql(QStringLiteral("delete * from yc where 门诊号='W1'"), &o);
    } else if (change == QLatin1String("dept")) {
        runsql(QStringLiteral("update class set 医生='钱' where 科室='内科'"), &o);
    } else if (change == QLatin1String("grant")) {
        runsql(QStringLiteral("update use set qx2='y' where username='guest'"), &o);
    }
    QVERIFY2(o.ok, qPrintable(o.error));
    const QList<AuditEntry> entries = trail(db);
    QCOMPARE(entries.size(), before + 1);
    const AuditEntry &e = entries.last();
    QCOMPARE(e.user, QStringLiteral("doctor"));
    QCOMPARE(e.action, action);
    QCOMPARE(e.table, table);
    QCOMPARE(e.key, key);
    QCOMPARE(changesOf(e), changes);
    QVERIFY(QDateTime::fromString(e.time, QStringLiteral("yyyy-MM-dd HH:mm:ss")).secsTo(QDateTime::currentDateTime())
            < 60);
    // A save that changes nothing is no change.
    runsql(QStringLiteral("update class set 医生=医生"), &o);
    QVERIFY(o.ok);
    QCOMPARE(trail(db).size(), entries.size());
    Connection c = Connection::open(db.path());
    QVERIFY(verifyAuditTrail(c.get()).ok);
}

void TestAudit::clearIsOneEntryPerRow()
{
    TestDb db(Accounts);
    db.exec("insert into yc(门诊号,姓名) values('1','甲'),('2','乙'),('3','丙')");
    signInAs(QStringLiteral("admin"));
    SqlOutcome o;
    runsql(QStringLiteral("delete from yc"), &o);
    QVERIFY2(o.ok, qPrintable(o.error));
    QList<AuditEntry> entries = trail(db);
    entries = entries.mid(entries.size() - 3);
    QStringList seen;
    for (const AuditEntry &e : entries)
        seen << e.action + e.table + e.key + e.user;
    QCOMPARE(seen, (QStringList{"清空yc1admin", "清空yc2admin", "清空yc3admin"}));
    // Numbered one after the other within one statement, and chained.
    QCOMPARE(entries[2].id, entries[0].id + 2);
    Connection c = Connection::open(db.path());
    QVERIFY(verifyAuditTrail(c.get()).ok);
}

void TestAudit::passwordsNeverInTrail()
{
    TestDb db(Empty);
    signInAs(QStringLiteral("admin"));
    db.exec("insert into use(username,password) values('nurse','Geheim#1');"
            "update use set password='Anders#2' where username='nurse';"
            "update use set password='Anders#2' where username='nurse';"
            "delete from use where username='nurse'");
    const QList<AuditEntry> entries = trail(db);
    QCOMPARE(entries.size(), 3);  // the second update changed nothing
    QCOMPARE(changesOf(entries[0]), QStringLiteral("username:∅>nurse password:∅>******"));
    QCOMPARE(changesOf(entries[1]), QStringLiteral("password:******>******"));
    QCOMPARE(describeChanges(entries[1]), QStringLiteral("密码：****** → ******"));
    const QString all = db.rows("select * from audit").join(u'\n');
    QVERIFY(!all.contains("Geheim") && !all.contains("Anders"));
}

void TestAudit::trailRefusesUpdateAndDelete_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("reason");
    QTest::newRow("update") << "update audit set 用户='x'"
                            << "审计记录只能追加，不能修改";
    QTest::newRow("delete") << "delete from audit"
                            << "审计记录只能追加，不能删除";
}

void TestAudit::trailRefusesUpdateAndDelete()
{
    QFETCH(QString, sql);
    QFETCH(QString, reason);
    TestDb db(Accounts);
    db.exec("update use set qx1='y'");
    const QStringList before = db.rows("select * from audit");
    QCOMPARE(before.size(), 4);  // clerk held qx1 already
    // Refused with the program's functions and without them.
    SqlOutcome o;
    runsql(sql, &o);
    QVERIFY(!o.ok);
    QVERIFY2(o.error.contains(reason), qPrintable(o.error));
    sqlite3 *raw = nullptr;
    QCOMPARE(sqlite3_open(db.path().toUtf8().constData(), &raw), SQLITE_OK);
    QCOMPARE(sqlite3_exec(raw, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_CONSTRAINT);
    QCOMPARE(QString::fromUtf8(sqlite3_errmsg(raw)), reason);
    sqlite3_close(raw);
    QCOMPARE(db.rows("select * from audit"), before);
}

void TestAudit::verifyFindsTampering_data()
{
    QTest::addColumn<QString>("tamper");   // run by hand, past the program, on a trail of entries 1..4
    QTest::addColumn<QString>("message");  // "" when the trail is sound
    const QString unguard = QStringLiteral("drop trigger audit_no_update; drop trigger audit_no_delete;");
    QTest::newRow("untouched") << ""
                               << "";
    QTest::newRow("value altered") << unguard + "update audit set 改动=replace(改动,'y','n') where 序号=2"
                                   << "第 2 条审计记录被改动";
    QTest::newRow("user altered") << unguard + "update audit set 用户='nobody' where 序号=3"
                                  << "第 3 条审计记录被改动";
    QTest::newRow("entry removed") << unguard + "delete from audit where 序号=2"
                                   << "第 2 条审计记录被删除";
    QTest::newRow("two removed") << unguard + "delete from audit where 序号 in (2,3)"
                                 << "第 2 至 3 条审计记录被删除";
    QTest::newRow("last removed") << unguard + "delete from audit where 序号=4"
                                  << "最后的第 4 条审计记录被删除";
    QTest::newRow("entry put in between")
        << unguard
               + "update audit set 序号=序号+100 where 序号>=2; update audit set 序号=序号-99 where 序号>=100;"
                 "insert into audit values(2,'2026-01-01 00:00:00','x','删除','xj','1','[]','00')"
        << "第 2 条审计记录不是程序写入的（被插入）";
    QTest::newRow("entry appended") << "insert into audit values(5,'2026-01-01 00:00:00','x','删除','xj','1','[]','00')"
                                    << "第 5 条审计记录被改动或不是程序写入的";
    QTest::newRow("trigger dropped") << "drop trigger audit_xj_update"
                                     << "审计触发器 audit_xj_update 缺失";
}

void TestAudit::verifyFindsTampering()
{
    QFETCH(QString, tamper);
    QFETCH(QString, message);
    TestDb db(Accounts);
    db.exec("update use set qx1='y' where username in ('admin','viewer','doctor','guest')");
    QCOMPARE(db.count("audit"), 4);
    if (!tamper.isEmpty())
        rawExec(db.path(), tamper);
    const ToolRun r = runTool({"audit", "verify", "--db", db.path()});
    if (message.isEmpty()) {
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.startsWith(QStringLiteral("审计记录完好：共 4 条")), qPrintable(r.out));
        return;
    }
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.trimmed(),
             QStringLiteral("chengheng-db: 审计记录校验不通过：") + message
                 + (message.contains(QStringLiteral("触发器")) ? QStringLiteral("：此后的修改没有记录") : QString()));
}

void TestAudit::shellCannotChangeUnrecorded()
{
    TestDb db(Accounts | DemoData);
    const QString before = db.scalar("select 姓名 from xj order by rowid limit 1");
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {db.path(), QStringLiteral("update xj set 姓名='手改' where rowid=1")});
    QVERIFY(shell.waitForFinished(10000));
    QVERIFY(shell.exitCode() != 0);
    QVERIFY2(shell.readAllStandardError().contains("no such function: xs_audit_"), "the shell's refusal");
    QCOMPARE(db.scalar("select 姓名 from xj order by rowid limit 1"), before);
    // Reading by hand still works.
    shell.start(QStringLiteral("sqlite3"), {db.path(), QStringLiteral("select count(*) from xj")});
    QVERIFY(shell.waitForFinished(10000));
    QCOMPARE(shell.exitCode(), 0);
}

// Makes the file one of the version before the trail.
void dropTrail(const QString &path)
{
    QString drop = QStringLiteral("drop table audit; delete from sqlite_sequence;");
    for (const char *t : {"xj", "yc", "class", "use"})
        for (const char *op : {"insert", "update", "delete"})
            drop += QStringLiteral("drop trigger audit_%1_%2;").arg(QLatin1String(t), QLatin1String(op));
    rawExec(path, drop + "insert into use(username,password) values('old','pw')");
}

void TestAudit::olderFileGetsTrail()
{
    TestDb db(Empty);
    dropTrail(db.path());
    QVERIFY(!hasAuditTrail(Connection::open(db.path()).get()));
    checkOurs(db.path());  // still ours, with or without the trail
    // The program adds it when it opens the file; the tool likewise.
    QVERIFY(openDatabaseOrTell());
    QVERIFY(hasAuditTrail(Connection::open(db.path()).get()));
    checkOurs(db.path());
    // An unmarked older file is known by its tables; the trail's is one more.
    rawExec(db.path(), "pragma application_id=0");
    checkOurs(db.path());
    ToolRun r = runTool({"check", "--db", db.path()});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = runTool({"user", "grant", "old", "qx2", "--db", db.path()});
    QCOMPARE(r.code, 0);
    const QList<AuditEntry> entries = trail(db);
    QCOMPARE(entries.size(), 1);
    QVERIFY2(entries[0].user.startsWith(QStringLiteral("chengheng-db:")), qPrintable(entries[0].user));
    QCOMPARE(changesOf(entries[0]), QStringLiteral("qx2:∅>y"));
}

void TestAudit::toolOnFileWithoutTrail_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");  // on standard error, after "chengheng-db: "
    const QString hint = QStringLiteral("（还没有被程序或 chengheng-db 打开过，或审计记录表被删除了）");
    QTest::newRow("show") << "show"
                          << "无法读取审计记录：文件中没有审计记录表 audit";
    QTest::newRow("verify") << "verify"
                            << "审计记录校验不通过：文件中没有审计记录表 audit" + hint;
    QTest::newRow("anchor") << "anchor"
                            << "审计记录校验不通过，没有取锚点：文件中没有审计记录表 audit" + hint;
}

// The reading commands tell a file without the trail as such, and leave it so.
void TestAudit::toolOnFileWithoutTrail()
{
    QFETCH(QString, command);
    QFETCH(QString, message);
    TestDb db(Empty);
    dropTrail(db.path());
    const ToolRun r = runTool({"audit", command, "--db", db.path()});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.trimmed(), QStringLiteral("chengheng-db: ") + message);
    QVERIFY(!hasAuditTrail(Connection::open(db.path()).get()));
}

void TestAudit::showFilters()
{
    TestDb db(Accounts);
    signInAs(QStringLiteral("doctor"));
    db.exec("insert into xj(门诊号,姓名) values('M1','甲'),('M2','乙')");
    signInAs(QStringLiteral("admin"));
    db.exec("update xj set 姓名='丙' where 门诊号='M1'");
    ToolRun r = runTool({"audit", "show", "--record", "M1", "--db", db.path()});
    QCOMPARE(r.code, 0);
    QStringList lines = r.out.trimmed().split(u'\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[0].startsWith(QStringLiteral("序号  时间")) && lines[0].endsWith(QStringLiteral("改动")),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].simplified().contains(QStringLiteral("doctor 新增 病例档案 M1 门诊号：M1；姓名：甲")),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].simplified().contains(QStringLiteral("admin 修改 病例档案 M1 姓名：甲 → 丙")),
             qPrintable(lines[2]));
    QCOMPARE(lines[3], QStringLiteral("共 2 条"));
    r = runTool({"audit", "show", "--user", "DOCTOR", "--db", db.path()});
    QVERIFY(r.out.contains(QStringLiteral("共 2 条")));
    r = runTool({"audit", "show", "--since", "2999-1-1", "--db", db.path()});
    QCOMPARE(r.out.trimmed(), QStringLiteral("没有符合条件的审计记录"));
    r = runTool({"audit", "show", "--since", "明天", "--db", db.path()});
    QCOMPARE(r.code, 2);
}

QTEST_MAIN(TestAudit)
#include "tst_audit.moc"
