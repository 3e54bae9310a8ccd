// The password boxes of the sign-in windows show every typed character as "*".
#include "signin/Frmdenlu.h"
#include "signin/frmuser1.h"
#include "testenv.h"
#include "ui/window.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

class TestPasswordBoxes : public QObject {
    Q_OBJECT
private slots:
    void passwordBoxesShowStars_data();
    void passwordBoxesShowStars();
};

void TestPasswordBoxes::passwordBoxesShowStars_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("box");  // -1: the login window's Text2; else frmuser1's Text1(box)
    QTest::newRow("login password") << "Frmdenlu" << -1;
    QTest::newRow("new password") << "frmuser1" << 1;
    QTest::newRow("confirmation") << "frmuser1" << 2;
}

// Every typed character of a password is shown as "*", whatever the style's
// own mask character is.
void TestPasswordBoxes::passwordBoxesShowStars()
{
    QFETCH(QString, window);
    QFETCH(int, box);
    TestDb db;
    QLineEdit *edit = nullptr;
    if (window == QLatin1String("Frmdenlu"))
        edit = WindowRegistry::show<Frmdenlu>()->Text2;
    else
        edit = WindowRegistry::show<frmuser1>()->Text1[size_t(box)];
    QVERIFY(QTest::qWaitForWindowExposed(edit->window()));
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("ab 1"));
    QCOMPARE(edit->text(), QStringLiteral("ab 1"));
    QCOMPARE(edit->displayText(), QStringLiteral("****"));
}

QTEST_MAIN(TestPasswordBoxes)
#include "tst_passwordboxes.moc"
