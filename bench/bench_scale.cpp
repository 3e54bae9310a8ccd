// Every window at 10,000, 100,000 and 1,000,000 case records: one table of
// time and peak memory per action and archive size, so growth shows at once.
//
//   bench_scale [--engine file|server] [SIZES]
//                              e.g. bench_scale 10000,100000,1000000 (the default)
//                              XS_BENCH_RUNS=N: each group N times (default 3),
//                              medians of the times, the largest peaks
//   bench_scale --child N GROUP FILE [CONNINFO]
//                              one group of actions (prescribe, cases, query,
//                              dept) on a copy of FILE (or on the server
//                              database CONNINFO), key=value lines
//
// With --engine server the same archive is copied onto a PostgreSQL server
// (the one XS_PG names, else a throwaway cluster started with
// scripts/pgcluster) as `chengheng-db migrate` copies it, and every group of
// actions runs on a database of its own made from it (CREATE DATABASE ...
// TEMPLATE), as a room of the clinic would use it. The rare-match query is
// then set against psql counting the same condition.
//
// For each size the parent makes one archive; each group of actions then runs
// in a process of its own on the offscreen platform, on a copy of it, so that
// the memory one window keeps does not count against the next. The archive
// is made by the demo archive generator: N case records in 2,000
// departments of 50 groups, every second patient's surname then set to 王
// (so that a name query matches half the archive) and one patient named
// 欧阳罕见 (the rare match). The real windows are driven from the main window's
// menus, signed in as admin, and every action is timed from the input to its
// result shown and the event loop idle again; its memory is the process's
// peak resident size during the action (VmHWM, reset before each action).
// The rare-match query is also set against the sqlite3 shell counting the
// same condition on the same file (.timer on, best of three).
#include "benchsupport.h"
#include "cases/DataReportclass.h"
#include "cases/Form1.h"
#include "cases/Form3.h"
#include "cases/Form4.h"
#include "data/accounts.h"
#include "data/catalogue.h"
#include "data/engines.h"
#include "data/filetoserver.h"
#include "data/globals.h"
#include "data/pagesource.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/demoarchive.h"
#include "data/sqlite/demodata.h"
#include "dept/DataReportclass2.h"
#include "dept/Formclass2.h"
#include "dept/Formclass3.h"
#include "mainwin/MDIForm1.h"
#include "prescribe/Form2.h"
#include "report/preview.h"
#include "report/report.h"
#include "ui/application.h"
#include "ui/gridsource.h"
#include "ui/msgbox.h"
#include "ui/window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMap>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <tuple>

using namespace xs;
using namespace xs::bench;

namespace {

long statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toLong();
    return -1;
}

// From here on VmHWM counts from the present resident size.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// Runs the event loop until nothing is left to do.
void settle()
{
    for (int i = 0; i < 10000; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents))
            break;
    }
}

// Runs the event loop until done() holds (or 10 minutes passed), then until idle.
bool waitFor(const std::function<bool()> &done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 600000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    settle();
    return true;
}

struct Result {
    double ms = -1;
    long peakKb = -1;
    QString note;
};

