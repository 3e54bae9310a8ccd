// The shared window kit: registry, MDI frames, the grid's old semantics,
// Enter-as-Tab and the message-box seam.
#include "testenv.h"
#include "ui/application.h"
#include "ui/entertab.h"
#include "ui/fieldform.h"
#include "ui/flexgrid.h"
#include "ui/msgbox.h"
#include "ui/window.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>
#include <QVBoxLayout>

using namespace xs;
using namespace xs::test;

namespace xs {
class KitChild : public XsWindow {
    Q_OBJECT
public:
    KitChild()
    {
        resize(300, 200);
        auto *l = new QVBoxLayout(this);
        a = new QLineEdit(this);
        b = new QLineEdit(this);
        c = new QPushButton(QStringLiteral("确定"), this);
        l->addWidget(a);
        l->addWidget(b);
        l->addWidget(c);
    }
    void activated() override { ++activations; }
    int activations = 0;
    QLineEdit *a, *b;
    QPushButton *c;
};
class KitTop : public KitChild {
    Q_OBJECT
public:
    bool isMdiChild() const override { return false; }
};
// Further child windows, one registry entry each.
class KitWide1 : public KitChild {
    Q_OBJECT
public:
    KitWide1() { resize(450, 300); }
};
class KitWide2 : public KitChild {
    Q_OBJECT
public:
    KitWide2() { resize(450, 300); }
};
class KitWide3 : public KitChild {
    Q_OBJECT
public:
    KitWide3() { resize(450, 300); }
};
}  // namespace xs

class TestUiKit : public QObject {
    Q_OBJECT
private slots:
    void registrySingleInstance();
    void selfCloseTakesFrame();
    void childrenOpenInView();
    void flexGrid();
    void flexGridBulk();
    void enterMovesOn();
    void msgBoxSeam();
    void textBoxKeepsWholeText();
    void enterPressesButtonsOnly();
    void longPasteKeptWhole_data();
    void longPasteKeptWhole();
    void qtDialogsSpeakChinese();
};

void TestUiKit::registrySingleInstance()
{
    QMainWindow main;
    auto *area = new QMdiArea(&main);
    main.setCentralWidget(area);
    WindowRegistry::setMdiArea(area);
    QObject::connect(area, &QMdiArea::subWindowActivated, [](QMdiSubWindow *s) {
        if (s)
            if (auto *w = qobject_cast<XsWindow *>(s->widget()))
                w->activated();
    });
    main.show();
    QVERIFY(!WindowRegistry::find<KitChild>());  // finding never creates
    KitChild *w = WindowRegistry::show<KitChild>();
    QVERIFY(w);
    QCOMPARE(area->subWindowList().size(), 1);
    QCOMPARE(w->size(), QSize(300, 200));  // the frame fits the client size
    QVERIFY(w->activations >= 1);
    QCOMPARE(WindowRegistry::show<KitChild>(), w);
    QCOMPARE(area->subWindowList().size(), 1);
    // A top-level window is not put into the MDI area.
    KitTop *t = WindowRegistry::show<KitTop>();
    QVERIFY(t->isWindow());
    QCOMPARE(area->subWindowList().size(), 1);
    WindowRegistry::closeAll();
    QTRY_VERIFY(!WindowRegistry::find<KitChild>());
    QVERIFY(!WindowRegistry::find<KitTop>());
    // Closed means destroyed: the next show builds a fresh window.
    KitChild *again = WindowRegistry::show<KitChild>();
    QCOMPARE(again->activations >= 1, true);
    WindowRegistry::closeAll();
    WindowRegistry::setMdiArea(nullptr);
}

void TestUiKit::selfCloseTakesFrame()
{
    QMainWindow main;
    auto *area = new QMdiArea(&main);
    main.setCentralWidget(area);
    WindowRegistry::setMdiArea(area);
    main.show();
    KitChild *w = WindowRegistry::show<KitChild>();
    QCOMPARE(area->subWindowList().size(), 1);
    w->close();
    QCOMPARE(area->subWindowList().size(), 0);
    QVERIFY(!WindowRegistry::find<KitChild>());
    // The frame's own close button route still works too.
    WindowRegistry::show<KitChild>();
    area->subWindowList().first()->close();
    QCOMPARE(area->subWindowList().size(), 0);
    QTRY_VERIFY(!WindowRegistry::find<KitChild>());
    WindowRegistry::setMdiArea(nullptr);
}

