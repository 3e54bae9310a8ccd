// Reading typed dates and writing the short date form.
#include "data/dates.h"

#include <QTest>

using namespace xs;

class TestDates : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void shortForm();
};

void TestDates::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDate>("expected");  // invalid: refused
    QTest::newRow("iso") << "2024-03-05" << QDate(2024, 3, 5);
    QTest::newRow("iso single digits") << "2024-3-5" << QDate(2024, 3, 5);
    QTest::newRow("slashes") << "2024/12/31" << QDate(2024, 12, 31);
    QTest::newRow("dots") << "2024.1.2" << QDate(2024, 1, 2);
    QTest::newRow("chinese") << "2024年2月29日" << QDate(2024, 2, 29);
    QTest::newRow("chinese padded") << "1999年09月09日" << QDate(1999, 9, 9);
    QTest::newRow("us dash short") << "3-5-24" << QDate(2024, 3, 5);
    QTest::newRow("us slash short") << "12/31/99" << QDate(1999, 12, 31);
    QTest::newRow("two-digit 00") << "1/1/00" << QDate(2000, 1, 1);
    QTest::newRow("two-digit 29") << "1/1/29" << QDate(2029, 1, 1);
    QTest::newRow("two-digit 30") << "1/1/30" << QDate(1930, 1, 1);
    QTest::newRow("us long") << "3/5/1987" << QDate(1987, 3, 5);
    QTest::newRow("us dash long") << "03-05-1987" << QDate(1987, 3, 5);
    QTest::newRow("outer blanks") << "  2024-3-5 " << QDate(2024, 3, 5);
    QTest::newRow("leap day ok") << "2000-2-29" << QDate(2000, 2, 29);
    QTest::newRow("no leap 1900") << "1900-2-29" << QDate();
    QTest::newRow("no leap 2023") << "2/29/23" << QDate();
    QTest::newRow("feb 30 chinese") << "2024年2月30日" << QDate();
    QTest::newRow("april 31") << "2024-4-31" << QDate();
    QTest::newRow("month 0") << "2024-0-10" << QDate();
    QTest::newRow("month 13") << "13/1/2024" << QDate();
    QTest::newRow("day 0") << "2024-1-0" << QDate();
    QTest::newRow("mixed separators") << "2024-1/2" << QDate();
    QTest::newRow("three-digit year") << "1/2/999" << QDate();
    QTest::newRow("year 0099") << "0099-1-1" << QDate();
    QTest::newRow("dots us") << "1.2.24" << QDate();
    QTest::newRow("empty") << "" << QDate();
    QTest::newRow("blanks") << "   " << QDate();
    QTest::newRow("words") << "昨天" << QDate();
    QTest::newRow("trailing text") << "2024-1-1x" << QDate();
    QTest::newRow("time part") << "2024-1-1 10:00" << QDate();
}

void TestDates::parse()
{
    QFETCH(QString, text);
    QFETCH(QDate, expected);
    const auto d = parseDate(text);
    QCOMPARE(d.has_value(), expected.isValid());
    QCOMPARE(isDate(text), expected.isValid());
    if (d)
        QCOMPARE(*d, expected);
}

void TestDates::shortForm()
{
    QCOMPARE(shortDate(QDate(2024, 3, 5)), QStringLiteral("2024-03-05"));
    QCOMPARE(shortDate(QDate()), QString());
    QCOMPARE(todayText(), QDate::currentDate().toString("yyyy-MM-dd"));
    // What the short form writes, the parser reads back.
    QCOMPARE(parseDate(shortDate(QDate(1930, 12, 1))), std::optional<QDate>(QDate(1930, 12, 1)));
}

QTEST_MAIN(TestDates)
#include "tst_dates.moc"
