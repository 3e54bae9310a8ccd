#pragma once
#include "prescribe/rxmodel.h"

#include <QDialog>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

// 处方笺: the doctor completes the prescription before it prints. The part of
// the patient's header the doctor may set (费别, 急诊, 儿科, 临床诊断) and one
// row per drug line with its dose, route, frequency, days and the reason for
// more days than allowed. 预览 checks the whole prescription first: the first
// problem that stops it is shown and its cell takes the focus; warnings are
// asked about all at once; then the sheet goes to the caller's preview.
namespace xs {

class RxTable;

class RxDialog : public QDialog {
public:
    using Preview = std::function<void(const RxHeader &, const std::vector<RxLine> &)>;

    RxDialog(RxHeader header, std::vector<RxLine> lines, QWidget *parent);
    // What 预览 does once the checks let the prescription through.
    void setPreview(Preview preview) { preview_ = std::move(preview); }

    // The header and the lines with the doctor's edits applied.
    RxHeader header() const;
    std::vector<RxLine> lines() const;

    // The table's columns.
    enum Column { Drug, Quantity, Dose, DoseUnit, Route, Frequency, Days, Reason, ColumnCount };

private:
    void preview();
    // Puts the focus on the cell where a problem of that line is put right.
    void showLine(int line, int field);

    RxHeader header_;
    std::vector<RxLine> lines_;
    Preview preview_;
    QComboBox *fee_;
    QCheckBox *emergency_;
    QCheckBox *paediatric_;
    QLineEdit *diagnosis_;
    RxTable *table_;
};

}  // namespace xs
