// chengheng-db against a real PostgreSQL server (the cluster CTest starts;
// XS_PG names its database): init --server makes the shared tables, the
// catalogue, the administrator and a room's work table, once; migrate copies
// a file's every table onto an empty server, checked by counts, and refuses a
// server that holds records; a server that cannot be reached is told in Chinese.
#include "data/passwords.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <pwd.h>
#include <unistd.h>

using namespace xs;
using namespace xs::test;

class TestServerTool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void initServer();
    void migrate();
    void refusals_data();
    void refusals();
    void connectionFailuresSayWhatFailed_data();
    void connectionFailuresSayWhatFailed();
    void commandsOnServer_data();
    void commandsOnServer();
    void hashPasswordsOnServer();
    void roomNamesKeptWhole();
    void roomsByTheAdministration();
    void checkFindsFaults_data();
    void checkFindsFaults();
    void backupThroughPgDump();
    void tamperingFound_data();
    void tamperingFound();
    void trailIsAppendOnly_data();
    void trailIsAppendOnly();
    void concurrentWritersKeepOneChain();
    void reportsOnServer_data();
    void reportsOnServer();

private:
    void initServerDb();

private:
    QString base_;   // the cluster's own database
    QString fresh_;  // an empty database for the running test
};

static QString scalar(const QString &conninfo, const QString &sql)
{
    PgConnection c(conninfo);
    const PgResult r = c.exec(sql);
    return r.ok() && r.rows() ? r.text(0, 0) : QStringLiteral("<%1>").arg(r.error());
}

void TestServerTool::initTestCase()
{
    base_ = qEnvironmentVariable("XS_PG");
    QVERIFY2(!base_.isEmpty(), "XS_PG is not set: run this test through ctest, which starts the server");
}

void TestServerTool::init()
{
    QString why;
    fresh_ = freshServerDatabase(&why);
    QVERIFY2(!fresh_.isEmpty(), qPrintable(why));
}

void TestServerTool::initServer()
{
    const ToolRun r =
        runTool({"init", "--server", fresh_, "--room", "诊室一", "--admin-name", "boss", "--admin-password-file", "-"},
                " Pw1 \n");
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out.trimmed(),
             QStringLiteral("已在服务器上建立澄衡数据库（诊室 诊室一），超级管理员 boss\n诊室 诊室一 的账户 "
                            "chengheng_room_诊室一 还没有密码：请运行 chengheng-db room add 诊室一 --server … 设定，"
                            "程序只以诊室账户连接服务器。"));
    QCOMPARE(scalar(fresh_, "select username||'|'||admin from chengheng.use"), QStringLiteral("boss|y"));
    const QString stored = scalar(fresh_, "select password from chengheng.use");
    QVERIFY2(isPasswordHash(stored), qPrintable(stored));
    QVERIFY(passwordMatches(stored, false, QStringLiteral("pw1")));
    QVERIFY(scalar(fresh_, "select count(*) from chengheng.表1").toInt() > 0);
    QCOMPARE(scalar(fresh_, "select count(*) from \"room_诊室一\".yc"), QStringLiteral("0"));
    // Keys ignore letter case on the server as in the file.
    PgConnection c(fresh_);
    QVERIFY(c.exec("insert into chengheng.xj(门诊号) values('A1')").ok());
    QCOMPARE(c.exec("insert into chengheng.xj(门诊号) values('a1')").fault(), DbFault::Unique);
}

