#include "dept/DataReportclass2.h"

#include "report/dataenv.h"
#include "report/report.h"

namespace xs {

namespace {

ReportLayout buildLayout()
{
    const ReportFont fieldFont{QStringLiteral("宋体"), 12, 400, 134, false};
    const ReportFont labelFont{QStringLiteral("宋体"), 14.25, 400, 134, false};
    const ReportFont footerFont{QStringLiteral("宋体"), 9, 400, 134, false};

    ReportLayout r;
    r.name = QStringLiteral("DataReportclass2");
    r.caption = QStringLiteral("DataReportclass");
    r.dataMember = QStringLiteral("Command2");
    r.reportWidth = 8535;
    r.leftMargin = r.rightMargin = r.topMargin = r.bottomMargin = 1440;

    r.section(SectionKind::ReportHeader).name = QStringLiteral("Section4");
    r.section(SectionKind::ReportHeader).height = 360;
    r.section(SectionKind::PageHeader).name = QStringLiteral("Section2");
    r.section(SectionKind::PageHeader).height = 405;

    // Labels are 1290 wide and fields 1440 wide unless a width is given.
    static const LayoutCell detail[] = {
        {822, 465, 1290, 240, false, "科室:"},   {822, 1905, 1440, 240, true, "科室"},
        {1377, 465, 1290, 240, false, "年级:"},  {1377, 1950, 1440, 240, true, "年级"},
        {1932, 465, 1290, 240, false, "年制:"},  {1932, 1950, 1440, 240, true, "年制"},
        {1932, 4365, 1290, 240, false, "诊室:"}, {1932, 5805, 1440, 240, true, "诊室"},
        {2487, 465, 1290, 255, false, "医生:"},  {2487, 1980, 1440, 255, true, "医生"},
        {2487, 4365, 1290, 240, false, "专业:"}, {2487, 5805, 1440, 240, true, "专业"},
        {3042, 465, 1290, 240, false, "备注:"},  {3042, 1950, 4440, 1365, true, "备注"},
    };
    ReportSection &d = r.section(SectionKind::Detail);
    d.name = QStringLiteral("Section1");
    d.height = 4407;
    ElementCounter n;
    addCells(d, detail, labelFont, fieldFont, n);

    ReportSection &pf = r.section(SectionKind::PageFooter);
    pf.name = QStringLiteral("Section3");
    pf.height = 972;
    static const LayoutCell footer[] = {
        {75, 6495, 495, 285, false, "第 ."},
        {60, 6930, 705, 240, false, "%p"},
        {60, 7260, 570, 315, false, ". 页"},
    };
    addCells(pf, footer, footerFont, footerFont, n);

    r.section(SectionKind::ReportFooter).name = QStringLiteral("Section5");
    r.section(SectionKind::ReportFooter).height = 0;
    return r;
}

}  // namespace

const ReportLayout &DataReportclass2::layout()
{
    static const ReportLayout l = buildLayout();
    return l;
}

ReportPreview *DataReportclass2::Show(bool modal)
{
    return showReport(layout(), DataEnv1.rsCommand2.reportSource(), modal);
}

ReportPreview *DataReportclass2::window() { return openReportPreview(layout().name); }

void DataReportclass2::Unload() { closeReportPreview(layout().name); }

}  // namespace xs
