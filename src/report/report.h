#pragma once
#include "report/reportmodel.h"

#include <QString>
#include <memory>
#include <optional>

namespace xs {

class ReportDocument;
class ReportPreview;

// One showing of `layout` over the rows of `sql` read from the database in
// use (nullopt: no rows, e.g. a recordset whose statement failed; a
// statement that is not a readable query also gives no rows, with *error set).
// A file that cannot be opened throws DbError.
std::unique_ptr<ReportDocument> makeReportDocument(const ReportLayout &layout, const std::optional<QString> &sql,
                                                   QString *error = nullptr);

// Shows a report in its preview window over the rows of `sql` in the
// application's database file. Each report has at most one preview open: a
// preview of the same report that is still open is closed first, so every
// showing reads the data afresh.
//   modal: the caller waits until the user closes the preview; returns null.
//   modeless: returns the preview, which lives until the user closes it.
ReportPreview *showReport(const ReportLayout &layout, const std::optional<QString> &sql, bool modal);

// The open preview of the report named `reportName` (e.g. "DataReportclass"),
// or null. Never opens one.
ReportPreview *openReportPreview(const QString &reportName);
// Closes that preview if it is open.
void closeReportPreview(const QString &reportName);

}  // namespace xs
