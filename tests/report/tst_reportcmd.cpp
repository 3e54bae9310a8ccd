// "chengheng-db report": the three reports written to PDF from a shell, run
// as the real tool in a child process (no display needed).
#include "data/pager.h"
#include "data/pg/pgsql.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "report/reportrows.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace xs;
using xs::test::runTool;
using xs::test::ToolRun;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pdfPages(const QByteArray &pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(pdf).count(page));
}

}  // namespace

class TestReportCmd : public QObject {
    Q_OBJECT

private slots:
    void writesPdf_data();
    void writesPdf();
    void refusesBadInput_data();
    void refusesBadInput();
    void sqlOnlyReads_data();
    void sqlOnlyReads();
    void readingsOnlyRead_data();
    void readingsOnlyRead();
};

void TestReportCmd::writesPdf_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("note");
    // 5 joined case records (the sixth has no department): 2 + 2 + 1.
    QTest::newRow("cases") << QStringList{"cases"} << 3 << "DataReportclass：5 条记录，3 页"
                           << "";
    QTest::newRow("cases with a statement") << QStringList{"cases", "--sql",
                                                           "select xj.*,class.专业 from xj inner join class on "
                                                           "xj.科室=class.科室 where xj.门诊号 in ('C001','C002')"}
                                            << 1 << "DataReportclass：2 条记录，1 页"
                                            << "";
    QTest::newRow("departments") << QStringList{"departments"} << 1 << "DataReportclass2：2 条记录，1 页"
                                 << "";
    QTest::newRow("prescription") << QStringList{"prescription"} << 1 << "DataReport1：1 条记录，1 页"
                                  << "";
    QTest::newRow("empty result") << QStringList{"cases", "--sql=select * from xj where 1=0"} << 1
                                  << "DataReportclass：0 条记录，1 页"
                                  << "没有可打印的记录";
}

void TestReportCmd::writesPdf()
{
    QFETCH(QStringList, args);
    QFETCH(int, pages);
    QFETCH(QString, summary);
    QFETCH(QString, note);
    test::TestDb db(test::Empty);
    db.exec(QStringLiteral(
        "insert into class(年级,科室,专业) values('内科','心内科','心血管'),('外科','普外科','普通外科')"));
    for (int i = 1; i <= 5; ++i)
        db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values('C00%1','病人','心内科')").arg(i));
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values('C009','无科室','不存在')"));
    db.exec(QStringLiteral("insert into yc(门诊号,姓名,药名) values('R1','患者','阿莫西林胶囊')"));

    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("out.pdf"));
    const ToolRun r = runTool(QStringList{QStringLiteral("report")} + args + QStringList{QStringLiteral("--out"), pdf}
                              + db.toolDatabase());
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(summary), qPrintable(r.out));
    if (note.isEmpty())
        QVERIFY2(!r.err.contains(QStringLiteral("chengheng-db")), qPrintable(r.err));
    else
        QVERIFY2(r.err.contains(note), qPrintable(r.err));
    const QByteArray bytes = readFile(pdf);
    QVERIFY(bytes.startsWith("%PDF"));
    QCOMPARE(pdfPages(bytes), pages);
    QVERIFY2(bytes.contains("UMing"), "宋体 is embedded as the Song-style CJK font");
}

void TestReportCmd::refusesBadInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown report") << QStringList{"report", "bills", "--out", "OUT"} << 2 << "未知报表：bills";
    QTest::newRow("no report named") << QStringList{"report", "--out", "OUT"} << 2 << "缺少报表名";
    QTest::newRow("no output file") << QStringList{"report", "cases"} << 2 << "缺少 --out";
    QTest::newRow("unknown option") << QStringList{"report", "cases", "--out", "OUT", "--fast"} << 2
                                    << "未知的选项 --fast";
    QTest::newRow("statement fails") << QStringList{"report", "cases", "--out", "OUT", "--sql", "select * from nothere"}
                                     << 1 << "语句执行失败";
    QTest::newRow("not a query") << QStringList{"report", "cases", "--out", "OUT", "--sql", "delete from xj"} << 1
                                 << "语句执行失败";
    QTest::newRow("two statements")
        << QStringList{"report", "cases", "--out", "OUT", "--sql", "select * from xj; delete from xj"} << 2
        << "--sql 只能是一条查询语句，其中却有用分号隔开的多条语句。请只留下一条 select 语句。";
    QTest::newRow("a bound that is no number") << QStringList{"report", "cases", "--out", "OUT", "--timeout", "soon"}
                                               << 2 << "--timeout 后面要跟读取的时限，1 到 86400 之间的秒数。";
    QTest::newRow("missing database") << QStringList{"report", "cases", "--out", "OUT", "--db", "DIR/none.mdb"} << 1
                                      << "无法打开数据库文件";
}

void TestReportCmd::refusesBadInput()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    test::TestDb db(test::Empty);
    db.exec(QStringLiteral("insert into xj(门诊号) values('K1')"));
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("out.pdf"));
    for (QString &a : args) {
        a.replace(QStringLiteral("OUT"), pdf);
        a.replace(QStringLiteral("DIR"), out.path());
    }
    if (!args.contains(QStringLiteral("--db")))
        args << db.toolDatabase();
    const ToolRun r = runTool(args);
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(QStringLiteral("chengheng-db: ") + message), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QStringLiteral("not an error")), qPrintable(r.err));
    QVERIFY(!QFile::exists(pdf));
    QCOMPARE(db.count(QStringLiteral("xj")), 1);
}

