#include "report/reportdocument.h"

#include <QFileInfo>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <QTextOption>

namespace xs {

namespace {

QString withLineSeparators(QString text)
{
    text.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    text.replace(QLatin1Char('\r'), QChar::LineSeparator);
    return text;
}

// Lays the text out in a QTextLayout with the given wrap mode and keeps the
// lines that fit; returns how many lines were kept and sets *shown to the
// number of characters they hold.
int layoutLinesWith(QTextLayout &tl, const QString &text, const QFont &font, const QSize &box,
                    QTextOption::WrapMode mode, bool *cut, int *shown)
{
    tl.clearLayout();
    tl.setText(text);
    tl.setFont(font);
    QTextOption opt(Qt::AlignLeft | Qt::AlignTop);
    opt.setWrapMode(mode);
    tl.setTextOption(opt);
    tl.beginLayout();
    int kept = 0;
    qreal y = 0;
    *cut = false;
    for (;;) {
        QTextLine line = tl.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(box.width());
        if (kept > 0 && y + line.height() > box.height()) {
            *cut = true;
            break;
        }
        line.setPosition(QPointF(0, y));
        y += line.height();
        ++kept;
    }
    tl.endLayout();
    *shown = 0;
    if (kept > 0) {
        const QTextLine last = tl.lineAt(kept - 1);
        *shown = last.textStart() + last.textLength();
        if (*shown < tl.text().size())
            *cut = true;
        if (tl.lineAt(0).height() > box.height())
            *cut = true;
    }
    return kept;
}

// Wraps at word boundaries (a run of CJK breaks between any two characters,
// but not before closing punctuation such as a colon). When the text does not
// fit that way, breaking anywhere is tried too and used when it shows more of
// the text: a caption like "出生年月:" in a box one line high then shows
// "出生年月" and loses only its colon, not "月:".
int layoutLines(QTextLayout &tl, const QString &raw, const QFont &font, const QSize &box, bool *cut)
{
    const QString text = withLineSeparators(raw);
    int shownWord = 0;
    const int kept = layoutLinesWith(tl, text, font, box, QTextOption::WrapAtWordBoundaryOrAnywhere, cut, &shownWord);
    if (!*cut)
        return kept;
    QTextLayout alt;
    bool altCut = false;
    int shownAny = 0;
    layoutLinesWith(alt, text, font, box, QTextOption::WrapAnywhere, &altCut, &shownAny);
    if (shownAny <= shownWord)
        return kept;
    return layoutLinesWith(tl, text, font, box, QTextOption::WrapAnywhere, cut, &shownAny);
}

}  // namespace

FittedText fitText(const QString &text, const ReportFont &font, const QSize &box)
{
    FittedText out;
    if (text.isEmpty())
        return out;
    QTextLayout tl;
    const int kept = layoutLines(tl, text, reportQFont(font), box, &out.cut);
    for (int i = 0; i < kept; ++i) {
        const QTextLine l = tl.lineAt(i);
        out.lines.push_back(tl.text().mid(l.textStart(), l.textLength()));
        out.lineRects.push_back(QRectF(l.position(), QSizeF(l.naturalTextWidth(), l.height())));
    }
    return out;
}

void drawBoxText(QPainter &p, const QRect &rect, const QString &text, const ReportFont &font)
{
    if (text.isEmpty() || rect.width() <= 0 || rect.height() <= 0)
        return;
    QTextLayout tl;
    bool cut = false;
    const int kept = layoutLines(tl, text, reportQFont(font), rect.size(), &cut);
    p.save();
    p.setClipRect(rect, Qt::IntersectClip);
    for (int i = 0; i < kept; ++i)
        tl.lineAt(i).draw(&p, rect.topLeft());
    p.restore();
}

ReportDocument::ReportDocument(ReportLayout layout, std::unique_ptr<ReportRows> rows)
    : layout_(std::move(layout)), rows_(rows ? std::move(rows) : ReportRows::none(layout_.boundColumns())),
      pages_(layout_, rows_->count())
{
    syncPages();
}

void ReportDocument::syncPages() const
{
    const bool complete = rows_->complete();
    const int rows = rows_->count();
    if (rows == pagedRows_ && complete == pagedComplete_)
        return;
    // While reading goes on there is at least one row more than read so far:
    // no page yet offered is the last one.
    pages_ = Pagination(layout_, complete ? rows : rows + 1);
    pagedRows_ = rows;
    pagedComplete_ = complete;
}

const Pagination &ReportDocument::pagination() const
{
    syncPages();
    return pages_;
}

int ReportDocument::pageCount() const
{
    syncPages();
    if (pagedComplete_)
        return pages_.pageCount();
    // The pages whose rows are all read.
    const int rows = pagedRows_;
    const int first = pages_.blocksOnFirstPage();
    if (rows < first)
        return 1;
    return 1 + (rows - first) / pages_.blocksPerPage();
}

RenderedPage ReportDocument::page(int index)
{
    syncPages();
    ++laidOut_;
    RenderedPage out;
    out.number = index + 1;
    out.sections = pages_.sectionsOnPage(index);
    // Plain variables, not a structured binding: the lambdas below capture
    // them, which clang (clang-tidy) before 16 does not accept.
    const std::pair<int, int> rows = pages_.rowsOnPage(index);
    const int first = rows.first, last = rows.second;

    // The rows of this page, read once: only the bound columns, as text.
    std::vector<QStringList> values(size_t(std::max(0, last - first)));
    rows_->read(first, last, [&](int row, const QStringList &v) { values[size_t(row - first)] = v; });
    const QStringList &cols = rows_->columns();
    auto columnOf = [&](const QString &name) {
        for (int i = 0; i < cols.size(); ++i)
            if (cols[i].compare(name, Qt::CaseInsensitive) == 0)
                return i;
        return -1;
    };

    const QString pageNumber = QString::number(out.number);
    for (const PlacedSection &ps : out.sections) {
        const ReportSection &sec = layout_.section(ps.kind);
        for (const ReportElement &e : sec.elements) {
            PageItem item;
            item.section = ps.kind;
            item.row = ps.row;
            item.element = &e;
            item.rect = e.rect().translated(0, ps.top);
            if (e.kind == ElementKind::Label) {
                item.text = e.caption;
                item.text.replace(QLatin1String("%p"), pageNumber);
            } else if (ps.kind == SectionKind::Detail && ps.row >= first && ps.row < last) {
                const QStringList &v = values[size_t(ps.row - first)];
                const int c = columnOf(e.dataField);
                item.text = c >= 0 && c < v.size() ? v[c] : QString();
            }
            out.items.push_back(std::move(item));
        }
    }
    return out;
}

void ReportDocument::paintPage(QPainter &p, const RenderedPage &page) const
{
    p.save();
    p.translate(layout_.leftMargin, layout_.topMargin);
    p.setPen(Qt::black);
    for (const PageItem &item : page.items)
        drawBoxText(p, item.rect, item.text, item.element->font);
    p.restore();
}

bool ReportDocument::printTo(QPagedPaintDevice &device, int from, int to, const PageProgress &progress)
{
    stopped_ = false;
    rows_->waitComplete();
    if (to < 0 || to > pageCount())
        to = pageCount();
    from = std::max(1, from);
    QPainter p;
    if (!p.begin(&device))
        return false;
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal sx = device.logicalDpiX() / qreal(kTwipsPerInch);
    const qreal sy = device.logicalDpiY() / qreal(kTwipsPerInch);
    for (int k = from; k <= to; ++k) {
        if (k > from && !device.newPage())
            return false;
        p.save();
        p.scale(sx, sy);
        paintPage(p, page(k - 1));
        p.restore();
        if (progress && !progress(k - from + 1, to - from + 1)) {
            stopped_ = true;
            p.end();
            return false;
        }
    }
    return p.end();
}

bool ReportDocument::exportPdf(const QString &path, QString *error, const PageProgress &progress)
{
    stopped_ = false;
    const QString shown = QFileInfo(path).absoluteFilePath();
    auto failed = [&] {
        if (error)
            *error = QStringLiteral("无法写入文件 %1").arg(shown);
        return false;
    };
    // Written beside the target and renamed into place once complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed();
    bool ok;
    {
        QPdfWriter writer(&file);
        writer.setResolution(1200);
        writer.setCreator(QStringLiteral("澄衡"));
        writer.setTitle(layout_.caption);
        writer.setPageLayout(QPageLayout(QPageSize(layout_.paper), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        ok = printTo(writer, 1, -1, progress);
    }
    if (!ok) {
        file.cancelWriting();
        return stopped_ ? false : failed();
    }
    if (!file.commit())
        return failed();
    return true;
}

}  // namespace xs
