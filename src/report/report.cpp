#include "report/report.h"

#include "data/fault.h"
#include "report/preview.h"
#include "report/reportdocument.h"

#include <QApplication>
#include <QPointer>
#include <map>

namespace xs {

namespace {
std::map<QString, QPointer<ReportPreview>> &previews()
{
    static std::map<QString, QPointer<ReportPreview>> m;
    return m;
}
}  // namespace

std::unique_ptr<ReportDocument> makeReportDocument(const ReportLayout &layout, const std::optional<QString> &sql,
                                                   QString *error)
{
    std::unique_ptr<ReportRows> rows;
    if (sql)
        rows = ReportRows::open(*sql, layout.boundColumns(), error);
    return std::make_unique<ReportDocument>(layout, std::move(rows));
}

ReportPreview *openReportPreview(const QString &reportName)
{
    auto it = previews().find(reportName);
    return it == previews().end() ? nullptr : it->second.data();
}

void closeReportPreview(const QString &reportName)
{
    if (ReportPreview *w = openReportPreview(reportName))
        w->close();
    previews().erase(reportName);
}

ReportPreview *showReport(const ReportLayout &layout, const std::optional<QString> &sql, bool modal)
{
    QRect oldGeometry;
    if (ReportPreview *old = openReportPreview(layout.name)) {
        if (!old->isModal())
            oldGeometry = old->geometry();
        closeReportPreview(layout.name);
    }
    // A statement the engine refuses prints nothing; the preview says so.
    auto *w = new ReportPreview(makeReportDocument(layout, sql), modal ? QApplication::activeWindow() : nullptr);
    w->setAttribute(Qt::WA_DeleteOnClose);
    previews()[layout.name] = w;
    if (oldGeometry.isValid())
        w->setGeometry(oldGeometry);
    if (modal) {
        w->setWindowModality(Qt::ApplicationModal);
        w->exec();  // deletes the window when it closes
        return nullptr;
    }
    w->setModal(false);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

}  // namespace xs
