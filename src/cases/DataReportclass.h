#pragma once
#include "report/reportmodel.h"

namespace xs {

class ReportPreview;

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
class DataReportclass {
public:
    static const ReportLayout &layout();
    // Shows the report; modeless showings return the preview window, modal
    // ones return null once the user has closed it.
    static ReportPreview *Show(bool modal);
    // The open preview, or null (never opens one).
    static ReportPreview *window();
    // Closes the open preview, if any.
    static void Unload();
};

}  // namespace xs