void TestServerTool::migrate()
{
    TestDb db(All);
    db.exec(QStringLiteral("insert into yc(门诊号,姓名,出生年月) values('Y1','丙','')"));
    const int records = db.count(QStringLiteral("xj"));
    QVERIFY(records > 0);
    const ToolRun r = runTool({"migrate", "--from", db.path(), "--to", fresh_, "--room", "2"});
    QCOMPARE(r.code, 0);
    QVERIFY2(r.out.contains(QStringLiteral("xj：%1 行").arg(records)), qPrintable(r.out));
    for (const QString &t :
         {QStringLiteral("use"), QStringLiteral("class"), QStringLiteral("xj"), QStringLiteral("表1")})
        QCOMPARE(scalar(fresh_, "select count(*) from chengheng." + t), QString::number(db.count(t)));
    // An empty date of the file is no date on the server.
    QCOMPARE(scalar(fresh_, "select 姓名||'|'||coalesce(出生年月::text,'null') from room_2.yc"),
             QStringLiteral("丙|null"));
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.xj x where not exists (select 1 from chengheng.xj y "
                            "where y.门诊号=x.门诊号 and y.姓名 is not distinct from x.姓名)"),
             QStringLiteral("0"));

    // The file's trail comes along whole: the chain verifies on the server
    // and the copied rows wrote no entries of their own.
    const QString fileEntries = QString::number(db.count(QStringLiteral("audit")));
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.audit"), fileEntries);
    const ToolRun verified = runTool({"audit", "verify", "--server", fresh_});
    QVERIFY2(verified.code == 0 && verified.out.contains(QStringLiteral("共 %1 条").arg(fileEntries)),
             qPrintable(verified.err));

    // A second migration would mix two archives: refused, nothing changes.
    const ToolRun again = runTool({"migrate", "--from", db.path(), "--to", fresh_});
    QCOMPARE(again.code, 1);
    QVERIFY2(again.err.contains(QStringLiteral("服务器上的澄衡数据库已有记录，migrate 不覆盖已有的记录")),
             qPrintable(again.err));
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.xj"), QString::number(records));
}

void TestServerTool::refusals_data()
{
    QTest::addColumn<QStringList>("args");  // FRESH: the test's database; FIRST: init it first
    QTest::addColumn<QString>("message");   // a password asked for is read from standard input
    const QStringList admin = {"--admin-name", "a", "--admin-password-file", "-"};
    QTest::newRow("init twice") << QStringList{"FIRST", "init", "--server", "FRESH"} + admin
                                << "服务器上已经有澄衡数据库（模式 chengheng），init 不改动已有的数据库";
    QTest::newRow("no server") << QStringList{"init", "--server", "host=/nonexistent dbname=x"} + admin
                               << "无法连接数据库服务器：本机（套接字目录 /nonexistent）拒绝了连接";
    // Passwords never stand on the command line, where ps shows them.
    const QString onCommandLine = QStringLiteral("密码不能写在命令行上（同一台机器上的其他用户用 ps 就能看到）。");
    QTest::newRow("init --admin-password")
        << QStringList{"init", "--server", "FRESH", "--admin-name", "a", "--admin-password", "b"}
        << onCommandLine
               + "请去掉 --admin-password，改用 --admin-password-file 文件（文件的第一行是密码）或 "
                 "--admin-password-file -（从标准输入读取），或者不加这些选项，在终端上按提示输入";
    QTest::newRow("user add --password=") << QStringList{"user", "add", "doc", "--password=b", "--server", "FRESH"}
                                          << onCommandLine + "请去掉 --password，改用 --password-file 文件";
    QTest::newRow("password in --server") << QStringList{"user", "list", "--server", "FRESH password=x"}
                                          << "--server 的连接串中写有密码，而命令行上的密码别人用 ps 就能看到。"
                                             "请删去它，改放在 ~/.pgpass（权限 0600）或服务文件 pg_service.conf 中。";
    QTest::newRow("password in --to URI")
        << QStringList{"migrate", "--from", "x.mdb", "--to", "postgresql:///chengheng?pass%77ord=x"}
        << "--to 的连接串中写有密码";
    // A room name the server would cut (63 bytes as room_NAME), or an empty one, is refused.
    const QString tooLong = QString(20, u'诊');
    QTest::newRow("init, empty room") << QStringList{"init", "--server", "FRESH", "--room", " "} + admin
                                      << "--room：诊室名不能为空。";
    QTest::newRow("init, room too long")
        << QStringList{"init", "--server", "FRESH", "--room", tooLong} + admin
        << "--room：诊室名“" + tooLong + "”太长：服务器上它的登录账户 chengheng_room_" + tooLong
               + " 有 75 字节，而服务器只保留前 63 字节，名字相近的两个诊室会共用一个账户。"
                 "请用不超过 48 字节的诊室名（一个汉字占 3 字节，即不超过 16 个汉字）。";
    QTest::newRow("migrate, room too long")
        << QStringList{"migrate", "--from", "x.mdb", "--to", "FRESH", "--room", QString(49, u'a')}
        << "chengheng_room_" + QString(49, u'a') + " 有 64 字节";
    QTest::newRow("report, room too long")
        << QStringList{"report", "prescription", "--out", "x.pdf", "--server", "FRESH", "--room", tooLong}
        << "--room：诊室名“" + tooLong + "”太长";
    QTest::newRow("migrate without target")
        << QStringList{"migrate", "--from", "x.mdb"} << "migrate 需要 --from 数据库文件 和 --to 服务器连接串";
}

