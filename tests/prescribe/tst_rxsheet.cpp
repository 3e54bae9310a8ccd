// The printed 处方笺 without a database: the lines shared out over sheets, the
// age and the 药品金额 as printed, and the sheets of real catalogue drugs
// exported to PDF and read back with pdftotext, page by page, and previewed.
#include "data/csv.h"
#include "prescribe/rxsheet.h"
#include "report/preview.h"
#include "testenv.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <map>

using namespace xs;

namespace {

// A line of the given control ('o' 普通, 'n' 麻醉药品, '1' 第一类精神药品,
// '2' 第二类精神药品, 'h' a 中药饮片).
RxLine lineOf(QChar c)
{
    RxLine l;
    l.control = c == 'n'   ? kControlNarcotic
                : c == '1' ? kControlPsychotropic1
                : c == '2' ? kControlPsychotropic2
                           : kControlOrdinary;
    l.category = c == 'h' ? QStringLiteral("中药") : QStringLiteral("消化");
    return l;
}

// "O:0,1|N:2|O*:3": each sheet's kind (O E P N 2, * herbal) and its lines.
QString sheetsText(const std::vector<RxSheet> &sheets)
{
    QStringList out;
    for (const RxSheet &s : sheets) {
        const char *kind = s.kind == RxKind::Ordinary     ? "O"
                           : s.kind == RxKind::Emergency  ? "E"
                           : s.kind == RxKind::Paediatric ? "P"
                           : s.kind == RxKind::Narcotic   ? "N"
                                                          : "2";
        QStringList idx;
        for (int i : s.lines)
            idx << QString::number(i);
        out << QLatin1String(kind) + (s.herbal ? "*" : "") + ':' + idx.join(',');
    }
    return out.join('|');
}

// The catalogue's drugs by 编码, as the prescribing window fills a line.
std::map<QString, RxLine> catalogue(QString *error)
{
    QFile f(QStringLiteral(XS_SOURCE_DIR "/resources/seed/drugs.csv"));
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return {};
    }
    const QStringList cols = {"编码",     "表1名称",  "类别",     "通用名", "剂型",         "规格",
                              "单位",     "单价",     "特殊管理", "皮试",   "抗菌药物级别", "过敏类别",
                              "单次剂量", "剂量单位", "用法",     "频次",   "停用"};
    std::vector<CsvRecord> rows;
    if (!readTableCsv(f.readAll(), cols, &rows, error))
        return {};
    std::map<QString, RxLine> out;
    for (const CsvRecord &r : rows) {
        auto at = [&](int i) { return r[size_t(i)].value_or(QString()); };
        RxLine l{at(0),  at(1),  at(2),  at(3), at(4), at(5), {},    at(6), at(12),
                 at(13), at(14), at(15), {},    {},    at(7), at(8), at(11)};
        l.skinTest = at(9) == QStringLiteral("是");
        l.withdrawn = at(16) == QStringLiteral("是");
        out[l.code] = l;
    }
    return out;
}

const std::map<QString, RxLine> &drugs()
{
    static QString error;
    static const std::map<QString, RxLine> all = catalogue(&error);
    if (all.empty())
        qFatal("drugs.csv: %s", qPrintable(error));
    return all;
}

RxHeader patient()
{
    RxHeader h;
    h.fee = QStringLiteral("医保");
    h.number = QStringLiteral("20261211001");
    h.name = QStringLiteral("张三");
    h.sex = QStringLiteral("男");
    h.birth = QDate(1990, 5, 6);
    h.caseNo = QStringLiteral("A0001");
    h.department = QStringLiteral("内科");
    h.diagnosis = QStringLiteral("慢性胃炎");
    h.date = QDate(2026, 12, 11);
    h.idNumber = QStringLiteral("110101199005061234");
    h.doctor = QStringLiteral("王医生");
    return h;
}

