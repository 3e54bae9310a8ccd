#include "cases/DataReportclass.h"

namespace xs {

namespace {

const LayoutCell detail[] = {
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

const LayoutCell footer[] = {
    {315, 5880, 315, 240, false, "第"},
    {300, 6165, 345, 210, false, "%p"},
    {315, 6480, 465, 180, false, ". 页"},
};

}  // namespace

const FixedReportDesign &DataReportclass::design()
{
    static const FixedReportDesign s{
        .name = "DataReportclass",
        .caption = "DataReport1",
        .dataMember = "Command1",
        .reportWidth = 7890,
        .heights = {495, 0, 6375, 645, 0},
        .titleName = "Label1",
        .title = {60, 2730, 2475, 405, false, "青禾医院电子处方"},
        .titleFont = {.size = 14.25},
        .detail = detail,
        .labelFont = {},
        .fieldFont = {},
        .footer = footer,
        .footerFont = {},
        .numbered = {1, 0},  // Label1 is the title
        .reopenOnShow = false,
    };
    return s;
}

}  // namespace xs
