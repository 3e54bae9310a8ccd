#include "report/fixedreport.h"

#include "report/dataenv.h"

namespace xs {

ReportLayout buildFixedReport(const FixedReportDesign &design)
{
    static const char *const sectionNames[kSectionCount] = {"Section4", "Section2", "Section1", "Section3", "Section5"};
    ReportLayout r;
    r.name = QString::fromUtf8(design.name);
    r.caption = QString::fromUtf8(design.caption);
    r.dataMember = QString::fromUtf8(design.dataMember);
    r.reportWidth = design.reportWidth;
    r.leftMargin = r.rightMargin = r.topMargin = r.bottomMargin = kTwipsPerInch;
    for (int k = 0; k < kSectionCount; ++k) {
        r.sections[size_t(k)].name = QString::fromUtf8(sectionNames[k]);
        r.sections[size_t(k)].height = design.heights[size_t(k)];
    }
    if (design.titleName) {
        const LayoutCell &t = design.title;
        r.section(SectionKind::ReportHeader)
            .elements.push_back(reportLabel(QString::fromUtf8(design.titleName), QString::fromUtf8(t.text), t.left,
                                            t.top, t.width, t.height, design.titleFont));
    }
    ElementCounter n = design.numbered;
    addCells(r.section(SectionKind::Detail), design.detail, design.labelFont, design.fieldFont, n);
    addCells(r.section(SectionKind::PageFooter), design.footer, design.footerFont, design.footerFont, n);
    return r;
}

ReportPreview *showFixedReport(const ReportLayout &layout, bool reopenOnShow, bool modal)
{
    DataEnvRecordset *rs = DataEnv1.recordsetOf(layout.dataMember);
    if (reopenOnShow) {
        rs->Open();
        rs->release();  // the report reads the statement itself
    }
    return showReport(layout, rs->reportSource(), modal);
}

}  // namespace xs