// "YP0021*2" → that drug, 2 dispensed, for 3 days.
std::vector<RxLine> linesOf(const QStringList &items)
{
    std::vector<RxLine> lines;
    for (const QString &item : items) {
        const QStringList parts = item.split('*');
        RxLine l = drugs().at(parts[0]);
        l.quantity = parts[1];
        l.days = QStringLiteral("3");
        lines.push_back(l);
    }
    return lines;
}

QString withoutBlanks(QString s) { return s.remove(QRegularExpression(QStringLiteral("\\s+"))); }

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

class TestRxSheet : public QObject {
    Q_OBJECT
private slots:
    void sheets_data();
    void sheets();
    void age_data();
    void age();
    void amount_data();
    void amount();
    void lineTexts_data();
    void lineTexts();
    void pdf_data();
    void pdf();
    void preview();
};

void TestRxSheet::sheets_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<int>("flags");  // 1 急诊, 2 儿科
    QTest::addColumn<QString>("expected");
    QTest::newRow("none") << "" << 0 << "";
    QTest::newRow("seven, one herbal") << "oooohoo" << 0 << "O:0,1,2,3,5|O:6|O*:4";
    QTest::newRow("five fill one sheet") << "ooooo" << 0 << "O:0,1,2,3,4";
    QTest::newRow("each kind, emergency") << "h2no1" << 1 << "E:3|N:2,4|2:1|E*:0";
    QTest::newRow("paediatric") << "oo2" << 2 << "P:0,1|2:2";
    QTest::newRow("emergency before paediatric") << "o" << 3 << "E:0";
    QTest::newRow("six narcotics") << "nnnnnn" << 0 << "N:0,1,2,3,4|N:5";
    QTest::newRow("eleven herbs") << "hhhhhhhhhhh" << 0 << "O*:0,1,2,3,4|O*:5,6,7,8,9|O*:10";
}

void TestRxSheet::sheets()
{
    QFETCH(QString, lines);
    QFETCH(int, flags);
    QFETCH(QString, expected);
    RxHeader h;
    h.emergency = flags & 1;
    h.paediatric = flags & 2;
    std::vector<RxLine> rx;
    for (QChar c : lines)
        rx.push_back(lineOf(c));
    QCOMPARE(sheetsText(layoutSheets(h, rx)), expected);
}

void TestRxSheet::age_data()
{
    QTest::addColumn<QDate>("birth");
    QTest::addColumn<QDate>("on");
    QTest::addColumn<QString>("expected");
    const QDate on(2026, 12, 11);
    QTest::newRow("years") << QDate(1990, 5, 6) << on << "36岁";
    QTest::newRow("birthday today") << QDate(1990, 12, 11) << on << "36岁";
    QTest::newRow("birthday tomorrow") << QDate(1990, 12, 12) << on << "35岁";
    QTest::newRow("one year") << QDate(2025, 12, 11) << on << "1岁";
    QTest::newRow("eleven months") << QDate(2025, 12, 12) << on << "11个月";
    QTest::newRow("months") << QDate(2026, 4, 1) << on << "8个月";
    QTest::newRow("days") << QDate(2026, 11, 29) << on << "12天";
    QTest::newRow("born today") << on << on << "0天";
    QTest::newRow("31st to month end") << QDate(2026, 1, 31) << QDate(2026, 2, 28) << "1个月";
    QTest::newRow("not yet born") << QDate(2026, 12, 12) << on << "";
    QTest::newRow("unknown") << QDate() << on << "";
}

void TestRxSheet::age()
{
    QFETCH(QDate, birth);
    QFETCH(QDate, on);
    QFETCH(QString, expected);
    QCOMPARE(ageText(birth, on), expected);
}

