#include "report/fixedreport.h"

#include "report/dataenv.h"

namespace xs {

ReportLayout buildFixedReport(const FixedReportSpec &spec)
{
    static const char *const sectionNames[kSectionCount] = {"Section4", "Section2", "Section1", "Section3", "Section5"};
    ReportLayout r;
    r.name = QString::fromUtf8(spec.name);
    r.caption = QString::fromUtf8(spec.caption);
    r.dataMember = QString::fromUtf8(spec.dataMember);
    r.reportWidth = spec.reportWidth;
    r.leftMargin = r.rightMargin = r.topMargin = r.bottomMargin = kTwipsPerInch;
    for (int k = 0; k < kSectionCount; ++k) {
        r.sections[size_t(k)].name = QString::fromUtf8(sectionNames[k]);
        r.sections[size_t(k)].height = spec.heights[size_t(k)];
    }
    if (spec.titleName) {
        const LayoutCell &t = spec.title;
        r.section(SectionKind::ReportHeader)
            .elements.push_back(reportLabel(QString::fromUtf8(spec.titleName), QString::fromUtf8(t.text), t.left, t.top,
                                            t.width, t.height, spec.titleFont));
    }
    ElementCounter n = spec.numbered;
    addCells(r.section(SectionKind::Detail), spec.detail, spec.labelFont, spec.fieldFont, n);
    addCells(r.section(SectionKind::PageFooter), spec.footer, spec.footerFont, spec.footerFont, n);
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
