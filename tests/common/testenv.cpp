#include "testenv.h"

#include "data/accounts.h"
#include "data/audit.h"
#include "data/backup.h"
#include "data/catalogue.h"
#include "data/demodata.h"
#include "data/globals.h"
#include "data/pgsql.h"
#include "data/schema.h"
#include "data/sqlite.h"
#include "ui/window.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>
#include <algorithm>
#include <sqlite3.h>

namespace xs::test {

namespace {
void (*g_beforeEachTest)() = nullptr;
}  // namespace

void setBeforeEachTest(void (*hook)()) { g_beforeEachTest = hook; }

TestDb::TestDb(unsigned seed)
{
    QVERIFY2(dir_.isValid(), "temporary folder");
    WindowRegistry::closeAll();
    if (g_beforeEachTest)
        g_beforeEachTest();
    resetGlobals();
    setAppDirForTesting(dir_.path());
    Connection c = Connection::create(path());
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
    if (!ensureAuditTrail(c, &err))
        qFatal("audit trail: %s", qPrintable(err));
}

TestDb::~TestDb()
{
    // A daily backup started by a sign-in ends before its folder goes.
    resetDailyBackupForTesting();
    WindowRegistry::closeAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    resetGlobals();
    setAppDirForTesting(QString());
}

QString TestDb::path() const { return dir_.path() + QStringLiteral("/xs.mdb"); }

void TestDb::exec(const QString &sql) const
{
    Connection c = Connection::open(path());
    if (!c.exec(sql))
        qFatal("exec %s: %s", qPrintable(sql), qPrintable(c.lastError()));
}

QStringList TestDb::rows(const QString &sql) const
{
    Connection c = Connection::open(path());
    StmtHandle s = c.prepare(sql);
    if (!s)
        qFatal("prepare %s: %s", qPrintable(sql), qPrintable(c.lastError()));
    QStringList out;
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

QString freshServerDatabase(QString *why)
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
    if (!admin.run(QStringLiteral("CREATE DATABASE ") + name)) {
        if (why)
            *why = admin.lastError();
        return {};
    }
    return withDatabaseName(base, name);
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

void signInAs(const QString &name) { CurrentUser = name; }

QString toolPath()
{
    const QString env = qEnvironmentVariable("XS_TOOL");
    return env.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/chengheng-db") : env;
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
