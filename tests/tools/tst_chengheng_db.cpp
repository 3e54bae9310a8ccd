// The database tool run as a user runs it (a separate process), and the seed
// and CSV functions it is built on.
#include "data/accounts.h"
#include "data/catalogue.h"
#include "data/csv.h"
#include "data/dates.h"
#include "data/schema.h"
#include "data/sqlite/sqlite.h"

#include "testenv.h"

#include "data/passwords.h"
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include <functional>
#include <poll.h>
#include <pty.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace xs;
using xs::test::runTool;
using xs::test::toolPath;
using xs::test::ToolRun;

namespace {

// Rows of a query as "a|b|c"; a null cell reads "∅" so that it differs from
// the empty text.
QStringList query(const QString &path, const QString &sql)
{
    Connection c = Connection::open(path);
    StmtHandle s = c.prepare(sql);
    if (!s)
        qFatal("prepare %s: %s", qPrintable(sql), qPrintable(c.lastError()));
    QStringList out;
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 0; i < sqlite3_column_count(s.get()); ++i)
            cells << (sqlite3_column_type(s.get(), i) == SQLITE_NULL ? QStringLiteral("∅") : columnText(s.get(), i));
        out << cells.join(u'|');
    }
    return out;
}

// Rows of use ("name|password|...") with each hashed password shown as the
// expected password of its row when the hash opens the account with it.
QStringList opened(QStringList rows, const QStringList &expected)
{
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QStringList cells = rows[i].split(u'|');
        const QStringList want = expected.value(i).split(u'|');
        if (cells.size() > 1 && want.size() > 1 && isPasswordHash(cells[1])
            && passwordMatches(cells[1], false, want[1]))
            cells[1] = want[1];
        rows[i] = cells.join(u'|');
    }
    return rows;
}

QString scalar(const QString &path, const QString &sql)
{
    const QStringList r = query(path, sql);
    return r.isEmpty() ? QString() : r.first();
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Every column of 表1 in stored order, nulls visible.
QStringList catalogueDump(const QString &path)
{
    return query(path, QStringLiteral("select %1 from 表1 order by rowid").arg(catalogueColumns().join(u',')));
}

QString csvHeader() { return catalogueColumns().join(u','); }

// A CSV line of 17 fields: the given fields first, the rest empty.
QByteArray csvLine(const QStringList &first)
{
    QStringList f = first;
    while (f.size() < catalogueColumns().size())
        f << QString();
    return (f.join(u',') + QStringLiteral("\r\n")).toUtf8();
}

}  // namespace

class TestChengHengDb : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void usage_data();
    void usage();
    void helpAndVersionWithoutDisplay_data();
    void helpAndVersionWithoutDisplay();

    void initWithOptions();
    void percentInPathsPrintedAsIs();
    void initPrompted_data();
    void initPrompted();
    void initRefused_data();
    void initRefused();
    void initDemo();
    void demoIsDeterministic();

    void passwordTypedNotShown_data();
    void passwordTypedNotShown();
    void passwordNeverOnCommandLine_data();
    void passwordNeverOnCommandLine();
    void defaultDatabaseBesideTool();

    void catalogueExportRefused();

    void onlyOwnMessages();
    void controlCharactersEscaped_data();
    void controlCharactersEscaped();

    void parseCsv_data();
    void parseCsv();
    void formatCsvRoundTrip();
    void importInsideCallerTransaction();

private:
    std::unique_ptr<QTemporaryDir> tmp_;
    QString demo_;  // a demo database made once, copied by the tests that need one
    QString dir() const { return tmp_->path(); }
    QString freshDemo();
};

void TestChengHengDb::initTestCase()
{
    QVERIFY2(QFileInfo(toolPath()).isExecutable(), qPrintable(toolPath()));
    static QTemporaryDir keep;
    demo_ = keep.path() + QStringLiteral("/demo.mdb");
    const ToolRun r = runTool({"init", demo_, "--demo"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
}

void TestChengHengDb::init()
{
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
}

QString TestChengHengDb::freshDemo()
{
    const QString path = dir() + QStringLiteral("/xs.mdb");
    QFile::copy(demo_, path);
    return path;
}

void TestChengHengDb::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::newRow("--help") << QStringList{"--help"} << 0;
    QTest::newRow("-h") << QStringList{"-h"} << 0;
    QTest::newRow("no arguments") << QStringList{} << 2;
    QTest::newRow("user --help") << QStringList{"user", "--help"} << 0;
}

void TestChengHengDb::usage()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    const ToolRun r = runTool(args);
    QCOMPARE(r.code, code);
    // Asked for, the usage is the output; after a mistake it is the error.
    const QString text = code == 0 ? r.out : r.err;
    QVERIFY2(text.contains(QStringLiteral("chengheng-db user grant NAME FLAG... [--db PATH | --server CONNINFO]")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("admin readonly qx1 qx2 qx3 qx4")));
    QCOMPARE((code == 0 ? r.err : r.out), QString());
    if (args.isEmpty())
        QVERIFY(r.err.startsWith(QStringLiteral("chengheng-db: 缺少命令\n")));
}

