// Passwords kept as hashes: plain and hashed accounts signing in through the
// login window, the conversion of a file, and the add-user dialog writing what
// the file keeps.
#include "data/globals.h"
#include "data/passwords.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/sqlite.h"
#include "mainwin/MDIForm1.h"
#include "signin/Frmdenlu.h"
#include "signin/frmuser1.h"
#include "testenv.h"
#include "ui/window.h"

#include <QFile>
#include <QTest>
#include <sqlite3.h>

using namespace xs;
using namespace xs::test;

class TestPasswords : public QObject {
    Q_OBJECT
private slots:
    void signIn_data();
    void signIn();
    void plainRowHashedAtSignIn_data();
    void plainRowHashedAtSignIn();
    void conversionIsWhole();
    void addUserWritesWhatTheFileKeeps_data();
    void addUserWritesWhatTheFileKeeps();
};

namespace {

// Signs in through the login window; the message shown, "" when signed in.
QString signInThroughWindow(const QString &name, const QString &password)
{
    MsgRecorder rec;
    auto *w = WindowRegistry::show<Frmdenlu>();
    w->Text1->setText(name);
    w->Text2->setText(password);
    QTest::mouseClick(w->Command1, Qt::LeftButton);
    if (!rec.calls.isEmpty())
        return rec.calls.last().text;
    return WindowRegistry::find<MDIForm1>() ? QString() : QStringLiteral("(no main window)");
}

// The throwaway cluster's log (scripts/pgcluster keeps it in its folder).
QString serverLog()
{
    QFile f(qEnvironmentVariable("XS_PG_DIR") + QStringLiteral("/server.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void convert(const TestDb &db)
{
    if (serverEngine()) {
        // The server keeps only hashes: rows written plain past the program
        // (in psql, say) are hashed as the file's conversion hashes them.
        for (const QString &row : db.rows("select username, password from use where password not like '$argon2id$%'")) {
            QString name = row.section(u'|', 0, 0);
            db.exec(QStringLiteral("update use set password='%1' where username='%2'")
                        .arg(hashPassword(row.section(u'|', 1)), name.replace(u'\'', QStringLiteral("''"))));
        }
        return;
    }
    const ToolRun r = runTool({"user", "hash-passwords", "--db", db.path()});
    QVERIFY2(r.code == 0, qPrintable(r.err));
}

}  // namespace

void TestPasswords::signIn_data()
{
    QTest::addColumn<bool>("hashed");  // the file converted before signing in
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");  // "" when signed in
    for (const bool hashed : {false, true}) {
        const char *kind = hashed ? "hashed: " : "plain: ";
        QTest::newRow(QByteArray(kind).append("exact").constData()) << hashed << "doctor"
                                                                    << "doctor123"
                                                                    << "";
        QTest::newRow(QByteArray(kind).append("blanks and case").constData()) << hashed << " Doctor "
                                                                              << "  DocTor123 "
                                                                              << "";
        QTest::newRow(QByteArray(kind).append("mixed-case stored").constData()) << hashed << "mixed"
                                                                                << "ab cd"
                                                                                << "";
        QTest::newRow(QByteArray(kind).append("wide letters keep case").constData()) << hashed << "wide"
                                                                                     << "ＡＢ"
                                                                                     << " 密码错误！";
        QTest::newRow(QByteArray(kind).append("other's password").constData()) << hashed << "doctor"
                                                                               << "admin123"
                                                                               << " 密码错误！";
        QTest::newRow(QByteArray(kind).append("inner blank").constData()) << hashed << "doctor"
                                                                          << "doctor 123"
                                                                          << " 密码错误！";
        QTest::newRow(QByteArray(kind).append("no password stored").constData()) << hashed << "nopw"
                                                                                 << ""
                                                                                 << " 密码错误！";
    }
    // Whoever reads the file learns nothing that signs in.
    QTest::newRow("hashed: the hash typed") << true << "doctor"
                                            << "@hash"
                                            << " 密码错误！";
}

void TestPasswords::signIn()
{
    QFETCH(bool, hashed);
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, message);
    if (serverEngine() && !hashed)
        QSKIP("the server keeps every password as its hash: plain rows are a file's");
    TestDb db;
    db.exec("insert into use(username,password) values('mixed','AB CD'),('wide','ａｂ'),('nopw',NULL)");
    if (hashed) {
        convert(db);
        QCOMPARE(db.count("use where password like '$argon2id$%'"), 7);
    }
    if (password == QLatin1String("@hash"))
        password = db.scalar("select password from use where username='doctor'");
    const QString storedBefore = db.rows("select password from use order by username").join(u'\n');
    QCOMPARE(signInThroughWindow(name, password), message);
    if (message.isEmpty())
        QCOMPARE(CurrentUser, name.trimmed().toLower());
    // Signing in changes nothing when the rows are as the file keeps them.
    QCOMPARE(db.rows("select password from use order by username").join(u'\n'), storedBefore);
}

void TestPasswords::plainRowHashedAtSignIn_data()
{
    QTest::addColumn<bool>("fileHashes");
    QTest::newRow("file keeps plain rows") << false;
    QTest::newRow("file converted") << true;
}

void TestPasswords::plainRowHashedAtSignIn()
{
    QFETCH(bool, fileHashes);
    if (serverEngine() && !fileHashes)
        QSKIP("the server keeps every password as its hash: a file that keeps plain rows is a file's");
    TestDb db;
    if (fileHashes)
        convert(db);
    signInAs(QStringLiteral("admin"));
    // A row written plain by an older tool after the conversion.
    db.exec("insert into use(username,password) values('late','Late Pw')");
    if (serverEngine()) {
        // From here on the server logs every statement with its parameters;
        // the program's connections start again to be logged too.
        PgConnection c(db.server());
        QVERIFY2(c.run(QStringLiteral("alter database \"%1\" set log_statement = 'all'")
                           .arg(db.scalar("select current_database()"))),
                 qPrintable(c.lastError()));
        useServer(db.server(), QStringLiteral("1"));
    }
    QCOMPARE(signInThroughWindow("late", "late pw"), QString());
    const QString stored = db.scalar("select password from use where username='late'");
    QCOMPARE(isPasswordHash(stored), fileHashes);
    if (serverEngine()) {
        // Only the hash went to the server: the plain password is in no
        // statement text and no parameter the server saw.
        const QString log = serverLog();
        QVERIFY2(log.contains(stored), "the update's parameters are not in the server's log");
        QVERIFY2(!log.contains(QStringLiteral("late pw"), Qt::CaseInsensitive),
                 qPrintable(log.mid(log.indexOf(QStringLiteral("late pw"), 0, Qt::CaseInsensitive) - 300, 400)));
    }
    QVERIFY(passwordMatches(stored, false, " LATE PW "));
    QVERIFY(!passwordMatches(stored, false, "late"));
    // The hashing is a change like any other, made by the user signing in
    // (not by whoever was signed in before).
    QCOMPARE(db.rows("select 用户, 操作, 改动 from audit where 记录='late' and 操作='修改'"),
             fileHashes ? QStringList{"late|修改|[[\"password\",\"******\",\"******\"]]"} : QStringList{});
    // And it still signs in.
    WindowRegistry::closeAll();
    QCOMPARE(signInThroughWindow("late", "Late Pw"), QString());
}

void TestPasswords::conversionIsWhole()
{
    XS_FILE_ONLY("chengheng-db user hash-passwords converts a file (the server hashes from the start)");
    TestDb db;
    ToolRun r = runTool({"user", "hash-passwords", "--db", db.path()});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out.trimmed(),
             QStringLiteral("已把 5 个用户的密码换成散列（另有 0 个已是散列或没有密码）；此后新增的用户也只保存散列"));
    QCOMPARE(db.count("use where password like '$argon2id$%'"), 5);
    QCOMPARE(db.scalar("select value from settings where name='password.hash'"), QStringLiteral("argon2id"));
    r = runTool({"user", "hash-passwords", "--db", db.path()});
    QVERIFY2(r.out.contains(QStringLiteral("已把 0 个用户的密码换成散列（另有 5 个")), qPrintable(r.out));

    // While another program holds the write lock the conversion fails and
    // changes nothing: not one row, not the setting.
    TestDb other;
    Connection holder = Connection::open(other.path());
    QVERIFY(holder.exec("BEGIN IMMEDIATE"));
    r = runTool({"user", "hash-passwords", "--db", other.path()});
    QVERIFY(holder.exec("ROLLBACK"));
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("密码没有转换，文件没有改动")), qPrintable(r.err));
    QCOMPARE(other.count("use where password like '$argon2id$%'"), 0);
    QCOMPARE(other.count("sqlite_master where name='settings'"), 0);
}