// The measured actions, in table order: key and what the table says.
const std::vector<std::pair<const char *, const char *>> &actions()
{
    static const std::vector<std::pair<const char *, const char *>> a = {
        {"kaiyao", "开药: the prescribing window opens (both grids filled)"},
        {"kaiyao_far", "开药, then the archive grid dragged to its middle row at once: that row shown"},
        {"far_shell", "sqlite3 shell (psql on the server): the page at the middle of the archive (limit 64 offset)"},
        {"far_ratio", "middle row shown / shell's page (a skip over the rows before it; target <= 1.5)"},
        {"sccf", "生成处方: the window reloads after storing a work row"},
        {"baocun", "保存: the work row archived, window reloaded"},
        {"form2_back", "memory given back: RSS after closing the prescribing window minus before opening it"},
        {"liulan", "档案浏览: the case browser opens (tree built)"},
        {"grade", "case browser: a 年级 node clicked"},
        {"dept", "case browser: a 科室 node clicked"},
        {"dang", "打印当前记录 (the 科室 node): first page of the preview"},
        {"all", "打印全部记录: first page of the preview"},
        {"modi", "修改 in the case browser: the entry window open with the record"},
        {"modi_back", "back from 修改: the browser lists its rows again"},
        {"del", "删除 in the case browser (answered 确定): row gone, list refreshed"},
        {"form3_back", "memory given back: RSS after closing the case browser minus before opening it"},
        {"claasfind", "档案查询: the case query dialog opens"},
        {"half", "case query: a name matching half the archive (王), listed"},
        {"rare", "case query: a name matching one record (罕见), listed"},
        {"rare_shell", "sqlite3 shell (psql on the server): select count(*) for the rare condition"},
        {"rare_ratio", "rare query / shell (target <= 1.5)"},
        {"classbrowse", "科室浏览: the department browser opens"},
        {"class_grade", "department browser: a 年级 node clicked"},
        {"classfind", "科室查询: a group queried, department browser lists it"},
    };
    return a;
}

// The sqlite3 shell's own time for one statement (seconds, best of three).
double shellSeconds(const QString &file, const QString &sql)
{
    double best = -1;
    for (int i = 0; i < 3; ++i) {
        QProcess p;
        p.start(QStringLiteral("sqlite3"), {file});
        p.write((QStringLiteral(".timer on\n") + sql + QStringLiteral(";\n")).toUtf8());
        p.closeWriteChannel();
        if (!p.waitForFinished(600000))
            return -1;
        static const QRegularExpression re(QStringLiteral("Run Time: real ([0-9.]+)"));
        const auto m = re.match(QString::fromUtf8(p.readAllStandardOutput()));
        if (!m.hasMatch())
            return -1;
        const double s = m.captured(1).toDouble();
        best = best < 0 ? s : std::min(best, s);
    }
    return best;
}

// psql's own time for one statement on the server (seconds, best of three).
double psqlSeconds(const QString &conninfo, const QString &sql)
{
    double best = -1;
    for (int i = 0; i < 3; ++i) {
        QProcess p;
        p.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), conninfo});
        // The program's search path: citext and its case-insensitive LIKE
        // live in public, and the condition is to mean what it means there.
        p.write(
            (QStringLiteral("set search_path=chengheng,public;\\timing on\n") + sql + QStringLiteral(";\n")).toUtf8());
        p.closeWriteChannel();
        if (!p.waitForFinished(600000))
            return -1;
        static const QRegularExpression re(QStringLiteral("Time: ([0-9.]+) ms"));
        QRegularExpressionMatch last;
        for (auto it = re.globalMatch(QString::fromUtf8(p.readAllStandardOutput())); it.hasNext();)
            last = it.next();
        if (!last.hasMatch())
            return -1;
        const double s = last.captured(1).toDouble() / 1000.0;
        best = best < 0 ? s : std::min(best, s);
    }
    return best;
}

