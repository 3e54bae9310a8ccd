#include "prescribe/Form2.h"

#include "data/caserecord.h"
#include "data/dates.h"
#include "data/globals.h"
#include "data/pager.h"
#include "data/recordset.h"
#include "data/rights.h"
#include "data/schema.h"
#include "data/sqltext.h"
#include "prescribe/DataReport1.h"
#include "prescribe/drugsearch.h"
#include "prescribe/prescribefields.h"
#include "prescribe/rxdialog.h"
#include "prescribe/rxsheet.h"
#include "prescribe/worktable.h"
#include "ui/entertab.h"
#include "ui/fonts.h"
#include "ui/idhint.h"
#include "ui/images.h"
#include "ui/layout.h"
#include "ui/msgbox.h"
#include "ui/pinyinfilter.h"
#include "ui/rightsgate.h"
#include "ui/twips.h"

#include <QApplication>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

namespace xs {

namespace {
const QString kWarning = QStringLiteral("警告");
// A 门诊号 the archive already holds: 生成处方 and 保存 refuse it alike.
const QString kNumberTaken = QStringLiteral("已经存在该门诊号的记录,门诊号不能重复！");

// The prescribing gate of 开药, asked again at the moment of an action: the
// window stays open when another user signs in, so the user signed in now
// must hold the right. Refuses with the gate's message.
bool prescribingAllowed()
{
    RightFlag = userright(1);
    if (gatePasses(Gate::Prescribing, RightFlag))
        return true;
    if (rightsUnread(RightFlag))
        return false;
    MsgBox(refusalText(Gate::Prescribing), vbInformation | vbOKOnly, kRefusalTitle);
    return false;
}

// Shrinks a caption's font until it fits `width` pixels on one line.
void fitCaption(QLabel *label, int width)
{
    QFont f = label->font();
    while (QFontMetrics(f).horizontalAdvance(label->text()) > width && f.pointSizeF() > 6.5)
        f.setPointSizeF(f.pointSizeF() - 0.5);
    label->setFont(f);
}

// Tells the user that a write did not happen; the window keeps everything.
void tellFailure(const QString &what, const QString &reason)
{
    QString text = what;
    if (!reason.isEmpty())
        text += QStringLiteral("\n") + reason;
    MsgBox(text, vbExclamation | vbOKOnly, kWarning);
}
}  // namespace

namespace {
using C = Control;
// The controls on the page, in twips; the patient fields inside Frame2 follow
// the field table (prescribeFields).
const Control kControls[] = {
    {C::Grid, "MSF1", "", 0, 0, 23775, 2295},
    {C::Grid, "MSHFlexGrid1", "", 0, 2400, 23775, 2415},
    {C::Frame, "Frame2", "Frame2", 0, 4800, 13500, 8055},
    {C::List, "List1", "", 13560, 4920, 4335, 7620},
    {C::Frame, "Frame1", "Frame1", 18000, 4920, 1935, 7815},
    {C::Caret, "Text1", "", 360, 360, 1095, 495, "Frame1"},
    {C::Label, "Label4", "输入数量", 480, 1080, 1095, 255, "Frame1", "Text1"},
    {C::List, "List2", "", 19920, 4920, 3855, 7620},
};
}  // namespace

Form2::Form2(QWidget *parent) : XsWindow(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(appIcon());
    setFont(oldFont(QStringLiteral("宋体"), 9));
    buildMenus();

    // The controls lie on one page of the old window's size (23775 x 12855
    // twips); the page scrolls when the screen is smaller.
    client = new QScrollArea(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFrameShape(QFrame::NoFrame);
    client->setFocusPolicy(Qt::NoFocus);
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("page"));
    page->setFixedSize(tw(23775), tw(12855));
    client->setWidget(page);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(menuBar);
    layout->addWidget(client);

    const Controls c = buildControls(page, kControls);
    MSF1 = c.get<FlexGrid>("MSF1");
    MSF1->setAccessibleName(QStringLiteral("病例档案"));
    MSHFlexGrid1 = c.get<FlexGrid>("MSHFlexGrid1");
    MSHFlexGrid1->setAccessibleName(QStringLiteral("打印库"));
    Frame2 = c.get<QGroupBox>("Frame2");
    buildFields();
    List1 = c.get<QListWidget>("List1");
    List1->setAccessibleName(QStringLiteral("药品目录"));
    new PinyinListFilter(List1);
    Frame1 = c.get<QGroupBox>("Frame1");
    Text1 = c.get<QLineEdit>("Text1");
    Label4 = c.get<QLabel>("Label4");
    List2 = c.get<QListWidget>("List2");
    List2->setAccessibleName(QStringLiteral("已选药品"));

    // Tab order, which Enter follows as well.
    auto box = [this](int i) { return Text2[size_t(i)]->editor(); };
    const std::vector<QWidget *> order = {Text1,   List1,   List2,     box(13),     box(12),   box(11),   box(10),
                                          box(9),  box(0),  box(1),    box(2),      box(3),    box(4),    box(5),
                                          box(6),  box(7),  box(8),    box(14),     Combo1[0], Combo1[1], MSF1,
                                          box(15), box(16), Combo1[2], MSHFlexGrid1};
    for (size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    for (TextBox *t : Text2)
        EnterAsTab::install(t->editor());
    for (QComboBox *combo : Combo1)
        EnterAsTab::install(combo);

    connect(List1, &QListWidget::itemDoubleClicked, this, &Form2::List1_DblClick);
    connect(MSHFlexGrid1, &FlexGrid::DblClick, this, &Form2::MSHFlexGrid1_DblClick);

    // Which window had the focus before this one: activation runs the set-up
    // only when the user comes from another window of the application.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow *w) {
        if (w && w == windowHandle())
            return;
        if (!w)
            came_ = Came::Outside;
        else if (w->modality() != Qt::NonModal || w->type() == Qt::Popup || w->type() == Qt::ToolTip)
            came_ = Came::Modal;
        else
            came_ = Came::Window;
    });

