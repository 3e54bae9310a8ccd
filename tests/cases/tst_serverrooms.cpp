// The program on the shared server (the cluster CTest starts): start-up
// follows chengheng.conf and refuses a server it cannot use, in Chinese; an
// account migrated from a file signs in through the login window and the
// add-user dialog stores a hash; several consulting rooms, each a program of
// its own registering case records through the case entry window: four rooms
// saving 300 records each store all 1,200; two rooms saving one 门诊号 at the
// same moment store it once, and the other room is told with the window's own
// duplicate message; the four rooms' saves keep one unbroken audit chain.
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "data/engines.h"
#include "data/globals.h"
#include "data/passwords.h"
#include "data/pg/pgaudit.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "prescribe/Form2.h"
#include "prescribe/worktable.h"
#include "signin/Frmdenlu.h"
#include "signin/frmuser1.h"
#include "ui/application.h"
#include "ui/fieldform.h"
#include "ui/window.h"
#include "windowtest.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

using namespace xs;
using namespace xs::test;

namespace {
const QString kDuplicate = QStringLiteral("已经存在该门诊号的记录,门诊号不能重复！");

void typeRecord(Form1 *f, const QString &number)
{
    const QStringList texts{number, "张三", "1990-5-6", "西街2号", "200000", "5550202", "2024-04-01", "无",   "正常",
                            "无",   "发热", "流感",     "药B",     "3盒",    "李",      "34",         "22020"};
    for (int i = 0; i < 17; ++i)
        f->Text1[size_t(i)]->setText(texts[i]);
}

// One room: once the start file exists, registers `count` records numbered
// prefix001.. (a count of 1 registers the number `prefix` itself); prints
// every message it was shown.
int roomChild(const QString &conninfo, const QString &room, const QString &prefix, int count, const QString &startFile)
{
    useServer(roomConninfo(conninfo, room), room);
    MsgRecorder rec;
    openMainAs();
    Form1 *f = WindowRegistry::show<Form1>();
    CaseEditMode = false;
    WindowRegistry::bringToFront(f);
    f->load1();
    while (!QFile::exists(startFile))
        QThread::msleep(5);
    for (int i = 1; i <= count; ++i) {
        typeRecord(f, count == 1 ? prefix : prefix + QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
        f->Command1->click();
    }
    for (const auto &c : rec.calls)
        printf("message: %s\n", qPrintable(c.text));
    printf("done\n");
    fflush(stdout);
    WindowRegistry::closeAll();
    useFile();
    return 0;
}
}  // namespace

class TestServerRooms : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void startUp_data();
    void startUp();
    void signInAndAddUser();
    void windowsListFromServer();
    void workTableOnServer();
    void fourRoomsSaveTogether();
    void twoRoomsRaceForOneNumber();

private:
    // Starts one room per entry (room, prefix, count) and lets them go at once;
    // the output of each.
    QStringList runRooms(const QList<QStringList> &rooms);
    QString scalar(const QString &sql);
    QString base_, db_;
};

void TestServerRooms::initTestCase()
{
    base_ = qEnvironmentVariable("XS_PG");
    QVERIFY2(!base_.isEmpty(), "XS_PG is not set: run this test through ctest, which starts the server");
}

void TestServerRooms::init()
{
    QString why;
    db_ = freshServerDatabase(&why);
    QVERIFY2(!db_.isEmpty(), qPrintable(why));
    PgConnection c(db_);
    QVERIFY2(createServerSchema(c, QStringLiteral("1"), &why), qPrintable(why));
    for (const QString &room :
         {QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("诊室九")})
        QVERIFY2(addServerRoom(c, room, testRoomPassword(), &why), qPrintable(why));
    QVERIFY(
        c.run(QStringLiteral("insert into chengheng.class values('一组','内科','101','五年','临床','王医生','无')")));
}

QString TestServerRooms::scalar(const QString &sql)
{
    PgConnection c(db_);
    const PgResult r = c.exec(sql);
    return r.ok() && r.rows() ? r.text(0, 0) : r.error();
}