void TestServerTool::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const bool first = args.first() == QLatin1String("FIRST");
    if (first) {
        args.removeFirst();
        QCOMPARE(runTool({"init", "--server", fresh_, "--admin-name", "x", "--admin-password-file", "-"}, "y\n").code,
                 0);
    }
    args.replaceInStrings(QStringLiteral("FRESH"), fresh_);
    const ToolRun r = runTool(args, "b\n");
    QVERIFY(r.code != 0);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    // Nothing was made on the server.
    if (!first)
        QCOMPARE(scalar(fresh_, "select count(*) from pg_namespace where nspname='chengheng' or nspname like 'room%'"),
                 QStringLiteral("0"));
}

// A connection that fails is told by what failed, in Chinese, and names no
// configuration file (the tool reads none: the connection string is its
// argument); libpq's and the server's English stay out of what it writes.
void TestServerTool::connectionFailuresSayWhatFailed_data()
{
    QTest::addColumn<QString>("connection");  // BASE: the cluster; SILENT, CLOSED: ports of the test
    QTest::addColumn<QString>("message");
    QTest::newRow("no such host")
        << "host=no-such-host.invalid dbname=x"
        << "无法连接数据库服务器：找不到服务器 no-such-host.invalid（这个名称无法解析成地址）。"
           "请检查连接串中的服务器名称（host）是否写对，以及网络和域名解析是否正常。";
    QTest::newRow("refused")
        << "host=127.0.0.1 port=CLOSED dbname=x"
        << "无法连接数据库服务器：服务器 127.0.0.1:CLOSED 拒绝了连接（那里没有数据库服务器在运行，"
           "或地址、端口不对）。请检查连接串中的服务器地址和端口（host、port），以及服务器是否在运行。";
    QTest::newRow("no answer")
        << "host=127.0.0.1 port=SILENT dbname=x"
        << "无法连接数据库服务器：服务器 127.0.0.1:SILENT 在 5 秒内没有答复（网络不通，或服务器没有响应）。"
           "请检查网络和服务器后再试。";
    QTest::newRow("login refused") << "BASE user=nobody_here"
                                   << "拒绝了登录（用户名或密码不对，或这个用户不允许从这里登录）。"
                                      "请检查连接串中的用户名（user），以及 ~/.pgpass 或 pg_service.conf 中的密码。";
    QTest::newRow("no such database") << "BASE dbname=no_such_db"
                                      << "上没有连接串中指定的数据库（dbname）。请检查数据库名是否写对。";
    // The cluster takes TCP through TLS only, with a certificate for
    // localhost and 127.0.0.1 signed by its own throwaway CA.
    QTest::newRow("plain TCP refused") << "BASE sslmode=disable"
                                       << "只接受加密的连接，而连接串关闭了加密（sslmode）。"
                                          "请删去连接串中的 sslmode=disable（或写 sslmode=verify-full），"
                                          "并把服务器的 CA 证书放到 ~/.postgresql/root.crt。";
    QTest::newRow("no CA certificate") << "BASE sslrootcert=/nonexistent/ca.crt"
                                       << "必须加密并核对服务器的证书，但本机找不到用来核对的 CA 证书";
    QTest::newRow("certificate of another CA") << "BASE sslrootcert=/etc/ssl/certs/ca-certificates.crt"
                                               << "的证书没有通过核对（不是本机信任的 CA 签发的，";
    QTest::newRow("certificate of another name") << "BASE host=db.clinic.invalid hostaddr=127.0.0.1"
                                                 << "的证书没有通过核对（不是本机信任的 CA 签发的，";
}

