// The database file under faults, for real: a file that disappears while the
// application runs, a full disk under the case entry window, a damaged page
// under the windows that list records, and two programs saving at once. Every
// fault is told in Chinese, nothing typed is lost and the application goes on.
#include "cases/DataReportclass.h"
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "data/engines.h"
#include "data/globals.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/backup.h"
#include "data/sqlite/sqlite.h"
#include "dept/Formclass2.h"
#include "mainwin/MDIForm1.h"
#include "prescribe/Form2.h"
#include "signin/Frmdenlu.h"
#include "testenv.h"
#include "ui/application.h"
#include "ui/fieldform.h"
#include "ui/window.h"
#include "windowtest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace xs;
using namespace xs::test;

class TestDbError : public QObject {
    Q_OBJECT
private slots:
    void vanishedFileReportedOnce();
    void vanishedFileToldByReport();
    void fullDiskKeepsTypedRecord_data();
    void fullDiskKeepsTypedRecord();
    void damagedPageIsToldNotEmpty_data();
    void damagedPageIsToldNotEmpty();
    void twoProgramsSaveTogether();
};

namespace {

const QString kReadFault = QStringLiteral("读取数据库失败，显示的内容不完整：\n");
const QString kDamaged = QStringLiteral("数据库文件已损坏。请运行 chengheng-db check 检查，或从备份恢复数据库文件。");

void addDepartments(const TestDb &db)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床','王医生','无');"
                           "insert into class values('二组','儿科','201','四年','儿科学','赵医生','无');"));
}

// A complete record typed into the case entry window.
void typeRecord(Form1 *f, const QString &number, const QString &remark = QStringLiteral("无"))
{
    const QStringList texts{number, "张三", "1990-5-6", "西街2号", "200000", "5550202", "2024-04-01", remark, "正常",
                            "无",   "发热", "流感",     "药B",     "3盒",    "李",      "34",         "22020"};
    for (int i = 0; i < 17; ++i)
        f->Text1[size_t(i)]->setText(texts[i]);
}

Form1 *openCaseEntry()
{
    Form1 *f = WindowRegistry::show<Form1>();
    CaseEditMode = false;
    WindowRegistry::bringToFront(f);
    f->load1();
    return f;
}

// A small file system of its own (tmpfs with a size limit) mounted on a
// temporary folder while the object lives. Needs the right to mount (root).
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes)
    {
        const QByteArray opts = "size=" + QByteArray::number(bytes);
        mounted_ = dir_.isValid()
                   && ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, opts.constData()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted_)
            ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    QString path() const { return dir_.path(); }
    // Writes a filler file until the file system refuses more; its size.
    qint64 fill()
    {
        QFile f(path() + QStringLiteral("/filler"));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return 0;
        const QByteArray block(4096, 'x');
        qint64 total = 0;
        while (f.write(block) == block.size())
            total += block.size();
        return total;
    }
    void free() { QFile::remove(path() + QStringLiteral("/filler")); }

private:
    QTemporaryDir dir_;
    bool mounted_ = false;
};

}  // namespace

void TestDbError::vanishedFileReportedOnce()
{
    XS_FILE_ONLY("the database file removed under the program");
    TestDb db(All);
    MsgRecorder rec;
    installDbFaultListener();
    signInAs("admin");
    MDIForm1 *m = WindowRegistry::show<MDIForm1>();
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(db.path() + suffix);
    // Two actions in one burst: the vanished file is told once, in Chinese,
    // after the handlers returned, and the application goes on.
    QTimer::singleShot(0, m->entry("liulan"), &QAction::trigger);
    QTimer::singleShot(0, m->entry("liulan"), &QAction::trigger);
    bool stillRunning = false;
    QTimer::singleShot(100, [&] { stillRunning = true; });
    QTRY_VERIFY(stillRunning);
    QList<int> faults;
    for (int i = 0; i < rec.calls.size(); ++i)
        if (rec.calls[i].title == QStringLiteral("澄衡"))
            faults << i;
    QCOMPARE(faults.size(), 1);
    // The rights could not be read: no refusal joins the fault, which is no
    // matter of rights.
    QCOMPARE(rec.calls.size(), 1);
    const auto &c = rec.calls[faults[0]];
    QVERIFY(c.text.contains(db.path()));
    QVERIFY(c.text.contains(QStringLiteral("文件不存在或无法读取")));
    QVERIFY2(englishIn(c.text).isEmpty(), qPrintable(c.text));
    QCOMPARE(c.icon(), int(vbCritical));
    QVERIFY(!QCoreApplication::closingDown());
    setFaultListener({});
    // Nothing was created in its place.
    QVERIFY(!QFile::exists(db.path()));
}

