// The SQL runner: how statements are classified, translated and run, and what
// a failure looks like to the caller; on the file and on the shared server
// alike (XS_TEST_ENGINE), the same calls giving the same rows and outcomes.
#include "data/recordset.h"
#include "data/sqlite/sqlite.h"
#include "data/sqltext.h"
#include "testenv.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

class TestSql : public QObject {
    Q_OBJECT
private slots:
    void classification_data();
    void classification();
    void translation_data();
    void translation();
    void quoting_data();
    void quoting();

    void values_data();
    void values();
    void queriesAndActions_data();
    void queriesAndActions();
    void failuresGiveNothing_data();
    void failuresGiveNothing();
    void recordsetReading();
    void taggedValues();
    void addNewUpdate();
    void addNewRefusesBadDate();
    void writeWhileResultOpen();
    void transactionRollsBack();
    void transactionWholeOrNothing();
    void transactionThatDidNotStartChangesNothing();
    void missingFileFailsAndCreatesNothing_data();
    void missingFileFailsAndCreatesNothing();
    void connstrNamesAppFolder();
};

void TestSql::classification_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("action");
    QTest::newRow("select") << "select * from xj" << false;
    QTest::newRow("SELECT upper") << "SELECT * FROM xj" << false;
    QTest::newRow("insert") << "insert into xj(门诊号) values('1')" << true;
    QTest::newRow("InSeRt mixed") << "InSeRt into xj(门诊号) values('1')" << true;
    QTest::newRow("update blanks") << "update   xj  set 门诊号='1'" << true;
    QTest::newRow("DELETE star") << "DELETE * from xj" << true;
    QTest::newRow("bare table") << "表1" << false;
    QTest::newRow("no space after word") << "delete" << true;
    QTest::newRow("word glued to text") << "update\txj set a=1" << false;  // first piece is "update\txj"
    QTest::newRow("leading blank") << " delete * from xj" << false;
}

void TestSql::classification()
{
    QFETCH(QString, sql);
    QFETCH(bool, action);
    QCOMPARE(isActionStatement(sql), action);
}

void TestSql::translation_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");  // "<fail>" when the statement must fail
    const QString fail = QStringLiteral("<fail>");
    QTest::newRow("plain") << "select * from xj where 姓名='张三'"
                           << "select * from xj where 姓名='张三'";
    QTest::newRow("date iso") << "update xj set 入诊时间=#2024-3-5#"
                              << "update xj set 入诊时间='2024-03-05'";
    QTest::newRow("date slashes") << "x=#2024/12/31#"
                                  << "x='2024-12-31'";
    QTest::newRow("date dots") << "x=#2024.1.2#"
                               << "x='2024-01-02'";
    QTest::newRow("date chinese") << "x=#2024年2月29日#"
                                  << "x='2024-02-29'";
    QTest::newRow("date us short") << "x=#3/5/24#"
                                   << "x='2024-03-05'";
    QTest::newRow("date us 1999") << "x=#12-31-99#"
                                  << "x='1999-12-31'";
    QTest::newRow("date us long") << "x=#3/5/1987#"
                                  << "x='1987-03-05'";
    QTest::newRow("date blanks inside") << "x=# 2024-3-5 #"
                                        << "x='2024-03-05'";
    QTest::newRow("impossible date") << "x=#2023-2-29#" << fail;
    QTest::newRow("month 13") << "x=#2024-13-1#" << fail;
    QTest::newRow("words") << "x=#yesterday#" << fail;
    QTest::newRow("empty date") << "x=##" << fail;
    QTest::newRow("unclosed date") << "x=#2024-1-1" << fail;
    QTest::newRow("hash inside string") << "select * from xj where 备注='#1#'"
                                        << "select * from xj where 备注='#1#'";
    QTest::newRow("doubled quote kept") << "select 'a''#b#' from xj"
                                        << "select 'a''#b#' from xj";
    QTest::newRow("unterminated string") << "select 'abc from xj" << fail;
    QTest::newRow("delete star") << "delete * from xj where 门诊号='1'"
                                 << "delete from xj where 门诊号='1'";
    QTest::newRow("DELETE*FROM") << "DELETE*FROM yc"
                                 << "DELETE FROM yc";
    QTest::newRow("delete star in string untouched") << "select 'delete * from' from xj"
                                                     << "select 'delete * from' from xj";
    QTest::newRow("bare name") << "表1"
                               << "select * from 表1";
    QTest::newRow("bare name blanks") << "  yc "
                                      << "select * from yc";
    QTest::newRow("star from glued") << "select *from yc"
                                     << "select *from yc";
    QTest::newRow("distinct") << "select DISTINCT 年级 from class"
                              << "select DISTINCT 年级 from class";
    QTest::newRow("hash in bracketed name") << "select [No#1] from t where d=#2024-1-2#"
                                            << "select [No#1] from t where d='2024-01-02'";
    QTest::newRow("date then text") << "x=#2020-1-1#'x'"
                                    << "x='2020-01-01' 'x'";
    QTest::newRow("text then date") << "x='x'#2020-1-1#"
                                    << "x='x' '2020-01-01'";
    QTest::newRow("quote in bracketed name") << "select [O'Brien] from t"
                                             << "select [O'Brien] from t";
    QTest::newRow("bracket in string") << "select '[#' from t"
                                       << "select '[#' from t";
}