void TestServerTool::connectionFailuresSayWhatFailed()
{
    QFETCH(QString, connection);
    QFETCH(QString, message);
    // A port that accepts and never answers, and one where nothing listens.
    const SilentPort silent;
    QVERIFY(silent.port() != 0);
    const QString silentPort = QString::number(silent.port());
    const QString refusing = QString::number(closedPort());
    for (QString *t : {&connection, &message}) {
        t->replace(QStringLiteral("BASE"), base_);
        t->replace(QStringLiteral("SILENT"), silentPort);
        t->replace(QStringLiteral("CLOSED"), refusing);
    }
    QElapsedTimer clock;
    clock.start();
    const ToolRun r = runTool({"check", "--server", connection});
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY2(!r.err.contains(QStringLiteral("配置文件")), qPrintable(r.err));
    static const QRegularExpression english(QStringLiteral("[A-Za-z]{3,} [A-Za-z]{3,}"));
    QVERIFY2(!r.err.contains(english), qPrintable(r.err));
}

void TestServerTool::initServerDb()
{
    const ToolRun r =
        runTool({"init", "--server", fresh_, "--admin-name", "boss", "--admin-password-file", "-"}, "pw\n");
    QVERIFY2(r.code == 0, qPrintable(r.err));
}

// Two rooms whose names differ only in their last character get two work
// tables at the longest name the server keeps whole; one byte more is refused
// and makes nothing.
void TestServerTool::roomNamesKeptWhole()
{
    initServerDb();
    PgConnection c(fresh_);
    QString why;
    const QString longest = QString(15, u'诊');  // chengheng_room_, 15 characters and 3 letters: 63 bytes
    for (const QString &last : {QStringLiteral("xya"), QStringLiteral("xyb")})
        QVERIFY2(addServerRoom(c, longest + last, std::nullopt, &why), qPrintable(why));
    QCOMPARE(scalar(fresh_, "select count(*) from pg_namespace where nspname in ('room_" + longest + "xya', 'room_"
                                + longest + "xyb')"),
             QStringLiteral("2"));
    QVERIFY(!addServerRoom(c, longest + QStringLiteral("xyab"), std::nullopt, &why));
    QVERIFY2(why.startsWith(QStringLiteral("诊室名“") + longest + QStringLiteral("xyab”太长")), qPrintable(why));
    QVERIFY(!addServerRoom(c, QStringLiteral(" "), std::nullopt, &why));
    QCOMPARE(why, QStringLiteral("诊室名不能为空。请给出诊室名，如 1 或 诊室三。"));
    QCOMPARE(scalar(fresh_, "select count(*) from pg_namespace where nspname like 'room%'"), QStringLiteral("3"));
}