// A report over a file that is gone says so; it is not an empty report.
void TestDbError::vanishedFileToldByReport()
{
    XS_FILE_ONLY("the database file removed under the program");
    TestDb db(All);
    MsgRecorder rec;
    installDbFaultListener();
    signInAs(QStringLiteral("admin"));
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(db.path() + suffix);
    QVERIFY(DataReportclass::Show(false));
    QTRY_COMPARE(rec.calls.size(), 1);
    QVERIFY2(rec.calls[0].text.contains(QStringLiteral("文件不存在或无法读取")), qPrintable(rec.calls[0].text));
    QCOMPARE(rec.calls[0].title, QStringLiteral("澄衡"));
    QCOMPARE(rec.calls[0].icon(), int(vbCritical));
    DataReportclass::Unload();
    setFaultListener({});
}

void TestDbError::fullDiskKeepsTypedRecord_data()
{
    QTest::addColumn<bool>("signIn");  // through the login window, which starts the daily backup
    QTest::addColumn<int>("remark");   // characters of the remark
    // A record larger than whatever room the log file already has.
    QTest::newRow("large record") << false << 300000;
    QTest::newRow("signed in, everyday record") << true << 2;
}

// With the disk full, 确定 says so in Chinese, the window keeps every typed
// text, and the record is stored by 确定 once space was freed. Signed in on
// a disk with room for the day's records only, the daily backup leaves that
// room to them.
void TestDbError::fullDiskKeepsTypedRecord()
{
    XS_FILE_ONLY("the file's own disk filling up");
    QFETCH(bool, signIn);
    QFETCH(int, remark);
    TestDb db;
    addDepartments(db);
    SmallDisk disk(2 * 1024 * 1024);
    if (!disk.mounted())
        QSKIP("mounting a size-limited file system needs root");
    const QString path = disk.path() + QStringLiteral("/xs.mdb");
    QVERIFY(QFile::copy(db.path(), path));
    setAppDirForTesting(disk.path());
    MsgRecorder rec;
    if (signIn) {
        // The program lies on the same disk and leaves room for the day's
        // records, not for a second copy of the file.
        struct statvfs fs = {};
        QCOMPARE(::statvfs(QFile::encodeName(disk.path()).constData(), &fs), 0);
        const qint64 room = QFileInfo(path).size() + 128 * 1024;
        const qint64 program = (qint64(fs.f_bavail) * qint64(fs.f_frsize) - room) / 4096 * 4096;
        QFile binary(disk.path() + QStringLiteral("/chengheng"));
        QVERIFY(program > 0 && binary.open(QIODevice::WriteOnly));
        QCOMPARE(binary.write(QByteArray(program, '\x7f')), program);
        binary.close();
        resetDailyBackupForTesting();
        // The program's own start: the file made ready, the login window.
        QVERIFY(openDatabaseOrTell());
        MDIForm1::wireSignIn();
        auto *login = WindowRegistry::show<Frmdenlu>();
        login->Text1->setText(QStringLiteral("admin"));
        login->Text2->setText(QStringLiteral("admin123"));
        login->Command1->click();
        waitForDailyBackup();
        QCOMPARE(CurrentUser, QStringLiteral("admin"));
        // The daily backup would take that room: it copies nothing and says so.
        QCOMPARE(rec.calls.size(), 1);
        QVERIFY2(
            rec.calls[0].text.startsWith(QStringLiteral("今天的自动备份没有成功：磁盘空间不足，没有复制：%1/backups "
                                                        "所在的磁盘只剩 ")
                                             .arg(disk.path())),
            qPrintable(rec.calls[0].text));
        QCOMPARE(QDir(disk.path() + QStringLiteral("/backups")).entryList(QDir::Files), QStringList());
        QTRY_VERIFY(WindowRegistry::find<MDIForm1>());
        WindowRegistry::find<MDIForm1>()->entry(QStringLiteral("add"))->trigger();
        QTest::qWait(100);
    } else {
        openMainAs();
    }
    Form1 *f = signIn ? WindowRegistry::find<Form1>() : openCaseEntry();
    QVERIFY(f);
    typeRecord(f, QStringLiteral("0100"), QString(remark, QChar(u'病')));
    QStringList typed;
    for (TextBox *t : f->Text1)
        typed << t->text();
    QVERIFY(disk.fill() > 0);
    rec.clear();

    f->Command1->click();
    QCOMPARE(rec.calls.size(), 1);
    QVERIFY2(rec.calls[0].text.startsWith(QStringLiteral("病例记录没有保存成功！\n")), qPrintable(rec.calls[0].text));
    QVERIFY2(rec.calls[0].text.contains(QStringLiteral("磁盘已满，数据没有保存。请释放磁盘空间后再试。")),
             qPrintable(rec.calls[0].text));
    QVERIFY2(englishIn(rec.calls[0].text).isEmpty(), qPrintable(rec.calls[0].text));
    QCOMPARE(rec.calls[0].icon(), int(vbExclamation));
    QCOMPARE(rec.calls[0].title, QStringLiteral("警告"));
    QVERIFY(WindowRegistry::find<Form1>() == f);
    QStringList after;
    for (TextBox *t : f->Text1)
        after << t->text();
    QCOMPARE(after, typed);

    disk.free();
    rec.clear();
    f->Command1->click();
    QCOMPARE(rec.calls.size(), 0);
    Connection c = Connection::open(path);
    StmtHandle s = c.prepare(QStringLiteral("select 姓名, length(备注) from xj where 门诊号='0100'"));
    QVERIFY(s);
    QCOMPARE(sqlite3_step(s.get()), SQLITE_ROW);
    QCOMPARE(columnText(s.get(), 0), QStringLiteral("张三"));
    QCOMPARE(sqlite3_column_int(s.get(), 1), remark);
    s.reset();
    WindowRegistry::closeAll();
}

