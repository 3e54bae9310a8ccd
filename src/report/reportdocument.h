#pragma once
#include "report/paginator.h"
#include "report/reportmodel.h"
#include "report/reportrows.h"

#include <QRect>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QPagedPaintDevice;

namespace xs {

// One element as it lands on a page: the rectangle in twips from the top-left
// corner of the printable area, and the text it prints (a label's caption with
// "%p" replaced by the page number, or a field's value).
struct PageItem {
    SectionKind section;
    int row = -1;  // the row of a detail element, -1 elsewhere
    const ReportElement *element = nullptr;
    QRect rect;
    QString text;
};

struct RenderedPage {
    int number = 0;  // counted from 1
    std::vector<PlacedSection> sections;
    std::vector<PageItem> items;
};

// A text fitted into a box: wrapped inside the box's width (at word
// boundaries, or anywhere inside a run of CJK or an over-long word) and cut
// at its height. Lines are in twips from the top-left of the box; the first
// line is kept even when it is taller than the box (and then clipped).
struct FittedText {
    std::vector<QString> lines;
    std::vector<QRectF> lineRects;
    bool cut = false;  // some of the text did not fit
};
FittedText fitText(const QString &text, const ReportFont &font, const QSize &box);
// Draws text into rect (twips in the painter's coordinates), never outside it.
void drawBoxText(QPainter &p, const QRect &rect, const QString &text, const ReportFont &font);

// Told after each page printed or exported: pages done, pages in all; false
// stops the run.
using PageProgress = std::function<bool(int done, int total)>;

// One showing of a report: a layout over the rows of one statement. Pages are
// laid out on demand, one at a time, from the rows they print.
//
// While the rows are still being read (ReportRows::complete() is false) the
// document offers the pages whose rows are all there, none of them the last;
// the page count grows until the reading ends.
//
// A document whose pages are drawn rather than banded (the 处方笺) derives
// from it and lays out and paints its own pages, so that it shares the
// preview, the printing and the PDF export of the reports.
class ReportDocument {
public:
    ReportDocument(ReportLayout layout, std::unique_ptr<ReportRows> rows);
    virtual ~ReportDocument() = default;
    ReportDocument(const ReportDocument &) = delete;
    ReportDocument &operator=(const ReportDocument &) = delete;

    const ReportLayout &layout() const { return layout_; }
    const Pagination &pagination() const;
    virtual int pageCount() const;
    int rowCount() const { return rows_->count(); }
    virtual bool isEmpty() const { return rows_->complete() && rows_->count() == 0; }
    // Every row is read: pageCount() is final.
    bool complete() const { return rows_->complete(); }
    ReportRows &rows() { return *rows_; }

    // Lays out page `index` (0-based): its sections and elements with texts.
    virtual RenderedPage page(int index);
    // Pages laid out so far (the preview lays out only the page it shows).
    int pagesLaidOut() const { return laidOut_; }

    // The one painting routine of the preview, the printer and PDF. The
    // painter's coordinates are twips from the top-left corner of the paper.
    virtual void paintPage(QPainter &p, const RenderedPage &page) const;

    // Paints pages [from, to] (counted from 1) onto a paged device whose
    // coordinates start at the paper's corner (a QPrinter in full-page mode,
    // a QPdfWriter without margins). False when painting cannot start.
    // `progress` (when given) hears of every page and may stop the run:
    // painting then ends and false is returned. Waits for the rows when they
    // are still being read.
    bool printTo(QPagedPaintDevice &device, int from = 1, int to = -1, const PageProgress &progress = {});
    // Writes every page to a PDF file on A4 (or the layout's paper). The file
    // appears only when every page is written: a failed or stopped export
    // leaves no file (and an older file of that name as it was).
    bool exportPdf(const QString &path, QString *error = nullptr, const PageProgress &progress = {});
    // The last run of printTo/exportPdf was stopped through its progress.
    bool wasStopped() const { return stopped_; }

private:
    void syncPages() const;

    ReportLayout layout_;
    std::unique_ptr<ReportRows> rows_;
    mutable Pagination pages_;
    mutable int pagedRows_ = -1;  // the row count pages_ was made for
    mutable bool pagedComplete_ = false;
    int laidOut_ = 0;
    bool stopped_ = false;
};

}  // namespace xs
