#include "prescribe/rxsheet.h"

#include "report/preview.h"
#include "report/reportmodel.h"
#include "ui/fonts.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <array>

namespace xs {

// ---------------------------------------------------------------------------
// Sheets

RxKind baseKind(const RxHeader &header)
{
    if (header.emergency)
        return RxKind::Emergency;
    if (header.paediatric)
        return RxKind::Paediatric;
    return RxKind::Ordinary;
}

std::vector<RxSheet> layoutSheets(const RxHeader &header, const std::vector<RxLine> &lines)
{
    constexpr int kLinesPerSheet = 5;
    const RxKind base = baseKind(header);
    // The groups in the order their sheets print: the header's kind,
    // 麻、精一, 精二, 中药饮片.
    std::array<std::vector<int>, 4> groups;
    for (int i = 0; i < int(lines.size()); ++i) {
        const RxLine &l = lines[size_t(i)];
        size_t g = 0;
        if (l.control == kControlNarcotic || l.control == kControlPsychotropic1)
            g = 1;
        else if (l.control == kControlPsychotropic2)
            g = 2;
        else if (l.herbal())
            g = 3;
        groups[g].push_back(i);
    }
    const std::array<RxKind, 4> kinds = {base, RxKind::Narcotic, RxKind::Psychotropic2, base};
    std::vector<RxSheet> sheets;
    for (size_t g = 0; g < groups.size(); ++g) {
        for (size_t at = 0; at < groups[g].size(); at += kLinesPerSheet) {
            RxSheet s;
            s.kind = kinds[g];
            s.herbal = g == 3;
            const size_t end = std::min(groups[g].size(), at + kLinesPerSheet);
            s.lines.assign(groups[g].begin() + long(at), groups[g].begin() + long(end));
            sheets.push_back(std::move(s));
        }
    }
    return sheets;
}

QString ageText(const QDate &birth, const QDate &on)
{
    if (!birth.isValid() || !on.isValid() || birth > on)
        return {};
    int months = (on.year() - birth.year()) * 12 + on.month() - birth.month();
    // A month is complete on the same day of the month, or on the month's
    // last day when it has no such day (born on the 31st).
    const bool dayReached = on.day() >= birth.day() || on.day() == on.daysInMonth();
    if (!dayReached)
        --months;
    if (months >= 12)
        return QStringLiteral("%1岁").arg(months / 12);
    if (months >= 1)
        return QStringLiteral("%1个月").arg(months);
    return QStringLiteral("%1天").arg(birth.daysTo(on));
}

// ---------------------------------------------------------------------------
// Money

namespace {

// A decimal number with at most `places` places, scaled by 10^places; nothing
// when the text is not one.
std::optional<qint64> scaledDecimal(const QString &digits, const QString &fraction, int places)
{
    if (digits.size() > 12 || fraction.size() > places)
        return std::nullopt;
    qint64 v = digits.toLongLong();
    QString frac = fraction;
    frac = frac.leftJustified(places, QLatin1Char('0'));
    for (int i = 0; i < places; ++i)
        v = v * 10 + (frac.at(i).unicode() - '0');
    return v;
}

// The leading number of a quantity ("2", "2盒", "1.5"), in thousandths.
std::optional<qint64> quantityMilli(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d{1,3}))?(?![\\d.])"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return scaledDecimal(m.captured(1), m.captured(2), 3);
}

}  // namespace

std::optional<qint64> yuanToFen(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^\\s*(\\d+)(?:\\.(\\d{1,2}))?\\s*$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    return scaledDecimal(m.captured(1), m.captured(2), 2);
}

std::optional<qint64> sheetAmountFen(const RxSheet &sheet, const std::vector<RxLine> &lines)
{
    qint64 milliFen = 0;  // fen × thousandths of the quantity
    for (int i : sheet.lines) {
        const RxLine &l = lines.at(size_t(i));
        const std::optional<qint64> price = yuanToFen(l.price);
        const std::optional<qint64> qty = quantityMilli(l.quantity);
        if (!price || !qty)
            return std::nullopt;
        milliFen += *price * *qty;
    }
    return (milliFen + 500) / 1000;
}

QString amountText(std::optional<qint64> fen)
{
    if (!fen)
        return QStringLiteral("—");
    return QStringLiteral("%1.%2元").arg(*fen / 100).arg(*fen % 100, 2, 10, QLatin1Char('0'));
}

// ---------------------------------------------------------------------------
// Texts

