#pragma once
#include "ui/gridsource.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <memory>
#include <vector>

namespace xs {

// Text of a FlexGrid: Rows x Cols cells, row 0 the titles and column 0 the
// selector column. The table view sees rows 1.. and columns 1..; row 0 is its
// horizontal header, column 0 its vertical header.
//
// Cells written by the window are stored in one flat vector that holds the
// rows up to the last one written; rows below it are empty and cost nothing.
// A grid given a source (a query) shows the source's rows below its title row,
// reading only what is painted or asked for, and after them `trailing` empty
// rows; its data rows are the query's and are not written by the window.
class FlexModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    int rows() const { return src_ ? 1 + shownKnown_ + trailing_ : rows_; }
    int cols() const { return cols_; }
    // Setting the size drops the source: the grid is the window's again.
    void resize(int rows, int cols);
    QString cell(int r, int c) const;
    void setCell(int r, int c, const QString &v);
    // Empties every cell (and drops the source), keeping rows and columns.
    void clearText();
    void setSource(std::unique_ptr<GridSource> src, int trailing);
    GridSource *source() const { return src_.get(); }
    void setAlignment(int c, Qt::Alignment a);
    // While redraw is off, changes send no signal; turning it on refreshes once.
    void setRedraw(bool on);
    bool redraw() const { return redraw_; }

private:
    void dropSource();
    void sourceRowsChanged();
    int storedRows() const { return cols_ > 0 ? int(cells_.size() / size_t(cols_)) : 0; }
    int rows_ = 0;
    int cols_ = 0;
    std::vector<QString> cells_;  // rows 0 .. storedRows() - 1
    std::unique_ptr<GridSource> src_;
    int shownKnown_ = 0;  // source rows the view has been told about
    int trailing_ = 0;
    std::vector<Qt::Alignment> align_;
    bool redraw_ = true;
};

// The old flex grid's model on a QTableView: Rows counts the title row,
// TextMatrix(r, c) reads and writes any cell, Row/Col is the current cell,
// ColWidth is in twips. Cells are plain text held in the model; there is no
// widget or item object per cell.
//
// A grid showing a query (setSource) holds only a few pages of it. Until the
// row count arrives from the background, Rows() counts the rows read so far
// (it grows as the view scrolls on and when the count arrives) plus the title
// row and the trailing empty rows; TextMatrix(r, c) reads on to row r when
// it lies beyond them, so any cell of any row can be read at any time.
class FlexGrid : public QTableView {
    Q_OBJECT
public:
    explicit FlexGrid(QWidget *parent = nullptr);
    ~FlexGrid() override;

    int Rows() const { return model_->rows(); }
    void setRows(int n);
    int Cols() const { return model_->cols(); }
    void setCols(int n);
    QString TextMatrix(int r, int c) const;
    void setTextMatrix(int r, int c, const QString &text);
    // Appends one row holding cells in columns 1.. (column 0 left empty).
    void addRow(const QStringList &cells);
    // The current row. After setRowAfterData() it is the first row after the
    // data (waiting for the row count, if it has not arrived yet).
    int Row() const;
    void setRow(int r);
    // Shows `src` below the title row, followed by `trailingEmptyRows` empty
    // rows; no row is current. Row 0, column 0 and the columns stay the window's.
    void setSource(std::unique_ptr<GridSource> src, int trailingEmptyRows = 0);
    // Makes the first empty row after the data the current row.
    void setRowAfterData();
    int Col() const { return col_; }
    void setCol(int c);
    int ColWidth(int c) const;
    void setColWidth(int c, int twips);
    void setColAlignment(int c, Qt::Alignment a) { model_->setAlignment(c, a); }
    // Empties every cell, keeping rows and columns.
    void Clear();
    void setRedraw(bool on) { model_->setRedraw(on); }
    FlexModel *flexModel() const { return model_; }

    // While one lives, the row header of `from` (a grid whose window closes
    // to be built again at once) waits for the grid of the new window with
    // the same name: that grid takes it over when it shows a long listing.
    // A row header holds a few bytes for every row (8 MB for a million);
    // taken over, the new grid lays out its rows in memory already in use
    // instead of fresh memory that the system must hand out page by page.
    // A header no grid took is deleted with the hand-over.
    class RowHeaderHandOver {
    public:
        explicit RowHeaderHandOver(FlexGrid *from);
        ~RowHeaderHandOver();
        RowHeaderHandOver(const RowHeaderHandOver &) = delete;
        RowHeaderHandOver &operator=(const RowHeaderHandOver &) = delete;
    };

signals:
    void Click();
    void DblClick();

private:
    void setUpRowHeader();
    void takeOverRowHeader(int rows);
    void syncCurrent();
    void pinCurrent();
    FlexModel *model_;
    int row_ = 0;
    bool afterData_ = false;
    int col_ = 0;
    std::vector<int> widths_;  // twips
};

}  // namespace xs
