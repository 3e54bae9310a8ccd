#include "testenv.h"
#include "data/sqltext.h"

#include "data/accounts.h"
#include "data/audit.h"
#include "data/catalogue.h"
#include "data/engines.h"
#include "data/filetoserver.h"
#include "data/globals.h"
#include "data/passwords.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/schema.h"
#include "data/sqlite/backup.h"
#include "data/sqlite/demodata.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "ui/window.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

namespace xs::test {

namespace {
void (*g_beforeEachTest)() = nullptr;

// The same rows in a fresh file, whatever the engine: the server's seeded
// database is copied from such a file.
void seedFile(const QString &path, unsigned seed)
{
    Connection c = Connection::create(path);
    if (!createSchema(c))
        qFatal("schema: %s", qPrintable(c.lastError()));
    QString err;
    if (seed & Accounts)
        for (const DemoAccount &a : demoAccounts())
            if (!insertUser(c, a.name, a.password, a.flags, &err))
                qFatal("account: %s", qPrintable(err));
    if ((seed & Catalogue) && !seedCatalogue(c, &err))
        qFatal("catalogue: %s", qPrintable(err));
    if ((seed & DemoData) && !seedDemoRecords(c, &err))
        qFatal("demo data: %s", qPrintable(err));
    // Like a file from chengheng-db init: the seed is the first state, every
    // change of the test is recorded.
    if (migrateFile(c, &err) != SchemaOutcome::Current)
        qFatal("audit trail: %s", qPrintable(err));
}

QString databaseName(const QString &conninfo)
{
    // Not static: the templates are dropped while the process ends.
    const QRegularExpression re(QStringLiteral("dbname=(\\S+)"));
    return re.match(conninfo).captured(1);
}

// The server database seeded once per process and seed (the seeded file
// migrated the way chengheng-db migrate does it); every test's database is a
// copy the server makes of it, which costs far less than seeding again.
struct ServerTemplates {
    QHash<unsigned, QString> conninfo;  // by seed
    ~ServerTemplates()
    {
        for (const QString &c : std::as_const(conninfo))
            dropServerDatabase(c);
    }
};

QString seededServerTemplate(unsigned seed)
{
    static ServerTemplates made;
    if (const auto it = made.conninfo.constFind(seed); it != made.conninfo.constEnd())
        return databaseName(*it);
    QString why;
    const QString conninfo = freshServerDatabase(&why);
    if (conninfo.isEmpty())
        qFatal("server database: %s", qPrintable(why));
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/xs.mdb");
    seedFile(file, seed);
    {
        PgConnection server(conninfo);
        QStringList summary;
        if (!copyFileToServer(Connection::open(file), server, QStringLiteral("1"), &summary, &why))
            qFatal("server seed: %s", qPrintable(why));
        // The tests number generated rows with SQLite's printf('C%06d', i);
        // the server database gets that one form of it.
        if (!server.run(QStringLiteral(
                "CREATE FUNCTION public.printf(fmt text, i bigint) RETURNS text LANGUAGE plpgsql IMMUTABLE AS "
                "$f$DECLARE m text[] := regexp_match(fmt, '^(.*)%0(\\d+)d(.*)$'); BEGIN IF m IS NULL THEN "
                "RAISE EXCEPTION 'printf: %', fmt; END IF; RETURN m[1] || lpad(i::text, m[2]::int, '0') || m[3]; "
                "END$f$")))
            qFatal("server seed: %s", qPrintable(server.lastError()));
    }
    made.conninfo.insert(seed, conninfo);
    return databaseName(conninfo);
}

// The statements the tests set a case up with, in the server's form. Two
// pieces of the file's dialect have no server counterpart of their own:
// a refusing trigger ("create trigger NAME before EVENT on TABLE [when COND]
// begin select raise(abort, 'MESSAGE'); end") becomes a plpgsql trigger that
// raises MESSAGE, and "order by rowid" (the order rows were stored in) the
// physical order of the rows; "collate binary" a comparison as text.
QString forServer(const QString &sql)
{
    static const QRegularExpression refusal(
        QStringLiteral("^\\s*create trigger (\\w+) before (insert|update|delete) on (\\w+)(?: when (.+?))?\\s+"
                       "begin select raise\\(abort,\\s*'([^']*)'\\); end\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = refusal.match(sql); m.hasMatch()) {
        const QString name = m.captured(1);
        const QString condition = m.captured(4).isEmpty() ? QStringLiteral("true") : m.captured(4);
        const QString row = m.captured(2).compare(QLatin1String("delete"), Qt::CaseInsensitive) == 0
                                ? QStringLiteral("OLD")
                                : QStringLiteral("NEW");
        return QStringLiteral("CREATE FUNCTION %1_refuses() RETURNS trigger LANGUAGE plpgsql AS $f$BEGIN IF %2 THEN "
                              "RAISE EXCEPTION '%3'; END IF; RETURN %4; END$f$;"
                              "CREATE TRIGGER %1 BEFORE %5 ON %6 FOR EACH ROW EXECUTE FUNCTION %1_refuses()")
            .arg(name, condition, m.captured(5), row, m.captured(2), m.captured(3));
    }
    QString out = translateSql(sql, SqlDialect::Server).value_or(sql);
    static const QRegularExpression byRowid(QStringLiteral("order by rowid\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    out.replace(byRowid, QStringLiteral("order by ctid"));
    // A comparison that heeds letter case: the file's binary collation, the
    // server's comparison as text instead of citext.
    static const QRegularExpression binary(QStringLiteral("(\\w+)\\s*=\\s*('[^']*')\\s+collate binary"),
                                           QRegularExpression::CaseInsensitiveOption
                                               | QRegularExpression::UseUnicodePropertiesOption);
    out.replace(binary, QStringLiteral("\\1::text = \\2"));
    return out;
}

PgConnection roomConnection(const QString &conninfo)
{
    PgConnection c(conninfo);
    c.setOnConnect(searchPathFor(QStringLiteral("1")));
    c.setAuditUser(auditActor());
    return c;
}
}  // namespace

bool serverEngine()
{
    static const bool on = qEnvironmentVariable("XS_TEST_ENGINE") == QLatin1String("server");
    return on;
}

void setBeforeEachTest(void (*hook)()) { g_beforeEachTest = hook; }

TestDb::TestDb(unsigned seed)
{
    QVERIFY2(dir_.isValid(), "temporary folder");
    WindowRegistry::closeAll();
    if (g_beforeEachTest)
        g_beforeEachTest();
    resetGlobals();
    setAppDirForTesting(dir_.path());
    if (!serverEngine()) {
        seedFile(path(), seed);
        useFile();
        return;
    }
    QString why;
    server_ = freshServerDatabase(&why, seededServerTemplate(seed));
    if (server_.isEmpty())
        qFatal("server database: %s", qPrintable(why));
    // As the program starts on a configuration naming the server and room 1.
    if (!openServerDatabase(roomConninfo(server_), QStringLiteral("1"), &why))
        qFatal("server start: %s", qPrintable(why));
}

TestDb::~TestDb()
{
    // A daily backup started by a sign-in ends before its folder goes.
    resetDailyBackupForTesting();
    WindowRegistry::closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    resetGlobals();
    setAppDirForTesting(QString());
    if (!server_.isEmpty()) {
        useFile();
        dropServerDatabase(server_);
    }
}

QStringList TestDb::toolDatabase() const
{
    if (server_.isEmpty())
        return {QStringLiteral("--db"), path()};
    // As room 1's own account, as the room prints its reports.
    return {QStringLiteral("--server"), roomConninfo(server_), QStringLiteral("--room"), QStringLiteral("1")};
}

QString TestDb::path() const { return dir_.path() + QStringLiteral("/xs.mdb"); }

void TestDb::exec(const QString &sql) const
{
    if (!server_.isEmpty()) {
        PgConnection c = roomConnection(server_);
        if (!c.run(forServer(sql)))
            qFatal("exec %s: %s", qPrintable(sql), qPrintable(c.lastError()));
        return;
    }
    Connection c = Connection::open(path());
    if (!c.exec(sql))
        qFatal("exec %s: %s", qPrintable(sql), qPrintable(c.lastError()));
}

QStringList TestDb::rows(const QString &sql) const
{
    QStringList out;
    if (!server_.isEmpty()) {
        PgConnection c = roomConnection(server_);
        const PgResult r = c.exec(forServer(sql));
        if (!r.ok())
            qFatal("query %s: %s", qPrintable(sql), qPrintable(r.error()));
        for (int i = 0; i < r.rows(); ++i) {
            QStringList cells;
            for (int j = 0; j < r.columns(); ++j)
                cells << r.text(i, j);
            out << cells.join(QLatin1Char('|'));
        }
        return out;
    }
    Connection c = Connection::open(path());
    StmtHandle s = c.prepare(sql);
    if (!s)
        qFatal("prepare %s: %s", qPrintable(sql), qPrintable(c.lastError()));
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        QStringList cells;
        for (int i = 0; i < sqlite3_column_count(s.get()); ++i)
            cells << columnText(s.get(), i);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QString TestDb::scalar(const QString &sql) const
{
    const QStringList r = rows(sql);
    return r.isEmpty() ? QString() : r.first().section(QLatin1Char('|'), 0, 0);
}

int TestDb::count(const QString &tableAndWhere) const
{
    return scalar(QStringLiteral("select count(*) from ") + tableAndWhere).toInt();
}

QString englishIn(const QString &message)
{
    static const QRegularExpression path(
        QStringLiteral("\\S*/\\S*|chengheng-db( +[-a-z]+)*|xs\\.mdb|chengheng\\.conf"));
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{4,}"));
    QString rest = message;
    rest.remove(path);
    return word.match(rest).captured();
}

MsgRecorder::MsgRecorder()
{
    setMsgBoxAnswerer([this](const MsgBoxCall &call) {
        calls << call;
        if (answers.empty())
            return int(vbOK);
        const int a = answers.front();
        answers.pop_front();
        return a;
    });
}

MsgRecorder::~MsgRecorder() { setMsgBoxAnswerer({}); }

QString withDatabaseName(const QString &conninfo, const QString &name)
{
    QString out = conninfo;
    out.replace(QRegularExpression(QStringLiteral("dbname=\\S+")), QStringLiteral("dbname=") + name);
    return out;
}

QString roomConninfo(const QString &conninfo, const QString &room)
{
    QString out = conninfo;
    out.replace(QRegularExpression(QStringLiteral("user=\\S+")), QStringLiteral("user=") + roomRole(room));
    return out;
}

QString testRoomPassword()
{
    QFile f(qEnvironmentVariable("XS_PG_DIR") + QStringLiteral("/room_password"));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("the test cluster's room password: %s", qPrintable(f.fileName()));
    return QString::fromUtf8(f.readAll()).trimmed();
}

QString freshServerDatabase(QString *why, const QString &templateName)
{
    const QString base = qEnvironmentVariable("XS_PG");
    if (base.isEmpty()) {
        if (why)
            *why = QStringLiteral("XS_PG is not set: run this test through ctest, which starts the server");
        return {};
    }
    static int serial = 0;
    const QString name = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial);
    PgConnection admin(base);
    const QString from = templateName.isEmpty() ? QString() : QStringLiteral(" TEMPLATE ") + templateName;
    if (!admin.run(QStringLiteral("CREATE DATABASE ") + name + from)) {
        if (why)
            *why = admin.lastError();
        return {};
    }
    return withDatabaseName(base, name);
}

void dropServerDatabase(const QString &conninfo)
{
    const QString base = qEnvironmentVariable("XS_PG");
    const QString name = databaseName(conninfo);
    if (base.isEmpty() || name.isEmpty() || name == databaseName(base))
        return;
    PgConnection admin(base);
    if (!admin.run(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name)))
        qWarning("drop database %s: %s", qPrintable(name), qPrintable(admin.lastError()));
}

QStringList queryPlan(const QString &path, const QString &sql)
{
    Connection c = Connection::open(path);
    StmtHandle s = c.prepare(QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
    if (!s)
        return {QStringLiteral("<does not compile: %1>").arg(c.lastError())};
    QStringList lines;
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        lines << columnText(s.get(), 3);
    return lines;
}

bool planScans(const QStringList &lines, const QString &table)
{
    const QRegularExpression re(QStringLiteral("^SCAN (TABLE )?%1( |$)").arg(table));
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString &l) { return re.match(l).hasMatch(); });
}

namespace {
ToolRun runCluster(const QString &command, const QString &dir)
{
    const QString script = qEnvironmentVariable("XS_PGCLUSTER");
    if (script.isEmpty())
        return {-1, {}, QStringLiteral("XS_PGCLUSTER is not set: run this test through ctest")};
    QProcess p;
    p.start(script, {command, dir});
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000))
        return {-1, {}, QStringLiteral("scripts/pgcluster %1 did not finish").arg(command)};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}
}  // namespace