QString kindMark(RxKind kind)
{
    switch (kind) {
    case RxKind::Emergency:
        return QStringLiteral("急诊");
    case RxKind::Paediatric:
        return QStringLiteral("儿科");
    case RxKind::Narcotic:
        return QStringLiteral("麻、精一");
    case RxKind::Psychotropic2:
        return QStringLiteral("精二");
    case RxKind::Ordinary:
        break;
    }
    return {};
}

namespace {

// The quantity with its unit, the unit once ("2盒" typed with its unit).
QString quantityWithUnit(const RxLine &l)
{
    QString q = l.quantity.trimmed();
    if (q.isEmpty() || l.unit.isEmpty() || q.endsWith(l.unit))
        return q;
    return q + l.unit;
}

QString joinedParts(const QStringList &parts)
{
    QStringList kept;
    for (const QString &s : parts)
        if (!s.trimmed().isEmpty())
            kept << s.trimmed();
    return kept.join(QLatin1Char(' '));
}

}  // namespace

QString rxLineText(int number, const RxLine &line)
{
    QString text = QStringLiteral("%1. ").arg(number) + joinedParts({line.generic, line.form, line.spec});
    const QString qty = quantityWithUnit(line);
    if (!qty.isEmpty())
        text += QStringLiteral(" × ") + qty;
    if (line.skinTest)
        text += QStringLiteral("（皮试）");
    return text;
}

QString rxUsageText(const RxLine &line)
{
    const QString dose = line.dose.trimmed().isEmpty() ? QString() : QStringLiteral("每次") + line.dose + line.doseUnit;
    const QString days = line.days.trimmed().isEmpty() ? QString() : line.days.trimmed() + QStringLiteral("天");
    return QStringLiteral("用法：") + joinedParts({dose, line.route, line.frequency, days});
}

// ---------------------------------------------------------------------------
// Painting

