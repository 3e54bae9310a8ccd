#include "report/preview.h"

#include "ui/images.h"
#include "ui/msgbox.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>

namespace xs {

namespace {

PdfPathChooser g_pdfChooser;
PrintDialogRunner g_printRunner;

QString choosePdfPath(QWidget *parent, const QString &suggested)
{
    if (g_pdfChooser)
        return g_pdfChooser(parent, suggested);
    return QFileDialog::getSaveFileName(parent, QStringLiteral("导出为 PDF"), suggested,
                                        QStringLiteral("PDF 文件 (*.pdf)"));
}

bool runPrintDialog(QPrinter &printer, QWidget *parent)
{
    if (g_printRunner)
        return g_printRunner(printer, parent);
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(QStringLiteral("打印"));
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, true);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    return dialog.exec() == QDialog::Accepted;
}

constexpr int kTwipsPerPixel = 15;  // at 100 %

// Zoom box entries: negative data for the fitting modes, else a percentage.
constexpr int kFitPage = -1;
constexpr int kFitWidth = -2;
const int kPercents[] = {25, 50, 75, 100, 125, 150, 200, 300, 400};

}  // namespace

void setPdfPathChooser(PdfPathChooser chooser) { g_pdfChooser = std::move(chooser); }
void setPrintDialogRunner(PrintDialogRunner runner) { g_printRunner = std::move(runner); }

// ---------------------------------------------------------------------------

