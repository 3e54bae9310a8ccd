#include "prescribe/rxdialog.h"

#include "prescribe/rxcheck.h"
#include "ui/msgbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <utility>

namespace xs {

namespace {

const QString kTitle = QStringLiteral("处方笺");

// Enter in a cell's editor keeps what was typed and moves on, as Tab does,
// instead of reaching the dialog's default button.
class MoveOnDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    bool eventFilter(QObject *obj, QEvent *ev) override
    {
        if (ev->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(ev)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                auto *editor = static_cast<QWidget *>(obj);
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::EditNextItem);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(obj, ev);
    }
};

// The quantity with its unit, once.
QString quantityText(const RxLine &l)
{
    const QString q = l.quantity.trimmed();
    return l.unit.isEmpty() || q.endsWith(l.unit) ? q : q + l.unit;
}

}  // namespace

// The lines' table: Tab, Shift+Tab and Enter go through the cells the doctor
// fills, row by row, and past the last (or before the first) on to the next
// control of the dialog.
class RxTable : public QTableWidget {
public:
    using QTableWidget::QTableWidget;

    // Keeps what an open editor holds in its cell.
    void commitEditor()
    {
        if (QWidget *editor = indexWidget(currentIndex())) {
            commitData(editor);
            closeEditor(editor, QAbstractItemDelegate::NoHint);
        }
    }

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        if (action != MoveNext && action != MovePrevious)
            return QTableWidget::moveCursor(action, modifiers);
        const int first = RxDialog::Dose, last = RxDialog::Reason;
        int row = currentRow(), column = currentColumn();
        if (row < 0) {
            row = 0;
            column = first;
        } else if (action == MoveNext) {
            if (column < first)
                column = first;
            else if (column < last)
                ++column;
            else {
                ++row;
                column = first;
            }
        } else {
            if (column > first)
                --column;
            else {
                --row;
                column = last;
            }
        }
        if (row < 0 || row >= rowCount())
            return {};
        return model()->index(row, column);
    }

    void keyPressEvent(QKeyEvent *ev) override
    {
        if (ev->key() == Qt::Key_Return || ev->key() == Qt::Key_Enter) {
            if (const QModelIndex next = moveCursor(MoveNext, ev->modifiers()); next.isValid())
                setCurrentIndex(next);
            else
                QTableWidget::focusNextPrevChild(true);
            ev->accept();
            return;
        }
        QTableWidget::keyPressEvent(ev);
    }
};