void TestChengHengDb::helpAndVersionWithoutDisplay_data()
{
    QTest::addColumn<bool>("app");  // chengheng itself, else chengheng-db
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("pattern");  // the whole of standard output
    const QString version = QStringLiteral("^%1 \\d+\\.\\d+\\.\\d+\n$");
    const QString appHelp =
        QStringLiteral("^用法：chengheng \\[-h \\| --help\\] \\[-v \\| --version\\]\n.*chengheng-db --help");
    QTest::newRow("chengheng --help") << true << QStringList{"--help"} << appHelp;
    QTest::newRow("chengheng -h") << true << QStringList{"-h"} << appHelp;
    QTest::newRow("chengheng --version") << true << QStringList{"--version"} << version.arg("chengheng");
    QTest::newRow("chengheng -v") << true << QStringList{"-v"} << version.arg("chengheng");
    QTest::newRow("chengheng -platform x --version")
        << true << QStringList{"-platform", "offscreen", "--version"} << version.arg("chengheng");
    QTest::newRow("chengheng-db -V") << false << QStringList{"-V"} << version.arg("chengheng-db");
    QTest::newRow("chengheng-db --version") << false << QStringList{"--version"} << version.arg("chengheng-db");
    QTest::newRow("after the command") << false << QStringList{"user", "list", "-V"} << version.arg("chengheng-db");
    QTest::newRow("among options") << false << QStringList{"report", "cases", "--version", "--out", "x.pdf"}
                                   << version.arg("chengheng-db");
    QTest::newRow("help lists them") << false << QStringList{"--help"}
                                     << QStringLiteral(
                                            "\n  chengheng-db -h \\| --help.*\n  chengheng-db -V \\| --version");
}

// Both programs answer --help and --version on a machine without a display
// (no DISPLAY, no platform chosen): nothing is opened, exit 0.
void TestChengHengDb::helpAndVersionWithoutDisplay()
{
    QFETCH(bool, app);
    QFETCH(QStringList, args);
    QFETCH(QString, pattern);
    QString program = toolPath();
    if (app) {
        program = qEnvironmentVariable("XS_APP");
        if (program.isEmpty())
            program = QCoreApplication::applicationDirPath() + QStringLiteral("/chengheng");
    }
    const ToolRun r = runTool(args, {}, program, dir());
    QVERIFY2(r.code == 0, qPrintable(QString::number(r.code) + r.err));
    QCOMPARE(r.err, QString());
    QVERIFY2(QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption).match(r.out).hasMatch(),
             qPrintable(r.out));
    QVERIFY(QDir(dir()).isEmpty());
}

