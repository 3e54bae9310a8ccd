#pragma once
#include "report/fixedreport.h"

namespace xs {

// The case record report: one fixed block per case record under the title
// "青禾医院电子处方", bound to DataEnv1's Command1 through rsCommand1. Its
// preview window's caption is "DataReport1".
//
// How the case browser uses it:
//   打印当前记录 / 打印全部记录: reopen the recordset, then show modally:
//       DataEnv1.rsCommand1.Open(printstr);   // or DataEnv1.Command1.CommandText
//       DataReportclass::Show(true);          // returns when the user closed the preview
//   grid double-click: show modelessly with whatever rsCommand1 last held
//       DataReportclass::Show(false);
// Showing reads rsCommand1 as it stands (never opened: Command1's own text;
// a statement that failed: no rows, and the preview says there is nothing to
// print). A preview of this report still open is replaced by the new one.
class DataReportclass : public FixedReport<DataReportclass> {
public:
    static const FixedReportDesign &design();
};

}  // namespace xs