OwnServer::OwnServer(unsigned seed)
{
    cluster_ = dir_.path() + QStringLiteral("/pg");
    // The server's account reaches its folder through this one.
    QFile::setPermissions(dir_.path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const ToolRun r = runCluster(QStringLiteral("start"), cluster_);
    if (r.code != 0) {
        why = QStringLiteral("scripts/pgcluster start %1 failed (%2): %3").arg(cluster_).arg(r.code).arg(r.err);
        return;
    }
    const QString made = r.out.trimmed().section(QLatin1Char('\n'), -1);
    const QString file = dir_.path() + QStringLiteral("/xs.mdb");
    seedFile(file, seed);
    PgConnection server(made);
    QStringList summary;
    if (!copyFileToServer(Connection::open(file), server, QStringLiteral("1"), &summary, &why))
        return;
    conninfo = made;
}

OwnServer::~OwnServer()
{
    if (QFile::exists(cluster_))
        runCluster(QStringLiteral("stop"), cluster_);
}

bool OwnServer::restart(QString *whyNot) const
{
    const ToolRun r = runCluster(QStringLiteral("restart"), cluster_);
    if (r.code != 0 && whyNot)
        *whyNot = r.err.trimmed();
    return r.code == 0;
}

QStringList asTyped(const QStringList &rows, const QString &typed)
{
    if (!serverEngine())
        return rows;
    QStringList out;
    for (const QString &row : rows) {
        QStringList cells = row.split(QLatin1Char('|'));
        for (QString &cell : cells)
            if (isPasswordHash(cell) && passwordMatches(cell, false, typed))
                cell = typed;
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

void signInAs(const QString &name) { CurrentUser = name; }

QString toolPath()
{
    const QString env = qEnvironmentVariable("XS_TOOL");
    return env.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/chengheng-db") : env;
}

// A listening socket on 127.0.0.1 with a port the system chose; -1 on failure.
static int listenOnLoopback(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

// The kernel completes the connections in the listen queue; nobody accepts
// or answers them.
SilentPort::SilentPort() { fd_ = listenOnLoopback(&port_); }

SilentPort::~SilentPort()
{
    if (fd_ >= 0)
        ::close(fd_);
}

quint16 closedPort()
{
    quint16 port = 0;
    const int fd = listenOnLoopback(&port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

ToolRun runTool(const QStringList &args, const QByteArray &input, const QString &program, const QString &workDir)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        qFatal("cannot start %s", qPrintable(program));
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    ToolRun r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QList<QWidget *> tabOrder(QWidget *first)
{
    // The window the widget belongs to: its XsWindow (an MDI child is no
    // top-level window) or else its top-level window.
    QWidget *root = first->window();
    for (QWidget *p = first->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<XsWindow *>(p)) {
            root = p;
            break;
        }
    QList<QWidget *> out{first};
    for (QWidget *w = first->nextInFocusChain(); w && w != first; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && root->isAncestorOf(w) && !w->focusProxy() && w->isVisibleTo(root)
            && w->isEnabled())
            out << w;
    return out;
}

}  // namespace xs::test
