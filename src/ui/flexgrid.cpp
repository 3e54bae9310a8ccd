#include "ui/flexgrid.h"

#include "ui/twips.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QPainter>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace xs {

int FlexModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : std::max(rows() - 1, 0); }

int FlexModel::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : std::max(cols_ - 1, 0); }

QVariant FlexModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cell(index.row() + 1, index.column() + 1);
    if (role == Qt::TextAlignmentRole) {
        const size_t c = size_t(index.column() + 1);
        return QVariant::fromValue(c < align_.size() ? align_[c] : (Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

QVariant FlexModel::headerData(int section, Qt::Orientation o, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    return o == Qt::Horizontal ? cell(0, section + 1) : cell(section + 1, 0);
}

void FlexModel::resize(int rows, int cols)
{
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    if (src_) {
        if (redraw_)
            beginResetModel();
        dropSource();
        if (redraw_)
            endResetModel();
    }
    if (rows == rows_ && cols == cols_)
        return;
    if (redraw_)
        beginResetModel();
    const int keep = std::min(rows, storedRows());
    if (cols == cols_) {
        cells_.resize(size_t(keep) * size_t(cols));
        // A grid cut back after a large listing gives the memory back.
        if (cells_.capacity() > 2 * cells_.size() + 4096)
            cells_.shrink_to_fit();
    } else {
        std::vector<QString> next(size_t(keep) * size_t(cols));
        for (int r = 0; r < keep; ++r)
            for (int c = 0; c < std::min(cols, cols_); ++c)
                next[size_t(r) * size_t(cols) + size_t(c)] = std::move(cells_[size_t(r) * size_t(cols_) + size_t(c)]);
        cells_.swap(next);
    }
    rows_ = rows;
    cols_ = cols;
    align_.resize(size_t(cols), Qt::AlignLeft | Qt::AlignVCenter);
    if (redraw_)
        endResetModel();
}

bool FlexModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && src_ && !src_->countKnown();
}

void FlexModel::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid() && src_)
        src_->fetchMore();  // the source tells of the new rows
}

void FlexModel::setSource(std::unique_ptr<GridSource> src, int trailing)
{
    if (redraw_)
        beginResetModel();
    dropSource();
    // Only the title row stays the window's.
    cells_.resize(std::min(cells_.size(), size_t(cols_)));
    src_ = std::move(src);
    trailing_ = std::max(trailing, 0);
    shownKnown_ = src_ ? src_->knownRows() : 0;
    if (src_)
        src_->rowsChanged = [this] { sourceRowsChanged(); };
    else
        rows_ = 1 + trailing_;
    if (redraw_)
        endResetModel();
}

void FlexModel::dropSource()
{
    if (!src_)
        return;
    rows_ = rows();
    src_->rowsChanged = nullptr;
    src_.reset();
    shownKnown_ = 0;
    trailing_ = 0;
}

void FlexModel::sourceRowsChanged()
{
    const int known = src_->knownRows();
    if (known == shownKnown_)
        return;
    if (!redraw_ || known < shownKnown_) {
        if (redraw_)
            beginResetModel();
        shownKnown_ = known;
        if (redraw_)
            endResetModel();
        return;
    }
    // The new rows come before the trailing empty ones.
    beginInsertRows(QModelIndex(), shownKnown_, known - 1);
    shownKnown_ = known;
    endInsertRows();
}

QString FlexModel::cell(int r, int c) const
{
    if (r < 0 || c < 0 || r >= rows() || c >= cols_)
        return {};
    if (src_ && r >= 1) {
        if (c == 0 || r > shownKnown_)
            return {};
        return src_->cell(r - 1, c - 1);
    }
    if (r >= storedRows())
        return {};
    return cells_[size_t(r) * size_t(cols_) + size_t(c)];
}

void FlexModel::setCell(int r, int c, const QString &v)
{
    if (r < 0 || c < 0 || r >= rows() || c >= cols_)
        return;
    if (src_ && r >= 1)
        return;  // the rows of a query are the query's
    if (r >= storedRows()) {
        if (v.isEmpty())
            return;
        cells_.resize(size_t(r + 1) * size_t(cols_));
    }
    cells_[size_t(r) * size_t(cols_) + size_t(c)] = v;
    if (!redraw_)
        return;
    if (r == 0)
        emit headerDataChanged(Qt::Horizontal, c - 1, c - 1);
    else if (c == 0)
        emit headerDataChanged(Qt::Vertical, r - 1, r - 1);
    else
        emit dataChanged(index(r - 1, c - 1), index(r - 1, c - 1), {Qt::DisplayRole});
}

void FlexModel::clearText()
{
    if (redraw_)
        beginResetModel();
    dropSource();
    for (QString &s : cells_)
        s.clear();
    if (redraw_)
        endResetModel();
}