void TestSql::translation()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    const auto t = translateSql(in);
    if (out == QLatin1String("<fail>")) {
        QVERIFY2(!t, qPrintable(t.value_or(QString())));
    } else {
        QVERIFY(t);
        QCOMPARE(*t, out);
    }
}

void TestSql::quoting_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("apostrophe") << "O'Brien";
    QTest::newRow("injection") << "' or '1'='1";
    QTest::newRow("comment") << "admin'--";
    QTest::newRow("two statements") << "x'; delete from xj; --";
    QTest::newRow("hash date look-alike") << "#2024-1-1#";
    QTest::newRow("only quotes") << "''''";
}

// Whatever is typed, pasted through q() it is stored and found as typed and
// changes nothing else.
void TestSql::quoting()
{
    QFETCH(QString, typed);
    TestDb db(Empty);
    db.exec("insert into xj(门诊号,姓名) values('k1','other')");
    QVERIFY(runaction("insert into xj(门诊号,姓名) values('k2','" + q(typed) + "')"));
    RecordsetPtr rs = runsql("select 门诊号 from xj where 姓名='" + q(typed) + "'");
    QVERIFY(rs);
    QVERIFY(!rs->atEOF());
    QCOMPARE(rs->text(0), QStringLiteral("k2"));
    rs->MoveNext();
    QVERIFY(rs->atEOF());
    QCOMPARE(db.scalar("select 姓名 from xj where 门诊号='k2'"), typed);
    QCOMPARE(db.count("xj"), 2);
}

void TestSql::values_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("bare name") << "class" << QStringList{"内科", "Waike"};
    QTest::newRow("case-insensitive =") << "select 科室 from class where 科室='WAIKE'" << QStringList{"Waike"};
    QTest::newRow("date literal") << "select 门诊号 from xj where 入诊时间>=#2024-1-1#" << QStringList{"0001"};
    QTest::newRow("dates and nulls") << "select 入诊时间 from xj order by 门诊号"
                                     << QStringList{"2024-03-01", "<null>"};
    QTest::newRow("join ignores case")
        << "select xj.姓名 from xj inner join class on xj.科室=class.科室 order by xj.门诊号"
        << QStringList{"甲", "乙"};
    QTest::newRow("no rows") << "select * from xj where 门诊号='x'" << QStringList{};
}

// Rows, dates and nulls come back alike on both engines, letter case ignored
// where the columns ignore it.
void TestSql::values()
{
    QFETCH(QString, sql);
    QFETCH(QStringList, values);
    TestDb db(Empty);
    db.exec("insert into class values('一组','内科','101','五年','临床','王医生',null);"
            "insert into class values('一组','Waike','102','五年','外科学','李医生','无');"
            "insert into xj(门诊号,姓名,科室,入诊时间) values('0001','甲','内科','2024-03-01');"
            "insert into xj(门诊号,姓名,科室,入诊时间) values('0002','乙','waike',null)");
    const int col = sql == QLatin1String("class") ? 1 : 0;
    QStringList seen;
    for (RecordsetPtr rs = runsql(sql); rs && !rs->atEOF(); rs->MoveNext())
        seen << (rs->field(col).isNull() ? QStringLiteral("<null>") : rs->text(col));
    QCOMPARE(seen, values);
    if (sql.contains(QStringLiteral("入诊时间 from"))) {
        RecordsetPtr rs = runsql(sql);
        QVERIFY(rs);
        QCOMPARE(rs->field(0).kind(), Value::Kind::Date);
        QCOMPARE(rs->field(0).date(), QDate(2024, 3, 1));
    }
}