void TestChengHengDb::initWithOptions()
{
    const QString db = dir() + QStringLiteral("/new.mdb");
    writeFile(dir() + QStringLiteral("/pw"), " s3cret \nnot this line\n");
    const ToolRun r = runTool({"init", db, "--admin-name", " boss ", "--admin-password-file", dir() + "/pw"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(r.out.contains(db));
    // One super administrator, name and password trimmed, no other flag.
    QCOMPARE(opened(query(db, "select * from use"), {"boss|s3cret|y|∅|∅|∅|∅|∅"}),
             QStringList{"boss|s3cret|y|∅|∅|∅|∅|∅"});
    // A new file keeps hashes only, and says so.
    QCOMPARE(scalar(db, "select count(*) from use where password not like '$argon2id$%'"), QString("0"));
    QCOMPARE(scalar(db, "select value from settings where name='password.hash'"), QString("argon2id"));
    QCOMPARE(scalar(db, "select count(*) from class"), QString("0"));
    QCOMPARE(scalar(db, "select count(*) from xj"), QString("0"));
    QCOMPARE(scalar(db, "select count(*) from yc"), QString("0"));
    QCOMPARE(scalar(db, "pragma journal_mode"), QString("wal"));
    // The catalogue is the built-in one, as the demo has it.
    QCOMPARE(catalogueDump(db), catalogueDump(demo_));
    QVERIFY(!QFileInfo::exists(db + "-wal"));
}

// A % sign in a path is text like any other: the counts printed after it
// stay the counts.
void TestChengHengDb::percentInPathsPrintedAsIs()
{
    const QString db = dir() + QStringLiteral("/100%2%1.mdb");
    ToolRun r = runTool({"init", db, "--admin-name", "boss", "--admin-password-file", "-"}, "pw\n");
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QString rows = scalar(db, "select count(*) from 表1");
    QCOMPARE(r.out.trimmed(), QStringLiteral("已创建数据库 ") + db + QStringLiteral("：药品目录 ") + rows
                                  + QStringLiteral(" 行，超级管理员 boss"));

    const QString csv = dir() + QStringLiteral("/目录%2.csv");
    r = runTool({"catalogue", "export", csv, "--db", db});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = runTool({"catalogue", "import", csv, "--db", db});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out.trimmed(),
             QStringLiteral("已从 ") + csv + QStringLiteral(" 导入药品目录，共 ") + rows + QStringLiteral(" 行"));

    const QString demo = dir() + QStringLiteral("/演示%3.mdb");
    r = runTool({"init", demo, "--demo"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.startsWith(QStringLiteral("已创建演示数据库 ") + demo + QStringLiteral("：科室 ")
                              + scalar(demo, "select count(*) from class") + QStringLiteral(" 个")),
             qPrintable(r.out));
}

void TestChengHengDb::initPrompted_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("stored");  // "name|password", empty: refused
    QTest::addColumn<QString>("message");
    QTest::newRow("both asked") << QStringList{} << QByteArray("boss\nsecret\n") << "boss|secret"
                                << "";
    QTest::newRow("trimmed") << QStringList{} << QByteArray("  王主任 \n pass word \n") << "王主任|pass word"
                             << "";
    QTest::newRow("crlf") << QStringList{} << QByteArray("boss\r\nsecret\r\n") << "boss|secret"
                          << "";
    QTest::newRow("name given") << QStringList{"--admin-name", "boss"} << QByteArray("pw\n") << "boss|pw"
                                << "";
    QTest::newRow("password from standard input")
        << QStringList{"--admin-password-file", "-"} << QByteArray("boss\npw\n") << "boss|pw"
        << "";
    QTest::newRow("end of input") << QStringList{} << QByteArray() << ""
                                  << "没有读到超级管理员的用户名";
    QTest::newRow("no password") << QStringList{} << QByteArray("boss\n") << ""
                                 << "没有读到密码";
    QTest::newRow("blank name") << QStringList{} << QByteArray("   \nsecret\n") << ""
                                << "超级管理员用户名不能为空";
    QTest::newRow("blank password") << QStringList{} << QByteArray("boss\n  \n") << ""
                                    << "密码不能为空";
}

void TestChengHengDb::initPrompted()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, input);
    QFETCH(QString, stored);
    QFETCH(QString, message);
    const QString db = dir() + QStringLiteral("/xs.mdb");
    const ToolRun r = runTool(QStringList{"init", db} + options, input);
    if (stored.isEmpty()) {
        QVERIFY(r.code != 0);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY(!QFileInfo::exists(db));
        return;
    }
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(opened(query(db, "select username, password, admin from use"), {stored + "|y"}),
             QStringList{stored + "|y"});
}