void TestRxSheet::amount_data()
{
    QTest::addColumn<QStringList>("prices");
    QTest::addColumn<QStringList>("quantities");
    QTest::addColumn<QString>("expected");
    QTest::newRow("whole and herbs") << QStringList{"12.00", "0.12"} << QStringList{"2", "15"} << "25.80元";
    QTest::newRow("tenths") << QStringList{"0.1", "0.2"} << QStringList{"3", "3"} << "0.90元";
    QTest::newRow("quantity with unit") << QStringList{"3.50"} << QStringList{"2盒"} << "7.00元";
    QTest::newRow("half a fen up") << QStringList{"0.33"} << QStringList{"1.5"} << "0.50元";
    QTest::newRow("large") << QStringList{"180.00", "99999.99"} << QStringList{"10", "1"} << "101799.99元";
    QTest::newRow("price unknown") << QStringList{"12.00", ""} << QStringList{"2", "1"} << "—";
    QTest::newRow("price of three places") << QStringList{"1.234"} << QStringList{"1"} << "—";
    QTest::newRow("quantity in words") << QStringList{"12.00"} << QStringList{"两盒"} << "—";
    QTest::newRow("quantity not given") << QStringList{"12.00"} << QStringList{""} << "—";
}

void TestRxSheet::amount()
{
    QFETCH(QStringList, prices);
    QFETCH(QStringList, quantities);
    QFETCH(QString, expected);
    std::vector<RxLine> lines(size_t(prices.size()));
    RxSheet sheet;
    for (int i = 0; i < prices.size(); ++i) {
        lines[size_t(i)].price = prices[i];
        lines[size_t(i)].quantity = quantities[i];
        sheet.lines.push_back(i);
    }
    QCOMPARE(amountText(sheetAmountFen(sheet, lines)), expected);
}

void TestRxSheet::lineTexts_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("usage");
    QTest::newRow("skin test") << "YP0021*2"
                               << "1. 阿莫西林胶囊 胶囊剂 0.5g × 2盒（皮试）"
                               << "用法：每次0.5g 口服 tid 3天";
    QTest::newRow("unit typed") << "YP0113*1盒"
                                << "1. 奥美拉唑肠溶胶囊 胶囊剂 20mg × 1盒"
                                << "用法：每次20mg 口服 qd 3天";
    QTest::newRow("herb") << "YP0308*15"
                          << "1. 黄芪 饮片 片 × 15克"
                          << "用法：每次15g 煎服 qd 3天";
}

void TestRxSheet::lineTexts()
{
    QFETCH(QString, item);
    QFETCH(QString, line);
    QFETCH(QString, usage);
    const RxLine l = linesOf({item}).front();
    QCOMPARE(rxLineText(1, l), line);
    QCOMPARE(rxUsageText(l), usage);
    RxLine bare;
    bare.generic = l.generic;
    QCOMPARE(rxLineText(2, bare), QStringLiteral("2. ") + l.generic);
    QCOMPARE(rxUsageText(bare), QStringLiteral("用法："));
}

void TestRxSheet::pdf_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("flags");  // 1 急诊, 2 儿科
    // Per page, "|"-separated: texts the page shows, "!text" one it does not.
    QTest::addColumn<QStringList>("pages");
    // 24.00 + 10.00 + 10.00 + 15.00 + 18.00; 2 × 15.00; 15 × 0.12.
    QTest::newRow("typical")
        << QStringList{"YP0021*2", "YP0113*1盒", "YP0118*2", "YP0123*1", "YP0120*1", "YP0121*2", "YP0308*15"} << 0
        << QStringList{"第1张，共3张|1.阿莫西林胶囊胶囊剂0.5g×2盒（皮试）|用法：每次0.5g口服tid3天|"
                       "5.铝碳酸镁咀嚼片咀嚼片0.5g×1盒|药品金额：77.00元|!身份证号|!精二",
                       "第2张，共3张|1.胶体果胶铋胶囊胶囊剂50mg×2盒|药品金额：30.00元",
                       "第3张，共3张|1.黄芪15克|用法：煎服qd3天|药品金额：1.80元"};
    QTest::newRow("psychotropic 2") << QStringList{"YP0123*1", "YP0145*1"} << 0
                                    << QStringList{"第1张，共2张|!精二|药品金额：15.00元",
                                                   "第2张，共2张|精二|1.地西泮片片剂2.5mg×1瓶|药品金额：3.00元"};
    QTest::newRow("narcotic, emergency")
        << QStringList{"YP0096*1", "YP0113*1"} << 1
        << QStringList{"急诊|!身份证号|药品金额：10.00元",
                       "麻、精一|身份证号：110101199005061234|1.磷酸可待因片片剂15mg×1瓶|药品金额：8.00元"};
    // 15 × 0.12 + 10 × 0.25 + 15 × 0.20, two herbs to a row.
    QTest::newRow("herbs, paediatric") << QStringList{"YP0308*15", "YP0310*10", "YP0311*15"} << 2
                                       << QStringList{"儿科|1.黄芪15克2.当归10克|3.党参15克|药品金额：7.30元"};
}

