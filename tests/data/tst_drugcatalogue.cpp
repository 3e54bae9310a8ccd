// The built-in drug catalogue: every entry of the drug columns of the
// prescribing catalogue is described once, and every coded field holds one
// of the values the program knows.
#include "data/csv.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace xs;

namespace {
const QStringList drugColumns = {"编码",     "表1名称",  "类别",     "通用名", "剂型",         "规格",
                                 "单位",     "单价",     "特殊管理", "皮试",   "抗菌药物级别", "过敏类别",
                                 "单次剂量", "剂量单位", "用法",     "频次",   "停用"};
const QStringList catalogueColumns = {"输液",     "抗生素",   "心血管",     "呼吸",     "消化",    "神经",
                                      "内分泌",   "解热阵痛", "维生素激素", "外用",     "中成药",  "其他",
                                      "收费项目", "用法",     "中药",       "中药方剂", "个人定制"};
// The catalogue's columns that hold drugs (the others hold fees, directions and sets).
const QStringList drugCategories = {"输液",     "抗生素",     "心血管", "呼吸",   "消化", "神经", "内分泌",
                                    "解热阵痛", "维生素激素", "外用",   "中成药", "其他", "中药"};

// Reads a file of the source tree's seed folder, in the order of `columns`.
bool readSeed(const QString &file, const QStringList &columns, std::vector<CsvRecord> *rows, QString *why)
{
    QFile f(QStringLiteral(XS_SOURCE_DIR "/resources/seed/") + file);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = f.errorString();
        return false;
    }
    return readTableCsv(f.readAll(), columns, rows, why);
}

QString cell(const CsvRecord &row, const QString &column)
{
    return row[drugColumns.indexOf(column)].value_or(QString());
}
}  // namespace

class TestDrugCatalogue : public QObject {
    Q_OBJECT
    std::vector<CsvRecord> drugs;
    std::vector<CsvRecord> catalogue;
private slots:
    void initTestCase();
    void size();
    void unique_data();
    void unique();
    void values_data();
    void values();
    void pattern_data();
    void pattern();
    void catalogueMapped_data();
    void catalogueMapped();
    void doseHasUnit();
    void penicillinsSkinTested();
};

void TestDrugCatalogue::initTestCase()
{
    QString why;
    QVERIFY2(readSeed("drugs.csv", drugColumns, &drugs, &why), qPrintable(why));
    QVERIFY2(readSeed("catalogue.csv", catalogueColumns, &catalogue, &why), qPrintable(why));
}

void TestDrugCatalogue::size() { QVERIFY2(drugs.size() >= 300, qPrintable(QString::number(drugs.size()))); }

void TestDrugCatalogue::unique_data()
{
    QTest::addColumn<QString>("column");
    QTest::newRow("code") << "编码";
    QTest::newRow("entry") << "表1名称";
}

void TestDrugCatalogue::unique()
{
    QFETCH(QString, column);
    QSet<QString> seen;
    for (const auto &row : drugs) {
        const auto value = cell(row, column);
        QVERIFY2(!seen.contains(value), qPrintable(value));
        seen.insert(value);
    }
}

void TestDrugCatalogue::values_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QStringList>("allowed");
    QTest::newRow("category") << "类别" << drugCategories;
    QTest::newRow("control") << "特殊管理"
                             << QStringList{"普通", "麻醉药品", "第一类精神药品", "第二类精神药品", "医疗用毒性药品"};
    QTest::newRow("skin test") << "皮试" << QStringList{"是", "否"};
    QTest::newRow("antibacterial level") << "抗菌药物级别"
                                         << QStringList{"", "非限制使用级", "限制使用级", "特殊使用级"};
    // Consumables carry no frequency.
    QTest::newRow("frequency") << "频次"
                               << QStringList{"", "qd", "bid", "tid", "qid", "q8h", "q12h", "qn", "qw", "prn", "st"};
    QTest::newRow("withdrawn") << "停用" << QStringList{"是", "否"};
}

void TestDrugCatalogue::values()
{
    QFETCH(QString, column);
    QFETCH(QStringList, allowed);
    for (const auto &row : drugs)
        QVERIFY2(allowed.contains(cell(row, column)), qPrintable(cell(row, "表1名称") + ": " + cell(row, column)));
}

void TestDrugCatalogue::pattern_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("code") << "编码"
                          << R"(YP\d{4})";
    QTest::newRow("price") << "单价"
                           << R"(\d+\.\d\d)";
    QTest::newRow("generic name") << "通用名"
                                  << ".+";
    QTest::newRow("form") << "剂型"
                          << ".+";
    QTest::newRow("strength") << "规格"
                              << ".+";
    QTest::newRow("unit") << "单位"
                          << ".+";
    // A dose is a positive number, or absent where the amount is whatever suffices.
    QTest::newRow("dose") << "单次剂量"
                          << R"(|0\.\d*[1-9]\d*|[1-9]\d*(\.\d+)?)";
}

void TestDrugCatalogue::pattern()
{
    QFETCH(QString, column);
    QFETCH(QString, pattern);
    const QRegularExpression re(QRegularExpression::anchoredPattern(pattern));
    for (const auto &row : drugs)
        QVERIFY2(re.match(cell(row, column)).hasMatch(), qPrintable(cell(row, "表1名称") + ": " + cell(row, column)));
}

void TestDrugCatalogue::catalogueMapped_data()
{
    QTest::addColumn<QString>("category");
    for (const auto &c : drugCategories)
        QTest::newRow(qPrintable(c)) << c;
}

void TestDrugCatalogue::catalogueMapped()
{
    QFETCH(QString, category);
    const auto column = catalogueColumns.indexOf(category);
    int entries = 0;
    for (const auto &entry : catalogue) {
        const auto text = entry[column].value_or(QString());
        if (text.isEmpty())
            continue;
        ++entries;
        const auto matches = std::count_if(drugs.begin(), drugs.end(), [&](const CsvRecord &row) {
            return cell(row, "表1名称") == text && cell(row, "类别") == category;
        });
        QVERIFY2(matches == 1, qPrintable(text));
    }
    QVERIFY(entries > 0);
}

// A dose and its unit come together.
void TestDrugCatalogue::doseHasUnit()
{
    for (const auto &row : drugs)
        QVERIFY2(cell(row, "单次剂量").isEmpty() == cell(row, "剂量单位").isEmpty(), qPrintable(cell(row, "表1名称")));
}

// Penicillins are skin-tested before the first dose.
void TestDrugCatalogue::penicillinsSkinTested()
{
    int penicillins = 0;
    for (const auto &row : drugs) {
        if (cell(row, "过敏类别") != "青霉素类")
            continue;
        ++penicillins;
        QVERIFY2(cell(row, "皮试") == "是", qPrintable(cell(row, "表1名称")));
        QVERIFY2(!cell(row, "抗菌药物级别").isEmpty(), qPrintable(cell(row, "表1名称")));
    }
    QVERIFY(penicillins > 0);
}

QTEST_APPLESS_MAIN(TestDrugCatalogue)
#include "tst_drugcatalogue.moc"
