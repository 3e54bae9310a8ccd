// The audit anchor: taken by chengheng-db audit anchor, held against the trail
// by audit verify --anchor. Whoever can write the whole trail (the file's
// owner past its triggers, the server's superuser) recomputes the chain and
// sets the counter back; only the anchor finds the trail rewritten, cut back
// or emptied since.
#include "data/audit.h"
#include "data/auditanchor.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <sqlite3.h>
#include <sys/stat.h>

using namespace xs;
using namespace xs::test;

class TestAuditAnchor : public QObject {
    Q_OBJECT
private slots:
    void anchorHeldAgainstTrail_data();
    void anchorHeldAgainstTrail();
    void malformedAnchorRefused_data();
    void malformedAnchorRefused();
};

namespace {

// The database of the test as audit anchor and audit verify name it.
QStringList database(const TestDb &db)
{
    return serverEngine() ? QStringList{QStringLiteral("--server"), db.server()}
                          : QStringList{QStringLiteral("--db"), db.path()};
}

QString described(const TestDb &db) { return serverEngine() ? db.server() : QFileInfo(db.path()).absoluteFilePath(); }

// Statements run on the trail past its guards, the counter then set back to
// the trail's last entry, the guards put back: what the file's owner (through
// the sqlite3 library, without the program) or the server's superuser can do.
void attack(const TestDb &db, const QString &sql)
{
    if (serverEngine()) {
        PgConnection c(db.server());
        // Every trigger and the record of changes of structure skipped, as only a superuser can.
        QVERIFY2(c.run("set search_path=chengheng; set session_replication_role = replica;" + sql
                       + ";update audit_counter set given=(select coalesce(max(序号),0) from audit),"
                         " last_hash=coalesce((select 校验值 from audit order by 序号 desc limit 1),'');"
                         "set session_replication_role = origin"),
                 qPrintable(c.lastError()));
        return;
    }
    sqlite3 *raw = nullptr;
    QCOMPARE(sqlite3_open(db.path().toUtf8().constData(), &raw), SQLITE_OK);
    QStringList guards;
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(raw, "select sql from sqlite_master where name in ('audit_no_update','audit_no_delete')", -1, &s,
                       nullptr);
    while (sqlite3_step(s) == SQLITE_ROW)
        guards << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(s, 0)));
    sqlite3_finalize(s);
    const QString all =
        "drop trigger audit_no_update; drop trigger audit_no_delete;" + sql
        + ";update sqlite_sequence set seq=(select coalesce(max(序号),0) from audit) where name='audit';"
        + guards.join(u';');
    char *msg = nullptr;
    const int rc = sqlite3_exec(raw, all.toUtf8().constData(), nullptr, nullptr, &msg);
    const QString why = QString::fromUtf8(msg ? msg : "");
    sqlite3_free(msg);
    sqlite3_close(raw);
    QVERIFY2(rc == SQLITE_OK && guards.size() == 2, qPrintable(why));
}

QList<AuditEntry> trail(const TestDb &db)
{
    // On the server as its superuser: a room's program does not read the trail.
    if (serverEngine())
        useServer(db.server(), QStringLiteral("1"));
    QList<AuditEntry> out;
    QString why;
    const bool read = readAuditTrail({}, &out, &why);
    if (serverEngine())
        useServer(roomConninfo(db.server()), QStringLiteral("1"));
    if (!read)
        qFatal("trail: %s", qPrintable(why));
    return out;
}

// The hashes of the entries from the second on computed again over what
// they now hold: the chain holds together once more.
QString rechained(const QList<AuditEntry> &entries)
{
    QString sql;
    QString previous = entries.value(0).hash;
    for (qsizetype i = 1; i < entries.size(); ++i) {
        previous = auditHash(entries[i], previous);
        sql += QStringLiteral("update audit set 校验值='%1' where 序号=%2;").arg(previous).arg(entries[i].id);
    }
    return sql;
}

const char *const kGrants = "update use set qx1='y' where username in ('admin','viewer','doctor','guest')";

}  // namespace

void TestAuditAnchor::anchorHeldAgainstTrail_data()
{
    QTest::addColumn<QString>("before");      // changes made by the program before the anchor
    QTest::addColumn<QString>("tamper");      // run past the guards after it
    QTest::addColumn<bool>("rechain");        // the chain recomputed after the tamper
    QTest::addColumn<QString>("afterwards");  // changes made by the program after that
    // %T: when the anchor was taken, %N: its number, %H: its hash, %C: the hash entry N now has.
    QTest::addColumn<QString>("message");  // on stdout when met, else on stderr
    const QString grants = QString::fromUtf8(kGrants);
    const QString more = QStringLiteral("update use set qx2='y' where username in ('admin','viewer','doctor','guest')");
    const QString advice = QStringLiteral("。请把审计记录与锚点同一天的备份对照，查明被删改的记录");
    QTest::newRow("nothing changed") << grants << "" << false << ""
                                     << "审计记录与锚点相符：到第 %N 条为止与 %T 取的锚点一致";
    QTest::newRow("entries appended") << grants << "" << false << more
                                      << "审计记录与锚点相符：到第 %N 条为止与 %T 取的锚点一致";
    QTest::newRow("cut back") << grants << "delete from audit where 序号>2" << false << ""
                              << "审计记录校验不通过：审计记录被截短：%T 取的锚点记到第 %N 条，现在只到第 2 条"
                                     + advice;
    QTest::newRow("cut back and refilled")
        << grants << "delete from audit where 序号>2" << false << more
        << "审计记录校验不通过：审计记录被改写：第 %N 条的校验值与 %T 取的锚点不同（锚点 %H，现在 %C），"
           "第 %N 条或在它之前的记录被改动后重算了校验值"
               + advice;
    QTest::newRow("rewritten")
        << grants << "update audit set 用户='nobody' where 序号=2" << true << ""
        << "审计记录校验不通过：审计记录被改写：第 %N 条的校验值与 %T 取的锚点不同（锚点 %H，现在 "
           "%C），第 %N 条或在它之前的记录被改动后重算了校验值"
               + advice;
    QTest::newRow("emptied") << grants << "delete from audit" << false << ""
                             << "审计记录校验不通过：审计记录被清空：%T 取的锚点记到第 %N 条，现在一条审计记录也没有"
                                    + advice;
    QTest::newRow("anchor of an empty trail")
        << ""
        << "" << false << grants << "审计记录与锚点相符：%T 取锚点时还没有审计记录，现在的审计记录都与它相符";
}

