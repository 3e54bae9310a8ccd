#pragma once
#include "report/report.h"
#include "report/reportmodel.h"

#include <array>
#include <span>

namespace xs {

// The reports the windows print are all built alike: an optional title in the
// report header, one fixed block of labels and fields per row in the detail
// section, the page number in the page footer, on A4 with one-inch margins,
// the sections named Section4 (report header), Section2 (page header),
// Section1 (detail), Section3 (page footer) and Section5 (report footer).
// What differs from report to report is this data.
struct FixedReportDesign {
    const char *name;        // the report's name, e.g. "DataReportclass"
    const char *caption;     // its preview window's caption
    const char *dataMember;  // the data environment command it prints, e.g. "Command1"
    int reportWidth;
    std::array<int, kSectionCount> heights;  // section heights, in SectionKind order
    // The title label in the report header; none when titleName is null.
    const char *titleName;
    LayoutCell title;
    ReportFont titleFont;
    // The block (detail) and the page footer; labels and fields are numbered
    // on from `numbered` (a title counted there is already taken).
    std::span<const LayoutCell> detail;
    ReportFont labelFont;
    ReportFont fieldFont;
    std::span<const LayoutCell> footer;
    ReportFont footerFont;
    ElementCounter numbered;
    // Every showing first reopens the recordset with its command's own text,
    // so the report prints the table as it is at that moment; otherwise the
    // report prints the recordset as it stands.
    bool reopenOnShow;
};

ReportLayout buildFixedReport(const FixedReportDesign &design);
// Shows `layout` over the recordset of its data member (see showReport).
ReportPreview *showFixedReport(const ReportLayout &layout, bool reopenOnShow, bool modal);

// The interface each report class offers, over its own design(): R provides
// `static const FixedReportDesign &design()`.
template <class R>
class FixedReport {
public:
    static const ReportLayout &layout()
    {
        static const ReportLayout l = buildFixedReport(R::design());
        return l;
    }
    // Shows the report; modeless showings return the preview window, modal
    // ones return null once the user has closed it. A preview of this report
    // still open is replaced by the new one.
    static ReportPreview *Show(bool modal) { return showFixedReport(layout(), R::design().reopenOnShow, modal); }
    // The open preview, or null (never opens one).
    static ReportPreview *window() { return openReportPreview(layout().name); }
    // Closes the open preview, if any.
    static void Unload() { closeReportPreview(layout().name); }
};

}  // namespace xs
