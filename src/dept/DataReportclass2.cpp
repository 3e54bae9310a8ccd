#include "dept/DataReportclass2.h"

namespace xs {

namespace {

// Labels are 1290 wide and fields 1440 wide unless a width is given.
const LayoutCell detail[] = {
    {822, 465, 1290, 240, false, "科室:"},   {822, 1905, 1440, 240, true, "科室"},
    {1377, 465, 1290, 240, false, "年级:"},  {1377, 1950, 1440, 240, true, "年级"},
    {1932, 465, 1290, 240, false, "年制:"},  {1932, 1950, 1440, 240, true, "年制"},
    {1932, 4365, 1290, 240, false, "诊室:"}, {1932, 5805, 1440, 240, true, "诊室"},
    {2487, 465, 1290, 255, false, "医生:"},  {2487, 1980, 1440, 255, true, "医生"},
    {2487, 4365, 1290, 240, false, "专业:"}, {2487, 5805, 1440, 240, true, "专业"},
    {3042, 465, 1290, 240, false, "备注:"},  {3042, 1950, 4440, 1365, true, "备注"},
};

const LayoutCell footer[] = {
    {75, 6495, 495, 285, false, "第 ."},
    {60, 6930, 705, 240, false, "%p"},
    {60, 7260, 570, 315, false, ". 页"},
};

}  // namespace

const FixedReportDesign &DataReportclass2::design()
{
    static const FixedReportDesign s{
        .name = "DataReportclass2",
        .caption = "DataReportclass",
        .dataMember = "Command2",
        .reportWidth = 8535,
        .heights = {360, 405, 4407, 972, 0},
        .titleName = nullptr,
        .title = {},
        .titleFont = {},
        .detail = detail,
        .labelFont = {.size = 14.25},
        .fieldFont = {.size = 12},
        .footer = footer,
        .footerFont = {},
        .numbered = {},
        .reopenOnShow = false,
    };
    return s;
}

}  // namespace xs