void TestPasswords::addUserWritesWhatTheFileKeeps_data()
{
    QTest::addColumn<bool>("fileHashes");
    QTest::newRow("plain file") << false;
    QTest::newRow("hashing file") << true;
}

void TestPasswords::addUserWritesWhatTheFileKeeps()
{
    QFETCH(bool, fileHashes);
    if (serverEngine() && !fileHashes)
        QSKIP("the server keeps every password as its hash: a file that keeps plain rows is a file's");
    TestDb db;
    if (fileHashes)
        convert(db);
    signInAs(QStringLiteral("clerk"));
    MsgRecorder rec;
    auto *w = WindowRegistry::show<frmuser1>();
    w->Text1[0]->setText(QStringLiteral("新人"));
    w->Text1[1]->setText(QStringLiteral(" Pw9 "));
    w->Text1[2]->setText(QStringLiteral("Pw9"));
    w->Command1->click();
    QCOMPARE(rec.lastText(), QStringLiteral(" 用户添加成功！"));
    const QString stored = db.scalar("select password from use where username='新人'");
    QCOMPARE(isPasswordHash(stored), fileHashes);
    if (!fileHashes)
        QCOMPARE(stored, QStringLiteral("Pw9"));
    WindowRegistry::closeAll();
    QCOMPARE(signInThroughWindow(QStringLiteral("新人"), QStringLiteral("pw9")), QString());
    // The trail names the new account, never its password.
    const QString entry = db.scalar("select 改动 from audit where 记录='新人'");
    QVERIFY2(entry.contains("******") && !entry.contains("Pw9") && !entry.contains("argon2"), qPrintable(entry));
}

QTEST_MAIN(TestPasswords)
#include "tst_passwords.moc"
