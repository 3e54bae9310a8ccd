// Speed and memory of the prescribing window on a large archive. The window
// reads the whole archive xj and work table yc each time it opens, and it
// reopens after every 生成处方, 保存, removal and 清空打印库.
//
//   bench_prescribe [records=100000] [workrows=20]
//
// 1. Reopening (close, build afresh, show, set up) with `records` rows in xj,
//    median of several, against a plain sqlite3 loop that reads both tables
//    into QStrings (the least any listing has to do) in the same run.
//    Target: at most 2x the loop.
// 2. Peak memory of the process after the reopenings (VmHWM): the closed
//    windows must not pile up. Target: < 300 MB.
// 3. One pick and one drugload of a whole category (target: < 20 ms each).
#include "benchsupport.h"
#include "data/catalogue.h"
#include "data/engines.h"
#include "prescribe/Form2.h"
#include "ui/window.h"

#include <QApplication>

using namespace xs;
using namespace xs::bench;

namespace {

void fill(const Connection &c, const char *table, int rows)
{
    insertRows(c, QLatin1String(table), rows, [&](int r) {
        return caseRecord(r, QStringLiteral("%1%2").arg(QLatin1String(table)).arg(r, 6, 10, QLatin1Char('0')),
                          QStringLiteral("内科"), QStringLiteral("阿莫西林胶囊 0.25g布洛芬缓释胶囊 0.3g"),
                          QStringLiteral("2盒;1盒;"));
    });
}

// Lets the event loop run until the window is active (its set-up has run)
// and the closed window is deleted.
void settle(QWidget *w)
{
    QElapsedTimer t;
    t.start();
    while (!w->isActiveWindow() && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

int main(int argc, char **argv)
{
    preferOffscreen();
    QApplication app(argc, argv);
    xs::useFile();
    const int records = argc > 1 ? atoi(argv[1]) : 100000;
    const int work = argc > 2 ? atoi(argv[2]) : 20;

    QTemporaryDir dir;
    if (!createDatabase(dir))
        return 1;
    {
        Connection c = Connection::open(dbPath());
        QString err;
        if (!seedCatalogue(c, &err)
            || !c.exec("insert into class values('一组','内科','1','五年','临床医学','王医生','无')")) {
            std::fprintf(stderr, "set-up: %s %s\n", qPrintable(c.lastError()), qPrintable(err));
            return 1;
        }
        fill(c, "xj", records);
        fill(c, "yc", work);
    }
    std::printf("data: %d archived records, %d work rows\n", records, work);

    QElapsedTimer t;
    t.start();
    Form2 *w = WindowRegistry::show<Form2>();
    settle(w);
    const double firstMs = msSince(t);
    if (w->MSF1->Rows() != records + 1 || w->MSHFlexGrid1->Rows() != work + 1) {
        std::fprintf(stderr, "grids show %d / %d rows\n", w->MSF1->Rows() - 1, w->MSHFlexGrid1->Rows() - 1);
        return 1;
    }

    const int runs = 5;
    std::vector<double> reopen;
    for (int i = 0; i < runs; ++i) {
        t.restart();
        w = w->reopen();
        settle(w);
        reopen.push_back(msSince(t));
    }
    const long afterKb = peakKb();

    // Both tables in a plain sqlite3 loop, every value kept as a QString.
    std::vector<double> raw;
    for (int i = 0; i < 3; ++i) {
        Connection c = Connection::open(dbPath());
        t.restart();
        std::vector<QString> cells;
        for (const char *sql : {"select * from xj", "select * from yc"})
            readAsQStrings(c, QString::fromLatin1(sql), cells);
        raw.push_back(msSince(t));
        if (cells.size() != size_t(records + work) * 20)
            return 1;
    }

    // A pick, and a whole category.
    w->Text1->setText(QStringLiteral("1盒"));
    w->List1->setCurrentRow(0);
    t.restart();
    w->List1_DblClick();
    const double pickMs = msSince(t);
    t.restart();
    w->drugload(QStringLiteral("中药"));
    const double loadMs = msSince(t);

    const double reopenMs = median(reopen);
    const double rawMs = median(raw);
    std::printf("first opening:       %8.1f ms\n", firstMs);
    std::printf("reopening:           %8.1f ms median of %d\n", reopenMs, runs);
    std::printf("sqlite3 loop+QString:%8.1f ms  ratio %.2f (target <= 2.00)\n", rawMs, reopenMs / rawMs);
    std::printf("peak memory:         %8.1f MB after %d reopenings (target < 300 MB)\n", afterKb / 1024.0, runs);
    std::printf("pick:                %8.3f ms; drugload of 中药 (%d lines): %.3f ms (target < 20 ms each)\n", pickMs,
                w->List1->count(), loadMs);
    delete w;
    return (reopenMs <= 2 * rawMs && afterKb < 300 * 1024 && pickMs < 20 && loadMs < 20) ? 0 : 2;
}