namespace {

constexpr double kTwipsPerMm = kTwipsPerInch / 25.4;
constexpr double kLeft = 10;    // mm
constexpr double kRight = 138;  // mm
constexpr double kWidth = kRight - kLeft;

QRectF mm(double x, double y, double w, double h)
{
    return {x * kTwipsPerMm, y * kTwipsPerMm, w * kTwipsPerMm, h * kTwipsPerMm};
}
double mm(double v) { return v * kTwipsPerMm; }

QFont sheetFont(double points, bool bold = false, bool italic = false)
{
    ReportFont f;
    f.size = points;
    f.weight = bold ? 700 : 400;
    f.italic = italic;
    return reportQFont(f);
}

QColor paperColour(RxKind kind)
{
    switch (kind) {
    case RxKind::Emergency:
        return {255, 250, 205};  // light yellow
    case RxKind::Paediatric:
        return {226, 244, 218};  // light green
    case RxKind::Narcotic:
        return {252, 222, 222};  // light red
    case RxKind::Ordinary:
    case RxKind::Psychotropic2:
        break;
    }
    return Qt::white;
}

double textWidth(const QFont &font, const QString &text) { return QFontMetricsF(font).horizontalAdvance(text); }

// "label：" and its value on a ruled line, within [x, x + w) mm at row y.
void drawField(QPainter &p, double x, double y, double w, const QString &label, const QString &value)
{
    constexpr double kRow = 6;
    const QFont font = sheetFont(10.5);
    p.setFont(font);
    const QString caption = label + QStringLiteral("：");
    const double lw = textWidth(font, caption);
    const QRectF box = mm(x, y, w, kRow);
    p.drawText(box, Qt::AlignLeft | Qt::AlignBottom, caption);
    const QRectF valueBox(box.left() + lw, box.top(), box.width() - lw, box.height());
    const QString shown = QFontMetricsF(font).elidedText(value, Qt::ElideRight, valueBox.width() - mm(1));
    p.drawText(valueBox.adjusted(mm(1), 0, 0, 0), Qt::AlignLeft | Qt::AlignBottom, shown);
    p.setPen(QPen(Qt::black, mm(0.15)));
    p.drawLine(QPointF(valueBox.left(), box.bottom() + mm(0.6)), QPointF(box.right() - mm(2), box.bottom() + mm(0.6)));
}

// "以下空白" across the body at row y, between two short rules.
void drawBlankBelow(QPainter &p, double y)
{
    const QFont font = sheetFont(10);
    p.setFont(font);
    const QString text = QStringLiteral("以下空白");
    const double half = textWidth(font, text) / 2 + mm(2);
    const double mid = mm(kLeft + kWidth / 2);
    const double line = mm(y + 3);
    p.setPen(QPen(Qt::black, mm(0.2)));
    p.drawLine(QPointF(mm(kLeft + 16), line), QPointF(mid - half, line));
    p.drawLine(QPointF(mid + half, line), QPointF(mm(kRight - 16), line));
    p.drawText(mm(kLeft, y, kWidth, 6), Qt::AlignCenter, text);
}

// The drug lines of the 正文 from row y down to `bottom` (mm).
void drawBody(QPainter &p, const std::vector<RxLine> &lines, const RxSheet &sheet, double y, double bottom)
{
    if (sheet.herbal) {
        // 饮片 two to a row, "黄芪 15克", and their common usage under them.
        constexpr double kRow = 8;
        const QFont font = sheetFont(11);
        p.setFont(font);
        for (size_t k = 0; k < sheet.lines.size(); ++k) {
            const RxLine &l = lines.at(size_t(sheet.lines[k]));
            const double x = kLeft + 6 + (k % 2 == 0 ? 0 : kWidth / 2);
            const double rowY = y + double(k / 2) * kRow;
            QString text = QStringLiteral("%1. ").arg(k + 1) + joinedParts({l.generic, quantityWithUnit(l)});
            if (l.skinTest)
                text += QStringLiteral("（皮试）");
            p.drawText(mm(x, rowY, kWidth / 2 - 6, kRow), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
        y += double((sheet.lines.size() + 1) / 2) * kRow;
        if (!sheet.lines.empty()) {
            RxLine common = lines.at(size_t(sheet.lines.front()));
            common.dose.clear();
            p.setFont(sheetFont(10));
            p.drawText(mm(kLeft + 6, y, kWidth - 6, 6), Qt::AlignLeft | Qt::AlignVCenter, rxUsageText(common));
            y += 8;
        }
    } else {
        const QFont main = sheetFont(11);
        const QFont usage = sheetFont(10);
        for (size_t k = 0; k < sheet.lines.size(); ++k) {
            const RxLine &l = lines.at(size_t(sheet.lines[k]));
            p.setFont(main);
            const QRectF lineBox = mm(kLeft + 4, y, kWidth - 4, 6.5);
            p.drawText(lineBox, Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetricsF(main).elidedText(rxLineText(int(k) + 1, l), Qt::ElideRight, lineBox.width()));
            p.setFont(usage);
            p.drawText(mm(kLeft + 10, y + 6.5, kWidth - 10, 5.5), Qt::AlignLeft | Qt::AlignVCenter, rxUsageText(l));
            y += 14;
        }
    }
    if (y + 6 <= bottom)
        drawBlankBelow(p, y);
}

}  // namespace

void paintRxSheet(QPainter &p, const RxHeader &header, const std::vector<RxLine> &lines,
                  const std::vector<RxSheet> &sheets, int index)
{
    const RxSheet &sheet = sheets.at(size_t(index));
    p.save();
    p.fillRect(mm(0, 0, 148, 210), paperColour(sheet.kind));
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);

    // 前记
    const QString mark = kindMark(sheet.kind);
    if (!mark.isEmpty()) {
        const QFont font = sheetFont(12, true);
        p.setFont(font);
        const double w = textWidth(font, mark) + mm(4);
        const QRectF box(mm(kRight) - w, mm(6), w, mm(9));
        p.setPen(QPen(Qt::black, mm(0.4)));
        p.drawRect(box);
        p.drawText(box, Qt::AlignCenter, mark);
    }
    p.setFont(sheetFont(18, true));
    p.drawText(mm(kLeft, 8, kWidth, 11), Qt::AlignCenter, header.institution + QStringLiteral("处方笺"));

    drawField(p, kLeft, 22, 38, QStringLiteral("费别"), header.fee);
    drawField(p, kLeft + 40, 22, 50, QStringLiteral("处方编号"), header.number);
    p.setFont(sheetFont(10.5));
    p.drawText(mm(kLeft + 90, 22, kWidth - 90, 6), Qt::AlignRight | Qt::AlignBottom,
               QStringLiteral("第 %1 张，共 %2 张").arg(index + 1).arg(sheets.size()));
    drawField(p, kLeft, 29.5, 50, QStringLiteral("姓名"), header.name);
    drawField(p, kLeft + 52, 29.5, 28, QStringLiteral("性别"), header.sex);
    drawField(p, kLeft + 82, 29.5, kWidth - 82, QStringLiteral("年龄"), ageText(header.birth, header.date));
    drawField(p, kLeft, 37, 50, QStringLiteral("门诊号"), header.caseNo);
    drawField(p, kLeft + 52, 37, kWidth - 52, QStringLiteral("科别"), header.department);
    drawField(p, kLeft, 44.5, kWidth, QStringLiteral("临床诊断"), header.diagnosis);
    drawField(p, kLeft, 52, 52, QStringLiteral("开具日期"),
              header.date.isValid() ? header.date.toString(QStringLiteral("yyyy年M月d日")) : QString());
    if (sheet.kind == RxKind::Narcotic)
        drawField(p, kLeft + 54, 52, kWidth - 54, QStringLiteral("身份证号"), header.idNumber);
    p.setPen(QPen(Qt::black, mm(0.5)));
    p.drawLine(QPointF(mm(kLeft), mm(61)), QPointF(mm(kRight), mm(61)));

    // 正文
    p.setPen(Qt::black);
    p.setFont(sheetFont(16, true, true));
    p.drawText(mm(kLeft, 62.5, 30, 9), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Rp"));
    constexpr double kBodyBottom = 170;
    drawBody(p, lines, sheet, 73, kBodyBottom);

    // 后记
    p.setPen(QPen(Qt::black, mm(0.5)));
    p.drawLine(QPointF(mm(kLeft), mm(kBodyBottom + 2)), QPointF(mm(kRight), mm(kBodyBottom + 2)));
    p.setPen(Qt::black);
    const QFont font = sheetFont(10.5);
    p.setFont(font);
    const double rowY = kBodyBottom + 5;
    const QString doctor = QStringLiteral("医师：");
    p.drawText(mm(kLeft, rowY, 60, 9), Qt::AlignLeft | Qt::AlignVCenter, doctor + header.doctor);
    const double signX = kLeft + 1 + (textWidth(font, doctor + header.doctor) / kTwipsPerMm);
    p.setPen(QPen(Qt::black, mm(0.25)));
    p.drawRect(mm(signX + 2, rowY, 26, 9));
    p.setPen(Qt::black);
    p.drawText(mm(kLeft + 70, rowY, kWidth - 70, 9), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("药品金额：") + amountText(sheetAmountFen(sheet, lines)));

    const std::array<QString, 4> roles = {QStringLiteral("审核"), QStringLiteral("调配"), QStringLiteral("核对"),
                                          QStringLiteral("发药")};
    constexpr double kBoxW = kWidth / 4;
    for (size_t k = 0; k < roles.size(); ++k) {
        const QRectF box = mm(kLeft + double(k) * kBoxW, rowY + 13, kBoxW, 12);
        p.setPen(QPen(Qt::black, mm(0.25)));
        p.drawRect(box);
        p.setPen(Qt::black);
        p.drawText(box.adjusted(mm(1.5), mm(1), 0, 0), Qt::AlignLeft | Qt::AlignTop, roles[k] + QStringLiteral("："));
    }
    p.restore();
}

// ---------------------------------------------------------------------------
// The document

namespace {

ReportLayout sheetLayout()
{
    ReportLayout layout;
    layout.name = QStringLiteral("RxSheet");
    layout.caption = QStringLiteral("处方笺");
    layout.paper = QPageSize::A5;
    layout.leftMargin = layout.rightMargin = layout.topMargin = layout.bottomMargin = 0;
    return layout;
}

}  // namespace

RxSheetDocument::RxSheetDocument(RxHeader header, std::vector<RxLine> lines)
    : ReportDocument(sheetLayout(), ReportRows::none({})), header_(std::move(header)), lines_(std::move(lines)),
      sheets_(layoutSheets(header_, lines_))
{}

RenderedPage RxSheetDocument::page(int index)
{
    RenderedPage out;
    out.number = index + 1;
    return out;
}

void RxSheetDocument::paintPage(QPainter &p, const RenderedPage &page) const
{
    if (sheets_.empty()) {
        // Nothing prescribed: the blank sheet of the header's kind.
        const std::vector<RxSheet> blank{RxSheet{baseKind(header_), false, {}}};
        paintRxSheet(p, header_, lines_, blank, 0);
        return;
    }
    if (page.number >= 1 && page.number <= int(sheets_.size()))
        paintRxSheet(p, header_, lines_, sheets_, page.number - 1);
}

bool exportPrescriptionPdf(const RxHeader &header, const std::vector<RxLine> &lines, const QString &path,
                           QString *error)
{
    RxSheetDocument doc(header, lines);
    if (doc.isEmpty()) {
        if (error)
            *error = QStringLiteral("处方中没有药品，没有可打印的处方笺。");
        return false;
    }
    return doc.exportPdf(path, error);
}

void showPrescription(const RxHeader &header, const std::vector<RxLine> &lines, QWidget *parent)
{
    ReportPreview preview(std::make_unique<RxSheetDocument>(header, lines), parent);
    preview.setWindowModality(Qt::ApplicationModal);
    preview.exec();
}

}  // namespace xs