// An administrator (a login role made a member of chengheng_admin) adds,
// lists and removes rooms; a room's own role may not; a removed room's
// account can no longer sign in while its rows stay.
void TestServerTool::roomsByTheAdministration()
{
    initServerDb();
    PgConnection c(fresh_);
    // The cluster's pgpass file gives every other role the same password.
    QVERIFY(c.run(QStringLiteral("DO $x$BEGIN CREATE ROLE alice LOGIN; EXCEPTION WHEN duplicate_object THEN NULL;"
                                 " END$x$;ALTER ROLE alice PASSWORD '%1';GRANT chengheng_admin TO alice")
                      .arg(testRoomPassword())));
    QString alice = fresh_;
    alice.replace(QRegularExpression(QStringLiteral("user=\\S+")), QStringLiteral("user=alice"));
    const ToolRun added = runTool({"room", "add", "诊室三", "--server", alice, "--password-file", "-"},
                                  testRoomPassword().toUtf8() + "\n");
    QVERIFY2(added.code == 0, qPrintable(added.err));
    QCOMPARE(
        added.out.trimmed(),
        QStringLiteral("诊室 诊室三 可以使用了：它的程序以账户 chengheng_room_诊室三 连接服务器（连接串中写 "
                       "user=chengheng_room_诊室三，密码写在该诊室电脑的 ~/.pgpass 中），只能读写共用的表和本诊室的"
                       "处方工作表。"));
    PgConnection third(roomConninfo(fresh_, QStringLiteral("诊室三")));
    third.setOnConnect(searchPathFor(QStringLiteral("诊室三")));
    QVERIFY2(third.run(QStringLiteral("insert into yc(门诊号) values('S1')")), qPrintable(third.lastError()));
    const ToolRun byRoom =
        runTool({"room", "add", "4", "--server", roomConninfo(fresh_), "--password-file", "-"}, "x\n");
    QCOMPARE(byRoom.code, 1);
    QVERIFY2(byRoom.err.contains(QStringLiteral("诊室 4 没有建立：这个服务器账户没有管理权限。请以数据库超级用户（如 "
                                                "postgres）或 chengheng_admin 的成员的身份运行此命令。")),
             qPrintable(byRoom.err));
    QCOMPARE(runTool({"room", "remove", "诊室三", "--server", alice}).code, 0);
    const ToolRun listed = runTool({"room", "list", "--server", alice});
    QCOMPARE(listed.code, 0);
    QVERIFY2(listed.out.contains(
                 QRegularExpression(QStringLiteral("诊室三 +chengheng_room_诊室三 +\\S+ \\S+ +\\S+ \\S+ 停用"))),
             qPrintable(listed.out));
    QVERIFY2(listed.out.contains(QRegularExpression(QStringLiteral("\\n1 +chengheng_room_1 +\\S+ \\S+ +在用"))),
             qPrintable(listed.out));
    PgConnection gone(roomConninfo(fresh_, QStringLiteral("诊室三")));
    QVERIFY(!gone.ensure());
    QCOMPARE(scalar(fresh_, "select count(*) from \"room_诊室三\".yc"), QStringLiteral("1"));
    const ToolRun verified = runTool({"audit", "verify", "--server", alice});
    QVERIFY2(verified.code == 0, qPrintable(verified.err));
}

static QString account()
{
    const passwd *pw = getpwuid(geteuid());
    return QStringLiteral("chengheng-db:") + QString::fromLocal8Bit(pw->pw_name);
}

// Each row: the commands run one after another on a new server database, the
// last one's exit code and output; then the trail names the tool's account.
void TestServerTool::commandsOnServer_data()
{
    // SERVER: the test's database; CSV: a file of the test; PWFILE: a file holding " Secret "
    QTest::addColumn<QList<QStringList>>("runs");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::newRow("user add, the trail names the role")
        << QList<QStringList>{{"user", "add", "Doc", "--password-file", "PWFILE", "--server", "SERVER"}} << 0
        << "已添加用户 Doc，权限：（无）";
    QTest::newRow("check")
        << QList<QStringList>{{"check", "--server", "SERVER"}} << 0
        << "服务器数据库检查通过：表和列、唯一键、审计记录都正常；chengheng.use 1 行，chengheng.class 0 "
           "行，chengheng.xj 0 行，chengheng.表1 25 行，chengheng.drugs 372 行，chengheng.xjrx 0 行，room_1.yc 0 "
           "行，room_1.ycrx 0 行";
    QTest::newRow("hash-passwords, every row a hash already")
        << QList<QStringList>{{"user", "hash-passwords", "--server", "SERVER"}} << 0
        << "已把 0 个用户的密码换成散列（另有 1 个已是散列或没有密码）；此后新增的用户也只保存散列";
    QTest::newRow("restore names pg_restore")
        << QList<QStringList>{{"restore", "x.dump", "--server", "SERVER"}} << 2
        << "chengheng-db: 服务器数据库不用 restore 恢复：把 backup --server 做的备份用 pg_restore --dbname "
           "CONNINFO 备份文件 恢复到一个空数据库，再让各诊室的 chengheng.conf 指向它。";
    QTest::newRow("config names the server's backups")
        << QList<QStringList>{{"config", "backup.keep", "3", "--server", "SERVER"}} << 2
        << "chengheng-db: 每日自动备份只用于数据库文件；服务器数据库请定时运行 chengheng-db backup --server CONNINFO "
           "备份文件（例如用 cron）。";
}

