// The 身份证 hint of the two entry windows: a number that cannot be right,
// or one that disagrees with 性别 or 出生年月, colours the box and gives it the
// hint as its tooltip; a right and agreeing number, or none, gives the box its
// own look back. Nothing is asked and nothing is refused.
#include "cases/Form1.h"
#include "data/caserecord.h"
#include "prescribe/Form2.h"
#include "testenv.h"
#include "ui/idhint.h"
#include "ui/window.h"
#include "windowtest.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

class TestIdHint : public QObject {
    Q_OBJECT
private slots:
    void hint_data();
    void hint();
};

namespace {

struct Boxes {
    TextBox *number;
    QComboBox *sex;
    TextBox *birth;
};

Boxes openWindow(const QString &window)
{
    if (window == QLatin1String("Form1")) {
        Form1 *f = showInFront<Form1>();
        return {f->Text1[kIdCardBox], f->Combo1[kSexCombo], f->Text1[kBirthBox]};
    }
    Form2 *f = WindowRegistry::show<Form2>();
    if (!QTest::qWaitForWindowActive(f))
        qWarning("prescribing window did not become active");
    return {f->Text2[kIdCardBox], f->Combo1[kSexCombo], f->Text2[kBirthBox]};
}

}  // namespace

void TestIdHint::hint_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("sex");
    QTest::addColumn<QString>("birth");
    QTest::addColumn<QString>("hint");
    for (const char *window : {"Form1", "Form2"}) {
        auto row = [window](const char *name, const char *number, const char *sex, const char *birth,
                            const char *hint) {
            QTest::addRow("%s: %s", window, name) << window << number << sex << birth << hint;
        };
        row("wrong check", "440304199005011239", "", "", "校验位不对，应为 0");
        row("too short", "12345", "男", "1990-05-01", "身份证号应为 18 位或 15 位，现在是 5 位");
        row("not a day", "330102198702290024", "", "", "身份证号中的出生日期 19870229 不是真实的日期");
        row("agreeing", "440304199005011230", "男", "1990-05-01", "");
        row("agreeing, other date form", "44030419850612006x", "女", "1985/6/12", "");
        row("性别 and 出生年月 not filled", "440304199005011230", "Combo1", "", "");
        row("性别 differs", "44030419850612006X", "男", "1985-06-12", "身份证号中的性别是女，与性别不符");
        row("出生年月 differs", "440304199005011230", "男", "1990-5-2",
            "身份证号中的出生日期是 1990年5月1日，与出生年月不符");
        row("both differ", "11010519491231002X", "男", "1950-01-01",
            "身份证号中的出生日期是 1949年12月31日，与出生年月不符\n身份证号中的性别是女，与性别不符");
    }
}

void TestIdHint::hint()
{
    QFETCH(QString, window);
    QFETCH(QString, number);
    QFETCH(QString, sex);
    QFETCH(QString, birth);
    QFETCH(QString, hint);
    TestDb db;
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床医学','王医生','无')"));
    MsgRecorder rec;
    const Boxes b = openWindow(window);
    QWidget *box = b.number->editor();
    const QColor own = box->palette().color(QPalette::Base);
    QVERIFY(own != IdCardHint::colour());

    // The number first, as the case entry window's Enter order has it; the
    // hint follows 性别 and 出生年月 as they are filled in afterwards.
    box->setFocus();
    b.number->setText(number);
    b.sex->setEditText(sex);
    b.birth->setText(birth);
    QCOMPARE(box->toolTip(), hint);
    QCOMPARE(box->palette().color(QPalette::Base), hint.isEmpty() ? own : IdCardHint::colour());

    // Emptied, the box has its own look back.
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QCOMPARE(b.number->text(), QString());
    QCOMPARE(box->toolTip(), QString());
    QCOMPARE(box->palette().color(QPalette::Base), own);
    QVERIFY(rec.calls.isEmpty());
}

QTEST_MAIN(TestIdHint)
#include "tst_idhint.moc"