QStringList TestServerRooms::runRooms(const QList<QStringList> &rooms)
{
    QTemporaryDir dir;
    const QString start = dir.path() + QStringLiteral("/go");
    std::vector<std::unique_ptr<QProcess>> procs;
    for (const QStringList &r : rooms) {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
        p->start(QCoreApplication::applicationFilePath(), QStringList{"--room", db_} + r + QStringList{start});
        procs.push_back(std::move(p));
    }
    QTest::qWait(1500);  // every room has its window open
    QFile go(start);
    go.open(QIODevice::WriteOnly);
    go.close();
    QStringList outs;
    for (auto &p : procs) {
        if (!p->waitForFinished(600000))
            p->kill();
        outs << QString::fromUtf8(p->readAllStandardOutput()) + QString::fromUtf8(p->readAllStandardError()).left(2000);
    }
    return outs;
}

void TestServerRooms::startUp_data()
{
    // DB: the test's database as the cluster's superuser; ROOM: as the
    // login role of the room the settings name (诊室九), ROOM1 as room 1's.
    QTest::addColumn<QString>("connection");
    QTest::addColumn<QString>("message");  // empty: the program starts on the server
    QTest::newRow("the server") << "ROOM"
                                << "";
    const QString useRoom = QStringLiteral("请在连接串中改用本诊室的账户 chengheng_room_诊室九（由数据库管理员用 "
                                           "chengheng-db room add 诊室九 --server … 建立，密码写在 ~/.pgpass 中）。");
    QTest::newRow("a superuser") << "DB"
                                 << QStringLiteral("程序不以数据库超级用户 xs_test 的身份运行：超级用户能绕过审计记录和"
                                                   "诊室之间的隔离。")
                                        + useRoom;
    QTest::newRow("another room's account") << "ROOM1"
                                            << "服务器账户 chengheng_room_1 属于诊室 1，而设置中的诊室是 "
                                               "诊室九。请改正设置中的诊室名，或在连接串中改用诊室 "
                                               "诊室九 的账户 chengheng_room_诊室九。";
    QTest::newRow("no such server") << "host=/nonexistent dbname=x connect_timeout=2"
                                    << "无法连接数据库服务器：本机（套接字目录 /nonexistent）拒绝了连接（那里没有数据库"
                                       "服务器在运行，或地址、端口不对）。";
    // A server that takes the connection and never answers, and one whose
    // archive another program holds locked: told within seconds, never a
    // start that waits for ever.
    QTest::newRow("a server that never answers")
        << "host=127.0.0.1 port=SILENT dbname=x"
        << "无法连接数据库服务器：服务器 127.0.0.1:SILENT 在 5 秒内没有答复（网络不通，或服务器没有响应）。";
    QTest::newRow("the archive locked")
        << "LOCKED"
        << "数据库服务器在 5 秒内没有完成启动时的检查（服务器很忙，或表被其他程序锁住）。"
           "请稍后再启动程序；若反复出现，请联系数据库管理员。";
    QTest::newRow("no 澄衡 database there") << "BASE"
                                            << "服务器上还没有澄衡数据库。请先用 chengheng-db init --server 或 "
                                               "chengheng-db migrate 建立它。";
}