void TestChengHengDb::initRefused_data()
{
    QTest::addColumn<QStringList>("args");     // %1 stands for the temporary folder
    QTest::addColumn<QByteArray>("existing");  // content put at %1/xs.mdb first ("" none)
    QTest::addColumn<QString>("leftover");     // a file put beside it first
    QTest::addColumn<QString>("message");
    const QStringList admin = {"--admin-name", "a", "--admin-password-file", "-"};
    QTest::newRow("existing file") << (QStringList{"init", "%1/xs.mdb"} + admin) << QByteArray("not mine\n") << ""
                                   << "已存在";
    QTest::newRow("existing file demo") << QStringList{"init", "%1/xs.mdb", "--demo"} << QByteArray("x") << ""
                                        << "已存在";
    QTest::newRow("leftover journal") << (QStringList{"init", "%1/xs.mdb"} + admin) << QByteArray() << "xs.mdb-wal"
                                      << "残留的日志文件";
    QTest::newRow("missing folder") << (QStringList{"init", "%1/no/such/xs.mdb"} + admin) << QByteArray() << ""
                                    << "不存在";
    QTest::newRow("demo and admin") << QStringList{"init", "%1/xs.mdb", "--demo", "--admin-name", "a"} << QByteArray()
                                    << ""
                                    << "不能与";
    QTest::newRow("unknown option") << (QStringList{"init", "%1/xs.mdb", "--colour"} + admin) << QByteArray() << ""
                                    << "未知的选项 --colour";
    QTest::newRow("no path") << QStringList{"init", "--admin-name", "a"} << QByteArray() << ""
                             << "需要新数据库文件的路径";
    QTest::newRow("two paths") << (QStringList{"init", "%1/xs.mdb", "%1/b.mdb"} + admin) << QByteArray() << ""
                               << "多出的参数";
    QTest::newRow("option twice") << (QStringList{"init", "%1/xs.mdb", "--admin-name", "b"} + admin) << QByteArray()
                                  << ""
                                  << "给了不止一次";
    QTest::newRow("option without value") << QStringList{"init", "%1/xs.mdb", "--admin-name"} << QByteArray() << ""
                                          << "缺少值";
    QTest::newRow("unknown command") << QStringList{"create", "%1/xs.mdb"} << QByteArray() << ""
                                     << "未知的命令 create";
}

void TestChengHengDb::initRefused()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, existing);
    QFETCH(QString, leftover);
    QFETCH(QString, message);
    const QString db = dir() + QStringLiteral("/xs.mdb");
    if (!existing.isEmpty())
        writeFile(db, existing);
    if (!leftover.isEmpty())
        writeFile(dir() + "/" + leftover, "journal");
    const QStringList before = QDir(dir()).entryList(QDir::Files);
    for (QString &a : args)
        a.replace("%1", dir());
    const ToolRun r = runTool(args);
    QVERIFY(r.code != 0);
    QVERIFY2(r.err.startsWith("chengheng-db: ") && r.err.contains(message), qPrintable(r.err));
    QCOMPARE(QDir(dir()).entryList(QDir::Files), before);  // nothing made, nothing removed
    if (!existing.isEmpty())
        QCOMPARE(bytesOf(db), existing);
}