void TestUiKit::childrenOpenInView()
{
    // The area places each new child beside the open ones; with no room left
    // there it would go past the right edge. Every child opens in full view.
    QMainWindow main;
    auto *area = new QMdiArea(&main);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    main.setCentralWidget(area);
    main.resize(700, 500);
    WindowRegistry::setMdiArea(area);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    const QList<QWidget *> opened = {WindowRegistry::show<KitChild>(), WindowRegistry::show<KitWide1>(),
                                     WindowRegistry::show<KitWide2>(), WindowRegistry::show<KitWide3>()};
    for (QWidget *w : opened) {
        QWidget *frame = w->parentWidget();
        QVERIFY(qobject_cast<QMdiSubWindow *>(frame));
        QVERIFY2(area->viewport()->rect().contains(frame->geometry()),
                 qPrintable(QStringLiteral("%1 at %2,%3 size %4x%5 in %6x%7")
                                .arg(w->metaObject()->className())
                                .arg(frame->x())
                                .arg(frame->y())
                                .arg(frame->width())
                                .arg(frame->height())
                                .arg(area->viewport()->width())
                                .arg(area->viewport()->height())));
        QCOMPARE(w->size(), w == opened[0] ? QSize(300, 200) : QSize(450, 300));
    }
    WindowRegistry::closeAll();
    WindowRegistry::setMdiArea(nullptr);
}

void TestUiKit::flexGrid()
{
    FlexGrid g;
    g.setCols(4);
    g.setRows(3);
    QCOMPARE(g.model()->rowCount(), 2);     // the title row is the header
    QCOMPARE(g.model()->columnCount(), 3);  // so is the selector column
    g.setTextMatrix(0, 1, "门诊号");
    g.setTextMatrix(1, 1, "A1");
    g.setTextMatrix(2, 3, "x");
    QCOMPARE(g.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("门诊号"));
    QCOMPARE(g.model()->index(0, 0).data().toString(), QStringLiteral("A1"));
    QCOMPARE(g.TextMatrix(2, 3), QStringLiteral("x"));
    QCOMPARE(g.TextMatrix(9, 9), QString());  // outside: empty, no crash
    g.setTextMatrix(9, 9, "ignored");
    g.setColWidth(0, 300);
    g.setColWidth(1, 1500);
    QCOMPARE(g.ColWidth(0), 300);
    QCOMPARE(g.ColWidth(1), 1500);
    QCOMPARE(g.columnWidth(0), 100);
    // Growing keeps cells; shrinking drops rows.
    g.setRows(5);
    QCOMPARE(g.TextMatrix(2, 3), QStringLiteral("x"));
    g.addRow({"B2", "y"});
    QCOMPARE(g.Rows(), 6);
    QCOMPARE(g.TextMatrix(5, 1), QStringLiteral("B2"));
    QCOMPARE(g.TextMatrix(5, 0), QString());
    g.setCols(3);
    QCOMPARE(g.TextMatrix(1, 1), QStringLiteral("A1"));
    g.setRows(2);
    QCOMPARE(g.TextMatrix(2, 1), QString());
    g.Clear();
    QCOMPARE(g.Rows(), 2);
    QCOMPARE(g.TextMatrix(0, 1), QString());
    // A click makes the clicked cell current.
    g.setRows(4);
    g.show();
    QVERIFY(QTest::qWaitForWindowExposed(&g));
    int clicks = 0, doubles = 0;
    connect(&g, &FlexGrid::Click, [&] { ++clicks; });
    connect(&g, &FlexGrid::DblClick, [&] { ++doubles; });
    const QRect cell = g.visualRect(g.model()->index(2, 1));
    QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(g.Row(), 3);
    QCOMPARE(g.Col(), 2);
    QCOMPARE(clicks, 1);
    // A real double-click is a press and release, then the double-click.
    const QPoint first = g.visualRect(g.model()->index(0, 0)).center();
    QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, first);
    QCOMPARE(g.Row(), 1);
    QCOMPARE(doubles, 1);
    g.setRow(2);
    QCOMPARE(g.currentIndex().row(), 1);
}

