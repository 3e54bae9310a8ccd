// The data environment DataEnv1: its commands, its connection and the
// recordsets the browsers reopen before printing.
#include "data/recordset.h"
#include "report/dataenv.h"
#include "testenv.h"

#include <QtTest>

using namespace xs;

namespace {
void seedCases(const test::TestDb &db)
{
    db.exec(QStringLiteral(
        "insert into class(年级,科室,专业) values('内科','心内科','心血管'),('外科','普外科','普通外科')"));
    db.exec(QStringLiteral("insert into xj(门诊号,姓名,科室) values('A1','甲','心内科'),('A2','乙','普外科'),"
                           "('A3','丙','心内科'),('A4','丁','无此科')"));
}

QStringList readAll(DataEnvRecordset &rs, const QString &column)
{
    QStringList out;
    while (!rs.atEOF()) {
        out << rs.text(column);
        rs.MoveNext();
    }
    return out;
}
}  // namespace

class TestDataEnv : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { DataEnv1.Close(); }
    void commandTexts();
    void connectionReachesTheApplicationFile();
    void reopenReadsInOrder_data();
    void reopenReadsInOrder();
    void neverOpenedUsesTheCommandText();
    void failedStatementHoldsNoRow();
    void followsTheApplicationFile();
    void openRecordsetDoesNotBlockWriters();
    void releasedRecordsetLetsTheJournalGo();
};

void TestDataEnv::commandTexts()
{
    QCOMPARE(
        DataEnv1.Command1.CommandText,
        QStringLiteral("select xj.门诊号,xj.姓名,xj.性别,xj.科室,xj.出生年月,xj.家庭住址,xj.邮政编码,xj.联系电话,"
                       "xj.入诊时间,xj.备注,xj.婚否,xj.体格检查,xj.既往病史, xj.症状, xj.诊断,xj.药名,xj.药量, "
                       "xj.医生签字, xj.年龄,xj.身份证,class.专业 from xj inner join class on xj.科室=class.科室"));
    QCOMPARE(DataEnv1.Command2.CommandText, QStringLiteral("select * from class"));
    QCOMPARE(DataEnv1.Command3.CommandText, QStringLiteral("select *from yc"));
    QCOMPARE(DataEnv1.recordsetOf(QStringLiteral("Command1")), &DataEnv1.rsCommand1);
    QCOMPARE(DataEnv1.recordsetOf(QStringLiteral("Command2")), &DataEnv1.rsCommand2);
    QCOMPARE(DataEnv1.recordsetOf(QStringLiteral("Command3")), &DataEnv1.rsCommand3);
    QCOMPARE(DataEnv1.recordsetOf(QStringLiteral("Command4")), nullptr);
}

void TestDataEnv::connectionReachesTheApplicationFile()
{
    test::TestDb db(test::Empty);
    QCOMPARE(DataEnv1.Connection1.DataSource(), db.path());
    QCOMPARE(DataEnv1.Connection1.ConnectionString(),
             QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=") + db.path());
    QVERIFY(connstr().endsWith(QStringLiteral("/xs.mdb")));
    QVERIFY(connstr().contains(db.dir()));
}

void TestDataEnv::reopenReadsInOrder_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("numbers");
    QTest::newRow("design text: joined records only") << DataEnv1.Command1.CommandText << QStringList{"A1", "A2", "A3"};
    QTest::newRow("listing in descending order") << QStringLiteral(
        "select xj.*,class.专业 from xj inner join class on xj.科室=class.科室 order by xj.门诊号 desc")
                                                 << QStringList{"A3", "A2", "A1"};
    QTest::newRow("one department") << QStringLiteral("select xj.*,class.专业 from xj inner join class on "
                                                      "xj.科室=class.科室 where xj.科室='心内科'")
                                    << QStringList{"A1", "A3"};
    QTest::newRow("nothing found") << QStringLiteral("select * from xj where 门诊号='none'") << QStringList{};
}

void TestDataEnv::reopenReadsInOrder()
{
    QFETCH(QString, source);
    QFETCH(QStringList, numbers);
    test::TestDb db(test::Empty);
    seedCases(db);
    // Open on something else first: reopening replaces it.
    QVERIFY(DataEnv1.rsCommand1.Open(QStringLiteral("select * from xj where 门诊号='A4'")));
    QVERIFY(!DataEnv1.rsCommand1.atEOF());
    QVERIFY(DataEnv1.rsCommand1.Open(source));
    QVERIFY(DataEnv1.rsCommand1.isOpen());
    QCOMPARE(DataEnv1.rsCommand1.Source(), source);
    QCOMPARE(DataEnv1.rsCommand1.atEOF(), numbers.isEmpty());
    QCOMPARE(readAll(DataEnv1.rsCommand1, QStringLiteral("门诊号")), numbers);
    QVERIFY(DataEnv1.rsCommand1.atEOF());
    // MoveFirst reads again from the start.
    DataEnv1.rsCommand1.MoveFirst();
    QCOMPARE(readAll(DataEnv1.rsCommand1, QStringLiteral("门诊号")), numbers);
    QCOMPARE(DataEnv1.rsCommand1.reportSource(), std::optional<QString>(source));
}