void TestChengHengDb::initDemo()
{
    const QString db = demo_;
    QCOMPARE(scalar(db, "pragma journal_mode"), QString("wal"));

    // The catalogue: every category filled with at least ten entries, but the
    // personal selection; shorter columns end in nulls, never in gaps.
    const int rows = scalar(db, "select count(*) from 表1").toInt();
    for (const QString &col : catalogueColumns()) {
        const int filled = scalar(db, QString("select count(%1) from 表1").arg(col)).toInt();
        if (col != QStringLiteral("个人定制"))
            QVERIFY2(filled >= 10, qPrintable(col));
        const int lastFilled =
            scalar(db, QString("select coalesce(max(rowid),0) from 表1 where %1 is not null").arg(col)).toInt();
        QCOMPARE(lastFilled, filled);
        QCOMPARE(scalar(db, QString("select count(*) from 表1 where trim(%1)=''").arg(col)), QString("0"));
    }
    QCOMPARE(scalar(db, "select max(rowid) from 表1").toInt(), rows);
    QVERIFY(query(db, "select 输液 from 表1").contains("0.9%氯化钠注射液 250ml"));
    QVERIFY(query(db, "select 收费项目 from 表1").contains("挂号费"));
    QVERIFY(query(db, "select 中药 from 表1").contains("黄芪"));

    // The five demo accounts with exactly their flags.
    QStringList expected;
    for (const DemoAccount &a : demoAccounts()) {
        QStringList cells = {a.name, a.password};
        for (const QString &f : rightFlags())
            cells << (a.flags.contains(f) ? "y" : "∅");
        expected << cells.join('|');
    }
    QCOMPARE(opened(query(db, "select * from use order by rowid"), expected), expected);
    QCOMPARE(query(db, "select username from use where admin='y'"), QStringList{"admin"});
    QCOMPARE(query(db, "select username from use where readonly='y'"), QStringList{"viewer"});
    QCOMPARE(query(db, "select username from use where qx2='y'"), QStringList{"doctor"});
    QCOMPARE(query(db, "select username from use where qx1='y'"), QStringList{"clerk"});

    // Departments in several groups, every column filled.
    QVERIFY(scalar(db, "select count(distinct 年级) from class").toInt() >= 5);
    QCOMPARE(scalar(db, "select count(*) from (select 年级 from class group by 年级 having count(*) < 2)"),
             QString("0"));
    for (const QString &col : classColumns())
        QCOMPARE(scalar(db, QString("select count(*) from class where %1 is null or trim(%1)=''").arg(col)),
                 QString("0"));

    // A few dozen case records, every column filled, ISO dates, unique numbers.
    const int cases = scalar(db, "select count(*) from xj").toInt();
    QVERIFY(cases >= 24 && cases <= 60);
    QCOMPARE(scalar(db, "select count(distinct 门诊号) from xj").toInt(), cases);
    for (const QString &col : caseColumns())
        QCOMPARE(scalar(db, QString("select count(*) from xj where %1 is null or trim(%1)=''").arg(col)), QString("0"));
    for (const QString &row : query(db, "select 出生年月, 入诊时间 from xj")) {
        for (const QString &d : row.split('|')) {
            QVERIFY2(QRegularExpression("^\\d{4}-\\d{2}-\\d{2}$").match(d).hasMatch(), qPrintable(d));
            QVERIFY(parseDate(d).has_value());
        }
    }

    // Drug names and quantities are what picking writes: catalogue entries
    // joined without separator.
    QStringList entries;
    for (const QString &col : catalogueColumns())
        for (const QString &e : query(db, QString("select %1 from 表1 where %1 is not null").arg(col)))
            entries << e;
    std::sort(entries.begin(), entries.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
    // Number of entries the text is made of (0: it is not made of entries).
    const std::function<int(QStringView)> pieces = [&](QStringView rest) {
        if (rest.isEmpty())
            return 0;
        for (const QString &e : entries)
            if (rest.startsWith(e))
                if (const int more = pieces(rest.mid(e.size())); more >= 0 && (more > 0 || rest.size() == e.size()))
                    return more + 1;
        return -1;
    };
    int prescriptionsOfSeveralDrugs = 0;
    for (const QString &row : query(db, "select 药名 from xj")) {
        const int n = pieces(row);
        QVERIFY2(n >= 1, qPrintable(row));
        prescriptionsOfSeveralDrugs += n >= 2;
    }
    QVERIFY(prescriptionsOfSeveralDrugs >= 10);

    // A record of a department that does not exist drops out of joined views.
    const int orphans = scalar(db, "select count(*) from xj where 科室 not in (select 科室 from class)").toInt();
    QVERIFY(orphans >= 1);
    QCOMPARE(scalar(db, "select count(*) from xj inner join class on xj.科室=class.科室").toInt(), cases - orphans);
    QVERIFY(scalar(db, "select count(distinct 科室) from xj").toInt() >= 10);
}

void TestChengHengDb::demoIsDeterministic()
{
    const QString db = dir() + QStringLiteral("/again.mdb");
    const ToolRun r = runTool({"init", db, "--demo"});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    // Passwords are salted: their hashes differ from file to file.
    for (const char *t : {"(select username, admin, readonly, qx1, qx2, qx3, qx4 from use)", "class", "xj", "yc"})
        QCOMPARE(query(db, QString("select * from %1 order by rowid").arg(t)),
                 query(demo_, QString("select * from %1 order by rowid").arg(t)));
    QCOMPARE(catalogueDump(db), catalogueDump(demo_));
}

namespace {
// Runs the tool on a pseudo-terminal and types a line after each question
// (once the question is shown and the tool has switched the terminal's echo
// off); what the terminal showed, and the exit code.
QByteArray onTerminal(const QStringList &args, const QStringList &questions, const QByteArray &line, int *code)
{
    std::vector<QByteArray> words = {toolPath().toLocal8Bit()};
    for (const QString &a : args)
        words.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    QByteArray shown;
    const auto readSome = [&](int ms) {
        pollfd p{terminal, POLLIN, 0};
        char buf[4096];
        const ssize_t n = poll(&p, 1, ms) > 0 ? read(terminal, buf, sizeof buf) : 0;
        if (n > 0)
            shown.append(buf, n);
        return n;
    };
    for (const QString &question : questions) {
        termios t{};
        QDeadlineTimer deadline(20000);
        while (
            !deadline.hasExpired()
            && (!QString::fromUtf8(shown).contains(question) || (tcgetattr(terminal, &t) == 0 && (t.c_lflag & ECHO))))
            readSome(10);
        if (write(terminal, line.constData(), size_t(line.size())) != line.size())
            break;
    }
    while (readSome(30000) > 0) {
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(terminal);
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return shown;
}
}  // namespace

void TestChengHengDb::passwordTypedNotShown_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<QString>("shown");
    QTest::newRow("asked twice") << QStringList{} << QStringList{"用户 nurse 的密码：", "再输入一次密码："}
                                 << "用户 nurse 的密码：\r\n再输入一次密码：\r\n已添加用户 nurse，权限：（无）\r\n";
    QTest::newRow("--password-file -") << QStringList{"--password-file", "-"} << QStringList{""}
                                       << "\r\n已添加用户 nurse，权限：（无）\r\n";
}

// A password typed on the terminal is never shown there.
void TestChengHengDb::passwordTypedNotShown()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, questions);
    QFETCH(QString, shown);
    const QString db = freshDemo();
    int code = -1;
    const QByteArray screen =
        onTerminal(QStringList{"user", "add", "nurse", "--db", db} + options, questions, "Typed Pw\n", &code);
    QCOMPARE(code, 0);
    QCOMPARE(QString::fromUtf8(screen), shown);
    QVERIFY(passwordMatches(scalar(db, "select password from use where username='nurse'"), false, "typed pw"));
}

