#pragma once
#include "report/fixedreport.h"

namespace xs {

// The printed prescription "青禾医院电子处方": one fixed block per row of the
// work table yc, bound to DataEnv1's Command3 ("select *from yc") through
// rsCommand3. Its preview window's caption is "DataReport1".
//
// How the prescribing window uses it (menu 处方 > 打印):
//       DataReport1::Show(true);   // returns when the user closed the preview
// Every showing reopens rsCommand3 with Command3's text first, so it prints
// the rows yc holds at that moment. An empty work table shows one page with
// the title and the preview says there is nothing to print.
class DataReport1 : public FixedReport<DataReport1> {
public:
    static const FixedReportDesign &design();
};

}  // namespace xs
