#include "cases/DataReportclass.h"

#include "report/dataenv.h"
#include "report/report.h"

namespace xs {

namespace {

ReportLayout buildLayout()
{
    const ReportFont body{QStringLiteral("宋体"), 9, 400, 134, false};
    const ReportFont title{QStringLiteral("宋体"), 14.25, 400, 134, false};

    ReportLayout r;
    r.name = QStringLiteral("DataReportclass");
    r.caption = QStringLiteral("DataReport1");
    r.dataMember = QStringLiteral("Command1");
    r.reportWidth = 7890;
    r.leftMargin = r.rightMargin = r.topMargin = r.bottomMargin = 1440;

    ReportSection &rh = r.section(SectionKind::ReportHeader);
    rh.name = QStringLiteral("Section4");
    rh.height = 495;
    rh.elements.push_back(
        reportLabel(QStringLiteral("Label1"), QStringLiteral("青禾医院电子处方"), 2730, 60, 2475, 405, title));

    ReportSection &ph = r.section(SectionKind::PageHeader);
    ph.name = QStringLiteral("Section2");
    ph.height = 0;

    static const LayoutCell detail[] = {
        {75, 0, 675, 240, false, "门诊号:"},        {75, 780, 1005, 240, true, "门诊号"},
        {75, 6345, 420, 255, false, "婚否"},        {90, 4995, 1305, 240, true, "专业"},
        {90, 6840, 915, 270, true, "婚否"},         {105, 1830, 495, 240, false, "姓名:"},
        {105, 2370, 1005, 240, true, "姓名"},       {105, 3945, 460, 270, true, "年龄"},
        {105, 4455, 495, 240, false, "专业:"},      {120, 3450, 460, 240, false, "年龄"},
        {495, 0, 465, 240, false, "性别:"},         {510, 570, 465, 240, true, "性别"},
        {510, 1065, 465, 240, false, "科室:"},      {540, 1560, 1200, 240, true, "科室"},
        {540, 2820, 465, 240, false, "电话:"},      {540, 4560, 795, 240, false, "出生年月:"},
        {555, 3345, 1155, 240, true, "联系电话"},   {555, 5445, 1905, 240, true, "出生年月"},
        {885, 3690, 600, 240, false, "身份证"},     {900, 4515, 2490, 240, true, "身份证"},
        {915, 0, 855, 240, false, "家庭住址:"},     {915, 855, 2745, 240, true, "家庭住址"},
        {1215, 0, 495, 465, false, "入诊时间:"},    {1230, 1815, 495, 465, false, "邮政编码:"},
        {1230, 3405, 465, 465, false, "体格检查"},  {1230, 3990, 3675, 480, true, "体格检查"},
        {1350, 2310, 1050, 240, true, "邮政编码"},  {1365, 555, 1440, 240, true, "入诊时间"},
        {1800, 615, 5655, 405, true, "症状"},       {1830, 0, 480, 300, false, "症状"},
        {2250, 615, 5760, 375, true, "诊断"},       {2295, 15, 510, 285, false, "诊断"},
        {2775, 960, 5325, 345, true, "既往病史"},   {2790, 0, 825, 315, false, "既往病史"},
        {3240, 885, 5745, 690, true, "药名"},       {3390, 0, 585, 300, false, "药名"},
        {4020, 675, 5970, 630, true, "药量"},       {4080, 0, 480, 330, false, "药量"},
        {4695, 645, 6990, 840, true, "备注"},       {4875, 0, 405, 240, false, "备注:"},
        {5820, 4515, 1050, 240, false, "医生签字"}, {5835, 5835, 870, 240, true, "医生签字"},
    };
    ReportSection &d = r.section(SectionKind::Detail);
    d.name = QStringLiteral("Section1");
    d.height = 6375;
    ElementCounter n{1, 0};  // Label1 is the title
    addCells(d, detail, body, body, n);

    ReportSection &pf = r.section(SectionKind::PageFooter);
    pf.name = QStringLiteral("Section3");
    pf.height = 645;
    static const LayoutCell footer[] = {
        {315, 5880, 315, 240, false, "第"},
        {300, 6165, 345, 210, false, "%p"},
        {315, 6480, 465, 180, false, ". 页"},
    };
    addCells(pf, footer, body, body, n);

    ReportSection &rf = r.section(SectionKind::ReportFooter);
    rf.name = QStringLiteral("Section5");
    rf.height = 0;
    return r;
}

}  // namespace

const ReportLayout &DataReportclass::layout()
{
    static const ReportLayout l = buildLayout();
    return l;
}

ReportPreview *DataReportclass::Show(bool modal)
{
    return showReport(layout(), DataEnv1.rsCommand1.reportSource(), modal);
}

ReportPreview *DataReportclass::window() { return openReportPreview(layout().name); }

void DataReportclass::Unload() { closeReportPreview(layout().name); }

}  // namespace xs