void TestChengHengDb::passwordNeverOnCommandLine_data()
{
    QTest::addColumn<QStringList>("args");  // @DB@: a demo database, @PW@: a password file of the test
    QTest::addColumn<QByteArray>("file");   // @PW@'s content
    QTest::addColumn<QByteArray>("input");  // standard input
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");  // part of stderr; with 0, the password that now opens the account
    const QString refused = QStringLiteral("密码不能写在命令行上（同一台机器上的其他用户用 ps 就能看到）。请去掉 ");
    const QStringList add = {"user", "add", "nurse", "--db", "@DB@"};
    const QStringList init = {"init", "@NEW@", "--admin-name", "nurse"};
    QTest::newRow("--password") << add + QStringList{"--password", "pw"} << QByteArray() << QByteArray() << 2
                                << refused
                                       + "--password，改用 --password-file 文件（文件的第一行是密码）或 "
                                         "--password-file -（从标准输入读取），或者不加这些选项，在终端上按提示输入"
                                         "（输入的内容不显示）。";
    QTest::newRow("--password=") << add + QStringList{"--password=pw"} << QByteArray() << QByteArray("pw\n") << 2
                                 << refused + "--password，改用 --password-file 文件";
    QTest::newRow("init --admin-password")
        << init + QStringList{"--admin-password", "pw"} << QByteArray() << QByteArray() << 2
        << refused
               + "--admin-password，改用 --admin-password-file 文件（文件的第一行是密码）或 --admin-password-file -";
    QTest::newRow("from a file") << add + QStringList{"--password-file", "@PW@"} << QByteArray(" Pw 1 \r\nnext\n")
                                 << QByteArray("not this\n") << 0 << "pw 1";
    QTest::newRow("from a file without line break")
        << add + QStringList{"--password-file", "@PW@"} << QByteArray("pw2") << QByteArray() << 0 << "pw2";
    QTest::newRow("from standard input") << add + QStringList{"--password-file", "-"} << QByteArray()
                                         << QByteArray("pw3\nnext\n") << 0 << "pw3";
    QTest::newRow("init from a file") << init + QStringList{"--admin-password-file", "@PW@"} << QByteArray("pw4\n")
                                      << QByteArray() << 0 << "pw4";
    QTest::newRow("empty file") << add + QStringList{"--password-file", "@PW@"} << QByteArray(" \n") << QByteArray()
                                << 1 << "密码不能为空";
    QTest::newRow("missing file") << add + QStringList{"--password-file", "@MISSING@"} << QByteArray() << QByteArray()
                                  << 1 << "无法读取密码文件 @MISSING@：文件不存在或没有读权限";
    QTest::newRow("nothing on standard input")
        << add + QStringList{"--password-file", "-"} << QByteArray() << QByteArray() << 1 << "没有从标准输入读到密码";
}