void TestDataEnv::neverOpenedUsesTheCommandText()
{
    test::TestDb db(test::Empty);
    seedCases(db);
    QCOMPARE(DataEnv1.rsCommand2.state(), DataEnvRecordset::State::Closed);
    QCOMPARE(DataEnv1.rsCommand2.Source(), DataEnv1.Command2.CommandText);
    QCOMPARE(DataEnv1.rsCommand2.reportSource(), std::optional<QString>(DataEnv1.Command2.CommandText));
    QVERIFY(!DataEnv1.rsCommand2.atEOF());  // opens it
    QCOMPARE(DataEnv1.rsCommand2.state(), DataEnvRecordset::State::Open);
    QCOMPARE(DataEnv1.rsCommand2.fieldCount(), 7);
    QCOMPARE(DataEnv1.rsCommand2.fieldName(1), QStringLiteral("科室"));
    QCOMPARE(readAll(DataEnv1.rsCommand2, QStringLiteral("科室")), (QStringList{"心内科", "普外科"}));
    DataEnv1.rsCommand2.Close();
    QCOMPARE(DataEnv1.rsCommand2.state(), DataEnvRecordset::State::Closed);
    QCOMPARE(DataEnv1.rsCommand2.recordset(), nullptr);
}

// A statement the engine refuses leaves the recordset holding no row, and a
// report shown from it prints nothing, never the rows of another statement.
void TestDataEnv::failedStatementHoldsNoRow()
{
    test::TestDb db(test::Empty);
    seedCases(db);
    QVERIFY(!DataEnv1.rsCommand1.Open(QStringLiteral("select * from xj where 门诊号='A1' and")));
    QCOMPARE(DataEnv1.rsCommand1.state(), DataEnvRecordset::State::Failed);
    QVERIFY(DataEnv1.rsCommand1.atEOF());
    QCOMPARE(DataEnv1.rsCommand1.text(QStringLiteral("门诊号")), QString());
    QCOMPARE(DataEnv1.rsCommand1.reportSource(), std::nullopt);
    // Still failed after asking again: it is not silently reopened.
    QVERIFY(DataEnv1.rsCommand1.atEOF());
    QCOMPARE(DataEnv1.rsCommand1.state(), DataEnvRecordset::State::Failed);
    // An action statement is no source of rows either.
    QVERIFY(!DataEnv1.rsCommand1.Open(QStringLiteral("delete * from xj")));
    QCOMPARE(db.count(QStringLiteral("xj")), 4);
    QVERIFY(DataEnv1.rsCommand1.Open(QStringLiteral("select * from xj where 门诊号='A1'")));
    QCOMPARE(readAll(DataEnv1.rsCommand1, QStringLiteral("姓名")), QStringList{"甲"});
}

void TestDataEnv::followsTheApplicationFile()
{
    {
        test::TestDb a(test::Empty);
        seedCases(a);
        QVERIFY(DataEnv1.rsCommand1.Open(QStringLiteral("select * from xj")));
        QVERIFY(!DataEnv1.rsCommand1.atEOF());
    }
    test::TestDb b(test::Empty);
    // Nothing of the previous file is read: the recordset starts over.
    QCOMPARE(DataEnv1.rsCommand1.state(), DataEnvRecordset::State::Closed);
    QVERIFY(DataEnv1.rsCommand1.atEOF());
    QCOMPARE(DataEnv1.rsCommand1.Source(), DataEnv1.Command1.CommandText);
}

void TestDataEnv::openRecordsetDoesNotBlockWriters()
{
    test::TestDb db(test::Empty);
    seedCases(db);
    QVERIFY(DataEnv1.rsCommand1.Open(QStringLiteral("select * from xj")));
    QVERIFY(!DataEnv1.rsCommand1.atEOF());
    QElapsedTimer t;
    t.start();
    QVERIFY(runaction(QStringLiteral("insert into xj(门诊号,科室) values('B1','心内科')")));
    QVERIFY(runaction(QStringLiteral("delete * from xj where 门诊号='A2'")));
    QVERIFY2(t.elapsed() < 1000, "a write waited for the open recordset");
    QCOMPARE(db.count(QStringLiteral("xj")), 4);
}

// A recordset whose rows were let go keeps its statement and holds no read
// snapshot, so the journal can be checkpointed to the end.
void TestDataEnv::releasedRecordsetLetsTheJournalGo()
{
    XS_FILE_ONLY("the WAL journal and its checkpoint");
    test::TestDb db(test::Empty);
    seedCases(db);
    // A passive checkpoint copies what no reader still needs: "busy|frames|copied".
    auto checkpointBlocked = [&db] {
        const QStringList r = db.rows(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)")).value(0).split(u'|');
        return r.value(1) != r.value(2);
    };
    const QString source = QStringLiteral("select * from xj order by 门诊号");
    QVERIFY(DataEnv1.rsCommand1.Open(source));
    QCOMPARE(DataEnv1.rsCommand1.text(QStringLiteral("门诊号")), QStringLiteral("A1"));
    db.exec(QStringLiteral("insert into xj(门诊号) values('B1')"));
    QVERIFY(checkpointBlocked());  // the open row pins the snapshot
    DataEnv1.rsCommand1.release();
    QVERIFY(!checkpointBlocked());
    QCOMPARE(DataEnv1.rsCommand1.reportSource(), std::optional<QString>(source));
    QVERIFY(DataEnv1.rsCommand1.isOpen());
    // Reading again starts from the first row of the statement as it is now.
    QCOMPARE(readAll(DataEnv1.rsCommand1, QStringLiteral("门诊号")), (QStringList{"A1", "A2", "A3", "A4", "B1"}));
}

QTEST_MAIN(TestDataEnv)
#include "tst_dataenv.moc"