void TestServerTool::commandsOnServer()
{
    QFETCH(QList<QStringList>, runs);
    QFETCH(int, code);
    QFETCH(QString, output);
    initServerDb();
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("drugs.csv"));
    output.replace(QStringLiteral("CSV"), csv);
    QFile pw(dir.filePath(QStringLiteral("pw")));
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write(" Secret \n");
    pw.close();
    ToolRun r;
    for (QStringList args : runs) {
        args.replaceInStrings(QStringLiteral("SERVER"), fresh_);
        args.replaceInStrings(QStringLiteral("PWFILE"), pw.fileName());
        args.replaceInStrings(QStringLiteral("CSV"), csv);
        r = runTool(args);
    }
    QCOMPARE(r.code, code);
    QCOMPARE((code == 0 ? r.out : r.err).trimmed(), output);
    // Every change the tool made is in the trail under its account, and the chain holds.
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.audit where 用户 <> '" + account() + "'"),
             QStringLiteral("0"));
    const ToolRun v = runTool({"audit", "verify", "--server", fresh_});
    QVERIFY2(v.code == 0, qPrintable(v.err));
    if (QTest::currentDataTag() == QLatin1String("user add, the trail names the role")) {
        QVERIFY(passwordMatches(scalar(fresh_, "select password from chengheng.use where username='doc'"), false,
                                QStringLiteral("secret")));
        const ToolRun show = runTool({"audit", "show", "--record", "Doc", "--server", fresh_});
        // The tool ran as the cluster's superuser: no room's program, marked so.
        QVERIFY2(
            show.out.contains(
                account() + QStringLiteral("  xs_test（非诊室程序）  新增  用户  Doc   username：Doc；密码：******")),
            qPrintable(show.out));
        QCOMPARE(scalar(fresh_, "select count(*) from chengheng.audit where 改动 like '%ecret%'"), QStringLiteral("0"));
    }
}

// A plain password written past the program (psql) is replaced by its hash,
// and the account still signs in with it.
void TestServerTool::hashPasswordsOnServer()
{
    initServerDb();
    PgConnection c(fresh_);
    QVERIFY(c.run(QStringLiteral("insert into chengheng.use(username, password) values('old', 'oldpw'),"
                                 "('empty', NULL)")));
    const ToolRun r = runTool({"user", "hash-passwords", "--server", fresh_});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out.trimmed(),
             QStringLiteral("已把 1 个用户的密码换成散列（另有 2 个已是散列或没有密码）；此后新增的用户也只保存散列"));
    const QString stored = scalar(fresh_, "select password from chengheng.use where username='old'");
    QVERIFY2(isPasswordHash(stored), qPrintable(stored));
    QVERIFY(passwordMatches(stored, false, QStringLiteral(" OLDPW ")));
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.use where username='empty' and password is null"),
             QStringLiteral("1"));
    QVERIFY(runTool({"audit", "verify", "--server", fresh_}).code == 0);
}

void TestServerTool::checkFindsFaults_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("problem");
    QTest::newRow("unique key gone") << "drop index chengheng.xj_menzhenhao"
                                     << "表 chengheng.xj 的 门诊号 没有唯一键：同一个门诊号可能存了两次";
    QTest::newRow("column gone") << "alter table chengheng.class drop column 年级"
                                 << "表 chengheng.class 缺少列：年级";
    QTest::newRow("room without its table") << "create schema room_9"
                                            << "缺少表 room_9.yc";
    QTest::newRow("trigger off") << "alter table chengheng.xj disable trigger audit_trail"
                                 << "审计记录：表 chengheng.xj 的审计触发器被停用：此后的修改没有记录";
}

void TestServerTool::checkFindsFaults()
{
    QFETCH(QString, damage);
    QFETCH(QString, problem);
    initServerDb();
    PgConnection c(fresh_);
    QVERIFY2(c.run(damage), qPrintable(c.lastError()));
    const ToolRun r = runTool({"check", "--server", fresh_});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains(QStringLiteral("服务器数据库没有通过检查：\n"))
                 && r.err.contains(QStringLiteral("  ") + problem),
             qPrintable(r.err));
}

