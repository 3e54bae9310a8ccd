#pragma once
#include "report/reportdocument.h"

#include <QDialog>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QPrinter;
class QProgressDialog;
class QScrollArea;
class QTimer;
class QToolBar;

namespace xs {

// Where the preview asks the user for things it cannot decide itself. Tests
// replace them so that no platform dialog opens; an empty function restores
// the real dialog.
//   PdfPathChooser: the file to export to ("" = the user cancelled).
//   PrintDialogRunner: lets the user set up the printer; false = cancelled.
using PdfPathChooser = std::function<QString(QWidget *parent, const QString &suggestedPath)>;
using PrintDialogRunner = std::function<bool(QPrinter &printer, QWidget *parent)>;
void setPdfPathChooser(PdfPathChooser chooser);
void setPrintDialogRunner(PrintDialogRunner runner);

class ReportPreview;

// The page on screen. It paints only the current page, from the one laid-out
// page it keeps.
class ReportPageView : public QWidget {
    Q_OBJECT
public:
    explicit ReportPageView(ReportPreview *preview);
    QSize sizeHint() const override;
    static constexpr int kPad = 12;  // grey border around the paper, in pixels

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    ReportPreview *preview_;
};

// The preview window of a report: one page at a time, page navigation (first,
// previous, next, last, "第 n 页，共 m 页"), zoom (whole page, page width,
// percentages), printing through the platform's print dialog and export to
// PDF. Its caption is the report's. An empty report shows its one page and
// says that there is nothing to print; printing and export are then off.
class ReportPreview : public QDialog {
    Q_OBJECT
public:
    enum class ZoomMode { FitPage, FitWidth, Percent };

    explicit ReportPreview(std::unique_ptr<ReportDocument> document, QWidget *parent = nullptr);
    ~ReportPreview() override;

    ReportDocument &document() { return *doc_; }
    const QString &reportName() const { return doc_->layout().name; }
    int currentPage() const { return current_ + 1; }  // counted from 1
    int pageCount() const { return doc_->pageCount(); }
    // The page on screen, as laid out.
    const RenderedPage &shownPage() const { return shown_; }

    void gotoPage(int number);  // counted from 1, kept within 1..pageCount()
    void firstPage() { gotoPage(1); }
    void previousPage() { gotoPage(currentPage() - 1); }
    void nextPage() { gotoPage(currentPage() + 1); }
    void lastPage() { gotoPage(pageCount()); }

    void setZoom(ZoomMode mode, int percent = 100);
    ZoomMode zoomMode() const { return zoomMode_; }
    // Screen pixels per 15 twips (1.0 = 100 %).
    double zoomFactor() const { return zoom_; }

    // Asks for a printer and prints the pages chosen; false when cancelled,
    // failed (the user is told) or when there is nothing to print. A long run
    // shows a progress dialog whose 取消 stops it.
    bool printReport();
    // Asks for a file and writes every page to it as PDF; false when
    // cancelled, failed (the user is told) or when there is nothing to print.
    // A long export shows a progress dialog whose 取消 stops it; a stopped
    // export leaves no file.
    bool exportPdf();

    QString pageText() const;
    // How often a page was painted on screen (benchmarks wait for the first).
    int pagesPainted() const { return painted_; }

signals:
    void pagePainted(int page);

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    friend class ReportPageView;
    QToolBar *buildToolBar();
    void updateControls();
    void applyZoom();
    void zoomChosen(int index);
    void readingProgressed();
    // Waits (with a progress dialog the user may cancel) until every row is
    // read; false when cancelled or when the rows could not all be read (the
    // user is told).
    bool allRowsRead(const QString &title);
    // A progress callback for printTo/exportPdf over a dialog titled `title`.
    PageProgress progressDialog(const QString &title, const QString &label, std::unique_ptr<QProgressDialog> &dlg,
                                const std::function<void()> &onCancel = {});

    std::unique_ptr<ReportDocument> doc_;
    RenderedPage shown_;
    int current_ = 0;
    ZoomMode zoomMode_ = ZoomMode::Percent;
    int percent_ = 100;
    double zoom_ = 1.0;
    int painted_ = 0;

    QScrollArea *scroll_ = nullptr;
    ReportPageView *view_ = nullptr;
    QAction *first_ = nullptr;
    QAction *prev_ = nullptr;
    QAction *next_ = nullptr;
    QAction *last_ = nullptr;
    QAction *print_ = nullptr;
    QAction *pdf_ = nullptr;
    QLabel *pageLabel_ = nullptr;
    QLabel *notice_ = nullptr;
    QComboBox *zoomBox_ = nullptr;
    QTimer *readingTimer_ = nullptr;  // follows the rows read while the count is not final
};

}  // namespace xs
