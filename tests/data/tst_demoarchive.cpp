// Demo archives of any size: what the generated departments and case records
// look like, that a failure keeps nothing, and the tool's --records option.
#include "data/sqlite/demoarchive.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"

#include <QDate>
#include <QSet>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

namespace {

bool validIdentityNumber(const QString &id)
{
    if (id.size() != 18)
        return false;
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    int sum = 0;
    for (int i = 0; i < 17; ++i) {
        if (!id[i].isDigit())
            return false;
        sum += id[i].digitValue() * weights[i];
    }
    return id[17] == QLatin1Char("10X98765432"[sum % 11]);
}

QStringList indexNames(const TestDb &db)
{
    return db.rows(QStringLiteral("select name from sqlite_master where type='index' and tbl_name='xj' order by name"));
}

}  // namespace

class TestDemoArchive : public QObject {
    Q_OBJECT
private slots:
    void recordsAndDepartments_data();
    void recordsAndDepartments();
    void sameOptionsSameArchive();
    void failureKeepsNothing();
    void toolOption_data();
    void toolOption();
};

void TestDemoArchive::recordsAndDepartments_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<int>("departments");
    QTest::addColumn<int>("groups");
    QTest::addColumn<int>("wantDepartments");
    QTest::addColumn<int>("wantGroups");
    QTest::newRow("demo departments, no record") << 0 << 0 << 50 << 17 << 6;
    QTest::newRow("demo departments") << 1500 << 0 << 50 << 17 << 6;
    QTest::newRow("generated departments") << 3000 << 400 << 50 << 400 << 50;
    // More groups than campuses times base groups: the names still differ.
    QTest::newRow("many groups") << 200 << 300 << 60 << 300 << 60;
}

// Every record belongs to a department of class, numbers are unique and rise
// with the visit date, ages agree with birth and visit dates, identity card
// numbers carry a valid check digit, the birth date and the sex; the indexes
// of xj are back and statistics gathered.
void TestDemoArchive::recordsAndDepartments()
{
    QFETCH(int, records);
    QFETCH(int, departments);
    QFETCH(int, groups);
    QFETCH(int, wantDepartments);
    QFETCH(int, wantGroups);
    TestDb db(Empty);
    const QStringList indexesBefore = indexNames(db);
    DemoArchiveOptions o;
    o.records = records;
    o.departments = departments;
    o.groups = groups;
    QString error;
    QVERIFY2(fillDemoArchive(Connection::open(db.path()), o, &error), qPrintable(error));

    QCOMPARE(db.count(QStringLiteral("class")), wantDepartments);
    QCOMPARE(db.scalar(QStringLiteral("select count(distinct 科室) from class")).toInt(), wantDepartments);
    QCOMPARE(db.scalar(QStringLiteral("select count(distinct 年级) from class")).toInt(), wantGroups);
    QCOMPARE(db.count(QStringLiteral("xj")), records);
    QCOMPARE(db.count(QStringLiteral("xj where 科室 not in (select 科室 from class)")), 0);
    QCOMPARE(db.scalar(QStringLiteral("select count(distinct 门诊号) from xj")).toInt(), records);
    QCOMPARE(indexNames(db), indexesBefore);
    QVERIFY(db.scalar(QStringLiteral("select count(*) from sqlite_master where name='sqlite_stat1'")).toInt() == 1);

    QString previousNumber;
    QDate previousVisit;
    const QStringList rows = db.rows(QStringLiteral(
        "select 门诊号,姓名,性别,出生年月,入诊时间,年龄,身份证,联系电话,家庭住址,症状,诊断,药名,医生签字 from xj order "
        "by rowid"));
    for (const QString &line : rows) {
        const QStringList f = line.split(u'|');
        QVERIFY2(f[0] > previousNumber, qPrintable(line));
        const QDate birth = QDate::fromString(f[3], QStringLiteral("yyyy-MM-dd"));
        const QDate visit = QDate::fromString(f[4], QStringLiteral("yyyy-MM-dd"));
        QVERIFY2(birth.isValid() && visit.isValid() && birth < visit, qPrintable(line));
        QVERIFY2(!previousVisit.isValid() || previousVisit <= visit, qPrintable(line));
        int age = visit.year() - birth.year();
        if (QDate(visit.year(), birth.month(), std::min(birth.day(), 28)) > visit)
            --age;
        QVERIFY2(std::abs(f[5].toInt() - age) <= 1, qPrintable(line));
        QVERIFY2(validIdentityNumber(f[6]), qPrintable(line));
        QCOMPARE(f[6].mid(6, 8), birth.toString(QStringLiteral("yyyyMMdd")));
        QCOMPARE(f[2], f[6][16].digitValue() % 2 ? QStringLiteral("男") : QStringLiteral("女"));
        QVERIFY2(f[1].size() >= 2 && f[1].size() <= 4, qPrintable(line));
        QVERIFY2(f[7].size() == 11 && f[7].startsWith(u'1'), qPrintable(line));
        for (int i = 8; i < f.size(); ++i)
            QVERIFY2(!f[i].isEmpty(), qPrintable(line));
        previousNumber = f[0];
        previousVisit = visit;
    }
    if (records > 1000) {
        // Spread over the years, and over the departments.
        QVERIFY(db.scalar(QStringLiteral("select count(distinct substr(入诊时间,1,4)) from xj")).toInt() >= 9);
        QVERIFY(db.scalar(QStringLiteral("select count(distinct 科室) from xj")).toInt() >= wantDepartments * 9 / 10);
        QVERIFY(db.scalar(QStringLiteral("select count(distinct 姓名) from xj")).toInt() > records / 4);
    }
}

