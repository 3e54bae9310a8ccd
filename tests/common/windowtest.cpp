#include "windowtest.h"

#include "mainwin/MDIForm1.h"
#include "report/preview.h"
#include "report/reportdocument.h"

#include <QApplication>
#include <QMdiSubWindow>
#include <QTimer>
#include <QTreeWidget>

namespace xs::test {

namespace {
// A signed-in user gets the main window, in every test that drives windows.
[[maybe_unused]] const bool g_signInWired = (setBeforeEachTest(&MDIForm1::wireSignIn), true);
}  // namespace

MDIForm1 *openMainAs(const QString &user)
{
    signInAs(user);
    MDIForm1 *m = WindowRegistry::show<MDIForm1>();
    if (!QTest::qWaitForWindowActive(m))
        qWarning("main window did not become active");
    return m;
}

QMdiSubWindow *frameOf(QWidget *w) { return qobject_cast<QMdiSubWindow *>(w->parentWidget()); }

bool focusWithin(QWidget *w)
{
    QWidget *fw = QApplication::focusWidget();
    return fw && (fw == w || w->isAncestorOf(fw));
}

QTreeWidgetItem *nodeByText(QTreeWidget *tree, const QString &text)
{
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

QStringList gridColumn(const FlexGrid *grid, int col, bool stopAtEmpty)
{
    QStringList out;
    for (int r = 1; r < grid->Rows(); ++r) {
        const QString cell = grid->TextMatrix(r, col);
        if (stopAtEmpty && cell.isEmpty())
            break;
        out << cell;
    }
    return out;
}

void selectAndList(RecordBrowser *b, QTreeWidgetItem *node)
{
    b->TreeView1->setCurrentItem(node);
    b->TreeView1_DblClick();
}

void browserEntryAccounts()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<bool>("opens");
    QTest::newRow("admin") << "admin" << true;
    QTest::newRow("viewer") << "viewer" << true;
    QTest::newRow("doctor (qx2)") << "doctor" << true;
    QTest::newRow("clerk (qx1)") << "clerk" << false;
    QTest::newRow("guest") << "guest" << false;
}

void printMenuColumns()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("node");
    QTest::addColumn<int>("rows");
}

void checkPrintMenu(RecordBrowser *b, const QString &key, int rows, ReportWindow report, DataEnvRecordset &rs,
                    const DataCommand &command)
{
    int shownRows = 0;
    bool modal = false;
    QTimer::singleShot(0, b, [&] {
        if (ReportPreview *w = report()) {
            shownRows = w->document().rowCount();
            modal = w->isModal();
            w->close();
        }
    });
    MsgRecorder rec;
    b->Toolbar1_ButtonMenuClick(key);
    QCoreApplication::processEvents();
    if (rows < 0) {
        QCOMPARE(rec.calls.size(), 1);
        XS_COMPARE_MSG(rec.calls[0], QStringLiteral("没有当前记录！"), vbExclamation | vbOKOnly,
                       QStringLiteral("警告"));
        QCOMPARE(shownRows, 0);
        return;
    }
    QVERIFY(rec.calls.isEmpty());
    QCOMPARE(shownRows, rows);
    QCOMPARE(modal, rows > 0);
    if (key == QLatin1String("dang"))
        QCOMPARE(rs.Source(), b->printstr);
    else if (key == QLatin1String("all"))
        QCOMPARE(rs.Source(), command.CommandText);
}

void checkGridDoubleClick(RecordBrowser *b, ReportWindow report, int allRows, int listedRows)
{
    b->MSF1_DblClick();  // never reopened: the command's own rows
    ReportPreview *w = report();
    QVERIFY(w);
    QVERIFY(!w->isModal());
    QCOMPARE(w->document().rowCount(), allRows);
    QTimer::singleShot(0, b, [report] {
        if (ReportPreview *m = report())
            m->close();
    });
    b->Toolbar1_ButtonMenuClick(QStringLiteral("dang"));
    b->MSF1_DblClick();  // now the rows listed
    QCOMPARE(report()->document().rowCount(), listedRows);
}

}  // namespace xs::test