void TestServerTool::backupThroughPgDump()
{
    initServerDb();
    QTemporaryDir dir;
    const QString dest = dir.filePath(QStringLiteral("clinic.dump"));
    const ToolRun r = runTool({"backup", "--server", fresh_, dest});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.startsWith(
                 QStringLiteral("已把服务器数据库备份到 %1：%2 字节，pg_restore --list 检查通过；chengheng.use 1 行")
                     .arg(dest)
                     .arg(QFile(dest).size())),
             qPrintable(r.out));
    QCOMPARE(QFile::permissions(dest) & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup);
    // The dump restores into an empty database with every record.
    const QString target = freshServerDatabase();
    QVERIFY(!target.isEmpty());
    QProcess restore;
    restore.start(QStringLiteral("pg_restore"), {QStringLiteral("--dbname"), target, dest});
    QVERIFY(restore.waitForFinished(60000));
    QCOMPARE(restore.exitCode(), 0);
    QCOMPARE(scalar(target, "select username from chengheng.use"), QStringLiteral("boss"));
    QCOMPARE(runTool({"audit", "verify", "--server", target}).code, 0);

    // A dump that fails leaves nothing that looks like a backup.
    const ToolRun again = runTool({"backup", "--server", fresh_, dest});
    QCOMPARE(again.code, 1);
    QCOMPARE(again.err.trimmed(), QStringLiteral("chengheng-db: %1 已存在；备份不覆盖已有的文件").arg(dest));
    const QString broken = dir.filePath(QStringLiteral("nofolder/clinic.dump"));
    const ToolRun failed = runTool({"backup", "--server", fresh_, broken});
    QCOMPARE(failed.code, 1);
    QVERIFY2(failed.err.contains(QStringLiteral("备份失败，没有留下备份文件：pg_dump 没有完成")),
             qPrintable(failed.err));
    QVERIFY(!QFile::exists(broken));
}

// Changes made to the trail past its guards (a superuser skipping them)
// are found by audit verify, naming the first entry at fault.
void TestServerTool::tamperingFound_data()
{
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<QString>("problem");
    QTest::newRow("altered") << "update chengheng.audit set 改动=replace(改动,'qx1','qx4') where 序号=3"
                             << "第 3 条审计记录被改动";
    QTest::newRow("removed") << "delete from chengheng.audit where 序号=2"
                             << "第 2 条审计记录被删除";
    QTest::newRow("last removed") << "delete from chengheng.audit where 序号=4"
                                  << "最后的第 4 条审计记录被删除";
    QTest::newRow("put in") << "insert into chengheng.audit select 5,时间,用户,操作,表名,记录,改动,'0' from "
                               "chengheng.audit where 序号=4"
                            << "第 5 条审计记录被改动或不是程序写入的";
}

void TestServerTool::tamperingFound()
{
    QFETCH(QString, tamper);
    QFETCH(QString, problem);
    initServerDb();
    QCOMPARE(runTool({"user", "add", "doc", "--password-file", "-", "--server", fresh_}, "a\n").code, 0);
    QCOMPARE(runTool({"user", "grant", "doc", "qx1", "--server", fresh_}).code, 0);
    QCOMPARE(runTool({"user", "grant", "doc", "qx2", "--server", fresh_}).code, 0);
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.audit"), QStringLiteral("4"));
    PgConnection c(fresh_);
    // Only a superuser can: every trigger and the record of changes of structure skipped.
    QVERIFY2(c.run("set session_replication_role = replica;" + tamper + ";set session_replication_role = origin"),
             qPrintable(c.lastError()));
    const ToolRun r = runTool({"audit", "verify", "--server", fresh_});
    QCOMPARE(r.code, 1);
    QCOMPARE(r.err.trimmed(), QStringLiteral("chengheng-db: 审计记录校验不通过：") + problem);
}

void TestServerTool::trailIsAppendOnly_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("update") << "update chengheng.audit set 用户='someone'"
                            << "审计记录只能追加，不能修改";
    QTest::newRow("delete") << "delete from chengheng.audit"
                            << "审计记录只能追加，不能删除";
    QTest::newRow("truncate") << "truncate chengheng.audit"
                              << "审计记录只能追加，不能删除";
}