// The offscreen platform's notes about window hints it cannot honour are no
// result; everything else is passed on.
void quietOffscreen(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (msg.startsWith(QLatin1String("This plugin does not support")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(msg));
    if (type == QtFatalMsg)
        std::abort();
}

// Makes the archive of `records` case records at `path`; seconds taken.
double buildArchive(const QString &path, int records)
{
    QElapsedTimer build;
    build.start();
    Connection c = Connection::create(path);
    QString err;
    DemoArchiveOptions o;
    o.records = records;
    o.departments = 2000;
    o.groups = 50;
    if (!createSchema(c) || !c.exec("BEGIN") || !seedCatalogue(c, &err)
        || !insertUser(c, QStringLiteral("admin"), QStringLiteral("admin123"), {"admin"}, &err)
        || !fillDemoArchive(c, o, &err) || !c.exec("COMMIT")) {
        std::fprintf(stderr, "archive: %s %s\n", qPrintable(err), qPrintable(c.lastError()));
        return -1;
    }
    c.exec("UPDATE xj SET 姓名='王'||substr(姓名,2) WHERE rowid%2=0 AND 姓名 NOT LIKE '王%'");
    c.exec(QStringLiteral("UPDATE xj SET 姓名='欧阳罕见' WHERE rowid=%1").arg(records / 3 + 1));
    c.exec("INSERT INTO yc SELECT * FROM xj WHERE rowid<=5");
    c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    return build.elapsed() / 1000.0;
}

// One group of actions on a copy of the archive at `source`, in a process of
// its own: the peaks of one group do not carry over into the next.
int child(int records, const QString &group, const QString &source, const QString &server)
{
    qInstallMessageHandler(quietOffscreen);
    QTemporaryDir dir;
    setAppDirForTesting(dir.path());
    if (!server.isEmpty()) {
        QString why;
        // As the program of room 1 runs: signed in as the room's own login
        // role (made with its password by scripts/pgcluster; with XS_PG, a
        // role of that name the pgpass file knows).
        QString room = server;
        room.replace(QRegularExpression(QStringLiteral("user=\\S+")),
                     QStringLiteral("user=") + roomRole(QStringLiteral("1")));
        if (!openServerDatabase(room, QStringLiteral("1"), &why)) {
            std::fprintf(stderr, "server: %s\n", qPrintable(why));
            return 1;
        }
    } else if (!QFile::copy(source, dbPath())) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(source));
        return 1;
    } else if (!openDatabaseOrTell()) {
        // What the program does at start with its file (WAL, the listings'
        // indexes, the kept count, the audit trail).
        std::fprintf(stderr, "cannot open %s\n", qPrintable(dbPath()));
        return 1;
    }

    std::map<std::string, Result> results;
    auto measure = [&](const char *key, const std::function<void()> &input, const std::function<bool()> &shown) {
        settle();
        resetPeak();
        QElapsedTimer t;
        t.start();
        input();
        Result r;
        if (!waitFor(shown))
            r.note = QStringLiteral("timed out");
        r.ms = msSince(t);
        r.peakKb = statusKb("VmHWM:");
        results[key] = r;
        std::fprintf(stderr, "  %d: %-12s %9.1f ms %7.1f MB\n", records, key, r.ms, r.peakKb / 1024.0);
    };

    // A modal preview: waits inside its loop for the first page, then closes it.
    auto measurePreview = [&](const char *key, const QString &reportName, const std::function<void()> &input) {
        settle();
        resetPeak();
        QElapsedTimer t;
        Result r;
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            ReportPreview *w = openReportPreview(reportName);
            if (w && w->pagesPainted() > 0 && r.ms < 0) {
                r.ms = msSince(t);
                r.peakKb = statusKb("VmHWM:");
                r.note = w->pageText();
                w->close();
            }
        });
        poll.start();
        t.start();
        input();
        poll.stop();
        if (r.ms < 0)
            r.note = QStringLiteral("no preview");
        results[key] = r;
        std::fprintf(stderr, "  %d: %-12s %9.1f ms %7.1f MB  %s\n", records, key, r.ms, r.peakKb / 1024.0,
                     qPrintable(r.note));
        settle();
    };

    setMsgBoxAnswerer([](const MsgBoxCall &) { return int(vbOK); });
    // The sign-in reads the account first (on the server, that connects the
    // process): the program never starts a window without it.
    runsql(QStringLiteral("select * from use where username='admin'"));
    CurrentUser = QStringLiteral("admin");
    MDIForm1 *main = WindowRegistry::show<MDIForm1>();
    waitFor([&] { return main->isActiveWindow(); });

    if (group == QLatin1String("prescribe")) {
        // --- Prescribing window.
        const long beforeForm2 = statusKb("VmRSS:");
        measure(
            "kaiyao", [&] { main->entry(QStringLiteral("kaiyao"))->trigger(); },
            [&] {
                Form2 *w = WindowRegistry::find<Form2>();
                return w && w->isActiveWindow() && w->MSF1->Rows() > 1;
            });
        Form2 *f2 = WindowRegistry::find<Form2>();
        // The archive grid dragged to its middle at once, before the
        // background pass has brought the keys of its pages.
        const int middle = f2->MSF1->Rows() / 2;
        measure(
            "kaiyao_far", [&] { f2->MSF1->scrollTo(f2->MSF1->model()->index(middle - 1, 0)); },
            [&] { return f2->MSF1->rowAt(0) > 0 && !f2->MSF1->TextMatrix(middle, 1).isEmpty(); });
        // No index gives a row's place in an order: the page there is found
        // by skipping the rows before it, as the shell does it.
        const QString far = QStringLiteral("select * from xj limit %1 offset %2")
                                .arg(kPageRows)
                                .arg((middle - 1) / kPageRows * kPageRows);
        const double farShell = server.isEmpty() ? shellSeconds(dbPath(), far) : psqlSeconds(server, far);
        results["far_shell"] = {farShell * 1000, -1, QString()};
        results["far_ratio"] = {results["kaiyao_far"].ms / (farShell * 1000), -1, QString()};
        const QString number = QStringLiteral("B%1").arg(records);
        const QStringList patient = {number,
                                     QStringLiteral("张三"),
                                     QStringLiteral("1980-05-06"),
                                     QStringLiteral("北京路1号"),
                                     QStringLiteral("100000"),
                                     QStringLiteral("13800000000"),
                                     QStringLiteral("2024-03-01"),
                                     QStringLiteral("无"),
                                     QStringLiteral("正常"),
                                     QStringLiteral("无"),
                                     QStringLiteral("腹痛"),
                                     QStringLiteral("胃炎"),
                                     QStringLiteral("奥美拉唑"),
                                     QStringLiteral("2盒"),
                                     QStringLiteral("王医生"),
                                     QStringLiteral("45"),
                                     QStringLiteral("110101198005060011")};
        for (int i = 0; i < 17 && f2; ++i)
            f2->Text2[size_t(i)]->setText(patient[i]);
        QPointer<Form2> old = f2;
        measure(
            "sccf", [&] { f2->sccf_Click(); },
            [&] {
                Form2 *w = WindowRegistry::find<Form2>();
                return !old && w && w->isActiveWindow() && w->MSHFlexGrid1->Rows() > 6;
            });
        f2 = WindowRegistry::find<Form2>();
        for (int r = 1; f2 && r < f2->MSHFlexGrid1->Rows(); ++r)
            if (f2->MSHFlexGrid1->TextMatrix(r, 1).trimmed() == number)
                f2->MSHFlexGrid1->setRow(r);
        old = f2;
        measure(
            "baocun", [&] { f2->baocun_Click(); },
            [&] {
                Form2 *w = WindowRegistry::find<Form2>();
                return !old && w && w->isActiveWindow() && w->MSF1->Rows() > records + 1;
            });
        if (Form2 *w = WindowRegistry::find<Form2>())
            w->close();
        waitFor([] { return !WindowRegistry::find<Form2>(); });
        results["form2_back"] = {-1, (statusKb("VmRSS:") - beforeForm2), QString()};
    }
    if (group == QLatin1String("cases")) {
        // --- Case browser.
        const long beforeForm3 = statusKb("VmRSS:");
        measure(
            "liulan", [&] { main->entry(QStringLiteral("liulan"))->trigger(); },
            [&] {
                Form3 *b = WindowRegistry::find<Form3>();
                return b && b->isVisible() && b->TreeView1->topLevelItemCount() > 0;
            });
        Form3 *b = WindowRegistry::find<Form3>();
        QTreeWidgetItem *grade = b->TreeView1->topLevelItem(0);
        measure(
            "grade",
            [&] {
                b->TreeView1->setCurrentItem(grade);
                b->TreeView1_DblClick();
            },
            [&] { return b->MSF1->Rows() > 1; });
        QTreeWidgetItem *dept = grade->child(0);
        measure(
            "dept",
            [&] {
                b->TreeView1->setCurrentItem(dept);
                b->TreeView1_DblClick();
            },
            [&] { return b->MSF1->Rows() > 1; });
        measurePreview("dang", DataReportclass::layout().name,
                       [&] { b->Toolbar1_ButtonMenuClick(QStringLiteral("dang")); });
        measurePreview("all", DataReportclass::layout().name,
                       [&] { b->Toolbar1_ButtonMenuClick(QStringLiteral("all")); });

        b->MSF1->setRow(1);
        const QString modKey = b->MSF1->TextMatrix(1, 1).trimmed();
        measure(
            "modi", [&] { b->Toolbar1_ButtonClick(QStringLiteral("modi")); },
            [&] {
                Form1 *e = WindowRegistry::find<Form1>();
                return e && e->isVisible() && e->Text1[0]->text().trimmed() == modKey;
            });
        measure(
            "modi_back",
            [&] {
                if (Form1 *e = WindowRegistry::find<Form1>())
                    e->close();
                WindowRegistry::bringToFront(b);
            },
            [&] { return !WindowRegistry::find<Form1>() && b->MSF1->Rows() > 1; });
        b->MSF1->setRow(1);
        const QString delKey = b->MSF1->TextMatrix(1, 1).trimmed();
        measure(
            "del", [&] { b->Toolbar1_ButtonClick(QStringLiteral("del")); },
            [&] { return b->MSF1->TextMatrix(1, 1).trimmed() != delKey; });
        b->close();
        waitFor([] { return !WindowRegistry::find<Form3>(); });
        results["form3_back"] = {-1, (statusKb("VmRSS:") - beforeForm3), QString()};
    }
    if (group == QLatin1String("query")) {
        // --- Case query.
        measure(
            "claasfind", [&] { main->entry(QStringLiteral("claasfind"))->trigger(); },
            [&] {
                Form4 *q = WindowRegistry::find<Form4>();
                return q && q->isVisible();
            });
        Form4 *q = WindowRegistry::find<Form4>();
        // Waits for the browser listing whose first row's name passes `nameOk`.
        auto query = [&](const char *key, const QString &part, const std::function<bool(const QString &)> &nameOk) {
            q = WindowRegistry::find<Form4>();
            if (!q) {
                main->entry(QStringLiteral("claasfind"))->trigger();
                waitFor([&] { return (q = WindowRegistry::find<Form4>()) != nullptr; });
            }
            for (QLineEdit *t : q->Text1)
                t->clear();
            q->Text1[3]->setText(part);
            measure(
                key, [&] { q->Command1_Click(); },
                [&] {
                    Form3 *r = WindowRegistry::find<Form3>();
                    return r && r->isVisible() && nameOk(r->MSF1->TextMatrix(1, 2));
                });
        };
        query("half", QStringLiteral("王"), [](const QString &n) { return n.contains(u'王'); });
        const QString halfSql = SqlText;
        // The program idle again: the listing's count has come in the
        // background (a user types the next name meanwhile), so that the
        // next query is measured by itself.
        waitFor([] {
            Form3 *r = WindowRegistry::find<Form3>();
            GridSource *src = r ? r->MSF1->flexModel()->source() : nullptr;
            return !src || src->countKnown();
        });
        if (Form3 *r = WindowRegistry::find<Form3>())
            r->MSF1->setTextMatrix(1, 2, QString());  // the next listing must write it again
        query("rare", QStringLiteral("罕见"), [](const QString &n) { return n == QStringLiteral("欧阳罕见"); });
        const QString count = QStringLiteral("select count(*) from xj where xj.姓名 like '%罕见%'");
        const double shell = server.isEmpty() ? shellSeconds(dbPath(), count) : psqlSeconds(server, count);
        results["rare_shell"] = {shell * 1000, -1, QString()};
        results["rare_ratio"] = {results["rare"].ms / (shell * 1000), -1, QString()};
        if (Form3 *r = WindowRegistry::find<Form3>())
            r->close();
        if (Form4 *r = WindowRegistry::find<Form4>())
            r->close();
        settle();
        std::fprintf(stderr, "  half statement: %s\n", qPrintable(halfSql));
    }
    if (group == QLatin1String("dept")) {
        // --- Department browser and query.
        measure(
            "classbrowse", [&] { main->entry(QStringLiteral("classbrowse"))->trigger(); },
            [&] {
                Formclass2 *c = WindowRegistry::find<Formclass2>();
                return c && c->isVisible() && c->TreeView1->topLevelItemCount() > 0;
            });
        Formclass2 *cb = WindowRegistry::find<Formclass2>();
        QTreeWidgetItem *cgrade = cb->TreeView1->topLevelItem(0);
        measure(
            "class_grade",
            [&] {
                cb->TreeView1->setCurrentItem(cgrade);
                cb->TreeView1_DblClick();
            },
            [&] { return cb->MSF1->Rows() > 1 && !cb->MSF1->TextMatrix(1, 1).isEmpty(); });
        const QString group = cgrade->text(0).trimmed();
        cb->close();
        settle();
        main->entry(QStringLiteral("classfind"))->trigger();
        Formclass3 *cq = nullptr;
        waitFor([&] { return (cq = WindowRegistry::find<Formclass3>()) != nullptr; });
        cq->Text1[0]->setText(group);
        measure(
            "classfind", [&] { cq->Command1_Click(); },
            [&] {
                Formclass2 *c = WindowRegistry::find<Formclass2>();
                return c && c->isVisible() && !c->MSF1->TextMatrix(1, 1).isEmpty();
            });
    }
    for (const auto &[key, r] : results)
        std::printf("%s=%.1f|%ld|%s\n", key.c_str(), r.ms, r.peakKb, qPrintable(r.note));
    std::fflush(stdout);
    WindowRegistry::closeAll();
    settle();
    setAppDirForTesting(QString());
    return 0;
}

