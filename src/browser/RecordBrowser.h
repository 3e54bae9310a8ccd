#pragma once
#include "report/dataenv.h"
#include "ui/flexgrid.h"
#include "ui/window.h"

#include <QGroupBox>
#include <QString>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <functional>
#include <vector>

namespace xs {

class ReportPreview;

// Item data role holding a tree node's key ("年级", "年级1", ...).
inline constexpr int BrowserKeyRole = Qt::UserRole;

// One column of a browser grid: its title in row 0 and its width in twips.
struct BrowserColumn {
    const char *title;
    int width;
};

// Everything in which the case record browser and the department browser
// differ. Both windows are RecordBrowser instances built from one of these.
struct BrowserParams {
    // Window
    const char *caption;            // design caption, also set again by a node listing
    int clientWidth, clientHeight;  // twips
    // Frame1 / TreeView1 / Frame2 / MSF1 rectangles (left, top, width, height, twips)
    int frame1[4], tree[4], frame2[4], grid[4];
    bool rootLines;  // the tree draws lines between its top-level nodes

    // Grid: column 0 first (empty title), then the listed columns.
    std::vector<BrowserColumn> columns;
    bool keepEmptyRows;  // true: 50 + n rows, current row n + 1; false: n + 1 rows
    int keyColumn;       // grid column identifying a row (门诊号 / 科室)
    int selectColumn;    // grid column whose emptiness means "no row selected"

    // Statements. The node listing is nodeHead + t + nodeMiddle + t + nodeTail,
    // t the node text (trimmed when trimNodeText).
    QString nodeHead, nodeMiddle, nodeTail;
    bool trimNodeText;
    // Delete statements, each followed by the key and "'"; run in order.
    std::vector<QString> deleteHeads;
    QString deleteQuestionTail;  // second line of the delete question
    bool rightsBeforeSelection;  // 删除 asks for the right before testing the row

    QString noRecordQueryMessage;  // showdata's message when a query listing is empty

    // Shared flags this browser reads and writes.
    bool *queryFlag;             // CaseQueryFlag / DeptQueryFlag
    bool *editMode;              // CaseEditMode / DeptEditMode
    bool clearQueryFlagOnClose;  // closing the browser ends the pending query

    // Windows that belong to this browser (the query dialog and the editor).
    std::function<QWidget *()> findQuery;  // the open query dialog, or null
    std::function<QWidget *()> showQuery;  // shows (creates) the query dialog
    std::function<void(QWidget *)> focusQueryFirstBox;
    std::function<void()> openEditor;  // modify mode: flag set, window shown, loaded
    // The report of the print menu and of a grid double-click: the data
    // environment's recordset it prints (打印全部记录 reopens it with its
    // command's own text) and the report's Show(modal).
    DataEnvRecordset *reportData;
    ReportPreview *(*showReport)(bool modal);
};

// A browser window: a tree of groups (年级) and departments (科室) of table
// class on the left, a grid on the right listing the rows of the double-clicked
// node, and a toolbar with 查找, 修改, 删除 and 打印. The case record browser
// (Form3) and the department browser (Formclass2) are two instances of it.
class RecordBrowser : public XsWindow {
    Q_OBJECT
public:
    // Controls, by their names.
    QGroupBox *Frame1;
    QGroupBox *Frame2;
    QGroupBox *Frame3;
    QToolBar *Toolbar1;
    QTreeWidget *TreeView1;
    FlexGrid *MSF1;
    // The statement behind the list now shown (used by 打印当前记录).
    QString printstr;

    // Toolbar entries by tag.
    QAction *findAction;
    QAction *modiAction;
    QAction *delAction;
    QToolButton *printButton;
    QAction *dangAction;  // 打印当前记录
    QAction *allAction;   // 打印全部记录

    const BrowserParams &params() const { return p_; }
    // The key (trimmed) of the grid's current data row: the record that modify
    // and print act on; empty when no data row is current.
    QString currentKey() const;

    // Rebuilds the tree: groups keyed 年级, 年级1, 年级11 ... with their departments.
    void buildTree();
    // Clears every cell and writes the titles and widths.
    void writeTitles();
    // Lists the rows of SqlText in the grid.
    void listRows();

    // Handlers, public so that tests and other windows can drive them.
    void TreeView1_DblClick();
    void Toolbar1_ButtonClick(const QString &tag);
    void Toolbar1_ButtonMenuClick(const QString &key);
    void MSF1_DblClick();

    void activated() override;

protected:
    RecordBrowser(BrowserParams params, QWidget *parent);
    void closeEvent(QCloseEvent *e) override;

private:
    // A data row is current and its selection column is not blank.
    bool rowSelected() const;
    // RightFlag := userright(2); tells the refusal when the edit gate says no.
    bool mayEdit(const QString &refusal);
    void listNode();
    void modify();
    void remove();
    void print(const QString &source);

    BrowserParams p_;
};

}  // namespace xs
