#include "ui/flexgrid.h"

#include "ui/twips.h"

#include <QHeaderView>

namespace xs {

int FlexModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(rows_ - 1, 0);
}

int FlexModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : std::max(cols_ - 1, 0);
}

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
    if (rows == rows_ && cols == cols_)
        return;
    if (redraw_)
        beginResetModel();
    if (cols == cols_) {
        cells_.resize(size_t(rows) * size_t(cols));
        // A grid cut back after a large listing gives the memory back.
        if (cells_.capacity() > 2 * cells_.size() + 4096)
            cells_.shrink_to_fit();
    } else {
        std::vector<QString> next(size_t(rows) * size_t(cols));
        for (int r = 0; r < std::min(rows, rows_); ++r)
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

const QString &FlexModel::cell(int r, int c) const
{
    static const QString empty;
    if (r < 0 || c < 0 || r >= rows_ || c >= cols_)
        return empty;
    return cells_[size_t(r) * size_t(cols_) + size_t(c)];
}

void FlexModel::setCell(int r, int c, const QString &v)
{
    if (r < 0 || c < 0 || r >= rows_ || c >= cols_)
        return;
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

FlexGrid::FlexGrid(QWidget *parent) : QTableView(parent), model_(new FlexModel(this))
{
    setModel(model_);
    setEditTriggers(NoEditTriggers);
    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setWordWrap(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(tw(240) + 2);
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setHighlightSections(false);
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
        emit Click();
    });
    connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex &i) {
        row_ = i.row() + 1;
        col_ = i.column() + 1;
        emit DblClick();
    });
    connect(verticalHeader(), &QHeaderView::sectionClicked, this, [this](int s) {
        row_ = s + 1;
        col_ = 0;
        emit Click();
    });
    connect(verticalHeader(), &QHeaderView::sectionDoubleClicked, this, [this](int s) {
        row_ = s + 1;
        col_ = 0;
        emit DblClick();
    });
}

void FlexGrid::setRows(int n)
{
    model_->resize(n, Cols());
    row_ = std::min(row_, std::max(n - 1, 0));
}

void FlexGrid::setCols(int n)
{
    model_->resize(Rows(), n);
    widths_.resize(size_t(std::max(n, 0)), -1);
    col_ = std::min(col_, std::max(n - 1, 0));
}

QString FlexGrid::TextMatrix(int r, int c) const { return model_->cell(r, c); }

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

void FlexGrid::Clear()
{
    model_->clearText();
}

}  // namespace xs
