// "chengheng-db report": the three reports written to PDF from a shell, run
// as the real tool in a child process (no display needed).
#include "testenv.h"

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
    QVERIFY(!QFile::exists(pdf));
    QCOMPARE(db.count(QStringLiteral("xj")), 1);
}

QTEST_MAIN(TestReportCmd)
#include "tst_reportcmd.moc"
