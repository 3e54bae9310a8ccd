#pragma once
// Set-up and read-outs shared by the tests that drive the windows: the main
// window signed in, a child window shown through the registry, the browsers'
// tree and grid, the boxes of a window, and the message boxes asked.
#include "browser/RecordBrowser.h"
#include "testenv.h"
#include "ui/flexgrid.h"
#include "ui/window.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QTest>

class QMdiSubWindow;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace xs {
class MDIForm1;
class ReportPreview;
}  // namespace xs

// Compares one recorded message box call with the text, flags and title
// expected; like QCOMPARE, a mismatch ends the test function.
#define XS_COMPARE_MSG(call, expText, expFlags, expTitle)                                                              \
    do {                                                                                                               \
        QCOMPARE((call).text, QString(expText));                                                                       \
        QCOMPARE((call).flags, int(expFlags));                                                                         \
        QCOMPARE((call).title, QString(expTitle));                                                                     \
    } while (false)

// Compares a recorded call with the refusal of a main window entry whose
// rights gate says no.
#define XS_COMPARE_REFUSAL(call)                                                                                       \
    XS_COMPARE_MSG(call, xs::test::kNoRightText, vbInformation | vbOKOnly, QStringLiteral(" 警告"))

namespace xs::test {

inline const QString kNoRightText = QStringLiteral("对不起，你没有管理本功能的权限，请与管理员联系！");

// Signs in as `user` and opens the main window, waiting until it is active.
MDIForm1 *openMainAs(const QString &user = QStringLiteral("admin"));

// Shows W through the registry and brings it to the front, which runs its activation.
template <class W>
W *showInFront()
{
    W *w = WindowRegistry::show<W>();
    WindowRegistry::bringToFront(w);
    return w;
}

// Shows W through the registry and lets the pending events run.
template <class W>
W *showSettled()
{
    W *w = WindowRegistry::show<W>();
    QCoreApplication::processEvents();
    return w;
}

// The MDI frame of a child window (null for a top-level window).
QMdiSubWindow *frameOf(QWidget *w);

// The focus is on w or on a widget inside it.
bool focusWithin(QWidget *w);

// The first node of the tree, at any depth, whose text is `text`; null if none.
QTreeWidgetItem *nodeByText(QTreeWidget *tree, const QString &text);

// Column `col` of the grid's data rows (row 1 down). Until the first empty
// cell when stopAtEmpty, else every row.
QStringList gridColumn(const FlexGrid *grid, int col, bool stopAtEmpty);

// Test data of the browsers' main window entries: each demo account
// (column "user") and whether the entry opens the browser for it ("opens").
void browserEntryAccounts();

// The columns of the print menu tests: "key" chosen, "node" listed first
// (empty: nothing listed), "rows" of the report shown (-1: the message).
void printMenuColumns();

// Makes node the tree's current node and double-clicks the tree, which lists it.
void selectAndList(RecordBrowser *b, QTreeWidgetItem *node);

// Lists the browser's node named `text` as a double-click on it does; the
// browser is opened first if need be.
template <class B>
B *listNode(const QString &text)
{
    B *b = showSettled<B>();
    QTreeWidgetItem *node = nodeByText(b->TreeView1, text);
    if (!node)
        qFatal("no node %s", qPrintable(text));
    selectAndList(b, node);
    return b;
}

// Types texts into the first `count` boxes (all of them when -1), box i
// getting texts[i], or "" past the end of texts.
template <class Boxes>
void setBoxTexts(const Boxes &boxes, const QStringList &texts, int count = -1)
{
    const int n = count < 0 ? int(boxes.size()) : count;
    for (int i = 0; i < n; ++i)
        boxes[size_t(i)]->setText(texts.value(i));
}

// The texts of the boxes, in order.
template <class Boxes>
QStringList boxTexts(const Boxes &boxes)
{
    QStringList out;
    for (const auto *b : boxes)
        out << b->text();
    return out;
}

// The open report preview of a browser's report (DataReportclass::window ...).
using ReportWindow = ReportPreview *(*)();

// Chooses `key` in the browser's print menu and checks the outcome: for
// rows < 0 only the warning "没有当前记录！" and no report; else no message, the
// report shown with `rows` rows (modally when it has any), its recordset
// `rs` reopened on the listing (dang) or on `command`'s text (all).
void checkPrintMenu(RecordBrowser *b, const QString &key, int rows, ReportWindow report, DataEnvRecordset &rs,
                    const DataCommand &command);

// A grid double-click shows the report modelessly with the rows its
// recordset last held: first the command's own `allRows`, after 打印当前记录
// the `listedRows` of the listing.
void checkGridDoubleClick(RecordBrowser *b, ReportWindow report, int allRows, int listedRows);

}  // namespace xs::test
