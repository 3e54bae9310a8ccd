// The rights look-up and the gate rules.
#include "data/audit.h"
#include "data/globals.h"
#include "data/rights.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"
#include "ui/rightsgate.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

class TestRights : public QObject {
    Q_OBJECT
private slots:
    void lookup_data();
    void lookup();
    void vanishedUser();
    void missingQxColumnGivesEmpty();
    void quoteInStoredName();
    void gates_data();
    void gates();
};

void TestRights::lookup_data()
{
    QTest::addColumn<QString>("flags");  // "admin,readonly,qx1,qx2,qx3,qx4" values, comma separated
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("expected");
    QTest::newRow("admin") << "y,,,,," << 2 << "admin";
    QTest::newRow("admin and readonly") << "y,y,,,," << 1 << "admin";
    QTest::newRow("admin any code") << "y,,,,," << 99 << "admin";
    QTest::newRow("readonly") << "n,y,,,," << 1 << "readonly";
    QTest::newRow("readonly over qx2") << ",y,,y,," << 2 << "readonly";
    QTest::newRow("qx1 code 1") << ",,y,,," << 1 << "true";
    QTest::newRow("qx1 code 2") << ",,y,,," << 2 << "false";
    QTest::newRow("qx2 code 2") << ",,,y,," << 2 << "true";
    QTest::newRow("qx3 code 3") << ",,,,y," << 3 << "true";
    QTest::newRow("qx4 code 4") << ",,,,,y" << 4 << "true";
    QTest::newRow("qx4 code 3") << ",,,,,y" << 3 << "false";
    QTest::newRow("no flags") << ",,,,," << 1 << "false";
    QTest::newRow("capital Y admin") << "Y,,,,," << 1 << "false";
    QTest::newRow("capital Y qx2") << ",,,Y,," << 2 << "false";
    QTest::newRow("yes is not y") << "yes,,,,," << 2 << "false";
    QTest::newRow("y with blank") << "y ,,,,," << 2 << "false";
    QTest::newRow("code 0") << ",,y,y,y,y" << 0 << "false";
    QTest::newRow("code 5") << ",,y,y,y,y" << 5 << "false";
    QTest::newRow("code -1") << ",,y,y,y,y" << -1 << "false";
}

void TestRights::lookup()
{
    QFETCH(QString, flags);
    QFETCH(int, code);
    QFETCH(QString, expected);
    TestDb db(Empty);
    MsgRecorder rec;
    const QStringList f = flags.split(',');
    QStringList values;
    for (const QString &v : f)
        values << (v.isEmpty() ? QStringLiteral("NULL") : "'" + v + "'");
    db.exec("insert into use values('Zhang','pw'," + values.join(',') + ")");
    signInAs("Zhang");
    QCOMPARE(lookupRight(code).result, expected);
    QCOMPARE(userright(code), expected);
    QVERIFY(rec.calls.isEmpty());
    // Empty strings count as not set, like NULL.
    db.exec("update use set admin='' where admin is null");
    QCOMPARE(lookupRight(code).result, expected);
}

void TestRights::vanishedUser()
{
    TestDb db;
    MsgRecorder rec;
    signInAs("doctor");
    QCOMPARE(userright(2), QStringLiteral("true"));
    db.exec("delete from use where username='doctor'");
    QCOMPARE(userright(2), QStringLiteral("nothing"));
    QCOMPARE(rec.calls.size(), 1);
    QCOMPARE(rec.calls[0].text, QStringLiteral("非法用户！"));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].buttons(), int(vbOKOnly));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
}

void TestRights::missingQxColumnGivesEmpty()
{
    TestDb db(Empty);
    MsgRecorder rec;
    // An older file without qx3: the trail's triggers follow the table's columns.
    db.exec("drop trigger audit_use_insert; drop trigger audit_use_update; drop trigger audit_use_delete;"
            "alter table use drop column qx3");
    QCOMPARE(migrateFile(Connection::open(db.path()), nullptr), SchemaOutcome::Current);
    db.exec("insert into use(username,password,qx2) values('u','p','y')");
    signInAs("u");
    QCOMPARE(lookupRight(3).result, QString());
    QCOMPARE(lookupRight(2).result, QStringLiteral("true"));
    QVERIFY(rec.calls.isEmpty());
}

void TestRights::quoteInStoredName()
{
    TestDb db(Empty);
    db.exec("insert into use(username,password,qx2) values('O''Neil','p','y')");
    signInAs("O'Neil");
    QCOMPARE(lookupRight(2).result, QStringLiteral("true"));
    // The stored name is compared without regard to letter case.
    signInAs("o'neil");
    QCOMPARE(lookupRight(2).result, QStringLiteral("true"));
}

void TestRights::gates_data()
{
    QTest::addColumn<QString>("right");
    QTest::addColumn<bool>("view");
    QTest::addColumn<bool>("change");
    QTest::addColumn<bool>("edit");
    QTest::addColumn<bool>("prescribe");
    QTest::newRow("admin") << "admin" << true << true << true << true;
    QTest::newRow("readonly") << "readonly" << true << false << false << true;
    QTest::newRow("true") << "true" << true << true << true << false;
    QTest::newRow("false") << "false" << false << false << true << false;
    // Sounder than the old gates: a vanished user or a failed look-up passes nothing.
    QTest::newRow("nothing") << "nothing" << false << false << false << false;
    QTest::newRow("empty") << "" << false << false << false << false;
}

void TestRights::gates()
{
    QFETCH(QString, right);
    QFETCH(bool, view);
    QFETCH(bool, change);
    QFETCH(bool, edit);
    QFETCH(bool, prescribe);
    QCOMPARE(gatePasses(Gate::View, right), view);
    QCOMPARE(gatePasses(Gate::Change, right), change);
    QCOMPARE(gatePasses(Gate::EditButton, right), edit);
    QCOMPARE(gatePasses(Gate::Prescribing, right), prescribe);
}

QTEST_MAIN(TestRights)
#include "tst_rights.moc"