ReportPageView::ReportPageView(ReportPreview *preview) : QWidget(preview), preview_(preview)
{
    setObjectName(QStringLiteral("pageView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setBackgroundRole(QPalette::Dark);
}

QSize ReportPageView::sizeHint() const
{
    const QSize paper = preview_->doc_->layout().paperSize();
    const double z = preview_->zoom_ / kTwipsPerPixel;
    return QSize(int(std::ceil(paper.width() * z)) + 2 * kPad, int(std::ceil(paper.height() * z)) + 2 * kPad);
}

void ReportPageView::paintEvent(QPaintEvent *e)
{
    QPainter p(this);
    p.fillRect(e->rect(), palette().color(QPalette::Dark));
    const QSize paper = preview_->doc_->layout().paperSize();
    const double z = preview_->zoom_ / kTwipsPerPixel;
    const QRectF sheet(kPad, kPad, paper.width() * z, paper.height() * z);
    p.fillRect(sheet.translated(4, 4), QColor(64, 64, 64));
    p.fillRect(sheet, Qt::white);

    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setClipRect(sheet);
    p.translate(sheet.topLeft());
    p.scale(z, z);
    preview_->doc_->paintPage(p, preview_->shown_);
    ++preview_->painted_;
    emit preview_->pagePainted(preview_->currentPage());
}

// ---------------------------------------------------------------------------

ReportPreview::ReportPreview(std::unique_ptr<ReportDocument> document, QWidget *parent)
    : QDialog(parent), doc_(std::move(document))
{
    setObjectName(doc_->layout().name);
    setWindowTitle(doc_->layout().caption);
    setWindowIcon(appIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint
                   | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    QToolBar *bar = buildToolBar();

    notice_ = new QLabel(QStringLiteral("没有可打印的记录。"), this);
    notice_->setObjectName(QStringLiteral("emptyNotice"));
    notice_->setStyleSheet(QStringLiteral("QLabel { background: #fff4c2; color: #5a4500; padding: 4px 8px; }"));
    notice_->setVisible(doc_->isEmpty());

    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("pageArea"));
    scroll_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    scroll_->setBackgroundRole(QPalette::Dark);
    view_ = new ReportPageView(this);
    scroll_->setWidget(view_);
    scroll_->viewport()->installEventFilter(this);

    auto *lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    lay->addWidget(bar);
    lay->addWidget(notice_);
    lay->addWidget(scroll_, 1);

    // Room for the whole width of the paper at 100 %, within the screen.
    const QSize paper = doc_->layout().paperSize();
    QSize want(paper.width() / kTwipsPerPixel + 2 * ReportPageView::kPad + 40, 900);
    if (QScreen *s = QGuiApplication::primaryScreen())
        want = want.boundedTo(s->availableGeometry().size() * 0.95);
    resize(want);

    shown_ = doc_->page(0);
    setZoom(ZoomMode::Percent, 100);
    // The rows of a large report are still being read: the page count
    // follows as they come in.
    if (!doc_->complete()) {
        readingTimer_ = new QTimer(this);
        readingTimer_->setInterval(100);
        connect(readingTimer_, &QTimer::timeout, this, &ReportPreview::readingProgressed);
        readingTimer_->start();
    }
    readingProgressed();
}

// The tool bar: print and export, paging, the zoom, close.
QToolBar *ReportPreview::buildToolBar()
{
    auto *bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("previewToolBar"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);

    auto action = [&](const QString &objectName, const QString &text, const QKeySequence &key, auto slot) {
        QAction *a = bar->addAction(text);
        a->setObjectName(objectName);
        a->setToolTip(key.isEmpty()
                          ? text
                          : text + QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + QLatin1Char(')'));
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    print_ = action(QStringLiteral("print"), QStringLiteral("打印..."), QKeySequence::Print, [this] { printReport(); });
    print_->setIcon(QIcon(toolbarPixmap(QStringLiteral("print"))));
    pdf_ = action(QStringLiteral("exportPdf"), QStringLiteral("导出PDF..."), QKeySequence(), [this] { exportPdf(); });
    bar->addSeparator();
    first_ = action(QStringLiteral("firstPage"), QStringLiteral("首页"), QKeySequence(Qt::CTRL | Qt::Key_Home),
                    [this] { firstPage(); });
    prev_ = action(QStringLiteral("previousPage"), QStringLiteral("上一页"), QKeySequence(Qt::Key_PageUp),
                   [this] { previousPage(); });
    pageLabel_ = new QLabel(bar);
    pageLabel_->setObjectName(QStringLiteral("pageLabel"));
    pageLabel_->setContentsMargins(8, 0, 8, 0);
    bar->addWidget(pageLabel_);
    next_ = action(QStringLiteral("nextPage"), QStringLiteral("下一页"), QKeySequence(Qt::Key_PageDown),
                   [this] { nextPage(); });
    last_ = action(QStringLiteral("lastPage"), QStringLiteral("末页"), QKeySequence(Qt::CTRL | Qt::Key_End),
                   [this] { lastPage(); });
    bar->addSeparator();

    auto *zoomLabel = new QLabel(QStringLiteral("显示比例："), bar);
    bar->addWidget(zoomLabel);
    zoomBox_ = new QComboBox(bar);
    zoomBox_->setObjectName(QStringLiteral("zoom"));
    zoomBox_->setAccessibleName(QStringLiteral("显示比例"));
    zoomLabel->setBuddy(zoomBox_);
    zoomBox_->addItem(QStringLiteral("整页"), kFitPage);
    zoomBox_->addItem(QStringLiteral("页宽"), kFitWidth);
    for (int pc : kPercents)
        zoomBox_->addItem(QStringLiteral("%1%").arg(pc), pc);
    bar->addWidget(zoomBox_);
    connect(zoomBox_, &QComboBox::activated, this, &ReportPreview::zoomChosen);
    bar->addSeparator();
    action(QStringLiteral("closePreview"), QStringLiteral("关闭"), QKeySequence(), [this] { close(); });
    return bar;
}

void ReportPreview::readingProgressed()
{
    if (doc_->complete()) {
        if (readingTimer_)
            readingTimer_->stop();
        const QString problem = doc_->rows().problem();
        if (!problem.isEmpty()) {
            notice_->setText(problem + QStringLiteral("。"));
            notice_->setVisible(true);
        } else {
            notice_->setVisible(doc_->isEmpty());
        }
    }
    updateControls();
}

ReportPreview::~ReportPreview() = default;

void ReportPreview::gotoPage(int number)
{
    number = std::clamp(number, 1, pageCount());
    if (number - 1 != current_) {
        current_ = number - 1;
        shown_ = doc_->page(current_);
        scroll_->verticalScrollBar()->setValue(0);
        view_->update();
    }
    updateControls();
}

void ReportPreview::updateControls()
{
    pageLabel_->setText(pageText());
    first_->setEnabled(current_ > 0);
    prev_->setEnabled(current_ > 0);
    next_->setEnabled(current_ + 1 < pageCount());
    last_->setEnabled(current_ + 1 < pageCount());
    print_->setEnabled(!doc_->isEmpty());
    pdf_->setEnabled(!doc_->isEmpty());
}

QString ReportPreview::pageText() const
{
    if (!doc_->complete())
        return QStringLiteral("第 %1 页，正在统计总页数（已有 %2 页）").arg(currentPage()).arg(pageCount());
    return QStringLiteral("第 %1 页，共 %2 页").arg(currentPage()).arg(pageCount());
}

bool ReportPreview::allRowsRead(const QString &title)
{
    if (!doc_->complete()) {
        QProgressDialog wait(QStringLiteral("正在读取全部记录，请稍候……"), QStringLiteral("取消"), 0, 0, this);
        wait.setWindowTitle(title);
        wait.setWindowModality(Qt::WindowModal);
        wait.setMinimumDuration(0);
        wait.setValue(0);
        wait.show();
        while (!doc_->rows().waitComplete(50)) {
            wait.setLabelText(QStringLiteral("正在读取全部记录，请稍候……（已读 %1 条）").arg(doc_->rowCount()));
            QCoreApplication::processEvents();
            if (wait.wasCanceled())
                return false;
        }
        readingProgressed();
    }
    const QString problem = doc_->rows().problem();
    if (!problem.isEmpty()) {
        MsgBox(problem + QStringLiteral("，不能") + title + QStringLiteral("。请关闭报表，腾出磁盘空间后重新打开。"),
               vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return false;
    }
    return !doc_->isEmpty();
}

PageProgress ReportPreview::progressDialog(const QString &title, const QString &label,
                                           std::unique_ptr<QProgressDialog> &dlg, const std::function<void()> &onCancel)
{
    dlg = std::make_unique<QProgressDialog>(label, QStringLiteral("取消"), 0, 1, this);
    dlg->setObjectName(QStringLiteral("pageProgress"));
    dlg->setWindowTitle(title);
    dlg->setWindowModality(Qt::WindowModal);
    dlg->setMinimumDuration(500);
    dlg->setAutoReset(false);
    dlg->setAutoClose(false);
    dlg->setValue(0);
    QProgressDialog *d = dlg.get();
    return [d, label, onCancel](int done, int total) {
        if (d->maximum() != total)
            d->setMaximum(total);
        d->setLabelText(label + QStringLiteral("（%1/%2 页）").arg(done).arg(total));
        d->setValue(done);
        if (!d->wasCanceled())
            return true;
        if (onCancel)
            onCancel();
        return false;
    };
}

void ReportPreview::setZoom(ZoomMode mode, int percent)
{
    zoomMode_ = mode;
    percent_ = std::clamp(percent, 10, 800);
    const int data = mode == ZoomMode::FitPage ? kFitPage : mode == ZoomMode::FitWidth ? kFitWidth : percent_;
    int idx = zoomBox_->findData(data);
    if (idx < 0) {
        zoomBox_->addItem(QStringLiteral("%1%").arg(percent_), percent_);
        idx = zoomBox_->count() - 1;
    }
    zoomBox_->setCurrentIndex(idx);
    applyZoom();
}

void ReportPreview::zoomChosen(int index)
{
    const int data = zoomBox_->itemData(index).toInt();
    if (data == kFitPage)
        setZoom(ZoomMode::FitPage);
    else if (data == kFitWidth)
        setZoom(ZoomMode::FitWidth);
    else
        setZoom(ZoomMode::Percent, data);
}

void ReportPreview::applyZoom()
{
    const QSize paper = doc_->layout().paperSize();
    const QSize vp = scroll_->viewport()->size();
    const int pad = 2 * ReportPageView::kPad + 4;
    const double fitWidth = std::max(1, vp.width() - pad) * double(kTwipsPerPixel) / paper.width();
    const double fitHeight = std::max(1, vp.height() - pad) * double(kTwipsPerPixel) / paper.height();
    switch (zoomMode_) {
    case ZoomMode::FitPage:
        zoom_ = std::min(fitWidth, fitHeight);
        break;
    case ZoomMode::FitWidth:
        zoom_ = fitWidth;
        break;
    case ZoomMode::Percent:
        zoom_ = percent_ / 100.0;
        break;
    }
    zoom_ = std::max(zoom_, 0.05);
    view_->resize(view_->sizeHint());
    view_->update();
}

bool ReportPreview::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == scroll_->viewport() && e->type() == QEvent::Resize && zoomMode_ != ZoomMode::Percent)
        applyZoom();
    return QDialog::eventFilter(watched, e);
}

bool ReportPreview::printReport()
{
    if (doc_->isEmpty() || !allRowsRead(QStringLiteral("打印")))
        return false;
    const ReportLayout &layout = doc_->layout();
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(layout.caption);
    printer.setPageSize(QPageSize(layout.paper));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(true);
    printer.setFromTo(1, pageCount());
    printer.setPrintRange(QPrinter::AllPages);
    if (!runPrintDialog(printer, this))
        return false;
    int from = 1;
    int to = pageCount();
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        from = printer.fromPage();
        to = printer.toPage() > 0 ? printer.toPage() : pageCount();
    } else if (printer.printRange() == QPrinter::CurrentPage) {
        from = to = currentPage();
    }
    // The page layout may have been changed in the dialog; the report keeps
    // its own paper and places itself from the paper's corner.
    printer.setFullPage(true);
    std::unique_ptr<QProgressDialog> dlg;
    // Stopping takes back what was sent so far: the spooled job is dropped,
    // and a print to a file leaves no file.
    const PageProgress progress =
        progressDialog(QStringLiteral("打印"), QStringLiteral("正在打印……"), dlg, [&printer] { printer.abort(); });
    if (!doc_->printTo(printer, from, std::min(to, pageCount()), progress)) {
        if (doc_->wasStopped()) {
            if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty())
                QFile::remove(printer.outputFileName());
            return false;
        }
        MsgBox(QStringLiteral("打印失败，请检查打印机。"), vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return false;
    }
    return true;
}

bool ReportPreview::exportPdf()
{
    if (doc_->isEmpty() || !allRowsRead(QStringLiteral("导出")))
        return false;
    QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    QString path = choosePdfPath(this, QDir(dir).filePath(doc_->layout().caption + QStringLiteral(".pdf")));
    if (path.isEmpty())
        return false;
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        path += QStringLiteral(".pdf");
    QString error;
    std::unique_ptr<QProgressDialog> dlg;
    const PageProgress progress = progressDialog(QStringLiteral("导出PDF"), QStringLiteral("正在导出 PDF……"), dlg);
    if (!doc_->exportPdf(path, &error, progress)) {
        if (!doc_->wasStopped())
            MsgBox(error, vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return false;
    }
    return true;
}

}  // namespace xs