    // Opening: the category 消化, empty fields, both grids.
    drugload(QStringLiteral("消化"));
    for (TextBox *t : Text2)
        t->setText(QString());
    fillGrid(MSF1, QStringLiteral("xj"));
    fillGrid(MSHFlexGrid1, QStringLiteral("yc"));

    const QScreen *s = QGuiApplication::primaryScreen();
    resize(openingSize(s ? s->availableSize() : QSize(1920, 1040)));
}

void Form2::buildMenus()
{
    // Menus: names equal to captions, except the prescription menu.
    menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    auto addMenu = [this](const QString &name, const QString &caption) {
        QMenu *m = menuBar->addMenu(caption);
        m->setObjectName(name);
        m->menuAction()->setObjectName(name);
        return m;
    };
    auto addEntry = [](QMenu *menu, const QString &name, const QString &caption) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(name);
        return a;
    };
    wenjian = addMenu(QStringLiteral("文件"), QStringLiteral("文件"));
    baocun = addEntry(wenjian, QStringLiteral("保存"), QStringLiteral("保存"));
    tuichu = addEntry(wenjian, QStringLiteral("退出"), QStringLiteral("退出"));
    yaowuchaxun = addMenu(QStringLiteral("药物查询"), QStringLiteral("药物查询"));
    for (int i = 0; i < 17; ++i) {
        const QString column = catalogueColumns()[i];
        drugEntry[size_t(i)] = addEntry(yaowuchaxun, column, column);
        connect(drugEntry[size_t(i)], &QAction::triggered, this, [this, column] { drugload(column); });
    }
    yaowuchaxun->addSeparator();
    chazhao = addEntry(yaowuchaxun, QStringLiteral("chazhao"), QStringLiteral("查找药品…"));
    chazhao->setShortcut(QKeySequence(Qt::Key_F3));
    connect(chazhao, &QAction::triggered, this, &Form2::chazhao_Click);
    chufang = addMenu(QStringLiteral("chufang"), QStringLiteral("处方"));
    sccf = addEntry(chufang, QStringLiteral("sccf"), QStringLiteral("生成处方"));
    ck = addEntry(chufang, QStringLiteral("ck"), QStringLiteral("清空打印库(按2次）"));
    dayin = addEntry(chufang, QStringLiteral("dayin"), QStringLiteral("打印"));
    connect(baocun, &QAction::triggered, this, &Form2::baocun_Click);
    connect(tuichu, &QAction::triggered, this, &Form2::tuichu_Click);
    connect(sccf, &QAction::triggered, this, &Form2::sccf_Click);
    connect(ck, &QAction::triggered, this, &Form2::ck_Click);
    connect(dayin, &QAction::triggered, this, &Form2::dayin_Click);
    chufang->addSeparator();
    chufangjian = addEntry(chufang, QStringLiteral("chufangjian"), QStringLiteral("处方笺…"));
    connect(chufangjian, &QAction::triggered, this, &Form2::chufangjian_Click);
}

