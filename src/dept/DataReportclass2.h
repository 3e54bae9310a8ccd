#pragma once
#include "report/fixedreport.h"

namespace xs {

// The department report: one fixed block per department setting, bound to
// DataEnv1's Command2 ("select * from class") through rsCommand2. It has no
// title; its preview window's caption is "DataReportclass".
//
// How the department browser uses it:
//   打印当前记录 / 打印全部记录: reopen the recordset, then show modally:
//       DataEnv1.rsCommand2.Open(printstr);   // or DataEnv1.Command2.CommandText
//       DataReportclass2::Show(true);         // returns when the user closed the preview
//   grid double-click: show modelessly with whatever rsCommand2 last held
//       DataReportclass2::Show(false);
// Showing reads rsCommand2 as it stands (never opened: Command2's own text;
// a statement that failed: no rows, and the preview says there is nothing to
// print). A preview of this report still open is replaced by the new one.
class DataReportclass2 : public FixedReport<DataReportclass2> {
public:
    static const FixedReportDesign &design();
};

}  // namespace xs