RxDialog::RxDialog(RxHeader header, std::vector<RxLine> lines, QWidget *parent)
    : QDialog(parent), header_(std::move(header)), lines_(std::move(lines))
{
    setObjectName(QStringLiteral("RxDialog"));
    setWindowTitle(kTitle);

    fee_ = new QComboBox(this);
    fee_->setObjectName(QStringLiteral("fee"));
    fee_->addItems({QStringLiteral("自费"), QStringLiteral("医保"), QStringLiteral("公费"), QStringLiteral("其他")});
    if (!header_.fee.isEmpty() && fee_->findText(header_.fee) < 0)
        fee_->addItem(header_.fee);
    fee_->setCurrentText(header_.fee);
    emergency_ = new QCheckBox(QStringLiteral("急诊"), this);
    emergency_->setObjectName(QStringLiteral("emergency"));
    emergency_->setChecked(header_.emergency);
    paediatric_ = new QCheckBox(QStringLiteral("儿科"), this);
    paediatric_->setObjectName(QStringLiteral("paediatric"));
    paediatric_->setChecked(header_.paediatric);
    diagnosis_ = new QLineEdit(header_.diagnosis, this);
    diagnosis_->setObjectName(QStringLiteral("diagnosis"));

    table_ = new RxTable(int(lines_.size()), ColumnCount, this);
    table_->setObjectName(QStringLiteral("lines"));
    table_->setAccessibleName(QStringLiteral("处方药品"));
    table_->setHorizontalHeaderLabels({QStringLiteral("药品"), QStringLiteral("数量"), QStringLiteral("单次剂量"),
                                       QStringLiteral("剂量单位"), QStringLiteral("用法"), QStringLiteral("频次"),
                                       QStringLiteral("天数"), QStringLiteral("超量理由")});
    table_->setItemDelegate(new MoveOnDelegate(table_));
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                            | QAbstractItemView::AnyKeyPressed);
    for (int r = 0; r < int(lines_.size()); ++r) {
        const RxLine &l = lines_[size_t(r)];
        const QString values[ColumnCount] = {(l.generic + QLatin1Char(' ') + l.spec).trimmed(),
                                             quantityText(l),
                                             l.dose,
                                             l.doseUnit,
                                             l.route,
                                             l.frequency,
                                             l.days,
                                             l.reason};
        for (int c = 0; c < ColumnCount; ++c) {
            auto *item = new QTableWidgetItem(values[c]);
            if (c == Drug || c == Quantity) {
                // Set in the prescribing window: shown on the window's colour, not editable here.
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                item->setBackground(palette().window());
            }
            table_->setItem(r, c, item);
        }
    }
    QHeaderView *columns = table_->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    table_->resizeColumnsToContents();
    // Room for what is typed in, and for the drug's name and spec.
    const std::pair<Column, int> least[] = {{Drug, 200}, {Quantity, 60},  {Dose, 72}, {DoseUnit, 72},
                                            {Route, 96}, {Frequency, 60}, {Days, 48}};
    for (const auto &[column, width] : least)
        table_->setColumnWidth(column, std::max(width, table_->columnWidth(column)));
    columns->setStretchLastSection(true);
    if (!lines_.empty()) {
        // The dialog opens on the first cell to fill.
        table_->setCurrentCell(0, Dose);
        table_->setFocus();
    }

    auto *previewButton = new QPushButton(QStringLiteral("预览(&P)"), this);
    previewButton->setObjectName(QStringLiteral("preview"));
    auto *ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancel"));

    auto *feeLabel = new QLabel(QStringLiteral("费别："), this);
    feeLabel->setBuddy(fee_);
    auto *diagnosisLabel = new QLabel(QStringLiteral("临床诊断："), this);
    diagnosisLabel->setBuddy(diagnosis_);
    auto *fields = new QGridLayout;
    fields->addWidget(feeLabel, 0, 0);
    fields->addWidget(fee_, 0, 1);
    fields->addWidget(emergency_, 0, 2);
    fields->addWidget(paediatric_, 0, 3);
    fields->addWidget(diagnosisLabel, 1, 0);
    fields->addWidget(diagnosis_, 1, 1, 1, 4);
    fields->setColumnStretch(4, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(previewButton);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    QWidget *const order[] = {fee_, emergency_, paediatric_, diagnosis_, table_, previewButton, ok, cancel};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    resize(900, 400);

    connect(previewButton, &QPushButton::clicked, this, &RxDialog::preview);
    connect(ok, &QPushButton::clicked, this, [this] {
        table_->commitEditor();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

RxHeader RxDialog::header() const
{
    RxHeader h = header_;
    h.fee = fee_->currentText();
    h.emergency = emergency_->isChecked();
    h.paediatric = paediatric_->isChecked();
    h.diagnosis = diagnosis_->text();
    return h;
}

std::vector<RxLine> RxDialog::lines() const
{
    std::vector<RxLine> out = lines_;
    for (int r = 0; r < int(out.size()); ++r) {
        RxLine &l = out[size_t(r)];
        const auto cell = [&](int column) { return table_->item(r, column)->text(); };
        l.dose = cell(Dose);
        l.doseUnit = cell(DoseUnit);
        l.route = cell(Route);
        l.frequency = cell(Frequency);
        l.days = cell(Days);
        l.reason = cell(Reason);
    }
    return out;
}

void RxDialog::showLine(int line, int field)
{
    static const int columnOf[] = {Route, Days, Reason, Drug, Drug};  // by RxProblem::Field
    table_->setFocus(Qt::OtherFocusReason);
    table_->setCurrentCell(line, columnOf[field]);
}

void RxDialog::preview()
{
    table_->commitEditor();
    const RxHeader h = header();
    const std::vector<RxLine> ls = lines();
    const std::vector<RxProblem> problems = checkPrescription(h, ls);
    for (const RxProblem &p : problems)
        if (p.blocking) {
            MsgBox(p.text, vbExclamation, kTitle);
            showLine(p.line, p.field);
            return;
        }
    if (!problems.empty()) {
        QStringList warnings;
        for (const RxProblem &p : problems)
            warnings << p.text;
        if (MsgBox(warnings.join(QLatin1Char('\n')) + QStringLiteral("\n仍要打印吗？"), vbQuestion | vbYesNo, kTitle)
            != vbYes) {
            showLine(problems.front().line, problems.front().field);
            return;
        }
    }
    if (preview_)
        preview_(h, ls);
}

}  // namespace xs