void TestDbError::damagedPageIsToldNotEmpty_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("table");  // whose page is damaged
    QTest::newRow("case browser") << "Form3"
                                  << "xj";
    QTest::newRow("department browser") << "Formclass2"
                                        << "class";
    QTest::newRow("prescribing window") << "Form2"
                                        << "xj";
}

// A damaged page of the archive: the window that lists it says the file is
// damaged and what to do, instead of showing fewer or no records as if that
// were all there is.
void TestDbError::damagedPageIsToldNotEmpty()
{
    XS_FILE_ONLY("a damaged page of the file");
    QFETCH(QString, window);
    QFETCH(QString, table);
    TestDb db;
    addDepartments(db);
    db.exec(QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<3000) "
                           "insert into xj(门诊号,姓名,性别,科室,备注) select printf('%05d',i),'病人'||i,'男',"
                           "case when i%2 then '内科' else '儿科' end, hex(randomblob(40)) from n"));
    db.exec(
        QStringLiteral("with recursive n(i) as (select 1 union all select i+1 from n where i<800) "
                       "insert into class select '一组','科'||i,'3'||i,'五年',hex(randomblob(30)),'医生','无' from n"));
    const QString page = db.scalar(QStringLiteral("select pageno from dbstat where name='%1' and pagetype='leaf' "
                                                  "order by pageno limit 1 offset 10")
                                       .arg(table));
    QVERIFY(!page.isEmpty());
    const int pageSize = db.scalar(QStringLiteral("PRAGMA page_size")).toInt();
    {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(qint64(page.toInt() - 1) * pageSize));
        QCOMPARE(f.write(QByteArray(pageSize, '\x5a')), qint64(pageSize));
    }
    MsgRecorder rec;
    installDbFaultListener();
    openMainAs();
    rec.clear();
    // The grids read their rows as they are shown: scrolling to the end reads
    // the damaged page.
    const auto readAll = [](FlexGrid *g) {
        for (int r = 1; r < g->Rows(); r += 50)
            g->TextMatrix(r, 1);
    };
    if (window == QLatin1String("Form3")) {
        Form3 *b = showSettled<Form3>();
        selectAndList(b, nodeByText(b->TreeView1, QStringLiteral("内科")));
        readAll(b->MSF1);
    } else if (window == QLatin1String("Formclass2")) {
        Formclass2 *b = showSettled<Formclass2>();
        if (QTreeWidgetItem *node = nodeByText(b->TreeView1, QStringLiteral("一组")))
            selectAndList(b, node);
    } else {
        Form2 *w = showSettled<Form2>();
        for (FlexGrid *g : {w->MSF1, w->MSHFlexGrid1})
            readAll(g);
    }
    QTRY_VERIFY(!rec.calls.isEmpty());
    QTest::qWait(50);
    int told = 0;
    for (const auto &c : rec.calls)
        if (c.text.startsWith(kReadFault)) {
            ++told;
            QVERIFY2(c.text.contains(kDamaged), qPrintable(c.text));
            QVERIFY2(englishIn(c.text).isEmpty(), qPrintable(c.text));
            QCOMPARE(c.icon(), int(vbCritical));
            QCOMPARE(c.title, QStringLiteral("澄衡"));
        }
    // Each action that met the damage tells it (the tree and the listing of the
    // department browser are two), and nothing else is asked.
    QVERIFY(told >= 1);
    QCOMPARE(told, rec.calls.size());
    setFaultListener({});
}

