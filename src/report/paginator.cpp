#include "report/paginator.h"

#include <algorithm>

namespace xs {

Pagination::Pagination(const ReportLayout &layout, int rowCount)
    : printable_(layout.printableHeight()), rows_(std::max(0, rowCount))
{
    for (int k = 0; k < kSectionCount; ++k)
        heights_[size_t(k)] = std::max(0, layout.sections[size_t(k)].height);
    const int rh = height(SectionKind::ReportHeader);
    const int ph = height(SectionKind::PageHeader);
    const int pf = height(SectionKind::PageFooter);
    const int rf = height(SectionKind::ReportFooter);
    const int d = std::max(1, height(SectionKind::Detail));

    first_ = std::max(0, (printable_ - rh - ph - pf) / d);
    perPage_ = (printable_ - ph - pf) / d;
    if (perPage_ < 1) {
        // A block taller than a page still gets a page of its own (and is
        // cut at the page footer) rather than stopping the report.
        perPage_ = 1;
        first_ = 1;
    }

    int lastUsed;
    if (rows_ <= first_) {
        detailPages_ = 1;
        lastUsed = rh + ph + rows_ * d;
    } else {
        const int rest = rows_ - first_;
        detailPages_ = 1 + (rest + perPage_ - 1) / perPage_;
        const int onLast = rest - (detailPages_ - 2) * perPage_;
        lastUsed = ph + onLast * d;
    }
    // An empty report footer prints nothing: it never costs a sheet of paper
    // of its own, it only takes what room is left after the last block.
    footerPrints_ = !layout.section(SectionKind::ReportFooter).elements.empty();
    footerOwnPage_ = footerPrints_ && rf > 0 && lastUsed + rf > printable_ - pf;
    pages_ = detailPages_ + (footerOwnPage_ ? 1 : 0);
}

std::pair<int, int> Pagination::rowsOnPage(int page) const
{
    if (page < 0 || page >= detailPages_)
        return {rows_, rows_};
    if (page == 0)
        return {0, std::min(rows_, first_)};
    const int a = first_ + (page - 1) * perPage_;
    return {a, std::min(rows_, a + perPage_)};
}

int Pagination::pageOfRow(int row) const
{
    if (row < first_)
        return 0;
    return 1 + (row - first_) / perPage_;
}

std::vector<PlacedSection> Pagination::sectionsOnPage(int page) const
{
    std::vector<PlacedSection> out;
    if (page < 0 || page >= pages_)
        return out;
    int y = 0;
    if (page == 0) {
        out.push_back({SectionKind::ReportHeader, 0, height(SectionKind::ReportHeader), -1});
        y += height(SectionKind::ReportHeader);
    }
    out.push_back({SectionKind::PageHeader, y, height(SectionKind::PageHeader), -1});
    y += height(SectionKind::PageHeader);
    const auto [a, b] = rowsOnPage(page);
    const int d = height(SectionKind::Detail);
    for (int r = a; r < b; ++r) {
        out.push_back({SectionKind::Detail, y, d, r});
        y += d;
    }
    const int pf = height(SectionKind::PageFooter);
    if (page == pages_ - 1) {
        const int rf = height(SectionKind::ReportFooter);
        out.push_back({SectionKind::ReportFooter, y, footerPrints_ ? rf : std::clamp(printable_ - pf - y, 0, rf), -1});
    }
    out.push_back({SectionKind::PageFooter, printable_ - pf, pf, -1});
    return out;
}

}  // namespace xs