// The patient fields in Frame2, each with its label; the date of the visit is
// selected whole when it gets the focus.
void Form2::buildFields()
{
    for (int column = 0; column < 20; ++column) {
        const CaseFieldSlot slot = caseFieldSlots()[size_t(column)];
        const PrescribeField &f = prescribeFields()[size_t(column)];
        QWidget *box;
        if (slot.combo) {
            auto *c = new QComboBox(Frame2);
            c->setObjectName(QStringLiteral("Combo1(%1)").arg(slot.index));
            if (slot.index != 1) {
                // 性别 and 婚否: typed, with a list that stays empty.
                c->setEditable(true);
                c->setInsertPolicy(QComboBox::NoInsert);
                c->setEditText(QStringLiteral("Combo1"));
            }
            Combo1[size_t(slot.index)] = c;
            box = c;
        } else {
            const bool multi = slot.index == 12 || slot.index == 13;
            auto *t = new TextBox(multi ? TextBox::MultiLine : TextBox::SingleLine, Frame2);
            t->setObjectName(QStringLiteral("Text2(%1)").arg(slot.index));
            Text2[size_t(slot.index)] = t;
            box = t;
        }
        placeTw(box, f.left, f.top, f.width, f.height);

        auto *label = new QLabel(QString::fromUtf8(f.caption), Frame2);
        label->setObjectName(QStringLiteral("Label2(%1)").arg(f.label));
        pairLabel(label, box);
        if (slot.index == 12 || slot.index == 13) {
            // 药名 and 药量: the label stands above the box.
            placeTw(label, f.left, 60, f.width, 285);
        } else {
            // To the left of the box, in the gap that the box before it on the
            // same line leaves; the caption stays on one line.
            int gapStart = 0;
            for (const PrescribeField &o : prescribeFields())
                if (o.top == f.top && o.left + o.width <= f.left)
                    gapStart = std::max(gapStart, o.left + o.width);
            const int width = f.left - gapStart - 30;
            placeTw(label, gapStart + 15, f.top, width, std::min(f.height, 375));
            fitCaption(label, tw(width));
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        if (!slot.combo && f.height > 375 && !Text2[size_t(slot.index)]->isMultiLine()) {
            // A tall one-line box: the line fills the box and the text stands at its top.
            QLineEdit *line = Text2[size_t(slot.index)]->lineEdit();
            line->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
            line->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
        Label2[size_t(f.label)] = label;
    }
    Text2[kVisitBox]->editor()->installEventFilter(this);
    new IdCardHint(Text2[kIdCardBox], Combo1[kSexCombo], Text2[kBirthBox]);
}

QSize Form2::openingSize(const QSize &available) const
{
    // Room for the window frame that the window manager adds.
    const QSize want(tw(23775), tw(12855) + menuBar->sizeHint().height());
    return want.boundedTo(available - QSize(16, 40));
}

void Form2::fillGrid(FlexGrid *grid, const QString &table)
{
    grid->setRedraw(false);
    grid->setRows(0);
    // The grid shows the table as a window onto it: pages are read as they
    // are shown, never the whole table at once.
    std::unique_ptr<Pager> rows = Pager::open(table);
    QStringList titles;
    if (rows)
        for (int c = 0; c < rows->columnCount(); ++c)
            titles << rows->columnName(c);
    else
        titles = caseColumns();
    const int cols = int(titles.size());
    grid->setCols(cols + 1);
    grid->setRows(1);
    for (int c = 0; c < cols; ++c)
        grid->setTextMatrix(0, c + 1, titles[c]);
    const bool any = rows && !rows->isEmpty();
    if (rows)
        grid->setSource(querySource(std::move(rows)));
    grid->setColWidth(0, 240);
    grid->setRedraw(true);
    if (any)
        grid->setRow(1);
}

void Form2::activated()
{
    const bool run = !setUp_ || came_ == Came::Window;
    setUp_ = true;
    came_ = Came::Nothing;
    if (!run)
        return;
    Text2[0]->setFocus();
    load1();
}

void Form2::load1()
{
    RecordsetPtr rs = runsql(QStringLiteral("select DISTINCT 科室 from class order by 科室"));
    if (!rs || rs->atEOF()) {
        MsgBox(QStringLiteral("请先设置科室部署！"), vbOKOnly, kWarning);
        return;
    }
    QStringList departments;
    for (; !rs->atEOF(); rs->MoveNext())
        departments << rs->text(0);
    rs.reset();
    Combo1[kDeptCombo]->clear();
    Combo1[kDeptCombo]->addItems(departments);
    Combo1[kDeptCombo]->setCurrentIndex(0);

    if (CaseEditMode) {
        setWindowTitle(QStringLiteral("修改"));
        const QString key = MSF1->Row() >= 1 ? MSF1->TextMatrix(MSF1->Row(), 1).trimmed() : QString();
        RecordsetPtr row = runsql(QStringLiteral("select * from yc where 门诊号='") + q(key) + QStringLiteral("'"));
        // The modification is stored into the work row loaded here, whatever
        // row another window has chosen since.
        loadedKey_.reset();
        if (row && !row->atEOF()) {
            for (int c = 0; c < 20 && c < row->fieldCount(); ++c)
                setFieldText(c, row->text(c));
            loadedKey_ = key;
        }
        return;
    }
    setWindowTitle(QStringLiteral("登记"));
    loadedKey_.reset();
    for (TextBox *t : Text2)
        t->setText(QString());
    Text2[kVisitBox]->setText(todayText());
}

void Form2::drugload(const QString &column)
{
    category_ = column;
    for (int i = List1->count() - 1; i >= 0; --i)
        delete List1->takeItem(i);
    RecordsetPtr rs = runsql(QStringLiteral("表1"));
    if (!rs)
        return;
    const int c = rs->fieldIndex(column);
    if (c < 0)
        return;
    QStringList items;
    for (; !rs->atEOF(); rs->MoveNext())
        items << rs->text(c);
    rs.reset();
    List1->addItems(items);
}

QString Form2::fieldText(int column) const
{
    const CaseFieldSlot f = caseFieldSlots()[size_t(column)];
    return f.combo ? Combo1[size_t(f.index)]->currentText() : Text2[size_t(f.index)]->text();
}

void Form2::setFieldText(int column, const QString &text)
{
    const CaseFieldSlot f = caseFieldSlots()[size_t(column)];
    if (!f.combo) {
        Text2[size_t(f.index)]->setText(text);
    } else if (QComboBox *c = Combo1[size_t(f.index)]; c->isEditable()) {
        c->setEditText(text);
    } else if (const int i = c->findText(text, Qt::MatchFixedString); i >= 0) {
        c->setCurrentIndex(i);
    }
}

bool Form2::eventFilter(QObject *obj, QEvent *ev)
{
    if (ev->type() == QEvent::FocusIn && obj == Text2[kVisitBox]->editor())
        Text2[kVisitBox]->selectAll();
    return XsWindow::eventFilter(obj, ev);
}

QString Form2::workRowKey() const
{
    const int r = MSHFlexGrid1->Row();
    return r >= 1 ? MSHFlexGrid1->TextMatrix(r, 1).trimmed() : QString();
}

Form2 *Form2::reopen()
{
    close();
    // This window is deleted later; its pages of the tables and their
    // background counts go now, before the fresh window reads its own.
    MSF1->setRows(0);
    MSHFlexGrid1->setRows(0);
    // The fresh window's archive grid lays out its rows in this one's header.
    const FlexGrid::RowHeaderHandOver handOver(MSF1);
    return WindowRegistry::show<Form2>();
}

void Form2::List1_DblClick()
{
    if (const QListWidgetItem *item = List1->currentItem())
        pickEntry(item->text(), category_);
}

void Form2::chazhao_Click()
{
    DrugSearch search(this);
    if (search.exec() == QDialog::Accepted)
        pickEntry(search.chosen(), search.chosenCategory());
}

void Form2::pickEntry(const QString &entry, const QString &category)
{
    for (int i = 0; i < List2->count(); ++i)
        if (List2->item(i)->text() == entry)
            return;
    const QString quantity = Text1->text();
    picks_.push_back({entry, category, quantity});
    List2->addItem(entry);
    List2->addItem(quantity);
    Text2[kDrugNameBox]->setText(Text2[kDrugNameBox]->text() + entry);
    Text2[kDrugAmountBox]->setText(Text2[kDrugAmountBox]->text() + quantity);
}

void Form2::sccf_Click()
{
    if (!prescribingAllowed())
        return;
    WorkRecord typed;
    for (int c = 0; c < 20; ++c)
        typed[size_t(c)] = fieldText(c);
    const GenerateOutcome g = generatePrescription(typed, CaseEditMode, loadedKey_, picks_);
    QWidget *box = g.box >= 0 ? Text2[size_t(g.box)] : nullptr;
    const QString notStored = CaseEditMode ? QStringLiteral("处方没有修改。") : QStringLiteral("处方没有保存。");
    switch (g.result) {
    case GenerateOutcome::EmptyBox: {
        const PrescribeField &f = prescribeFields()[size_t(columnOfTextBox(g.box))];
        refuseAt(box, Label2[size_t(f.label)]->text() + QStringLiteral("不能为空！"), vbExclamation);
        return;
    }
    case GenerateOutcome::NumberTaken:
        refuseAt(box, kNumberTaken, vbExclamation);
        return;
    case GenerateOutcome::CheckFailed:
        tellFailure(QStringLiteral("无法检查门诊号是否重复，处方没有保存。"), g.error);
        return;
    case GenerateOutcome::NotADate:
        refuseAt(box, QStringLiteral("应输入日期 mm-dd-yy"), vbInformation);
        return;
    case GenerateOutcome::NothingLoaded:
        MsgBox(QStringLiteral("处方没有修改：打开窗口时没有找到要修改的处方。\n请关闭本窗口，重新选择要修改的病例。"),
               vbExclamation | vbOKOnly, kWarning);
        return;
    case GenerateOutcome::WriteFailed:
        tellFailure(notStored, g.error);
        return;
    case GenerateOutcome::RowGone:
        // Nothing was stored, so the window must not close as if it had been.
        MsgBox(QStringLiteral("处方没有修改：打印库中已经没有门诊号为 ") + *loadedKey_
                   + QStringLiteral(" 的处方。\n请关闭本窗口，重新选择要修改的病例。"),
               vbExclamation | vbOKOnly, kWarning);
        return;
    case GenerateOutcome::Stored:
        break;
    }
    if (CaseEditMode)
        close();
    else
        reopen();
}

void Form2::baocun_Click()
{
    if (!prescribingAllowed())
        return;
    const QString key = workRowKey();
    if (!key.isEmpty()) {
        // All or nothing, and the work table stays as it is in every case.
        const ArchiveOutcome a = archiveWorkRows(key);
        switch (a.result) {
        case ArchiveOutcome::Copied:
            break;
        case ArchiveOutcome::AlreadyArchived:
            MsgBox(kNumberTaken, vbExclamation | vbOKOnly, kWarning);
            return;
        case ArchiveOutcome::Doubled:
            MsgBox(QStringLiteral("打印库中有 %1 条门诊号为 ").arg(a.workRows) + key
                       + QStringLiteral(" 的处方,档案中每个门诊号只能保存一条！\n病例没有保存到档案。"
                                        "请先删除多余的处方，再保存。"),
                   vbExclamation | vbOKOnly, kWarning);
            return;
        case ArchiveOutcome::Failed:
            tellFailure(QStringLiteral("病例没有保存到档案。"), a.error);
            return;
        }
    }
    reopen();
}

void Form2::MSHFlexGrid1_DblClick()
{
    if (!prescribingAllowed())
        return;
    const QString key = workRowKey();
    if (key.isEmpty()) {
        MsgBox(QStringLiteral("你还没有选择记录！"), vbExclamation | vbOKOnly, kWarning);
    } else if (MsgBox(QStringLiteral("确定要删除门诊号为 ") + key + QStringLiteral(" 的记录吗？")
                          + QStringLiteral("\n\r该操作会导致该病例的丢失！确定吗？"),
                      vbExclamation | vbOKCancel, kWarning)
               == vbOK) {
        if (const WorkWrite w = removeWorkRows(key); !w.ok) {
            tellFailure(QStringLiteral("记录没有删除。"), w.error);
            return;
        }
    }
    reopen();
}

void Form2::ck_Click()
{
    if (!prescribingAllowed())
        return;
    // The work table is emptied first: when that fails, the window keeps
    // everything and says so.
    if (const WorkWrite w = clearWorkTable(); !w.ok) {
        tellFailure(QStringLiteral("打印库没有清空。"), w.error);
        return;
    }
    for (int i = List2->count() - 1; i >= 0; --i)
        delete List2->takeItem(i);
    picks_.clear();
    for (TextBox *t : Text2)
        t->setText(QString());
    Combo1[kSexCombo]->setEditText(QString());
    Combo1[kMarriedCombo]->setEditText(QString());
    reopen();
}

void Form2::dayin_Click()
{
    // Every row of the work table as it is now; the window waits until the
    // user closes the preview, and is unchanged afterwards.
    DataReport1::Show(true);
}

void Form2::chufangjian_Click()
{
    if (!prescribingAllowed())
        return;
    const QString key = workRowKey();
    if (key.isEmpty()) {
        MsgBox(QStringLiteral("请先在打印库中选择要开处方笺的处方。"), vbExclamation | vbOKOnly, kWarning);
        return;
    }
    QString why;
    const std::optional<RxHeader> header = workHeader(key, &why);
    const std::optional<std::vector<RxLine>> lines = header ? workLines(key, &why) : std::nullopt;
    if (!lines) {
        tellFailure(header || !why.isEmpty() ? QStringLiteral("无法读取门诊号为 %1 的处方。").arg(key)
                                             : QStringLiteral("打印库中已经没有门诊号为 %1 的处方。").arg(key),
                    why);
        return;
    }
    if (lines->empty()) {
        MsgBox(QStringLiteral("门诊号为 %1 的处方中没有从药品列表选取的药品。\n"
                              "请在药品列表中选药，生成处方后再开处方笺。")
                   .arg(key),
               vbExclamation | vbOKOnly, kWarning);
        return;
    }
    RxDialog dialog(*header, *lines, this);
    // What is previewed is kept first, so that the sheet printed and the
    // lines stored are the same; a failed write prints nothing.
    const auto keep = [&](const std::vector<RxLine> &edited) {
        QString failed;
        if (replaceWorkLines(key, edited, &failed))
            return true;
        tellFailure(QStringLiteral("处方笺的修改没有保存，请再试一次。"), failed);
        return false;
    };
    dialog.setPreview([&](const RxHeader &h, const std::vector<RxLine> &edited) {
        if (keep(edited))
            showPrescription(h, edited, &dialog);
    });
    // 确定 keeps the edits; when they cannot be kept the dialog stays open with them.
    while (dialog.exec() == QDialog::Accepted)
        if (keep(dialog.lines()))
            return;
}

void Form2::tuichu_Click() { close(); }

}  // namespace xs