void TestServerRooms::startUp()
{
    QFETCH(QString, connection);
    QFETCH(QString, message);
    const SilentPort silent;
    PgConnection holder(db_);
    if (connection == QLatin1String("LOCKED")) {
        QVERIFY(holder.run(QStringLiteral("BEGIN;LOCK TABLE chengheng.xj IN ACCESS EXCLUSIVE MODE")));
        connection = QStringLiteral("ROOM");
    }
    connection.replace(QStringLiteral("BASE"), base_)
        .replace(QStringLiteral("ROOM1"), roomConninfo(db_))
        .replace(QStringLiteral("ROOM"), roomConninfo(db_, QStringLiteral("诊室九")))
        .replace(QStringLiteral("DB"), db_);
    connection.replace(QStringLiteral("SILENT"), QString::number(silent.port()));
    message.replace(QStringLiteral("SILENT"), QString::number(silent.port()));
    QTemporaryDir app;
    setAppDirForTesting(app.path());
    QFile conf(app.path() + QStringLiteral("/chengheng.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[server]\nconnection=\"" + connection.toUtf8() + "\"\nroom=诊室九\n");
    conf.close();
    MsgRecorder rec;
    QElapsedTimer clock;
    clock.start();
    const bool started = openDatabaseOrTell();
    QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
    setAppDirForTesting(QString());
    if (message.isEmpty()) {
        QVERIFY(started);
        QVERIFY(rec.calls.isEmpty());
        QVERIFY(onServer());
        QCOMPARE(serverRoom(), QStringLiteral("诊室九"));
        // No file was made beside the program.
        QVERIFY(!QFile::exists(app.path() + QStringLiteral("/xs.mdb")));
        useFile();
        return;
    }
    QVERIFY(!started);
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY2(rec.calls[0].text.startsWith(
                 QStringLiteral("无法使用配置文件 %1/chengheng.conf 中的数据库服务器：\n%2").arg(app.path(), message)),
             qPrintable(rec.calls[0].text));
    QCOMPARE(rec.calls[0].icon(), int(vbCritical));
    QVERIFY(!onServer());
}

void TestServerRooms::signInAndAddUser()
{
    // A plain account of a file arrives on the server as a hash.
    TestDb file;
    file.exec(QStringLiteral("insert into use(username,password,qx1) values('Wang','pw1','y')"));
    const QString target = freshServerDatabase();
    QVERIFY(!target.isEmpty());
    const ToolRun r = runTool({"migrate", "--from", file.path(), "--to", target});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    useServer(roomConninfo(target), QStringLiteral("1"));
    MsgRecorder rec;
    Frmdenlu *w = showInFront<Frmdenlu>();
    w->Text1->setText(QStringLiteral("wang"));
    w->Text2->setText(QStringLiteral(" PW1 "));
    QTest::mouseClick(w->Command1, Qt::LeftButton);
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    QCOMPARE(CurrentUser, QStringLiteral("Wang"));
    PgConnection c(target);
    QVERIFY(
        isPasswordHash(c.exec(QStringLiteral("select password from chengheng.use where username='Wang'")).text(0, 0)));

    frmuser1 *add = showInFront<frmuser1>();
    add->Text1[0]->setText(QStringLiteral("Li"));
    add->Text1[1]->setText(QStringLiteral("secret"));
    add->Text1[2]->setText(QStringLiteral("secret"));
    add->Command1->click();
    const QString stored = c.exec(QStringLiteral("select password from chengheng.use where username='Li'")).text(0, 0);
    QVERIFY2(isPasswordHash(stored), qPrintable(stored + rec.lastText()));
    QVERIFY(passwordMatches(stored, false, QStringLiteral("SECRET")));
    WindowRegistry::closeAll();
    useFile();
}

// The browsers' listings and the prescribing window's grids read the server.
void TestServerRooms::windowsListFromServer()
{
    PgConnection c(db_);
    QVERIFY(c.run(QStringLiteral("insert into chengheng.xj(门诊号,姓名,科室) select 'S'||lpad(g::text,4,'0'),'病人'||g,"
                                 "'内科' from generate_series(1,600) g;"
                                 "insert into \"room_2\".yc(门诊号,姓名) values('W1','二室的')")));
    useServer(roomConninfo(db_), QStringLiteral("1"));
    MsgRecorder rec;
    openMainAs();
    Form3 *b = listNode<Form3>(QStringLiteral("内科"));
    const QStringList numbers = gridColumn(b->MSF1, 1, true);
    QCOMPARE(numbers.size(), 600);
    QCOMPARE(numbers.first(), QStringLiteral("S0001"));
    QCOMPARE(numbers.last(), QStringLiteral("S0600"));
    Form2 *w = showSettled<Form2>();
    const auto rows = [w] {
        QStringList seen;
        for (FlexGrid *g : {w->MSF1, w->MSHFlexGrid1})
            seen << QString::number(g->Rows());
        return seen;
    };
    // One grid lists the archive (600 records and the title row, once the
    // count has come from the server in the background), the other this
    // room's empty work table: room 2's row is not shown here.
    QTRY_VERIFY2(rows().contains(QStringLiteral("601")), qPrintable(rows().join(u',')));
    for (FlexGrid *g : {w->MSF1, w->MSHFlexGrid1})
        for (int r = 1; r < g->Rows(); ++r)
            QVERIFY(g->TextMatrix(r, 1) != QStringLiteral("W1"));
    QVERIFY2(rec.calls.isEmpty(), qPrintable(rec.lastText()));
    WindowRegistry::closeAll();
    useFile();
}

// The prescribing window's work-table operations on the server: a row
// generated into this room's yc, archived into the shared xj once, the room's
// table cleared without touching another room's.
void TestServerRooms::workTableOnServer()
{
    PgConnection c(db_);
    QVERIFY(c.run(QStringLiteral("insert into \"room_2\".yc(门诊号,姓名) values('W9','二室的')")));
    useServer(roomConninfo(db_), QStringLiteral("1"));
    WorkRecord r;
    const QStringList texts{"P1",   "张三",       "男",  "内科", "1980-05-06", "北京路1号", "100000",
                            "138",  "2024-03-01", "无",  "未婚", "正常",       "无",        "咳嗽",
                            "感冒", "药A",        "2盒", "王",   "44",         "110"};
    for (int i = 0; i < 20; ++i)
        r[size_t(i)] = texts[i];
    const GenerateOutcome g = generatePrescription(r, false, std::nullopt);
    QVERIFY2(g.result == GenerateOutcome::Stored, qPrintable(g.error));
    const ArchiveOutcome a = archiveWorkRows(QStringLiteral("P1"));
    QVERIFY2(a.result == ArchiveOutcome::Copied, qPrintable(a.error));
    QCOMPARE(archiveWorkRows(QStringLiteral("P1")).result, ArchiveOutcome::AlreadyArchived);
    QCOMPARE(scalar(QStringLiteral("select 姓名||'|'||出生年月 from chengheng.xj where 门诊号='P1'")),
             QStringLiteral("张三|1980-05-06"));
    QVERIFY(clearWorkTable().ok);
    QCOMPARE(scalar(QStringLiteral("select count(*) from room_1.yc")), QStringLiteral("0"));
    QCOMPARE(scalar(QStringLiteral("select count(*) from room_2.yc")), QStringLiteral("1"));
    useFile();
}

void TestServerRooms::fourRoomsSaveTogether()
{
    const QStringList outs = runRooms({{"1", "A", "300"}, {"2", "B", "300"}, {"3", "C", "300"}, {"4", "D", "300"}});
    for (const QString &o : outs) {
        QVERIFY2(o.contains(QStringLiteral("done")), qPrintable(o));
        QVERIFY2(!o.contains(QStringLiteral("message:")), qPrintable(o.left(2000)));
    }
    QCOMPARE(scalar(QStringLiteral("select count(*) from chengheng.xj")), QStringLiteral("1200"));
    // The archive's kept count, appended to by four rooms at once, is exact.
    QCOMPARE(scalar(QStringLiteral("select sum(n) from chengheng.row_counts where tbl='xj'")), QStringLiteral("1200"));
    for (const char *p : {"A", "B", "C", "D"})
        QCOMPARE(
            scalar(QStringLiteral("select count(*) from chengheng.xj where 门诊号 like '%1%'").arg(QLatin1String(p))),
            QStringLiteral("300"));
    // The four rooms appended to one trail, one after another: every save
    // has its entry and the chain is unbroken.
    QCOMPARE(scalar(QStringLiteral("select count(*) from chengheng.audit where 操作='新增' and 表名='xj'")),
             QStringLiteral("1200"));
    PgConnection c(db_);
    const AuditVerification v = verifyServerAuditTrail(c);
    QVERIFY2(v.ok, qPrintable(v.problem));
}

void TestServerRooms::twoRoomsRaceForOneNumber()
{
    const QStringList outs = runRooms({{"1", "R0001", "1"}, {"2", "r0001", "1"}});
    int told = 0;
    for (const QString &o : outs) {
        QVERIFY2(o.contains(QStringLiteral("done")), qPrintable(o));
        const int messages = int(o.count(QStringLiteral("message:")));
        QVERIFY2(messages <= 1, qPrintable(o));
        if (messages == 1) {
            ++told;
            QVERIFY2(o.contains(QStringLiteral("message: ") + kDuplicate), qPrintable(o));
        }
    }
    QCOMPARE(told, 1);
    QCOMPARE(scalar(QStringLiteral("select count(*) from chengheng.xj where 门诊号='r0001'")), QStringLiteral("1"));
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    if (argc == 7 && qstrcmp(argv[1], "--room") == 0)
        return roomChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                         QString::fromLocal8Bit(argv[4]), atoi(argv[5]), QString::fromLocal8Bit(argv[6]));
    TestServerRooms t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_serverrooms.moc"