void TestSql::queriesAndActions_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("givesRecordset");
    QTest::addColumn<int>("rowsAfter");  // rows of xj afterwards
    QTest::newRow("select lower") << "select * from xj" << true << 2;
    QTest::newRow("Select mixed, trailing blanks") << "Select * from xj   " << true << 2;
    QTest::newRow("select no match") << "select * from xj where 门诊号='none'" << true << 2;
    QTest::newRow("insert") << "insert into xj(门诊号) values('3')" << false << 3;
    QTest::newRow("insert from select") << "insert into xj(门诊号,姓名)select 门诊号,姓名  from yc where 门诊号='y1'"
                                        << false << 3;
    QTest::newRow("update no match") << "update xj set 姓名='x' where 门诊号='none'" << false << 2;
    QTest::newRow("UPDATE blanks") << "UPDATE   xj  set 姓名='x' where 门诊号='1'" << false << 2;
    QTest::newRow("delete star") << "delete * from xj where 门诊号='1'" << false << 1;
    QTest::newRow("delete letter case") << "DeLeTe * from xj where 门诊号='A'" << false << 1;
    QTest::newRow("delete all") << "delete from xj" << false << 0;
    QTest::newRow("bare name") << "xj" << true << 2;
}

void TestSql::queriesAndActions()
{
    QFETCH(QString, sql);
    QFETCH(bool, givesRecordset);
    QFETCH(int, rowsAfter);
    TestDb db(Empty);
    db.exec("insert into xj(门诊号,姓名) values('1','甲');insert into xj(门诊号,姓名) values('a','乙');"
            "insert into yc(门诊号,姓名) values('y1','丙')");
    SqlOutcome o;
    RecordsetPtr rs = runsql(sql, &o);
    QVERIFY2(o.ok, qPrintable(o.error));
    QCOMPARE(bool(rs), givesRecordset);
    rs.reset();
    QCOMPARE(db.count("xj"), rowsAfter);
}

void TestSql::failuresGiveNothing_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("syntax") << "selec * from xj";
    QTest::newRow("no table") << "select * from nosuch";
    QTest::newRow("no column") << "select nosuch from xj";
    QTest::newRow("broken by quote") << "select * from xj where 姓名='O'Brien'";
    QTest::newRow("broken update") << "update xj set 姓名='O'Brien' where 门诊号='1'";
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("bad date") << "update xj set 入诊时间=#2023-2-30#";
    QTest::newRow("second statement") << "delete from yc; delete from xj";
    QTest::newRow("query that writes") << "drop table xj";
    QTest::newRow("duplicate key") << "insert into xj(门诊号) values('1')";
}

void TestSql::failuresGiveNothing()
{
    QFETCH(QString, sql);
    TestDb db(Empty);
    MsgRecorder rec;
    db.exec("insert into xj(门诊号,姓名) values('1','甲');insert into yc(门诊号) values('y')");
    SqlOutcome o;
    RecordsetPtr rs = runsql(sql, &o);
    QVERIFY(!rs);
    QVERIFY(!o.ok);
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(db.count("xj"), 1);
    QCOMPARE(db.count("yc"), 1);
}

void TestSql::recordsetReading()
{
    TestDb db(Empty);
    db.exec("insert into class values('内科','心内科','101','3','心血管','王医生','无');"
            "insert into class values('内科','消化科','102','3','消化',NULL,'无');"
            "insert into class values('外科','骨科','201','5','骨科','李医生','')");
    RecordsetPtr rs = runsql("select * from class order by 诊室 ");
    QVERIFY(rs);
    QCOMPARE(rs->fieldCount(), 7);
    QCOMPARE(rs->fieldName(1), QStringLiteral("科室"));
    QCOMPARE(rs->fieldIndex("专业"), 4);
    QCOMPARE(rs->fieldIndex("nosuch"), -1);
    QStringList seen;
    for (; !rs->atEOF(); rs->MoveNext())
        seen << rs->text("科室") + "/" + rs->text(5);
    QCOMPARE(seen, QStringList({"心内科/王医生", "消化科/", "骨科/李医生"}));
    QVERIFY(rs->field(0).isNull());  // at end of data nothing is read
    rs->MoveNext();                  // moving past the end is harmless
    QVERIFY(rs->atEOF());
    rs->MoveFirst();
    QCOMPARE(rs->text(1), QStringLiteral("心内科"));
    rs->Close();
    QVERIFY(rs->atEOF());
    QVERIFY(!rs->isOpen());
}

