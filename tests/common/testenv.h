#pragma once
#include "ui/msgbox.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>

class QWidget;

namespace xs::test {

enum Seed : unsigned {
    Empty = 0,      // the five tables, no rows
    Accounts = 1,   // the five demo accounts
    Catalogue = 2,  // the drug catalogue
    DemoData = 4,   // demo departments and case records
    All = Accounts | Catalogue | DemoData,
};

// The engine this test process runs on: the database file xs.mdb, or the
// shared server when XS_TEST_ENGINE=server (CTest's *_server registrations,
// with XS_PG naming the throwaway cluster).
bool serverEngine();

// Skips a test that checks something only a database file has (its mode bits,
// WAL, a damaged page, the sqlite3 shell, SQLite's query plans).
#define XS_FILE_ONLY(why)                                                                                              \
    do {                                                                                                               \
        if (::xs::test::serverEngine())                                                                                \
            QSKIP("only a database file has this: " why);                                                              \
    } while (false)

// Run by every TestDb before its test starts. The window drivers
// (windowtest.cpp) set it to wire the sign-in to the main window, as the
// application does; tests below the main window run without.
void setBeforeEachTest(void (*hook)());

// A fresh application folder with its own xs.mdb for one test. The data layer
// points at it while the object lives; process-wide variables start reset.
// On the server engine the folder holds no xs.mdb: the test gets a fresh
// server database of its own instead (shared schema, room 1, the same seeded
// rows and audit trail), the process uses it while the object lives, and it
// is dropped afterwards. exec/scalar/count/rows then run on the server, in the
// windows' dialect, on room 1's search path.
class TestDb {
public:
    explicit TestDb(unsigned seed = Accounts);
    ~TestDb();
    TestDb(const TestDb &) = delete;
    TestDb &operator=(const TestDb &) = delete;
    QString dir() const { return dir_.path(); }
    QString path() const;
    // The server database's connection string; empty on the file.
    const QString &server() const { return server_; }
    // chengheng-db's arguments naming this database: --db PATH, or on the
    // server --server CONNINFO --room 1, as room 1's own account.
    QStringList toolDatabase() const;
    // Runs statements directly on the database (setting up a case); fails the test on error.
    void exec(const QString &sql) const;
    // First column of the first row as text ("" when no row).
    QString scalar(const QString &sql) const;
    int count(const QString &tableAndWhere) const;  // "xj where 科室='x'"
    // All rows as "a|b|c" lines.
    QStringList rows(const QString &sql) const;

private:
    QTemporaryDir dir_;
    QString server_;
};

// Answers every message box instead of the user and remembers what was asked.
class MsgRecorder {
public:
    MsgRecorder();
    ~MsgRecorder();
    QList<MsgBoxCall> calls;
    std::deque<int> answers;  // answers in order; vbOK once they run out
    void clear() { calls.clear(); }
    QString lastText() const { return calls.isEmpty() ? QString() : calls.last().text; }
};

// The first English word (four letters or more) of a message, outside file
// paths and the names of the program's own tools; empty when there is none.
// An engine's English text never reaches the user.
QString englishIn(const QString &message);

// The test server (the throwaway cluster CTest starts; XS_PG names its own
// database): an empty database of its own for one test, as a connection
// string; empty when XS_PG is not set or the database cannot be made. With a
// template, a copy of that database of the same cluster.
QString freshServerDatabase(QString *why = nullptr, const QString &templateName = {});
// Drops a database made by freshServerDatabase (its connections are ended).
void dropServerDatabase(const QString &conninfo);
// The same database with another database name.
QString withDatabaseName(const QString &conninfo, const QString &name);

// The detail lines of a statement's query plan on the file at path.
QStringList queryPlan(const QString &path, const QString &sql);
// Whether a plan reads the whole of `table` (SCAN rather than SEARCH).
bool planScans(const QStringList &lines, const QString &table);

// The same server database reached as room 1's login role (made by the
// test cluster's script, password in its pgpass file), as the program of
// room 1 connects; the other conninfos of the tests are the cluster's
// superuser, for setting cases up.
QString roomConninfo(const QString &conninfo, const QString &room = QStringLiteral("1"));
// The password the test cluster's pgpass file gives every role but its
// superuser: a room added by a test with it can sign in.
QString testRoomPassword();

// A throwaway PostgreSQL cluster of the test's own (scripts/pgcluster, named
// by XS_PGCLUSTER), for a test that restarts the server under the program
// without disturbing the other tests on the shared one. Its database holds
// the shared schema, room 1 and the rows of `seed`, as a TestDb's on the
// server; the cluster is stopped and removed with the object.
class OwnServer {
public:
    explicit OwnServer(unsigned seed = Accounts);
    ~OwnServer();
    OwnServer(const OwnServer &) = delete;
    OwnServer &operator=(const OwnServer &) = delete;
    bool ok() const { return !conninfo.isEmpty(); }
    // pg_ctl restart: every open connection breaks. False with why.
    bool restart(QString *why) const;
    QString conninfo;  // empty when the cluster could not be started
    QString why;       // why not

private:
    QTemporaryDir dir_;
    QString cluster_;
};

// Rows ("a|b|c") as the file keeps them: on the server, which keeps every
// password as its hash, a cell holding a hash of `typed` reads as `typed`.
QStringList asTyped(const QStringList &rows, const QString &typed);

// Signs in a user the way the login window would leave it.
void signInAs(const QString &name);

// chengheng-db run as a user runs it from a shell: a separate process with
// no display. The tool is XS_TOOL (set by CTest), else beside the test.
// A TCP port on 127.0.0.1 that takes connections and never answers (a
// server that hangs), while the object lives.
class SilentPort {
public:
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort &) = delete;
    SilentPort &operator=(const SilentPort &) = delete;
    quint16 port() const { return port_; }

private:
    int fd_ = -1;
    quint16 port_ = 0;
};
// A port on 127.0.0.1 where nothing listens (connections are refused).
quint16 closedPort();

struct ToolRun {
    int code = -1;  // exit code; -1 when the tool crashed
    QString out;
    QString err;
};
QString toolPath();
ToolRun runTool(const QStringList &args, const QByteArray &input = {}, const QString &program = toolPath(),
                const QString &workDir = {});

// The widgets of first's window (its XsWindow, MDI child or not) that take
// Tab focus, in tab order, starting at first.
QList<QWidget *> tabOrder(QWidget *first);

}  // namespace xs::test