namespace {
// An endless reading on the file: the rows of a recursion that never ends,
// counted.
const char kEndlessOnFile[] = "with recursive c(x) as (select 1 union all select x+1 from c) select count(*) from c";

// The attacks a user of --sql (or a statement that reached a reading) could
// make: writing through a query, and a query that never ends. FILE and SERVER
// give the statement on each engine (empty: the engine has no such thing).
void attacks()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("message");
    const QString writes = QStringLiteral("这条查询语句会改动数据");
    QTest::newRow("a function that updates xj") << ""
                                                << "select *, xs_touch() from xj" << writes;
    // On the server a room's account may not make large objects at all.
    QTest::newRow("a large object made") << ""
                                         << "select *, lo_from_bytea(0, '\\x41'::bytea) from xj"
                                         << (test::serverEngine()
                                                 ? QStringLiteral("数据库服务器不允许写入（只读或没有权限）")
                                                 : writes);
    QTest::newRow("a delete in WITH") << "with x as (delete from xj returning *) select * from x"
                                      << "with x as (delete from xj returning *) select * from x"
                                      << "";
    QTest::newRow("a delete that returns rows") << "delete from xj returning *"
                                                << "delete from xj returning *"
                                                << "";
    QTest::newRow("an update that returns rows") << "update xj set 姓名='改' returning *"
                                                 << "update xj set 姓名='改' returning *"
                                                 << "";
    QTest::newRow("a query that never ends") << kEndlessOnFile << "select pg_sleep(100)"
                                             << "数据库没有在限定的时间内完成这次读取，读取已停止，没有改动任何数据。";
    QTest::newRow("a slow function in every row") << ""
                                                  << "select *, pg_sleep(100) from xj"
                                                  << "数据库没有在限定的时间内完成这次读取";
}

// The archive the attacks meet: one record, and on the server a function
// that changes every record when a query calls it.
void prepareVictim(const test::TestDb &db)
{
    db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('K1','原名')"));
    if (!db.server().isEmpty()) {
        PgConnection c(db.server());
        QVERIFY(c.run(QStringLiteral("create function chengheng.xs_touch() returns int volatile language plpgsql as "
                                     "$$ begin update chengheng.xj set 姓名='改'; return 1; end $$")));
    }
}

// Nothing was changed: the record as it was, and no large object made.
void checkUntouched(const test::TestDb &db)
{
    QCOMPARE(db.rows(QStringLiteral("select 门诊号, 姓名 from xj")), QStringList{QStringLiteral("K1|原名")});
    if (!db.server().isEmpty())
        QCOMPARE(
            PgConnection(db.server()).exec(QStringLiteral("select count(*) from pg_largeobject_metadata")).text(0, 0),
            QStringLiteral("0"));
}

// This row's statement on the engine the test runs on (false: none there).
bool statementHere(QString &sql)
{
    QFETCH(QString, file);
    QFETCH(QString, server);
    sql = test::serverEngine() ? server : file;
    return !sql.isEmpty();
}
}  // namespace

// --sql only ever reads, and never for longer than its time bound (here one
// second through --timeout): a statement that writes, through a function or
// a WITH, is refused in Chinese and changes nothing; a second statement is
// never run.
void TestReportCmd::sqlOnlyReads_data() { attacks(); }

void TestReportCmd::sqlOnlyReads()
{
    QFETCH(QString, message);
    QString sql;
    if (!statementHere(sql))
        QSKIP("the engine has no such statement");
    test::TestDb db(test::Empty);
    prepareVictim(db);
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("out.pdf"));
    QElapsedTimer clock;
    clock.start();
    const ToolRun r =
        runTool(QStringList{"report", "cases", "--out", pdf, "--timeout", "1", "--sql", sql} + db.toolDatabase());
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("chengheng-db: 语句执行失败：") + message), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QStringLiteral("not an error")), qPrintable(r.err));
    QVERIFY(!QFile::exists(pdf));
    checkUntouched(db);
}

// The program's own readings (a recordset, a grid's pages, a report's rows)
// are bounded and read-only in the same way.
void TestReportCmd::readingsOnlyRead_data() { attacks(); }

void TestReportCmd::readingsOnlyRead()
{
    QFETCH(QString, message);
    QString sql;
    if (!statementHere(sql))
        QSKIP("the engine has no such statement");
    test::TestDb db(test::Empty);
    prepareVictim(db);
    setReadingTimeoutMs(500);
    QElapsedTimer clock;
    clock.start();
    QStringList errors;
    // runsql runs a statement that starts with INSERT, UPDATE or DELETE as
    // the write it says it is; every other one is a reading.
    if (!isActionStatement(sql)) {
        SqlOutcome o;
        QVERIFY(!runsql(sql, &o));
        errors << o.error;
    }
    SqlOutcome paged;
    QVERIFY(!Pager::open(sql, &paged));
    errors << paged.error;
    QString why;
    QVERIFY(!ReportRows::open(sql, {QStringLiteral("姓名")}, &why));
    errors << why;
    setReadingTimeoutMs(0);
    QVERIFY2(clock.elapsed() < 6000, qPrintable(QString::number(clock.elapsed())));
    for (const QString &e : errors)
        QVERIFY2(!e.isEmpty() && e.startsWith(message), qPrintable(errors.join(" / ")));
    checkUntouched(db);
}

QTEST_MAIN(TestReportCmd)
#include "tst_reportcmd.moc"
