#pragma once
#include "prescribe/rxmodel.h"
#include "report/reportdocument.h"

#include <QDate>
#include <QString>
#include <algorithm>
#include <optional>
#include <vector>

class QPainter;
class QWidget;

// The printed 处方笺: the prescription's lines shared out over sheets of their
// kind, each sheet drawn on A5 with its 前记, 正文 and 后记, shown in the
// reports' preview, printed and exported to PDF.
namespace xs {

// Shares the lines out over sheets: 麻醉药品 and 第一类精神药品 on 麻、精一
// sheets, 第二类精神药品 on 精二 sheets, 中药饮片 on sheets of their own of the
// header's kind, the rest on sheets of the header's kind (急诊, else 儿科,
// else 普通). At most five lines a sheet, in their given order; the header's
// kind first, then 麻、精一, 精二 and the 中药饮片.
std::vector<RxSheet> layoutSheets(const RxHeader &header, const std::vector<RxLine> &lines);

// The kind of the header's own sheets.
RxKind baseKind(const RxHeader &header);

// The age in completed years ("35岁"), under one year in completed months
// ("8个月"), under one month in days ("12天"); "" when the birth date is
// unknown or after `on`.
QString ageText(const QDate &birth, const QDate &on);

// An amount of money in yuan, as decimal text ("12", "12.5", "12.50"), in fen;
// nothing when the text is no such amount.
std::optional<qint64> yuanToFen(const QString &text);
// The 药品金额 of a sheet in fen: 单价 × 数量 (the leading number of the
// quantity, "2" or "2盒") over its lines, rounded to the fen once at the end;
// nothing when a line's price or quantity cannot be read.
std::optional<qint64> sheetAmountFen(const RxSheet &sheet, const std::vector<RxLine> &lines);
// "12.50元", or "—" when the amount is unknown.
QString amountText(std::optional<qint64> fen);

// The mark in the sheet's top-right corner ("" for a 普通 sheet).
QString kindMark(RxKind kind);
// A drug line of the 正文: "1. 通用名 剂型 规格 × 数量单位", "（皮试）" after it
// when a skin test comes first.
QString rxLineText(int number, const RxLine &line);
// Its usage: "用法：每次0.5g 口服 tid 3天", the parts not given left out.
QString rxUsageText(const RxLine &line);

// Paints sheet `index` of `sheets` on A5, the painter in twips from the
// paper's top-left corner.
void paintRxSheet(QPainter &p, const RxHeader &header, const std::vector<RxLine> &lines,
                  const std::vector<RxSheet> &sheets, int index);

// The sheets of one prescription as a document of the reports' preview: one
// page a sheet, on A5.
class RxSheetDocument : public ReportDocument {
public:
    RxSheetDocument(RxHeader header, std::vector<RxLine> lines);

    const std::vector<RxSheet> &sheets() const { return sheets_; }
    // An empty prescription shows its one blank sheet, with nothing to print.
    int pageCount() const override { return std::max(1, int(sheets_.size())); }
    bool isEmpty() const override { return sheets_.empty(); }
    RenderedPage page(int index) override;
    void paintPage(QPainter &p, const RenderedPage &page) const override;

private:
    RxHeader header_;
    std::vector<RxLine> lines_;
    std::vector<RxSheet> sheets_;
};

// Writes the prescription's sheets to a PDF file on A5; false with *error
// set (in words for the user) when the file cannot be written.
bool exportPrescriptionPdf(const RxHeader &header, const std::vector<RxLine> &lines, const QString &path,
                           QString *error);
// Shows the 处方笺 in the preview, modally: pages, zoom, print and PDF.
void showPrescription(const RxHeader &header, const std::vector<RxLine> &lines, QWidget *parent);

}  // namespace xs
