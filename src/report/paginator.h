#pragma once
#include "report/reportmodel.h"

#include <utility>
#include <vector>

namespace xs {

// One section placed on a page: its kind, its top in twips from the top of the
// printable area, and for a detail block the row it prints (0-based).
struct PlacedSection {
    SectionKind kind;
    int top = 0;
    int height = 0;
    int row = -1;
};

// Page breaks of a report over a number of rows. Because no section grows,
// the breaks follow from the section heights alone: the report header comes
// once at the top of page 1, then the page header; the page header and the
// page footer (at the foot of the printable area) are on every page; detail
// blocks follow one per row in order, as many as fit between them; the report
// footer follows the last block, on a page of its own when it does not fit
// (an empty report footer never takes a page of its own).
// A page's rows are therefore known without reading any row.
class Pagination {
public:
    Pagination(const ReportLayout &layout, int rowCount);

    int rowCount() const { return rows_; }
    int pageCount() const { return pages_; }
    int printableHeight() const { return printable_; }
    // Detail blocks that fit on page 1 and on every later page.
    int blocksOnFirstPage() const { return first_; }
    int blocksPerPage() const { return perPage_; }
    // The rows page `page` (0-based) prints: [first, last).
    std::pair<int, int> rowsOnPage(int page) const;
    // The page (0-based) that prints row `row`.
    int pageOfRow(int row) const;
    // The sections of page `page` (0-based) from top to bottom, the page
    // footer last.
    std::vector<PlacedSection> sectionsOnPage(int page) const;

private:
    int height(SectionKind k) const { return heights_[size_t(k)]; }

    std::array<int, kSectionCount> heights_{};
    int printable_ = 0;
    int rows_ = 0;
    int first_ = 0;
    int perPage_ = 1;
    int detailPages_ = 1;  // pages that hold the report header and the detail blocks
    int pages_ = 1;
    bool footerPrints_ = false;
    bool footerOwnPage_ = false;
};

}  // namespace xs