// A password is read from a file, from standard input or from the terminal;
// one written on the command line is refused before anything is done.
void TestChengHengDb::passwordNeverOnCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, input);
    QFETCH(int, code);
    QFETCH(QString, message);
    const QString db = freshDemo();
    const QString created = dir() + QStringLiteral("/new.mdb");
    const QString pw = dir() + QStringLiteral("/pw");
    const QString missing = dir() + QStringLiteral("/none");
    if (!file.isNull())
        writeFile(pw, file);
    args.replaceInStrings(QStringLiteral("@DB@"), db);
    args.replaceInStrings(QStringLiteral("@NEW@"), created);
    args.replaceInStrings(QStringLiteral("@PW@"), pw);
    args.replaceInStrings(QStringLiteral("@MISSING@"), missing);
    const QByteArray before = bytesOf(db);
    const ToolRun r = runTool(args, input);
    QCOMPARE(r.code, code);
    const QString target = args.first() == QLatin1String("init") ? created : db;
    if (code != 0) {
        QVERIFY2(r.err.contains(QString(message).replace(QStringLiteral("@MISSING@"), missing)), qPrintable(r.err));
        QVERIFY(bytesOf(db) == before);
        QVERIFY(!QFileInfo::exists(created));
        return;
    }
    const QString stored = scalar(target, "select password from use where username='nurse'");
    QVERIFY2(passwordMatches(stored, false, message), qPrintable(stored));
}

void TestChengHengDb::defaultDatabaseBesideTool()
{
    // A copy of the tool in a folder of its own works on the xs.mdb there.
    const QString appDir = dir() + QStringLiteral("/app");
    QVERIFY(QDir().mkpath(appDir));
    const QString tool = appDir + QStringLiteral("/chengheng-db");
    QVERIFY(QFile::copy(toolPath(), tool));
    QVERIFY(QFile::copy(demo_, appDir + QStringLiteral("/xs.mdb")));
    ToolRun r = runTool({"user", "grant", "guest", "qx4"}, {}, tool, dir());
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(scalar(appDir + "/xs.mdb", "select qx4 from use where username='guest'"), QString("y"));

    // Without one there, it says which file it missed and makes none.
    QVERIFY(QFile::remove(appDir + "/xs.mdb"));
    r = runTool({"user", "list"}, {}, tool, dir());
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("无法打开数据库文件 " + appDir + "/xs.mdb"), qPrintable(r.err));
    QVERIFY(!QFileInfo::exists(appDir + "/xs.mdb"));
}

void TestChengHengDb::catalogueExportRefused()
{
    const QString db = freshDemo();
    const QByteArray before = bytesOf(db);
    ToolRun r = runTool({"catalogue", "export", dir() + "/no/such/folder/a.csv", "--db", db});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("无法写入文件"), qPrintable(r.err));
    // Exporting over the database file itself would destroy it.
    r = runTool({"catalogue", "export", db, "--db", db});
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("是数据库文件本身"), qPrintable(r.err));
    QVERIFY(bytesOf(db) == before);
}

void TestChengHengDb::parseCsv_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");  // records as a|b, one per line, null as ∅; or "error: text"
    QTest::newRow("plain") << QByteArray("a,b\r\nc,d\r\n") << "a|b\nc|d";
    QTest::newRow("lf and no final break") << QByteArray("a,b\nc,d") << "a|b\nc|d";
    QTest::newRow("lone cr") << QByteArray("a,b\rc,d\r") << "a|b\nc|d";
    QTest::newRow("null and empty") << QByteArray(",\"\",x,") << "∅||x|∅";
    QTest::newRow("doubled quotes") << QByteArray("\"a\"\"b\",\"\"\"\"") << "a\"b|\"";
    QTest::newRow("comma and break in quotes") << QByteArray("\"a,b\",\"c\nd\"\r\ne,f") << "a,b|c\nd\ne|f";
    QTest::newRow("empty lines skipped") << QByteArray("\r\na,b\r\n\r\n\nc,d\r\n\r\n") << "a|b\nc|d";
    QTest::newRow("blanks kept") << QByteArray(" a , b ") << " a | b ";
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBFx,y") << "x|y";
    QTest::newRow("chinese") << QByteArray("输液,\"口服 一日三次, 每次1片\"") << "输液|口服 一日三次, 每次1片";
    QTest::newRow("unclosed at end") << QByteArray("a\n\"b\nc") << "error: 第2行：引号没有闭合";
    QTest::newRow("quote in plain field") << QByteArray("a\nb\"") << "error: 第2行：没有加引号的字段中出现了引号";
    QTest::newRow("space after quote") << QByteArray("\"a\" ,b") << "error: 第1行：右引号后面只能是逗号或换行";
    QTest::newRow("line of quoted break counted") << QByteArray("\"a\nb\",c\nd,\"e") << "error: 第3行：引号没有闭合";
    QTest::newRow("bad utf-8") << QByteArray("a,\xFF") << "error: 不是有效的 UTF-8 文本";
}