void TestUiKit::flexGridBulk()
{
    FlexGrid g;
    g.setCols(25);
    g.setRedraw(false);
    g.setRows(50001);
    for (int r = 1; r <= 50000; ++r)
        for (int c = 1; c < 25; ++c)
            if (c % 6 == 1)
                g.setTextMatrix(r, c, QString::number(r));
    g.setRedraw(true);
    QCOMPARE(g.model()->rowCount(), 50000);
    QCOMPARE(g.model()->index(49999, 0).data().toString(), QStringLiteral("50000"));
}

void TestUiKit::enterMovesOn()
{
    KitTop w;
    EnterAsTab::install({w.a, w.b});
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.a->setFocus();
    int returns = 0;
    connect(w.a, &QLineEdit::returnPressed, [&] { ++returns; });
    QTest::keyClick(w.a, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w.b);
    QCOMPARE(returns, 1);  // the box still saw its key
    QTest::keyClick(w.b, Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), w.c);
    // Shift+Enter types the same carriage return and moves on too; with Ctrl
    // or Alt held the key is something else and is left alone.
    w.a->setFocus();
    QTest::keyClick(w.a, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), w.b);
    QTest::keyClick(w.b, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), w.b);
}

void TestUiKit::msgBoxSeam()
{
    MsgRecorder rec;
    rec.answers = {vbCancel};
    QCOMPARE(MsgBox("确定要删除吗？\n\r下一行", vbExclamation | vbOKCancel, "警告"), int(vbCancel));
    QCOMPARE(MsgBox("好"), int(vbOK));
    QCOMPARE(rec.calls.size(), 2);
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].buttons(), int(vbOKCancel));
    QCOMPARE(rec.calls[1].icon(), 0);
    QCOMPARE(rec.calls[1].title, QStringLiteral("澄衡"));  // the application's name by default
}

// Loading never cuts a stored text, and moving into a box with Tab or Enter
// does not select what it holds.
void TestUiKit::textBoxKeepsWholeText()
{
    KitTop w;
    auto *box = new TextBox(TextBox::SingleLine, &w);
    box->setTypingLimit(4);
    w.layout()->addWidget(box);
    EnterAsTab::install(w.b);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    box->setText("1234567");
    QCOMPARE(box->text(), QStringLiteral("1234567"));
    QCOMPARE(box->lineEdit()->cursorPosition(), 0);  // shown from its start
    box->setText("");
    w.b->setFocus();
    QTest::keyClick(w.b, Qt::Key_Tab);
    QTest::keyClick(w.c, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box->lineEdit());
    QTest::keyClicks(box->lineEdit(), "abcdef");
    QCOMPARE(box->text(), QStringLiteral("abcd"));  // the typing limit holds for typing
    w.b->setFocus();
    QTest::keyClick(w.b, Qt::Key_Tab);
    QTest::keyClick(w.c, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), box->lineEdit());
    QVERIFY(!box->lineEdit()->hasSelectedText());
}

// Enter on a focused command button presses it once; boxes keep moving on,
// a grid keeps its own Enter, and a dialog's button is not pressed twice.
void TestUiKit::enterPressesButtonsOnly()
{
    KitTop w;
    auto *grid = new FlexGrid(&w);
    grid->setCols(3);
    grid->setRows(4);
    w.layout()->addWidget(grid);
    EnterAsTab::install({w.a, w.b});
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QSignalSpy clicked(w.c, &QPushButton::clicked);

    w.a->setFocus();
    QTest::keyClick(w.a, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), w.b);
    QTest::keyClick(w.b, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(QApplication::focusWidget(), w.c);
    QCOMPARE(clicked.count(), 0);

    QTest::keyClick(w.c, Qt::Key_Return);
    QCOMPARE(clicked.count(), 1);
    QTest::keyClick(w.c, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(clicked.count(), 2);
    QTest::keyClick(w.c, Qt::Key_Return, Qt::ControlModifier);  // another key
    QCOMPARE(clicked.count(), 2);
    w.c->setEnabled(false);
    QTest::keyClick(&w, Qt::Key_Return);
    QCOMPARE(clicked.count(), 2);
    w.c->setEnabled(true);

    grid->setFocus();
    grid->setRow(2);
    grid->setCol(1);
    QTest::keyClick(grid, Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), grid);
    QCOMPARE(grid->Row(), 2);
    QCOMPARE(grid->Col(), 1);
    QCOMPARE(clicked.count(), 2);

    QDialog dialog;
    auto *ok = new QPushButton(QStringLiteral("确定"), &dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    ok->setFocus();
    QSignalSpy dialogClicked(ok, &QPushButton::clicked);
    QTest::keyClick(ok, Qt::Key_Return);
    QCOMPARE(dialogClicked.count(), 1);
}

void TestUiKit::longPasteKeptWhole_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("limit");  // -1: none set
    QTest::addColumn<int>("kept");
    QTest::newRow("plain box") << "line" << -1 << 40000;
    QTest::newRow("editable combo box") << "combo" << -1 << 40000;
    QTest::newRow("entry box without limit") << "textbox" << 0 << 40000;
    QTest::newRow("entry box with a typing limit") << "textbox" << 10 << 10;
    QTest::newRow("plain box with a limit set") << "line" << 32000 << 32000;
}

