#include "data/idcard.h"

#include <QTest>

using namespace xs;

// Identity card numbers read for their birth date and sex, and the problem
// told for one that cannot be right.
class TestIdCard : public QObject {
    Q_OBJECT
private slots:
    void read_data();
    void read();
};

void TestIdCard::read_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QDate>("birth");  // invalid: the number is not valid
    QTest::addColumn<QString>("sex");
    QTest::addColumn<QString>("problem");
    const QString notReal = QStringLiteral("身份证号中的出生日期 %1 不是真实的日期");
    const QString characters = QStringLiteral("18 位身份证号的前 17 位应为数字，末位应为数字或 X");
    auto row = [](const char *name, const QString &number, const QDate &birth, const QString &sex,
                  const QString &problem) { QTest::newRow(name) << number << birth << sex << problem; };
    row("X, 女", "11010519491231002X", QDate(1949, 12, 31), "女", "");
    row("x", "11010519491231002x", QDate(1949, 12, 31), "女", "");
    row("digit, 男", "440304199005011230", QDate(1990, 5, 1), "男", "");
    row("X, even digit", "44030419850612006X", QDate(1985, 6, 12), "女", "");
    row("wrong check", "440304199005011239", QDate(), "", "校验位不对，应为 0");
    row("X expected", "110105194912310021", QDate(), "", "校验位不对，应为 X");
    row("X not expected", "44030419900501123X", QDate(), "", "校验位不对，应为 0");
    row("Feb 29 leap", "330102198802290021", QDate(1988, 2, 29), "女", "");
    row("Feb 29 2000", "110105200002290013", QDate(2000, 2, 29), "男", "");
    row("Feb 29 non-leap", "330102198702290024", QDate(), "", notReal.arg("19870229"));
    row("Feb 29 1900", "330102190002290027", QDate(), "", notReal.arg("19000229"));
    row("month 13", "440304199013011230", QDate(), "", notReal.arg("19901301"));
    row("1900-01-01", "110105190001010036", QDate(1900, 1, 1), "男", "");
    row("before 1900", "110105189912310015", QDate(), "", "身份证号中的出生日期是 1899年12月31日，早于 1900 年");
    const QDate tomorrow = QDate::currentDate().addDays(1);
    row("tomorrow", "110105" + tomorrow.toString("yyyyMMdd") + "0010", QDate(), "",
        QStringLiteral("身份证号中的出生日期是 %1年%2月%3日，晚于今天")
            .arg(tomorrow.year())
            .arg(tomorrow.month())
            .arg(tomorrow.day()));
    row("15 digits, 女", "110105491231002", QDate(1949, 12, 31), "女", "");
    row("15 digits, 男", "440304900501123", QDate(1990, 5, 1), "男", "");
    row("15 digits, no such day", "110105870229002", QDate(), "", notReal.arg("19870229"));
    row("15 digits with X", "11010549123100X", QDate(), "", "15 位身份证号应全为数字");
    row("outer blanks", "  11010519491231002X\t", QDate(1949, 12, 31), "女", "");
    row("ideographic blank", "\u3000440304199005011230", QDate(1990, 5, 1), "男", "");
    row("empty", "", QDate(), "", "");
    row("blanks only", "   ", QDate(), "", "");
    row("too short", "1101051949123", QDate(), "", "身份证号应为 18 位或 15 位，现在是 13 位");
    row("too long", "11010519491231002X1", QDate(), "", "身份证号应为 18 位或 15 位，现在是 19 位");
    row("blank inside", "110105 9491231002X", QDate(), "", characters);
    row("letter inside", "1101051949123100AX", QDate(), "", characters);
    row("other last letter", "11010519491231002Y", QDate(), "", characters);
    row("full-width digit", "11010519491231002\uFF10", QDate(), "", characters);
}

void TestIdCard::read()
{
    QFETCH(QString, number);
    QFETCH(QDate, birth);
    QFETCH(QString, sex);
    QFETCH(QString, problem);
    const IdCardInfo info = readIdCard(number);
    QCOMPARE(info.problem, problem);
    QCOMPARE(info.valid, birth.isValid());
    QCOMPARE(info.birth, birth);
    QCOMPARE(info.sex, sex);
}

QTEST_GUILESS_MAIN(TestIdCard)
#include "tst_idcard.moc"