void FlexModel::setAlignment(int c, Qt::Alignment a)
{
    if (c >= 0 && size_t(c) < align_.size())
        align_[size_t(c)] = a;
}

void FlexModel::setRedraw(bool on)
{
    if (on == redraw_)
        return;
    if (!on) {
        beginResetModel();  // the view lets go of its indexes until redraw returns
        redraw_ = false;
    } else {
        redraw_ = true;
        endResetModel();
    }
}

namespace {
// Paints a cell as the grid shows it: its text on one line, aligned as its
// column says and cut at the cell's border, on the selection's colours when
// its row is selected, with the focus frame on the current cell. The
// general item painter lays out icons, check boxes and elided text for every
// cell; a full grid is painted in half the time without it.
class CellPainter final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *p, const QStyleOptionViewItem &o, const QModelIndex &i) const override
    {
        const QPalette::ColorGroup group = !(o.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (o.state & QStyle::State_Active) ? QPalette::Active
                                                                              : QPalette::Inactive;
        const bool selected = o.state & QStyle::State_Selected;
        if (selected)
            p->fillRect(o.rect, o.palette.brush(group, QPalette::Highlight));
        const QString text = i.data(Qt::DisplayRole).toString();
        if (!text.isEmpty()) {
            const QWidget *w = o.widget;
            const QStyle *style = w ? w->style() : nullptr;
            const int margin = (style ? style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w) : 2) + 1;
            const QRect r = o.rect.adjusted(margin, 0, -margin, 0);
            const QVariant a = i.data(Qt::TextAlignmentRole);
            const int align = a.isValid() ? int(a.value<Qt::Alignment>()) : int(Qt::AlignLeft | Qt::AlignVCenter);
            p->save();
            p->setClipRect(o.rect);
            p->setFont(o.font);
            p->setPen(o.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
            p->drawText(r, align | Qt::TextSingleLine, text);
            p->restore();
        }
        if ((o.state & QStyle::State_HasFocus) && o.widget) {
            QStyleOptionFocusRect f;
            f.QStyleOption::operator=(o);
            f.rect = o.rect;
            f.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            f.backgroundColor = o.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            o.widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &f, p, o.widget);
        }
    }
};
}  // namespace

namespace {
// The row header handed over by a closing grid, and the name of the grid
// that may take it (see RowHeaderHandOver).
struct SpareRowHeader {
    QPointer<QHeaderView> header;
    QString grid;
};
SpareRowHeader &spareRowHeader()
{
    static SpareRowHeader s;
    return s;
}
// Listings shorter than this lay out their rows quickly in any header.
constexpr int kHandOverRows = 20'000;
}  // namespace

FlexGrid::RowHeaderHandOver::RowHeaderHandOver(FlexGrid *from)
{
    SpareRowHeader &s = spareRowHeader();
    delete s.header;
    s.header = nullptr;
    if (!from)
        return;
    QHeaderView *h = from->verticalHeader();
    // The closing grid gets a new, empty header; the old one lets go of the
    // grid and its model (the rows it holds stay allocated for the next grid).
    h->disconnect(from);
    from->disconnect(h);
    h->setParent(nullptr);
    from->setVerticalHeader(new QHeaderView(Qt::Vertical, from));
    from->setUpRowHeader();
    h->setModel(nullptr);
    s.header = h;
    s.grid = from->objectName();
}

FlexGrid::RowHeaderHandOver::~RowHeaderHandOver()
{
    SpareRowHeader &s = spareRowHeader();
    delete s.header;
    s.header = nullptr;
}

void FlexGrid::takeOverRowHeader(int rows)
{
    SpareRowHeader &s = spareRowHeader();
    if (!s.header || rows <= kHandOverRows || s.grid != objectName())
        return;
    QHeaderView *h = s.header;
    s.header = nullptr;
    const int width = verticalHeader()->width();
    setVerticalHeader(h);  // deletes this grid's own header
    h->setModel(model_);
    h->setSelectionModel(selectionModel());
    setUpRowHeader();
    verticalHeader()->setFixedWidth(width);
    h->show();
}

void FlexGrid::setUpRowHeader()
{
    QHeaderView *h = verticalHeader();
    h->setSectionResizeMode(QHeaderView::Fixed);
    h->setDefaultSectionSize(tw(240) + 2);
    h->setMinimumSectionSize(1);
    h->setHighlightSections(false);
    connect(h, &QHeaderView::sectionClicked, this, [this](int s) {
        row_ = s + 1;
        col_ = 0;
        pinCurrent();
        emit Click();
    });
    connect(h, &QHeaderView::sectionDoubleClicked, this, [this](int s) {
        row_ = s + 1;
        col_ = 0;
        pinCurrent();
        emit DblClick();
    });
}