// A paste longer than the line edit's own 32,767 characters is kept whole in
// a box without a typing limit; a limit set on purpose still holds.
void TestUiKit::longPasteKeptWhole()
{
    QFETCH(QString, box);
    QFETCH(int, limit);
    QFETCH(int, kept);
    KitTop w;
    QLineEdit *edit = nullptr;
    if (box == QLatin1String("line")) {
        edit = new QLineEdit(&w);
        if (limit >= 0)
            edit->setMaxLength(limit);
    } else if (box == QLatin1String("combo")) {
        auto *combo = new QComboBox(&w);
        combo->setEditable(true);
        edit = combo->lineEdit();
        w.layout()->addWidget(combo);
    } else {
        auto *t = new TextBox(TextBox::SingleLine, &w);
        t->setTypingLimit(limit);
        edit = t->lineEdit();
        w.layout()->addWidget(t);
    }
    if (box == QLatin1String("line"))
        w.layout()->addWidget(edit);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString big(40000, QChar(u'字'));
    QApplication::clipboard()->setText(big);
    QCOMPARE(QApplication::clipboard()->text().size(), 40000);
    edit->setFocus();
    edit->paste();
    QCOMPARE(edit->text().size(), kept);
}

namespace {
// The texts of a dialog's labels, buttons and group boxes, as the user sees them.
QStringList textsOf(QWidget *dialog)
{
    QStringList texts;
    for (const QLabel *l : dialog->findChildren<QLabel *>())
        texts << l->text();
    for (const QAbstractButton *b : dialog->findChildren<QAbstractButton *>())
        texts << b->text();
    for (const QGroupBox *g : dialog->findChildren<QGroupBox *>())
        texts << g->title();
    texts.removeAll(QString());
    return texts;
}
}  // namespace

// Qt's own dialogs (the print dialog, the file dialog of 导出PDF, the
// standard buttons of a message box) are Chinese once the application's
// translations are installed.
void TestUiKit::qtDialogsSpeakChinese()
{
    std::unique_ptr<QTranslator> translator(installQtTranslations());
    QVERIFY2(translator, "qtbase_zh_CN.qm is not in Qt's translations folder");

    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    QCOMPARE(buttons.button(QDialogButtonBox::Save)->text(), QStringLiteral("保存"));

    QFileDialog files(nullptr, QStringLiteral("导出为 PDF"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.setAcceptMode(QFileDialog::AcceptSave);
    QPrinter printer;
    QPrintDialog print(&printer);
    for (QWidget *dialog : {static_cast<QWidget *>(&files), static_cast<QWidget *>(&print)}) {
        const QStringList texts = textsOf(dialog);
        QVERIFY(!texts.isEmpty());
        for (const char *english : {"Look in:", "File &name:", "Files of type:", "&Save", "Cancel", "Printer",
                                    "&Properties", "&Name:", "Copies", "&Print", "&Options >>"})
            QVERIFY2(!texts.contains(QString::fromLatin1(english)), qPrintable(texts.join(u'|')));
    }
    for (const QString &chinese : {QStringLiteral("查找范围："), QStringLiteral("文件名称(&N)：")})
        QVERIFY2(textsOf(&files).contains(chinese), qPrintable(textsOf(&files).join(u'|')));
    for (const QString &chinese : {QStringLiteral("打印机"), QStringLiteral("属性(&R)"), QStringLiteral("打印(&P)")})
        QVERIFY2(textsOf(&print).contains(chinese), qPrintable(textsOf(&print).join(u'|')));
}

QTEST_MAIN(TestUiKit)
#include "tst_uikit.moc"