void TestRxSheet::pdf()
{
    QFETCH(QStringList, items);
    QFETCH(int, flags);
    QFETCH(QStringList, pages);
    RxHeader h = patient();
    h.emergency = flags & 1;
    h.paediatric = flags & 2;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("处方笺.pdf"));
    QString error;
    QVERIFY2(exportPrescriptionPdf(h, linesOf(items), path, &error), qPrintable(error));

    const QString info = run(QStringLiteral("pdfinfo"), {path});
    QVERIFY2(info.contains(
                 QRegularExpression(QStringLiteral("Page size:\\s+(419\\.5\\d*|420) x 595(\\.2\\d*)? pts \\(A5\\)"))),
             qPrintable(info));
    QStringList shown = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")})
                            .split(QLatin1Char('\f'));
    if (!shown.isEmpty() && shown.last().trimmed().isEmpty())
        shown.removeLast();
    QCOMPARE(shown.size(), pages.size());
    const QStringList everyPage = {"青禾医院处方笺",
                                   "费别：医保",
                                   "处方编号：20261211001",
                                   "姓名：张三",
                                   "性别：男",
                                   "年龄：36岁",
                                   "门诊号：A0001",
                                   "科别：内科",
                                   "临床诊断：慢性胃炎",
                                   "开具日期：2026年12月11日",
                                   "Rp",
                                   "医师：王医生",
                                   "药品金额",
                                   "审核",
                                   "调配",
                                   "核对",
                                   "发药",
                                   "以下空白"};
    for (int i = 0; i < pages.size(); ++i) {
        const QString page = withoutBlanks(shown[i]);
        for (const QString &want : everyPage + pages[i].split('|')) {
            const bool absent = want.startsWith('!');
            const QString text = withoutBlanks(absent ? want.mid(1) : want);
            QVERIFY2(page.contains(text) != absent,
                     qPrintable(QStringLiteral("page %1: %2\n%3").arg(i + 1).arg(want, shown[i])));
        }
    }
}

// The preview of the reports shows the sheets: caption, pages, and its export.
void TestRxSheet::preview()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("导出.pdf"));
    setPdfPathChooser([&](QWidget *, const QString &suggested) {
        return suggested.endsWith(QStringLiteral("处方笺.pdf")) ? path : QString();
    });
    QString title;
    QString pages;
    bool exported = false;
    QTimer::singleShot(0, [&] {
        auto *w = qobject_cast<ReportPreview *>(QApplication::activeModalWidget());
        if (!w)
            return;
        title = w->windowTitle();
        w->lastPage();
        pages = w->pageText();
        exported = w->exportPdf();
        w->close();
    });
    showPrescription(patient(), linesOf({"YP0021*2", "YP0308*15"}), nullptr);
    setPdfPathChooser({});
    QCOMPARE(title, QStringLiteral("处方笺"));
    QCOMPARE(pages, QStringLiteral("第 2 页，共 2 页"));
    QVERIFY(exported);
    QVERIFY(QFile::exists(path));

    QString error;
    QVERIFY(!exportPrescriptionPdf(patient(), {}, path, &error));
    QCOMPARE(error, QStringLiteral("处方中没有药品，没有可打印的处方笺。"));
}

QTEST_MAIN(TestRxSheet)
#include "tst_rxsheet.moc"