FlexGrid::FlexGrid(QWidget *parent) : QTableView(parent), model_(new FlexModel(this))
{
    setModel(model_);
    setItemDelegate(new CellPainter(this));
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setWordWrap(false);
    setUpRowHeader();
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    setTabKeyNavigation(false);

    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        for (int c = 1; c < int(widths_.size()); ++c)
            if (widths_[size_t(c)] >= 0)
                setColumnWidth(c - 1, tw(widths_[size_t(c)]));
        if (!widths_.empty() && widths_[0] >= 0)
            verticalHeader()->setFixedWidth(tw(widths_[0]));
    });
    connect(this, &QTableView::clicked, this, [this](const QModelIndex &i) {
        row_ = i.row() + 1;
        col_ = i.column() + 1;
        pinCurrent();
        emit Click();
    });
    connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex &i) {
        row_ = i.row() + 1;
        col_ = i.column() + 1;
        pinCurrent();
        emit DblClick();
    });
}

FlexGrid::~FlexGrid()
{
    // The pages and strings of a large listing go back to the system once the
    // window holding the grid is gone, not only to the allocator's free lists.
#if defined(__GLIBC__)
    if (QCoreApplication *app = QCoreApplication::instance())
        QTimer::singleShot(0, app, [] { malloc_trim(0); });
#endif
}

int FlexGrid::Row() const
{
    if (afterData_) {
        if (GridSource *s = model_->source()) {
            s->waitForCount();
            return 1 + s->knownRows();
        }
    }
    return row_;
}

void FlexGrid::setSource(std::unique_ptr<GridSource> src, int trailingEmptyRows)
{
    if (src)
        takeOverRowHeader(src->knownRows());
    afterData_ = false;
    model_->setSource(std::move(src), trailingEmptyRows);
    row_ = 0;
    if (model_->redraw())
        selectionModel()->clearSelection();
}

void FlexGrid::setRowAfterData()
{
    if (!model_->source())
        return;
    afterData_ = true;
    row_ = 1 + model_->source()->knownRows();
    model_->source()->pin(-1);
    // The row after the data becomes current without scrolling to it: the
    // listing shows from its first row, and a long one is not read on to its
    // end only to show the empty rows below it.
    const bool scroll = hasAutoScroll();
    setAutoScroll(false);
    syncCurrent();
    setAutoScroll(scroll);
}

void FlexGrid::pinCurrent()
{
    afterData_ = false;
    if (GridSource *s = model_->source())
        s->pin(row_ - 1);
}

void FlexGrid::setRows(int n)
{
    afterData_ = false;
    model_->resize(n, Cols());
    row_ = std::min(row_, std::max(n - 1, 0));
}

void FlexGrid::setCols(int n)
{
    model_->resize(Rows(), n);
    widths_.resize(size_t(std::max(n, 0)), -1);
    col_ = std::min(col_, std::max(n - 1, 0));
}

QString FlexGrid::TextMatrix(int r, int c) const
{
    // A row beyond those read so far is read on to before it is answered.
    if (GridSource *s = model_->source())
        while (r >= 1 && r > s->knownRows() && !s->countKnown() && s->fetchMore()) {
        }
    return model_->cell(r, c);
}

void FlexGrid::setTextMatrix(int r, int c, const QString &text) { model_->setCell(r, c, text); }

void FlexGrid::addRow(const QStringList &cells)
{
    const int r = Rows();
    setRows(r + 1);
    for (int c = 0; c < cells.size() && c + 1 < Cols(); ++c)
        model_->setCell(r, c + 1, cells[c]);
}

void FlexGrid::setRow(int r)
{
    if (r < 0 || r >= Rows())
        return;
    row_ = r;
    pinCurrent();
    syncCurrent();
}

void FlexGrid::setCol(int c)
{
    if (c < 0 || c >= Cols())
        return;
    col_ = c;
    syncCurrent();
}

void FlexGrid::syncCurrent()
{
    if (!model_->redraw())
        return;
    if (row_ >= 1) {
        const QModelIndex i = model_->index(row_ - 1, std::max(col_ - 1, 0));
        selectionModel()->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        selectionModel()->clearSelection();
    }
}

int FlexGrid::ColWidth(int c) const
{
    if (c < 0 || c >= Cols())
        return 0;
    if (widths_[size_t(c)] >= 0)
        return widths_[size_t(c)];
    return toTwips(c == 0 ? verticalHeader()->width() : columnWidth(c - 1));
}

void FlexGrid::setColWidth(int c, int twips)
{
    if (c < 0 || c >= Cols())
        return;
    widths_[size_t(c)] = twips;
    if (c == 0)
        verticalHeader()->setFixedWidth(tw(twips));
    else
        setColumnWidth(c - 1, tw(twips));
}

void FlexGrid::Clear() { model_->clearText(); }

}  // namespace xs