void TestSql::taggedValues()
{
    TestDb db(Empty);
    db.exec("insert into xj(门诊号,出生年月,入诊时间,备注) values('1','1980-05-06',NULL,'')");
    RecordsetPtr rs = runsql("select 门诊号,出生年月,入诊时间,备注 from xj");
    QVERIFY(rs && !rs->atEOF());
    QCOMPARE(rs->field(0).kind(), Value::Kind::Text);
    QCOMPARE(rs->field(1).kind(), Value::Kind::Date);
    QCOMPARE(rs->field(1).date(), QDate(1980, 5, 6));
    QCOMPARE(rs->text(1), QStringLiteral("1980-05-06"));
    QVERIFY(rs->field(2).isNull());
    QCOMPARE(rs->text(2), QString());
    QCOMPARE(rs->field(3).kind(), Value::Kind::Text);
    // A date column seen through a join keeps its kind.
    db.exec("insert into class(科室,专业) values('a','b');update xj set 科室='a'");
    rs = runsql("select xj.出生年月, class.专业 from xj inner join class on xj.科室=class.科室");
    QVERIFY(rs && !rs->atEOF());
    QCOMPARE(rs->field(0).kind(), Value::Kind::Date);
}

void TestSql::addNewUpdate()
{
    TestDb db(Empty);
    RecordsetPtr rs = runsql("select * from use");
    QVERIFY(rs);
    QVERIFY(rs->AddNew());
    QVERIFY(rs->setField(0, "new'user"));
    QVERIFY(rs->setField(1, "pw"));
    QVERIFY2(rs->Update(), qPrintable(rs->lastError()));
    QCOMPARE(db.rows("select username,password,admin,qx1 from use"), QStringList({"new'user|pw||"}));
    // The unique name refuses a second row, and says so.
    QVERIFY(rs->AddNew());
    rs->setField(0, "NEW'USER");
    QVERIFY(!rs->Update());
    QCOMPARE(rs->lastFault(), DbFault::Unique);
    QVERIFY2(rs->lastError().startsWith(QStringLiteral("已经存在相同编号的记录，不能重复保存。")),
             qPrintable(rs->lastError()));
    QCOMPARE(db.count("use"), 1);
    // Only "select * from T" is appendable.
    rs = runsql("select username from use");
    QVERIFY(!rs->AddNew());
}

void TestSql::addNewRefusesBadDate()
{
    TestDb db(Empty);
    RecordsetPtr rs = runsql("select * from xj ");
    QVERIFY(rs->AddNew());
    rs->setField(0, "1");
    rs->setField("出生年月", "2/30/2001");
    QVERIFY(!rs->Update());
    QCOMPARE(db.count("xj"), 0);
    QVERIFY(rs->AddNew());
    rs->setField(0, "1");
    rs->setField("出生年月", "2001年2月3日");
    rs->setField("入诊时间", "");
    QVERIFY(rs->Update());
    QCOMPARE(db.rows("select 出生年月 from xj"), QStringList({"2001-02-03"}));
    QCOMPARE(db.count("xj where 入诊时间 is null"), 1);
}

// An open result never makes a write on another connection wait or fail.
void TestSql::writeWhileResultOpen()
{
    TestDb db(Empty);
    for (int i = 0; i < 50; ++i)
        db.exec(QStringLiteral("insert into xj(门诊号) values('%1')").arg(i));
    RecordsetPtr reading = runsql("select * from xj");
    QVERIFY(reading && !reading->atEOF());
    reading->MoveNext();
    QElapsedTimer t;
    t.start();
    QVERIFY(runaction("delete * from xj where 门诊号='7'"));
    QVERIFY(runaction("insert into xj(门诊号) values('new')"));
    QVERIFY(runaction("update xj set 姓名='x'"));
    QVERIFY(t.elapsed() < 1000);  // no busy wait happened
    int n = 1;
    for (; !reading->atEOF(); reading->MoveNext())
        ++n;
    QCOMPARE(n, 50);  // the open result reads the state it started with
    QCOMPARE(db.count("xj"), 50);
}

void TestSql::transactionRollsBack()
{
    TestDb db(Empty);
    db.exec("insert into class(科室,年级) values('心内科','内科')");
    {
        Transaction tx;
        QVERIFY(runaction("delete * from class where 科室='心内科'"));
        RecordsetPtr rs = runsql("select * from class");
        QVERIFY(rs && rs->atEOF());
        // dropped without commit
    }
    QCOMPARE(db.count("class"), 1);
    {
        Transaction tx;
        QVERIFY(runaction("delete * from class where 科室='心内科'"));
        RecordsetPtr rs = runsql("select * from class");
        QVERIFY(rs->AddNew());
        rs->setField(1, "骨科");
        QVERIFY(rs->Update());
        rs.reset();
        QVERIFY(tx.commit());
    }
    QCOMPARE(db.rows("select 科室 from class"), QStringList({"骨科"}));
}

