#include "prescribe/DataReport1.h"

#include "report/dataenv.h"
#include "report/report.h"

namespace xs {

namespace {

ReportLayout buildLayout()
{
    const ReportFont body{QStringLiteral("宋体"), 9, 400, 134, false};
    const ReportFont title{QStringLiteral("宋体"), 14.25, 400, 134, false};

    ReportLayout r;
    r.name = QStringLiteral("DataReport1");
    r.caption = QStringLiteral("DataReport1");
    r.dataMember = QStringLiteral("Command3");
    r.reportWidth = 8505;
    r.leftMargin = r.rightMargin = r.topMargin = r.bottomMargin = 1440;

    ReportSection &rh = r.section(SectionKind::ReportHeader);
    rh.name = QStringLiteral("Section4");
    rh.height = 405;
    rh.elements.push_back(
        reportLabel(QStringLiteral("Label25"), QStringLiteral("青禾医院电子处方"), 2268, 0, 2475, 405, title));

    r.section(SectionKind::PageHeader).name = QStringLiteral("Section2");
    r.section(SectionKind::PageHeader).height = 0;

    // Every left and top falls on a whole centimetre (567 twips).
    static const LayoutCell detail[] = {
        {0, 0, 600, 240, false, "门诊号:"},         {0, 567, 1005, 240, true, "门诊号"},
        {0, 1701, 495, 240, false, "姓名:"},        {0, 2268, 1440, 240, true, "姓名"},
        {0, 3969, 495, 240, false, "年龄"},         {0, 4535, 567, 270, true, "年龄"},
        {0, 5102, 495, 240, false, "性别:"},        {0, 5669, 567, 240, true, "性别"},
        {0, 6236, 420, 255, false, "婚否"},         {0, 6803, 900, 255, true, "婚否"},
        {567, 0, 495, 240, false, "电话:"},         {567, 567, 1440, 240, true, "联系电话"},
        {567, 2268, 495, 240, false, "科室:"},      {567, 2835, 1440, 240, true, "科室"},
        {567, 4535, 600, 240, false, "身份证"},     {567, 5102, 2265, 240, true, "身份证"},
        {1134, 0, 495, 465, false, "出生年月:"},    {1134, 567, 1440, 240, true, "出生年月"},
        {1134, 2268, 495, 465, false, "邮政编码:"}, {1134, 2835, 1200, 240, true, "邮政编码"},
        {1134, 4535, 495, 465, false, "入诊时间:"}, {1134, 5102, 1440, 240, true, "入诊时间"},
        {1701, 0, 495, 465, false, "家庭住址:"},    {1701, 567, 3000, 240, true, "家庭住址"},
        {1701, 3969, 495, 465, false, "既往病史"},  {1701, 4535, 3402, 345, true, "既往病史"},
        {2268, 0, 480, 240, false, "症状"},         {2268, 567, 6795, 480, true, "症状"},
        {2835, 0, 480, 450, false, "体格检查"},     {2835, 567, 6795, 480, true, "体格检查"},
        {3402, 0, 510, 285, false, "诊断"},         {3402, 567, 7365, 375, true, "诊断"},
        {3969, 0, 495, 240, false, "备注:"},        {3969, 567, 6795, 555, true, "备注"},
        {4535, 0, 585, 300, false, "药名"},         {4535, 567, 3960, 1701, true, "药名"},
        {4535, 4535, 480, 330, false, "药量"},      {4535, 5102, 2265, 1701, true, "药量"},
        {6236, 5102, 795, 240, false, "医生签字"},  {6236, 6236, 870, 240, true, "医生签字"},
    };
    ReportSection &d = r.section(SectionKind::Detail);
    d.name = QStringLiteral("Section1");
    d.height = 6540;
    ElementCounter n;
    addCells(d, detail, body, body, n);

    ReportSection &pf = r.section(SectionKind::PageFooter);
    pf.name = QStringLiteral("Section3");
    pf.height = 315;
    static const LayoutCell footer[] = {
        {0, 6236, 315, 240, false, "第"},
        {0, 6803, 345, 240, false, "%p"},
        {0, 7370, 465, 240, false, ". 页"},
    };
    addCells(pf, footer, body, body, n);

    r.section(SectionKind::ReportFooter).name = QStringLiteral("Section5");
    r.section(SectionKind::ReportFooter).height = 360;
    return r;
}

}  // namespace

const ReportLayout &DataReport1::layout()
{
    static const ReportLayout l = buildLayout();
    return l;
}

ReportPreview *DataReport1::Show(bool modal)
{
    // The prescription always prints the work table as it is now.
    DataEnv1.rsCommand3.Open(DataEnv1.Command3.CommandText);
    DataEnv1.rsCommand3.release();  // the report reads the statement itself
    return showReport(layout(), DataEnv1.rsCommand3.reportSource(), modal);
}

ReportPreview *DataReport1::window() { return openReportPreview(layout().name); }

void DataReport1::Unload() { closeReportPreview(layout().name); }

}  // namespace xs