void TestServerTool::trailIsAppendOnly()
{
    QFETCH(QString, sql);
    QFETCH(QString, refusal);
    initServerDb();
    PgConnection c(fresh_);
    QVERIFY(!c.run(sql));
    QVERIFY2(c.lastError().contains(refusal), qPrintable(c.lastError()));
    QCOMPARE(scalar(fresh_, "select count(*)||' '||min(用户) from chengheng.audit"), QStringLiteral("1 ") + account());
}

// Two processes (each committing one change at a time) append at once: the
// chain stays whole and holds every change.
void TestServerTool::concurrentWritersKeepOneChain()
{
    initServerDb();
    QTemporaryDir dir;
    QList<QProcess *> writers;
    for (const char *room : {"A", "B"}) {
        QString script;
        for (int i = 0; i < 300; ++i)
            script += QStringLiteral("insert into chengheng.xj(门诊号,姓名) values('%1%2','病人%2');"
                                     "update chengheng.xj set 姓名='改%2' where 门诊号='%1%2';\n")
                          .arg(QLatin1String(room))
                          .arg(i);
        const QString path = dir.filePath(QLatin1String(room) + QStringLiteral(".sql"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(script.toUtf8());
        f.close();
        auto *p = new QProcess(this);
        p->start(QStringLiteral("psql"), {QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                                          QStringLiteral("-f"), path, fresh_});
        writers << p;
    }
    for (QProcess *p : writers) {
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitCode(), 0);
    }
    QCOMPARE(scalar(fresh_, "select count(*) from chengheng.xj"), QStringLiteral("600"));
    const ToolRun v = runTool({"audit", "verify", "--server", fresh_});
    QVERIFY2(v.code == 0, qPrintable(v.err));
    QVERIFY2(v.out.startsWith(QStringLiteral("审计记录完好：共 1201 条，逐条校验一致。")), qPrintable(v.out));
}

void TestServerTool::reportsOnServer_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QStringList>("printed");  // texts the PDF holds
    QTest::newRow("cases") << QStringList{"cases"} << "DataReportclass：2 条记录，1 页"
                           << QStringList{"门诊号: A1", "姓名: 欧阳", "1999-03-09", "门诊号: A2"};
    QTest::newRow("departments") << QStringList{"departments"} << "DataReportclass2：1 条记录，1 页"
                                 << QStringList{"王医生"};
    QTest::newRow("a room's work table") << QStringList{"prescription", "--room", "二"} << "DataReport1：1 条记录，1 页"
                                         << QStringList{"门诊号 R2"};
    QTest::newRow("statement") << QStringList{"cases", "--sql", "select * from xj where 姓名 like '欧%'"}
                               << "DataReportclass：1 条记录，1 页" << QStringList{"姓名: 欧阳"};
}

void TestServerTool::reportsOnServer()
{
    QFETCH(QStringList, args);
    QFETCH(QString, summary);
    QFETCH(QStringList, printed);
    initServerDb();
    PgConnection c(fresh_);
    QString why;
    QVERIFY2(addServerRoom(c, QStringLiteral("二"), std::nullopt, &why), qPrintable(why));
    QVERIFY2(c.run("insert into chengheng.class(年级,科室,医生) values('一组','内科','王医生');"
                   "insert into chengheng.xj(门诊号,姓名,科室,出生年月) values('A1','欧阳','内科','1999-03-09'),"
                   "('A2','钱','内科',null);"
                   "insert into room_1.yc(门诊号) values('R1'); insert into \"room_二\".yc(门诊号) values('R2')"),
             qPrintable(c.lastError()));
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    const ToolRun r = runTool(QStringList{"report"} + args + QStringList{"--out", pdf, "--server", fresh_});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out.trimmed(), summary + QStringLiteral(" -> ") + pdf);
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(30000));
    const QString content = QString::fromUtf8(text.readAllStandardOutput());
    for (const QString &p : printed)
        QVERIFY2(content.contains(p), qPrintable(p + QStringLiteral(" not in:\n") + content));
    // Another room's work table stays out of this room's prescription.
    QVERIFY(!content.contains(QStringLiteral("R1")));
}

QTEST_GUILESS_MAIN(TestServerTool)
#include "tst_servertool.moc"
