#include "data/pinyin.h"

#include <QTest>

using namespace xs;

// Drug names found by what a doctor types: initials, whole or begun
// readings, characters, and every reading of a character with several.
class TestPinyin : public QObject {
    Q_OBJECT
private slots:
    void readings_data();
    void readings();
    void match_data();
    void match();
};

void TestPinyin::readings_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one reading") << QStringLiteral("莫") << QStringList{QStringLiteral("mo"), QStringLiteral("mu")};
    QTest::newRow("two readings") << QStringLiteral("重")
                                  << QStringList{QStringLiteral("zhong"), QStringLiteral("chong")};
    QTest::newRow("ü as v") << QStringLiteral("氯") << QStringList{QStringLiteral("lv")};
    QTest::newRow("not Han") << QStringLiteral("C") << QStringList{};
    QTest::newRow("sign") << QStringLiteral("（") << QStringList{};
}

void TestPinyin::readings()
{
    QFETCH(QString, character);
    QFETCH(QStringList, expected);
    QCOMPARE(pinyinReadings(character.front()), expected);
}

void TestPinyin::match_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("at");
    const QString amx = QStringLiteral("阿莫西林胶囊");
    QTest::newRow("initials") << amx << QStringLiteral("amxl") << 0;
    QTest::newRow("initials, capitals") << amx << QStringLiteral("AMXL") << 0;
    QTest::newRow("begun reading") << amx << QStringLiteral("amoxi") << 0;
    QTest::newRow("whole readings") << amx << QStringLiteral("amoxilinjiaonang") << 0;
    QTest::newRow("mixed") << amx << QStringLiteral("amoxlj") << 0;
    QTest::newRow("characters") << amx << QStringLiteral("阿莫") << 0;
    QTest::newRow("characters inside") << amx << QStringLiteral("胶囊") << 4;
    QTest::newRow("from a later character") << amx << QStringLiteral("jn") << 4;
    QTest::newRow("no such initials") << amx << QStringLiteral("blf") << -1;
    QTest::newRow("letters beyond the name") << amx << QStringLiteral("amxljnx") << -1;
    QTest::newRow("from the second character") << amx << QStringLiteral("moxi") << 1;
    const QString insulin = QStringLiteral("重组人胰岛素");
    QTest::newRow("polyphone zh") << insulin << QStringLiteral("zzr") << 0;
    QTest::newRow("polyphone ch") << insulin << QStringLiteral("czr") << 0;
    QTest::newRow("polyphone whole") << insulin << QStringLiteral("chongzu") << 0;
    QTest::newRow("zh as an initial") << insulin << QStringLiteral("zhzr") << 0;
    QTest::newRow("letters in the name") << QStringLiteral("维生素C片") << QStringLiteral("wsscp") << 0;
    QTest::newRow("sign passed over") << QStringLiteral("复方（甘草）片") << QStringLiteral("ffgc") << 0;
    QTest::newRow("ü typed v") << QStringLiteral("氯化钠注射液") << QStringLiteral("lvh") << 0;
    QTest::newRow("nothing typed") << QStringLiteral("布洛芬片") << QString() << 0;
}

void TestPinyin::match()
{
    QFETCH(QString, name);
    QFETCH(QString, typed);
    QFETCH(int, at);
    QCOMPARE(PinyinName(name).match(typed), at);
}

QTEST_GUILESS_MAIN(TestPinyin)
#include "tst_pinyin.moc"
