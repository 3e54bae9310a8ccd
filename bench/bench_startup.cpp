// Start of the application to the login window shown: each run is a fresh
// process (dynamic linking, Qt start-up, fonts, database check, window), timed
// from the kernel's process start to the window's first exposure. Prints the
// median of several runs. Usage: bench_startup [runs]
#include "data/schema.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "signin/Frmdenlu.h"
#include "ui/application.h"
#include "ui/window.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

// Milliseconds since this process was started by the kernel.
static double sinceProcessStart()
{
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray s = f.readAll();
    const QList<QByteArray> parts = s.mid(s.lastIndexOf(')') + 2).split(' ');
    const double startTicks = parts.value(19).toDouble();  // field 22: starttime
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double hz = double(sysconf(_SC_CLK_TCK));
    return (now.tv_sec + now.tv_nsec / 1e9 - startTicks / hz) * 1000.0;
}

class Probe : public QObject {
public:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Expose && qobject_cast<QWindow *>(o) && !done_) {
            done_ = true;
            std::printf("%.1f\n", sinceProcessStart());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        }
        return false;
    }

private:
    bool done_ = false;
};

int main(int argc, char **argv)
{
    if (argc > 2 && qstrcmp(argv[1], "--child") == 0) {
        xs::setAppDirForTesting(QString::fromLocal8Bit(argv[2]));
        xs::Application app(argc, argv);
        Probe probe;
        app.installEventFilter(&probe);
        if (!app.openDatabase())
            return 1;
        xs::WindowRegistry::show<xs::Frmdenlu>();
        return app.exec();
    }
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? atoi(argv[1]) : 9;
    QTemporaryDir dir;
    {
        xs::Connection c = xs::Connection::create(dir.path() + "/xs.mdb");
        xs::createSchema(c);
    }
    std::vector<double> times;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), {"--child", dir.path()});
        if (!p.waitForFinished(20000)) {
            std::fprintf(stderr, "run %d did not finish\n", i);
            return 1;
        }
        const double ms = p.readAllStandardOutput().split('\n').value(0).trimmed().toDouble();
        if (i > 0)  // the first run warms the page cache
            times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("platform %s, %d runs: min %.0f ms, median %.0f ms, max %.0f ms (target < 300 ms)\n",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "default" : qgetenv("QT_QPA_PLATFORM").constData(), runs,
                times.front(), times[times.size() / 2], times.back());
    return 0;
}
