#include "prescribe/drugsearch.h"

#include "data/recordset.h"
#include "data/schema.h"
#include "data/statements.h"

#include <QDialogButtonBox>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace xs {

DrugSearch::DrugSearch(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DrugSearch"));
    setWindowTitle(QStringLiteral("查找药品"));
    auto *layout = new QVBoxLayout(this);
    auto *label = new QLabel(QStringLiteral("药名的拼音首字母、拼音或汉字(&N)："), this);
    typed = new QLineEdit(this);
    typed->setObjectName(QStringLiteral("typed"));
    label->setBuddy(typed);
    found = new QTableWidget(0, 3, this);
    found->setObjectName(QStringLiteral("found"));
    found->setHorizontalHeaderLabels({QStringLiteral("药品"), QStringLiteral("类别"), QStringLiteral("规格")});
    found->setAccessibleName(QStringLiteral("找到的药品"));
    found->setEditTriggers(QAbstractItemView::NoEditTriggers);
    found->setSelectionBehavior(QAbstractItemView::SelectRows);
    found->setSelectionMode(QAbstractItemView::SingleSelection);
    found->verticalHeader()->hide();
    found->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *pick = buttons->addButton(QStringLiteral("选定"), QDialogButtonBox::AcceptRole);
    pick->setObjectName(QStringLiteral("pick"));
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("close"));
    layout->addWidget(label);
    layout->addWidget(typed);
    layout->addWidget(found);
    layout->addWidget(buttons);
    resize(640, 420);

    // The 规格 of each entry of a category, from the drug catalogue.
    QHash<QString, QString> specs;
    QString unread;
    eachRow(
        QStringLiteral("SELECT 表1名称, 类别, 规格 FROM drugs"), {},
        [&specs](const Cells &row) {
            if (row.size() == 3 && row[0] && row[1])
                specs.insert(*row[0] + QChar(0x1f) + *row[1], row[2].value_or(QString()));
            return true;
        },
        &unread);
    // Every category's entries, each text once per category, in menu order.
    if (RecordsetPtr rs = runsql(QStringLiteral("表1"))) {
        const QStringList &columns = catalogueColumns();
        std::vector<std::vector<QString>> byColumn(size_t(columns.size()));
        for (; !rs->atEOF(); rs->MoveNext())
            for (qsizetype c = 0; c < columns.size(); ++c)
                if (const QString t = rs->text(columns[c]); !t.trimmed().isEmpty())
                    byColumn[size_t(c)].push_back(t);
        for (qsizetype c = 0; c < columns.size(); ++c) {
            QSet<QString> seen;
            for (const QString &t : byColumn[size_t(c)])
                if (!seen.contains(t)) {
                    seen.insert(t);
                    entries_.push_back({t, columns[c], PinyinName(t), specs.value(t + QChar(0x1f) + columns[c])});
                }
        }
    }

    connect(typed, &QLineEdit::textChanged, this, &DrugSearch::narrow);
    connect(found, &QTableWidget::cellDoubleClicked, this, &DrugSearch::choose);
    connect(buttons, &QDialogButtonBox::accepted, this, &DrugSearch::choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Up and down in the box move through what was found.
    typed->installEventFilter(this);
    narrow();
}

void DrugSearch::narrow()
{
    // Entries whose name starts with what was typed come first; otherwise in
    // menu order.
    std::vector<std::pair<bool, const Entry *>> hits;
    const QString t = typed->text();
    for (const Entry &e : entries_)
        if (const int at = e.name.match(t); at >= 0)
            hits.emplace_back(at != 0, &e);
    std::stable_sort(hits.begin(), hits.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    found->setRowCount(int(hits.size()));
    for (int r = 0; r < int(hits.size()); ++r) {
        found->setItem(r, 0, new QTableWidgetItem(hits[size_t(r)].second->text));
        found->setItem(r, 1, new QTableWidgetItem(hits[size_t(r)].second->category));
        found->setItem(r, 2, new QTableWidgetItem(hits[size_t(r)].second->spec));
    }
    if (!hits.empty())
        found->selectRow(0);
}

bool DrugSearch::eventFilter(QObject *obj, QEvent *ev)
{
    if (obj == typed && ev->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(ev)->key();
        if ((key == Qt::Key_Down || key == Qt::Key_Up) && found->rowCount() > 0) {
            const int r = std::clamp(found->currentRow() + (key == Qt::Key_Down ? 1 : -1), 0, found->rowCount() - 1);
            found->selectRow(r);
            return true;
        }
    }
    return QDialog::eventFilter(obj, ev);
}

void DrugSearch::choose()
{
    const int r = found->currentRow();
    if (r < 0 || found->rowCount() == 0)
        return;
    chosen_ = found->item(r, 0)->text();
    chosenCategory_ = found->item(r, 1)->text();
    accept();
}

}  // namespace xs