void TestAuditAnchor::anchorHeldAgainstTrail()
{
    QFETCH(QString, before);
    QFETCH(QString, tamper);
    QFETCH(bool, rechain);
    QFETCH(QString, afterwards);
    QFETCH(QString, message);
    TestDb db(Accounts);
    if (!before.isEmpty())
        db.exec(before);
    const qint64 newest = db.scalar("select coalesce(max(序号),0) from audit").toLongLong();
    const QString file = db.dir() + QStringLiteral("/trail.anchor");
    const ToolRun taken = runTool(QStringList{"audit", "anchor", "--out", file} + database(db));
    QVERIFY2(taken.code == 0, qPrintable(taken.err));
    struct stat st = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 0777), 0640);
    QString why;
    const std::optional<AuditAnchor> anchor = readAuditAnchor(file, &why);
    QVERIFY2(anchor, qPrintable(why));
    QCOMPARE(anchor->number, newest);
    QCOMPARE(anchor->hash, db.scalar(QStringLiteral("select 校验值 from audit where 序号=%1").arg(newest)));
    QCOMPARE(anchor->database, described(db));

    if (!tamper.isEmpty())
        attack(db, tamper);
    if (rechain)
        attack(db, rechained(trail(db)));
    if (!afterwards.isEmpty())
        db.exec(afterwards);
    // The chain alone holds together: the tamper left no trace in it.
    const ToolRun chain = runTool(QStringList{"audit", "verify"} + database(db));
    QVERIFY2(chain.code == 0, qPrintable(chain.err));

    const ToolRun r = runTool(QStringList{"audit", "verify", "--anchor", file} + database(db));
    message.replace(QStringLiteral("%T"), anchor->taken)
        .replace(QStringLiteral("%N"), QString::number(anchor->number))
        .replace(QStringLiteral("%H"), anchor->hash)
        .replace(QStringLiteral("%C"),
                 db.scalar(QStringLiteral("select 校验值 from audit where 序号=%1").arg(anchor->number)));
    if (message.startsWith(QStringLiteral("审计记录与锚点相符"))) {
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out.split(u'\n').value(1), message + QStringLiteral("（锚点取自 %1）").arg(described(db)));
        return;
    }
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.trimmed(), QStringLiteral("chengheng-db: ") + message);
}

void TestAuditAnchor::malformedAnchorRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("why");
    const QByteArray hash(64, 'a');
    const QByteArray good =
        "澄衡审计锚点 1\n序号：3\n校验值：" + hash + "\n时间：2026-12-10 08:00:00\n数据库：/srv/xs.mdb\n";
    QTest::newRow("empty") << QByteArray() << "文件是空的";
    QTest::newRow("no anchor") << QByteArray("序号：3\n") << "第 1 行应为“澄衡审计锚点 1”，这不是审计锚点文件";
    QTest::newRow("other version") << QByteArray(good).replace("锚点 1", "锚点 2")
                                   << "第 1 行的格式版本“2”不是本程序能读的版本 1";
    QTest::newRow("no separator") << QByteArray(good).replace("序号：3", "序号 3") << "第 2 行应为“项目：值”的形式";
    QTest::newRow("unknown item") << good + "备注：x\n"
                                  << "第 6 行的“备注”不是锚点的项目（只有 序号、校验值、时间、数据库）";
    QTest::newRow("item twice") << good + "序号：4\n"
                                << "第 6 行又写了一次“序号”（第 2 行已有）";
    QTest::newRow("item missing") << QByteArray(good).replace("数据库：/srv/xs.mdb\n", "") << "缺少“数据库”一行";
    QTest::newRow("negative number") << QByteArray(good).replace("序号：3", "序号：-3")
                                     << "第 2 行的序号“-3”应为不带符号的整数";
    QTest::newRow("short hash") << QByteArray(good).replace(hash, hash.left(63))
                                << "第 3 行的校验值应为 64 位十六进制数字（0-9、a-f）";
    QTest::newRow("hash of nothing") << QByteArray(good).replace("序号：3", "序号：0")
                                     << "第 3 行：序号为 0 的锚点没有校验值，应写“（无）”";
    QTest::newRow("no such time") << QByteArray(good).replace("2026-12-10", "2026-13-10")
                                  << "第 4 行的时间“2026-13-10 08:00:00”应为 YYYY-MM-DD HH:MM:SS 形式的时刻";
}

void TestAuditAnchor::malformedAnchorRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, why);
    TestDb db(Accounts);
    const QString file = db.dir() + QStringLiteral("/bad.anchor");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();
    const ToolRun r = runTool(QStringList{"audit", "verify", "--anchor", file} + database(db));
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.trimmed(),
             QStringLiteral("chengheng-db: 审计锚点 %1 不能用：%2。请用 chengheng-db audit anchor 写出的原文件核对")
                 .arg(file, why));
    QCOMPARE(r.out, QString());
}

QTEST_MAIN(TestAuditAnchor)
#include "tst_auditanchor.moc"