QMap<QString, QString> runChild(int records, const QString &group, const QString &source, const QString &server)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args = {QStringLiteral("--child"), QString::number(records), group, source};
    if (!server.isEmpty())
        args << server;
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    QMap<QString, QString> kv;
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        kv.insert(line.section(u'=', 0, 0), line.section(u'=', 1));
    if (p.exitCode() != 0)
        std::fprintf(stderr, "child %d failed (exit %d)\n", records, p.exitCode());
    return kv;
}

// The server the archives go to: XS_PG, else a throwaway cluster.
struct BenchServer {
    QString base;
    QString clusterDir;
    ~BenchServer()
    {
        if (!clusterDir.isEmpty())
            QProcess::execute(script(), {QStringLiteral("stop"), clusterDir});
    }
    static QString script()
    {
        return QDir(QStringLiteral(XS_SOURCE_DIR)).filePath(QStringLiteral("scripts/pgcluster"));
    }
    bool start()
    {
        base = qEnvironmentVariable("XS_PG");
        if (!base.isEmpty())
            return true;
        clusterDir = QDir::temp().filePath(QStringLiteral("bench_scale_pg_%1").arg(QCoreApplication::applicationPid()));
        QProcess p;
        p.start(script(), {QStringLiteral("start"), clusterDir});
        p.waitForFinished(120000);
        base = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(u'\n').last();
        return p.exitCode() == 0 && !base.isEmpty();
    }
    QString database(const QString &name) const
    {
        QString out = base;
        out.replace(QRegularExpression(QStringLiteral("dbname=\\S+")), QStringLiteral("dbname=") + name);
        return out;
    }
};