void TestChengHengDb::parseCsv()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    std::vector<CsvRecord> records;
    QString why;
    const bool ok = xs::parseCsv(input, &records, &why);
    if (expected.startsWith("error: ")) {
        QVERIFY(!ok);
        QCOMPARE(why, expected.mid(7));
        return;
    }
    QVERIFY2(ok, qPrintable(why));
    QStringList got;
    for (const CsvRecord &r : records) {
        QStringList cells;
        for (const CsvCell &c : r)
            cells << c.value_or(QStringLiteral("∅"));
        got << cells.join('|');
    }
    QCOMPARE(got.join('\n'), expected);
}

void TestChengHengDb::formatCsvRoundTrip()
{
    const std::vector<CsvRecord> records = {
        {QString("a"), std::nullopt, QString(""), QString("x,y")},
        {QString("\"q\""), QString("l1\r\nl2"), QString(" 空 "), std::nullopt},
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    const QByteArray text = formatCsv(records);
    QCOMPARE(text, QByteArray("a,,\"\",\"x,y\"\r\n\"\"\"q\"\"\",\"l1\r\nl2\", 空 ,\r\n,,,\r\n"));
    std::vector<CsvRecord> back;
    QVERIFY(xs::parseCsv(text, &back));
    QVERIFY(back == records);
}

void TestChengHengDb::importInsideCallerTransaction()
{
    // A write that fails half-way through the import (here a trigger refuses
    // the second row) takes back the whole import and only the import, also
    // inside a transaction of the caller.
    const QString db = freshDemo();
    const QString bad = dir() + QStringLiteral("/bad.csv");
    writeFile(bad, (csvHeader() + "\n").toUtf8() + csvLine({"ok"}) + csvLine({"boom"}));
    const QStringList catalogue = catalogueDump(db);
    Connection c = Connection::open(db);
    QVERIFY(c.exec("CREATE TEMP TRIGGER refuse BEFORE INSERT ON 表1 WHEN NEW.输液='boom' "
                   "BEGIN SELECT RAISE(ABORT, '拒收此行'); END;"));
    QVERIFY(c.exec("BEGIN; DELETE FROM use WHERE username='guest';"));
    QString why;
    QVERIFY(!importCatalogueCsv(c, bad, &why));
    QVERIFY2(why.contains(QStringLiteral("拒收此行")), qPrintable(why));
    QVERIFY(c.exec("COMMIT"));
    QCOMPARE(catalogueDump(db), catalogue);
    QCOMPARE(scalar(db, "select count(*) from use where username='guest'"), QString("0"));
}

// A drawing command prints its own line and nothing of Qt's (no
// "XDG_RUNTIME_DIR not set" warning when the variable is missing).
void TestChengHengDb::onlyOwnMessages()
{
    const QString db = freshDemo();
    const QString pdf = dir() + QStringLiteral("/departments.pdf");
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    p.start(toolPath(), {"report", "departments", "--out", pdf, "--db", db});
    QVERIFY(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), 0);
    QCOMPARE(err, QString());
    QVERIFY(QFileInfo(pdf).size() > 0);
}

void TestChengHengDb::controlCharactersEscaped_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("shown");  // expected in stdout or stderr
    QTest::newRow("command") << QStringList{"ab\x01"
                                            "c"}
                             << QByteArray() << "未知的命令 ab\\x01c";
    QTest::newRow("escape sequence in flag")
        << QStringList{"user", "grant", "admin", "\x1b[2J", "--db", "%1"} << QByteArray() << "未知的权限标志 \\x1b[2J";
    QTest::newRow("bidi override") << QStringList{"user", "revoke", "x", QString(QChar(0x202E)) + "nimda"}
                                   << QByteArray() << "未知的权限标志 \\u202enimda";
    QTest::newRow("nul from input") << QStringList{"init", "%1/new.mdb", "--admin-password-file", "-"}
                                    << QByteArray("bo\0ss\t\npw\n", 10) << "超级管理员 bo\\x00ss";
}

void TestChengHengDb::controlCharactersEscaped()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, shown);
    const QString db = freshDemo();
    for (QString &a : args)
        a.replace(QStringLiteral("%1"), a == QLatin1String("%1") ? db : dir());
    const ToolRun r = runTool(args, input);
    const QString all = r.out + r.err;
    QVERIFY2(all.contains(shown), qPrintable(all));
    for (const QChar c : all)
        QVERIFY2(c >= u' ' || c == u'\n', qPrintable(QStringLiteral("raw control U+%1").arg(c.unicode(), 4, 16)));
    QVERIFY(!all.contains(QChar(0x202E)));
}
QTEST_MAIN(TestChengHengDb)
#include "tst_chengheng_db.moc"
