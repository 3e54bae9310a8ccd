// The prescribing window's boxes and the focus: which of them select their
// whole text when the focus comes to them.
#include "prescribetest.h"

#include <QApplication>

using namespace xs;
using namespace xs::test;

class TestPrescribeFocus : public QObject {
    Q_OBJECT
private slots:
    void focusKeepsOrSelectsText_data();
    void focusKeepsOrSelectsText();
};

void TestPrescribeFocus::focusKeepsOrSelectsText_data()
{
    QTest::addColumn<int>("box");  // -1: the quantity box Text1; else Text2(box)
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("selected");
    for (const auto &[name, reason] :
         {std::pair{"tab", int(Qt::TabFocusReason)}, std::pair{"backtab", int(Qt::BacktabFocusReason)},
          std::pair{"program", int(Qt::OtherFocusReason)}}) {
        QTest::addRow("quantity, %s", name) << -1 << reason << false;
        QTest::addRow("门诊号, %s", name) << 0 << reason << false;
        QTest::addRow("出生年月, %s", name) << 2 << reason << false;
        QTest::addRow("药量, %s", name) << 13 << reason << false;
        QTest::addRow("入诊时间, %s", name) << 6 << reason << true;
    }
}

// Only the date of the visit has its whole text selected when it gets the
// focus; every other box, the quantity box included, keeps its caret.
void TestPrescribeFocus::focusKeepsOrSelectsText()
{
    QFETCH(int, box);
    QFETCH(int, reason);
    QFETCH(bool, selected);
    TestDb db;
    addDepartments(db);
    Form2 *w = openForm2();
    const QString text = QStringLiteral("2024-03-01");
    QWidget *editor;
    if (box < 0) {
        w->Text1->setText(text);
        editor = w->Text1;
    } else {
        w->Text2[size_t(box)]->setText(text);
        editor = w->Text2[size_t(box)]->editor();
    }
    w->List1->setFocus();
    editor->setFocus(Qt::FocusReason(reason));
    QCOMPARE(QApplication::focusWidget(), editor);
    const QString sel = box < 0 ? w->Text1->selectedText() : w->Text2[size_t(box)]->selectedText();
    QCOMPARE(sel, selected ? text : QString());
}

QTEST_MAIN(TestPrescribeFocus)
#include "tst_prescribefocus.moc"
