#include "browser/RecordBrowser.h"

#include "data/globals.h"
#include "data/pager.h"
#include "data/recordset.h"
#include "data/sqltext.h"
#include "ui/images.h"
#include "ui/msgbox.h"
#include "ui/rightsgate.h"
#include "ui/twips.h"

#include <QCloseEvent>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

namespace xs {

namespace {

// The tree of a browser. A double-click anywhere in it (on a node or on empty
// space) is one DblClick, as with the old tree control; the selected node is
// what counts, not the point clicked.
class BrowserTree : public QTreeWidget {
public:
    using QTreeWidget::QTreeWidget;
    std::function<void()> onDblClick;

protected:
    void mouseDoubleClickEvent(QMouseEvent *e) override
    {
        QTreeWidget::mouseDoubleClickEvent(e);
        if (onDblClick)
            onDblClick();
    }
};

QGroupBox *frame(QWidget *parent, const char *name, const QString &caption, const int (&r)[4])
{
    auto *f = new QGroupBox(caption, parent);
    f->setObjectName(QString::fromLatin1(name));
    placeTw(f, r[0], r[1], r[2], r[3]);
    return f;
}

void hideWindow(QWidget *w)
{
    if (auto *sub = qobject_cast<QMdiSubWindow *>(w->parentWidget()))
        sub->hide();
    else
        w->hide();
}

// The frame of the tool bar and the tool bar in it (twips); the frames of the
// tree and of the grid are the browser's own (BrowserParams).
const int kToolFrame[4] = {0, 0, 3040, 940};
const int kToolBar[4] = {120, 120, 2895, 840};

const QString kWarn = QStringLiteral("警告");

}  // namespace

RecordBrowser::RecordBrowser(BrowserParams params, QWidget *parent) : XsWindow(parent), p_(std::move(params))
{
    setWindowTitle(QString::fromUtf8(p_.caption));
    setWindowIcon(appIcon());
    setClientSizeTw(p_.clientWidth, p_.clientHeight);

    Frame3 = frame(this, "Frame3", QString(), kToolFrame);
    Toolbar1 = new QToolBar(Frame3);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setIconSize(QSize(32, 32));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    placeTw(Toolbar1, kToolBar[0], kToolBar[1], kToolBar[2], kToolBar[3]);

    // Toolbar entries: caption, and the tag (= key) the handlers dispatch on.
    auto button = [this](const QString &caption, const QString &tag) {
        QAction *a = Toolbar1->addAction(QIcon(toolbarPixmap(tag)), caption);
        a->setObjectName(tag);
        a->setData(tag);
        a->setToolTip(caption);
        connect(a, &QAction::triggered, this, [this, tag] { Toolbar1_ButtonClick(tag); });
        if (auto *b = qobject_cast<QToolButton *>(Toolbar1->widgetForAction(a)))
            b->setAccessibleName(caption);
        return a;
    };
    findAction = button(QStringLiteral("查找"), QStringLiteral("find"));
    modiAction = button(QStringLiteral("修改"), QStringLiteral("modi"));
    delAction = button(QStringLiteral("删除"), QStringLiteral("del"));

    // 打印 is a drop-down: the button itself does nothing, its menu acts.
    auto *printMenu = new QMenu(this);
    printMenu->setObjectName(QStringLiteral("printMenu"));
    dangAction = printMenu->addAction(QStringLiteral("打印当前记录"));
    dangAction->setObjectName(QStringLiteral("dang"));
    dangAction->setData(QStringLiteral("dang"));
    allAction = printMenu->addAction(QStringLiteral("打印全部记录"));
    allAction->setObjectName(QStringLiteral("all"));
    allAction->setData(QStringLiteral("all"));
    connect(printMenu, &QMenu::triggered, this, [this](QAction *a) { Toolbar1_ButtonMenuClick(a->data().toString()); });
    printButton = new QToolButton(Toolbar1);
    printButton->setObjectName(QStringLiteral("print"));
    auto *printAction = new QAction(QIcon(toolbarPixmap(QStringLiteral("print"))), QStringLiteral("打印"), printButton);
    printAction->setData(QStringLiteral("print"));
    printAction->setToolTip(QStringLiteral("打印"));
    printButton->setDefaultAction(printAction);
    printButton->setMenu(printMenu);
    printButton->setPopupMode(QToolButton::MenuButtonPopup);
    printButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    printButton->setIconSize(QSize(32, 32));
    printButton->setAccessibleName(QStringLiteral("打印"));
    connect(printAction, &QAction::triggered, this, [this] { Toolbar1_ButtonClick(QStringLiteral("print")); });
    Toolbar1->addWidget(printButton);

    Frame1 = frame(this, "Frame1", QStringLiteral("浏览数据"), p_.frame1);
    auto *tree = new BrowserTree(Frame1);
    tree->onDblClick = [this] { TreeView1_DblClick(); };
    TreeView1 = tree;
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setAccessibleName(QStringLiteral("浏览数据"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setIconSize(QSize(16, 16));
    TreeView1->setRootIsDecorated(p_.rootLines);
    TreeView1->setUniformRowHeights(true);
    placeTw(TreeView1, p_.tree[0], p_.tree[1], p_.tree[2], p_.tree[3]);

    Frame2 = frame(this, "Frame2", QString(), p_.frame2);
    MSF1 = new FlexGrid(Frame2);
    MSF1->setObjectName(QStringLiteral("MSF1"));
    MSF1->setAccessibleName(QString::fromUtf8(p_.caption));
    placeTw(MSF1, p_.grid[0], p_.grid[1], p_.grid[2], p_.grid[3]);
    // The old grid starts with two rows and two columns, one of each fixed.
    MSF1->setCols(2);
    MSF1->setRows(2);
    connect(MSF1, &FlexGrid::DblClick, this, &RecordBrowser::MSF1_DblClick);
}

void RecordBrowser::buildTree()
{
    TreeView1->clear();
    TreeView1->setRootIsDecorated(p_.rootLines);

    // Read both lists first; a statement that fails gives an empty list.
    QStringList groups;
    if (RecordsetPtr rs = runsql(QStringLiteral("select distinct 年级 from class order by 年级")))
        for (; !rs->atEOF(); rs->MoveNext())
            groups << rs->text(0);
    std::vector<std::pair<QString, QString>> pairs;
    if (RecordsetPtr rs = runsql(QStringLiteral("select distinct 年级,科室 from class order by 年级,科室")))
        for (; !rs->atEOF(); rs->MoveNext())
            pairs.emplace_back(rs->text(0), rs->text(1));

    const QIcon groupIcon(treePixmap(QStringLiteral("class")));
    const QIcon deptIcon(treePixmap(QStringLiteral("cla2")));
    QString key = QStringLiteral("年级");
    QList<QTreeWidgetItem *> top;
    top.reserve(groups.size());
    for (const QString &g : groups) {
        auto *node = new QTreeWidgetItem(QStringList{g});
        node->setData(0, BrowserKeyRole, key);
        node->setIcon(0, groupIcon);
        // The database compares text ignoring letter case, so a pair belongs
        // to the group that "distinct" returned for it in whatever case.
        for (const auto &[pg, dept] : pairs) {
            if (pg.compare(g, Qt::CaseInsensitive) != 0)
                continue;
            auto *child = new QTreeWidgetItem(node, QStringList{dept});
            child->setIcon(0, deptIcon);
        }
        top << node;
        key += QLatin1Char('1');
    }
    TreeView1->addTopLevelItems(top);  // added collapsed
}

void RecordBrowser::writeTitles()
{
    const int n = int(p_.columns.size());
    MSF1->setRedraw(false);
    MSF1->Clear();
    MSF1->setCols(n);
    for (int c = 1; c < n; ++c)
        MSF1->setTextMatrix(0, c, QString::fromUtf8(p_.columns[size_t(c)].title));
    for (int c = 0; c < n; ++c)
        MSF1->setColWidth(c, p_.columns[size_t(c)].width);
    for (int c = 1; c < n; ++c)
        MSF1->setColAlignment(c, Qt::AlignLeft | Qt::AlignTop);
    MSF1->setRedraw(true);
    MSF1->setRow(1);
    MSF1->setCol(0);
}

void RecordBrowser::listRows()
{
    // The listing only ever reads. After a deletion SqlText still holds the
    // delete statement when no tree node was selected; a later refresh must
    // never run it again (it would delete records added since).
    const QString statement = SqlText.trimmed();
    std::unique_ptr<Pager> rows;
    if (!isActionStatement(statement)) {
        rows = PrefetchedListing::take(statement);
        if (!rows)
            rows = Pager::open(statement);
    }
    if (!rows || rows->isEmpty()) {
        if (!*p_.queryFlag)
            return;  // browsing: the grid keeps what it shows
        // The query found records that this listing does not show (they name
        // no department): go back to the query dialog.
        hideWindow(this);
        p_.showQuery();
        MsgBox(p_.noRecordQueryMessage, vbOKOnly, QStringLiteral("查询"));
        if (QWidget *query = p_.findQuery()) {
            WindowRegistry::bringToFront(query);
            p_.focusQueryFirstBox(query);
        }
        return;
    }

    // The grid shows the listing as a window onto it: field i - 1 of each row
    // in column i, read as the rows are shown.
    MSF1->setRedraw(false);
    if (p_.keepEmptyRows) {
        // Rows 1..n take the records and 49 empty rows follow; the current row
        // is the first empty one.
        MSF1->setSource(querySource(std::move(rows)), 49);
        MSF1->setRedraw(true);
        MSF1->setRowAfterData();
    } else {
        // Exactly one grid row per listed row; no row is current until the
        // user clicks one.
        MSF1->setSource(querySource(std::move(rows)), 0);
        MSF1->setRedraw(true);
        MSF1->setRow(0);
    }
}

void RecordBrowser::TreeView1_DblClick()
{
    QTreeWidgetItem *node = TreeView1->currentItem();
    if (!node) {
        MSF1->Clear();
        return;
    }
    listNode();
}

// Lists the rows of the selected node: statement into SqlText and printstr,
// caption back to the browsing one, titles, rows.
void RecordBrowser::listNode()
{
    QTreeWidgetItem *node = TreeView1->currentItem();
    if (!node) {
        MSF1->Clear();
        return;
    }
    QString t = node->text(0);
    if (p_.trimNodeText)
        t = t.trimmed();
    const QString v = q(t);
    SqlText = p_.nodeHead + v + p_.nodeMiddle + v + p_.nodeTail;
    printstr = SqlText;
    setWindowTitle(QString::fromUtf8(p_.caption));
    writeTitles();
    listRows();
}

QString RecordBrowser::currentKey() const
{
    const int r = MSF1->Row();
    return r >= 1 ? MSF1->TextMatrix(r, p_.keyColumn).trimmed() : QString();
}

bool RecordBrowser::rowSelected() const
{
    const int r = MSF1->Row();
    return r >= 1 && !MSF1->TextMatrix(r, p_.selectColumn).trimmed().isEmpty();
}

bool RecordBrowser::mayEdit(const QString &refusal)
{
    RightFlag = userright(2);
    if (gatePasses(Gate::EditButton, RightFlag))
        return true;
    if (rightsUnread(RightFlag))
        return false;
    MsgBox(refusal, vbInformation | vbOKOnly, kRefusalTitle);
    return false;
}

void RecordBrowser::Toolbar1_ButtonClick(const QString &tag)
{
    if (tag == QLatin1String("find"))
        p_.showQuery();
    else if (tag == QLatin1String("modi"))
        modify();
    else if (tag == QLatin1String("del"))
        remove();
    // "print": the button itself does nothing; its menu entries act.
}

void RecordBrowser::modify()
{
    if (!rowSelected()) {
        MsgBox(QStringLiteral("你还没有选择记录！"), vbExclamation | vbOKOnly, kWarn);
        return;
    }
    if (!mayEdit(QStringLiteral("对不起，你是只读用户不能修改记录，请与管理员联系！")))
        return;
    *p_.editMode = true;
    p_.openEditor();
}

void RecordBrowser::remove()
{
    const QString refusal = QStringLiteral("对不起，你是只读用户不能删除记录，请与管理员联系！");
    if (p_.rightsBeforeSelection && !mayEdit(refusal))
        return;
    if (!rowSelected()) {
        MsgBox(QStringLiteral("你还没有选择记录！"), vbExclamation | vbOKOnly, kWarn);
        return;
    }
    if (!p_.rightsBeforeSelection && !mayEdit(refusal))
        return;

    // The statements take the key as stored: a name stored with blanks around
    // it is not the bare name, which may be another row's.
    const QString stored = MSF1->TextMatrix(MSF1->Row(), p_.keyColumn);
    const QString key = stored.trimmed();
    const QString question = QStringLiteral("确定要删除门诊号为 ") + key + QStringLiteral(" 的记录吗？")
                             + QStringLiteral("\n\r") + p_.deleteQuestionTail;
    if (MsgBox(question, vbExclamation | vbOKCancel, kWarn) != vbOK)
        return;

    // All statements of one deletion succeed together or not at all: a
    // department never goes without its case records going too.
    SqlOutcome outcome;
    bool ok = true;
    {
        Transaction tx;
        for (const QString &head : p_.deleteHeads) {
            SqlText = head + q(stored) + QStringLiteral("'");
            runsql(SqlText, &outcome);
            if (!(ok = outcome.ok))
                break;
        }
        if (ok && !tx.commit()) {
            ok = false;
            outcome.error = QStringLiteral("提交失败");
        }
    }
    // Told after the transaction ended, so no write lock waits on the user.
    if (!ok) {
        MsgBox(QStringLiteral("删除失败，记录没有改变：") + outcome.error, vbExclamation | vbOKOnly, kWarn);
        return;
    }
    listNode();
}

void RecordBrowser::Toolbar1_ButtonMenuClick(const QString &key)
{
    if (key == QLatin1String("dang")) {
        if (printstr.trimmed().isEmpty()) {
            MsgBox(QStringLiteral("没有当前记录！"), vbExclamation | vbOKOnly, kWarn);
            return;
        }
        print(printstr);
    } else if (key == QLatin1String("all")) {
        print(p_.reportData->command().CommandText);
    }
}

// Reopens the report's recordset on `source` and shows the report modally,
// unless there is no row to print.
void RecordBrowser::print(const QString &source)
{
    p_.reportData->Open(source);
    if (p_.reportData->atEOF()) {
        MsgBox(QStringLiteral("没有当前记录！"), vbExclamation | vbOKOnly, kWarn);
        return;
    }
    // The report reads the statement itself; holding the first row open
    // would pin a read snapshot for as long as the browser lives.
    p_.reportData->release();
    p_.showReport(true);
}

// The report as its recordset last stood, in a window of its own.
void RecordBrowser::MSF1_DblClick() { p_.showReport(false); }

void RecordBrowser::activated()
{
    if (*p_.queryFlag) {
        if (QWidget *query = p_.findQuery()) {
            WindowRegistry::bringToFront(query);
            // This runs inside the MDI area's activation of the browser, which
            // puts the browser back on top once it returns: the dialog would
            // keep the focus while hidden behind it. Bring it forward again
            // once that activation is over.
            QTimer::singleShot(0, query, [self = QPointer<RecordBrowser>(this), query] {
                if (self && *self->p_.queryFlag && self->p_.findQuery() == query)
                    WindowRegistry::bringToFront(query);
            });
        }
        return;
    }
    if (*p_.editMode) {
        *p_.editMode = false;
        // Back from the editor: list the same statement again. That is this
        // browser's own statement; SqlText is shared, and other windows (user
        // adding, the other query) may have put theirs there meanwhile. A
        // browser opened after the one that started the modification was
        // closed has listed nothing: it builds its tree instead.
        if (!printstr.isEmpty()) {
            SqlText = printstr;
            listRows();
            return;
        }
    }
    buildTree();
}

void RecordBrowser::closeEvent(QCloseEvent *e)
{
    if (p_.clearQueryFlagOnClose && *p_.queryFlag) {
        *p_.queryFlag = false;
        if (QWidget *query = p_.findQuery())
            p_.focusQueryFirstBox(query);
    }
    XsWindow::closeEvent(e);
}

}  // namespace xs
