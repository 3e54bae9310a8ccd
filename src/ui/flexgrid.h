#pragma once
#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <vector>

namespace xs {

// Text storage of a FlexGrid: Rows x Cols cells in one flat vector, row 0 the
// titles and column 0 the selector column. The table view sees rows 1.. and
// columns 1..; row 0 is its horizontal header, column 0 its vertical header.
class FlexModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    void resize(int rows, int cols);
    const QString &cell(int r, int c) const;
    void setCell(int r, int c, const QString &v);
    void clearText();
    void setAlignment(int c, Qt::Alignment a);
    // While redraw is off, changes send no signal; turning it on refreshes once.
    void setRedraw(bool on);
    bool redraw() const { return redraw_; }

private:
    int rows_ = 0;
    int cols_ = 0;
    std::vector<QString> cells_;
    std::vector<Qt::Alignment> align_;
    bool redraw_ = true;
};

// The old flex grid's model on a QTableView: Rows counts the title row,
// TextMatrix(r, c) reads and writes any cell, Row/Col is the current cell,
// ColWidth is in twips. Cells are plain text held in the model; there is no
// widget or item object per cell.
class FlexGrid : public QTableView {
    Q_OBJECT
public:
    explicit FlexGrid(QWidget *parent = nullptr);

    int Rows() const { return model_->rows(); }
    void setRows(int n);
    int Cols() const { return model_->cols(); }
    void setCols(int n);
    QString TextMatrix(int r, int c) const;
    void setTextMatrix(int r, int c, const QString &text);
    // Appends one row holding cells in columns 1.. (column 0 left empty).
    void addRow(const QStringList &cells);
    int Row() const { return row_; }
    void setRow(int r);
    int Col() const { return col_; }
    void setCol(int c);
    int ColWidth(int c) const;
    void setColWidth(int c, int twips);
    void setColAlignment(int c, Qt::Alignment a) { model_->setAlignment(c, a); }
    // Empties every cell, keeping rows and columns.
    void Clear();
    void setRedraw(bool on) { model_->setRedraw(on); }
    FlexModel *flexModel() const { return model_; }

signals:
    void Click();
    void DblClick();

private:
    void syncCurrent();
    FlexModel *model_;
    int row_ = 0;
    int col_ = 0;
    std::vector<int> widths_;  // twips
};

}  // namespace xs