// A failed statement inside a transaction keeps nothing of it; a reading
// inside sees the transaction's own rows.
void TestSql::transactionWholeOrNothing()
{
    TestDb db(Empty);
    db.exec("insert into xj(门诊号) values('0001')");
    {
        Transaction t;
        QVERIFY(runaction("insert into yc(门诊号) values('T1')"));
        QVERIFY(!runaction("insert into xj(门诊号) values('0001')"));  // doubled
        QVERIFY(!serverEngine() || !t.commit());                       // the server refuses what the file would keep
    }
    QCOMPARE(db.count("yc"), 0);
    {
        Transaction t;
        QVERIFY(runaction("insert into yc(门诊号) values('T2')"));
        QCOMPARE(db.count("yc"), 0);  // not yet seen by anyone else
        RecordsetPtr rs = runsql("select 门诊号 from yc");
        QVERIFY(rs && !rs->atEOF());
        QCOMPARE(rs->text(0), QStringLiteral("T2"));
        rs.reset();
        QVERIFY(t.commit());
    }
    QCOMPARE(db.rows("select 门诊号 from yc"), QStringList({"T2"}));
}

// Another program holds the file's write lock longer than the busy wait, so
// BEGIN fails; the lock is gone by the time the statements run. They must not
// run on their own (each one committed at once), or a change meant to be whole
// is left half done.
void TestSql::transactionThatDidNotStartChangesNothing()
{
    if (serverEngine())
        QSKIP("the file's write lock; the server's lost transaction is tst_serverdb's");
    TestDb db(Empty);
    db.exec("insert into class(科室,年级) values('心内科','内科')");
    Connection other = Connection::open(db.path());
    QVERIFY(other.exec("BEGIN IMMEDIATE"));
    setBusyTimeoutForTesting(200);  // the lock outlasts the wait sooner
    const struct RestoreWait {
        ~RestoreWait() { setBusyTimeoutForTesting(0); }
    } restoreWait;
    {
        Transaction tx;  // waits out the busy time, then cannot begin
        QVERIFY(other.exec("ROLLBACK"));
        SqlOutcome o;
        runsql("delete * from class where 科室='心内科'", &o);
        QVERIFY(!o.ok);
        QVERIFY(!o.error.isEmpty());
        RecordsetPtr rs = runsql("select * from class");
        QVERIFY(rs && rs->AddNew());
        rs->setField(1, "骨科");
        QVERIFY(!rs->Update());
        QVERIFY(!rs->lastError().isEmpty());
        rs.reset();
        QVERIFY(!tx.commit());
    }
    QCOMPARE(db.rows("select 科室 from class"), QStringList({"心内科"}));
}

void TestSql::missingFileFailsAndCreatesNothing_data()
{
    QTest::addColumn<QByteArray>("content");  // "<none>" for no file at all
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray("<none>") << "文件不存在或无法读取";
    QTest::newRow("not a database") << QByteArray("this is a text file, not a database, padded to be long enough "
                                                  "for the header check to look at it at all.......")
                                    << "不是数据库文件";
    QTest::newRow("empty file") << QByteArray() << "";
}

void TestSql::missingFileFailsAndCreatesNothing()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    if (serverEngine())
        QSKIP("a file that is missing or not a database; the server out of reach is tst_serverdb's");
    QTemporaryDir dir;
    setAppDirForTesting(dir.path());
    const QString path = dir.path() + "/xs.mdb";
    if (content != "<none>") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    SqlOutcome o;
    bool thrown = false;
    try {
        QVERIFY(!runsql("select * from xj", &o));
    } catch (...) {
        thrown = true;
    }
    QVERIFY(!thrown);
    QVERIFY(!o.ok);
    if (!reason.isEmpty()) {
        QVERIFY2(o.error.contains(reason), qPrintable(o.error));
        QVERIFY(o.error.contains(path));
        QVERIFY(isFileFault(o.fault));
    }
    setAppDirForTesting(QString());
    if (content.isEmpty()) {
        // An empty file is an empty SQLite database: it opens, the query
        // fails (no table) and nothing is thrown.
        QCOMPARE(o.fault, DbFault::Other);
        return;
    }
    if (content == "<none>")
        QVERIFY(!QFile::exists(path));
    else
        QCOMPARE(QFileInfo(path).size(), qint64(content.size()));
}

void TestSql::connstrNamesAppFolder()
{
    TestDb db(Empty);
    QCOMPARE(connstr(), "provider=Microsoft.Jet.OLEDB.4.0;Data source =" + db.dir() + "/xs.mdb");
}

QTEST_MAIN(TestSql)
#include "tst_sql.moc"