// Copies the archive file onto the server database `name` (made here); seconds taken.
double copyToServer(const BenchServer &server, const QString &file, const QString &name)
{
    QElapsedTimer t;
    t.start();
    PgConnection admin(server.base);
    admin.run(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
    if (!admin.run(QStringLiteral("CREATE DATABASE ") + name)) {
        std::fprintf(stderr, "server: %s\n", qPrintable(admin.lastError()));
        return -1;
    }
    PgConnection c(server.database(name));
    QString err;
    QStringList summary;
    if (!copyFileToServer(Connection::open(file), c, QStringLiteral("1"), &summary, &err)
        || !c.run(QStringLiteral("VACUUM ANALYZE"))) {
        std::fprintf(stderr, "server: %s %s\n", qPrintable(err), qPrintable(c.lastError()));
        return -1;
    }
    return t.elapsed() / 1000.0;
}

QString thousands(double v, int decimals = 0) { return QLocale(QLocale::English).toString(v, 'f', decimals); }

}  // namespace

int main(int argc, char **argv)
{
    preferOffscreen();
    QApplication app(argc, argv);
    xs::useFile();
    const QStringList args = app.arguments();
    if ((args.size() == 5 || args.size() == 6) && args[1] == QLatin1String("--child"))
        return child(args[2].toInt(), args[3], args[4], args.value(5));

    std::vector<int> sizes = {10000, 100000, 1000000};
    const int repeats = std::max(1, qEnvironmentVariableIntValue("XS_BENCH_RUNS") ?: 3);
    bool onServerEngine = false;
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--engine") && i + 1 < args.size()) {
            onServerEngine = args[++i] == QLatin1String("server");
        } else {
            sizes.clear();
            for (const QString &s : args[i].split(u','))
                sizes.push_back(s.toInt());
        }
    }
    BenchServer server;
    if (onServerEngine && !server.start()) {
        std::fprintf(stderr, "no server: set XS_PG or run as root (scripts/pgcluster)\n");
        return 1;
    }
    std::vector<QMap<QString, QString>> runs;
    for (int n : sizes) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("archive.mdb"));
        QMap<QString, QString> all;
        all.insert(QStringLiteral("build_s"), QString::number(buildArchive(file, n), 'f', 1));
        // XS_BENCH_KEEP=DIR keeps a copy of each archive there (archive-N.mdb),
        // so one group can be run again or profiled on it with --child.
        if (const QString keep = qEnvironmentVariable("XS_BENCH_KEEP"); !keep.isEmpty())
            QFile::copy(file, QDir(keep).filePath(QStringLiteral("archive-%1.mdb").arg(n)));
        const QString archive = QStringLiteral("bench_archive");
        if (onServerEngine)
            all.insert(QStringLiteral("copy_s"), QString::number(copyToServer(server, file, archive), 'f', 1));
        // Each group runs `repeats` times, each time in a fresh process on a fresh
        // copy; a time is the median of its runs, a peak the largest. One run
        // of a few milliseconds says little on a machine that does other work.
        std::map<QString, std::vector<double>> ms, kb;
        std::map<QString, QString> notes;
        for (int run = 0; run < repeats; ++run)
            for (const char *group : {"prescribe", "cases", "query", "dept"}) {
                QString conninfo;
                if (onServerEngine) {
                    // Each group on a database of its own, copied from the archive.
                    PgConnection admin(server.base);
                    const QString name = QStringLiteral("bench_") + QString::fromLatin1(group);
                    admin.run(QStringLiteral("DROP DATABASE IF EXISTS ") + name);
                    // Copied as files and checkpointed: a copy made through the
                    // server's buffers (its default) leaves them dirty, and the
                    // group's first reads would write them out, which a server
                    // that has run for a while does not do.
                    if (!admin.run(
                            QStringLiteral("CREATE DATABASE %1 TEMPLATE %2 STRATEGY FILE_COPY").arg(name, archive)))
                        std::fprintf(stderr, "server: %s\n", qPrintable(admin.lastError()));
                    admin.run(QStringLiteral("CHECKPOINT"));
                    conninfo = server.database(name);
                    // The new database's files are read once into the
                    // system's file cache, where a server in use finds its
                    // tables (as the copied archive file is for the file
                    // engine, and as psql finds them for its best of three).
                    PgConnection warm(conninfo);
                    warm.run(QStringLiteral(
                        "CREATE EXTENSION IF NOT EXISTS pg_prewarm;SELECT pg_prewarm(c.oid::regclass, 'read') FROM "
                        "pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = 'chengheng' "
                        "AND c.relkind IN ('r', 'i')"));
                }
                const auto kv = runChild(n, QString::fromLatin1(group), file, conninfo);
                for (auto it = kv.begin(); it != kv.end(); ++it) {
                    const QStringList f = it.value().split(u'|');
                    ms[it.key()].push_back(f.value(0).toDouble());
                    kb[it.key()].push_back(f.value(1).toDouble());
                    if (f.value(2).contains(QLatin1String("timed out")))
                        notes[it.key()] = QStringLiteral("timed out");
                }
                if (onServerEngine)
                    PgConnection(server.base)
                        .run(QStringLiteral("DROP DATABASE IF EXISTS bench_") + QString::fromLatin1(group));
            }
        if (onServerEngine) {
            PgConnection admin(server.base);
            // With XS_BENCH_KEEP the server's copy stays too, as bench_archive_N.
            if (!qEnvironmentVariable("XS_BENCH_KEEP").isEmpty()) {
                const QString kept = archive + QStringLiteral("_%1").arg(n);
                admin.run(QStringLiteral("DROP DATABASE IF EXISTS ") + kept);
                admin.run(QStringLiteral("ALTER DATABASE %1 RENAME TO %2").arg(archive, kept));
            } else {
                admin.run(QStringLiteral("DROP DATABASE IF EXISTS ") + archive);
            }
        }
        for (auto &[key, times] : ms) {
            const QString note = notes[key];
            all.insert(key, QStringLiteral("%1|%2|%3")
                                .arg(median(times))
                                .arg(qint64(*std::max_element(kb[key].begin(), kb[key].end())))
                                .arg(note));
        }
        // The ratio of the medians, not the median of the ratios.
        for (const auto &[ratio, action, shell] :
             {std::tuple{"rare_ratio", "rare", "rare_shell"}, std::tuple{"far_ratio", "kaiyao_far", "far_shell"}})
            if (ms.count(QString::fromLatin1(action)) && ms.count(QString::fromLatin1(shell)))
                all.insert(QString::fromLatin1(ratio),
                           QStringLiteral("%1|-1|").arg(median(ms[QString::fromLatin1(action)])
                                                        / median(ms[QString::fromLatin1(shell)])));
        runs.push_back(all);
    }

    // One table: time and peak memory per action and size.
    QString head = QStringLiteral("| action |");
    QString rule = QStringLiteral("|---|");
    for (size_t i = 0; i < sizes.size(); ++i) {
        head += QStringLiteral(" %1 records |").arg(thousands(sizes[i]));
        rule += QStringLiteral("---|");
    }
    std::printf("%s\n%s\n", qPrintable(head), qPrintable(rule));
    std::printf("| archive built (generator, 2,000 departments in 50 groups) |");
    for (const auto &kv : runs)
        std::printf(" %s s |", qPrintable(kv.value(QStringLiteral("build_s"))));
    std::printf("\n");
    if (onServerEngine) {
        std::printf("| archive copied onto the server (COPY, VACUUM ANALYZE) |");
        for (const auto &kv : runs)
            std::printf(" %s s |", qPrintable(kv.value(QStringLiteral("copy_s"))));
        std::printf("\n");
    }
    for (const auto &[key, title] : actions()) {
        std::printf("| %s |", title);
        for (const auto &kv : runs) {
            const QStringList f = kv.value(QString::fromLatin1(key)).split(u'|');
            const double ms = f.value(0).toDouble();
            const long kb = f.value(1).toLong();
            QString cell;
            if (f.size() < 2)
                cell = QStringLiteral("–");
            else if (QLatin1String(key).endsWith(QLatin1String("_ratio")))
                cell = QString::number(ms, 'f', 2);
            else if (QLatin1String(key).endsWith(QLatin1String("_back")) && ms < 0)
                cell = QStringLiteral("%1 MB").arg(thousands(kb / 1024.0, 1));
            else if (kb < 0)
                cell = QStringLiteral("%1 ms").arg(thousands(ms, ms < 100 ? 1 : 0));
            else
                cell = QStringLiteral("%1 ms, %2 MB").arg(thousands(ms, ms < 100 ? 1 : 0), thousands(kb / 1024.0, 0));
            if (!f.value(2).isEmpty() && f.value(2).contains(QLatin1String("timed out")))
                cell += QStringLiteral(" (timed out)");
            std::printf(" %s |", qPrintable(cell));
        }
        std::printf("\n");
    }
    return 0;
}