// The program run as a second consulting room: signs in, opens the case entry
// window and registers `count` records numbered prefix001.., then prints how
// many saves were refused.
static int saveChild(const QString &where, const QString &prefix, int count)
{
    // The test's folder, or on the server engine its database.
    if (serverEngine())
        useServer(where, QStringLiteral("1"));
    else {
        setAppDirForTesting(where);
        useFile();
    }
    MsgRecorder rec;
    openMainAs();
    Form1 *f = openCaseEntry();
    int refused = 0;
    for (int i = 1; i <= count; ++i) {
        rec.clear();
        typeRecord(f, prefix + QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
        f->Command1->click();
        if (!rec.calls.isEmpty()) {
            ++refused;
            fprintf(stderr, "%s\n", qPrintable(rec.calls[0].text));
        }
    }
    printf("refused %d\n", refused);
    WindowRegistry::closeAll();
    setAppDirForTesting(QString());
    useFile();
    return 0;
}

// Two consulting rooms on one database, 300 registrations each at the same time:
// every save waits for the other room's write instead of failing.
void TestDbError::twoProgramsSaveTogether()
{
    TestDb db;
    addDepartments(db);
    QProcess a, b;
    for (QProcess *p : {&a, &b}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
    }
    const QString self = QCoreApplication::applicationFilePath();
    const QString where = serverEngine() ? db.server() : db.dir();
    a.start(self, {QStringLiteral("--save-child"), where, QStringLiteral("A"), QStringLiteral("300")});
    b.start(self, {QStringLiteral("--save-child"), where, QStringLiteral("B"), QStringLiteral("300")});
    for (QProcess *p : {&a, &b}) {
        QVERIFY(p->waitForFinished(600000));
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
        QVERIFY2(out.contains(QStringLiteral("refused 0")),
                 qPrintable(out + QString::fromUtf8(p->readAllStandardError()).left(2000)));
    }
    QCOMPARE(db.count(QStringLiteral("xj where 门诊号 like 'A%'")), 300);
    QCOMPARE(db.count(QStringLiteral("xj where 门诊号 like 'B%'")), 300);
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--save-child") == 0)
        return saveChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    TestDbError t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_dberror.moc"
