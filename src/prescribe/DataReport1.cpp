#include "prescribe/DataReport1.h"

namespace xs {

namespace {

// Every left and top falls on a whole centimetre (567 twips).
const LayoutCell detail[] = {
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

const LayoutCell footer[] = {
    {0, 6236, 315, 240, false, "第"},
    {0, 6803, 345, 240, false, "%p"},
    {0, 7370, 465, 240, false, ". 页"},
};

}  // namespace

const FixedReportDesign &DataReport1::design()
{
    static const FixedReportDesign s{
        .name = "DataReport1",
        .caption = "DataReport1",
        .dataMember = "Command3",
        .reportWidth = 8505,
        .heights = {405, 0, 6540, 315, 360},
        .titleName = "Label25",
        .title = {0, 2268, 2475, 405, false, "青禾医院电子处方"},
        .titleFont = {.size = 14.25},
        .detail = detail,
        .labelFont = {},
        .fieldFont = {},
        .footer = footer,
        .footerFont = {},
        .numbered = {},
        // The prescription always prints the work table as it is now.
        .reopenOnShow = true,
    };
    return s;
}

}  // namespace xs