void TestDemoArchive::sameOptionsSameArchive()
{
    DemoArchiveOptions o;
    o.records = 800;
    o.departments = 120;
    o.groups = 12;
    QStringList first;
    for (int run = 0; run < 2; ++run) {
        TestDb db(Empty);
        QVERIFY(fillDemoArchive(Connection::open(db.path()), o));
        const QStringList all = db.rows(QStringLiteral("select * from class order by rowid"))
                                + db.rows(QStringLiteral("select * from xj order by rowid"));
        if (run == 0)
            first = all;
        else
            QCOMPARE(all, first);
    }
}

// Departments that clash with existing ones: nothing of the archive is kept,
// the indexes of xj included.
void TestDemoArchive::failureKeepsNothing()
{
    TestDb db(DemoData);
    const int cases = db.count(QStringLiteral("xj"));
    const QStringList indexes = indexNames(db);
    DemoArchiveOptions o;
    o.records = 100;
    QString error;
    QVERIFY(!fillDemoArchive(Connection::open(db.path()), o, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(db.count(QStringLiteral("xj")), cases);
    QCOMPARE(db.count(QStringLiteral("class")), 17);
    QCOMPARE(indexNames(db), indexes);
}

void TestDemoArchive::toolOption_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");  // the start of stdout (code 0) or stderr
    QTest::newRow("records") << QStringList{"--demo", "--records", "2500"} << 0
                             << QStringLiteral("已创建演示数据库 %1：科室 17 个，病例档案 2500 份，药品目录 ");
    QTest::newRow("large archive") << QStringList{"--demo", "--records=100000"} << 0
                                   << QStringLiteral(
                                          "已创建演示数据库 %1：科室 2000 个，病例档案 100000 份，药品目录 ");
    QTest::newRow("without --demo") << QStringList{"--records", "10"} << 2
                                    << QStringLiteral("chengheng-db: --records 只能与 --demo 同用");
    QTest::newRow("not a number") << QStringList{"--demo", "--records", "十"} << 2
                                  << QStringLiteral("chengheng-db: --records 后面要跟病例档案的份数（0 或正整数）");
    QTest::newRow("negative") << QStringList{"--demo", "--records=-5"} << 2
                              << QStringLiteral("chengheng-db: --records 后面要跟病例档案的份数（0 或正整数）");
}

void TestDemoArchive::toolOption()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("demo.mdb"));
    const ToolRun r = runTool(QStringList{"init", path} + args);
    QCOMPARE(r.code, code);
    if (code == 0) {
        QVERIFY2(r.out.startsWith(text.arg(path)), qPrintable(r.out));
        // The five demo accounts come along.
        QVERIFY(r.out.trimmed().endsWith(QStringLiteral("账户 5 个")));
    } else {
        QVERIFY2(r.err.startsWith(text), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(path));
    }
}

QTEST_MAIN(TestDemoArchive)
#include "tst_demoarchive.moc"
