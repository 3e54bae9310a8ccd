// Speed and memory of the case browser on a large archive.
//
//   bench_cases_browser [records=100000] [departments=2000] [groups=50]
//
// 1. showdata over all joined case records, against a plain sqlite3 loop over
//    the same statement that keeps every value as a QString (the least any
//    listing has to do), in the same run. Target: at most 2x the loop.
// 2. Peak memory of the process after the listing (VmHWM). Target: < 300 MB.
// 3. tree over the departments in their groups. Target: < 200 ms.
#include "benchsupport.h"
#include "cases/Form3.h"
#include "data/engines.h"
#include "data/globals.h"

#include <QApplication>
#include <QTreeWidget>

using namespace xs;
using namespace xs::bench;

namespace {

void fill(const Connection &c, int records, int departments, int groups)
{
    insertRows(c, QStringLiteral("class"), departments, [&](int d) {
        return std::array<QString, 7>{QStringLiteral("年级%1").arg(d % groups, 2, 10, QLatin1Char('0')),
                                      QStringLiteral("科室%1").arg(d, 4, 10, QLatin1Char('0')),
                                      QString::number(100 + d % 400),
                                      QStringLiteral("五年"),
                                      QStringLiteral("临床医学"),
                                      QStringLiteral("医生%1").arg(d % 97),
                                      QStringLiteral("无")};
    });
    insertRows(c, QStringLiteral("xj"), records, [&](int r) {
        return caseRecord(r, QStringLiteral("%1").arg(r, 6, 10, QLatin1Char('0')),
                          QStringLiteral("科室%1").arg(r % departments, 4, 10, QLatin1Char('0')),
                          QStringLiteral("阿莫西林胶囊 布洛芬缓释胶囊"), QStringLiteral("0.5g*24 0.3g*20"));
    });
}

}  // namespace

int main(int argc, char **argv)
{
    preferOffscreen();
    QApplication app(argc, argv);
    xs::useFile();
    const int records = argc > 1 ? atoi(argv[1]) : 100000;
    const int departments = argc > 2 ? atoi(argv[2]) : 2000;
    const int groups = argc > 3 ? atoi(argv[3]) : 50;

    QTemporaryDir dir;
    if (!createDatabase(dir))
        return 1;
    fill(Connection::open(dbPath()), records, departments, groups);
    std::printf("data: %d case records, %d departments in %d groups\n", records, departments, groups);
    const long baseKb = peakKb();

    // The listing of every case record, in the browser's own column list and order.
    const QString sql =
        QStringLiteral("select xj.门诊号,xj.姓名,xj.性别,class.年级,xj.科室,class.专业,class.年制,xj.出生年月,"
                       "xj.家庭住址,xj.邮政编码,xj.联系电话,xj.入诊时间,xj.备注 ,xj.婚否,xj.体格检查,xj.既往病史,"
                       "xj.症状,xj.诊断,xj.药名,xj.药量,xj.医生签字,xj.年龄,xj.身份证  from xj inner join class on "
                       "xj.科室=class.科室  order by class.年级 ,class.科室 ,xj.门诊号 ");

    auto *form = new Form3;
    form->show();
    QCoreApplication::processEvents();
    form->showtitle();
    SqlText = sql;
    QElapsedTimer t;
    t.start();
    form->showdata();
    QCoreApplication::processEvents();  // the view takes the new rows
    const double showMs = msSince(t);
    const long showKb = peakKb();
    // The current row is the first after the data: reading it waits for the
    // row count, which the grid takes in the background.
    if (form->MSF1->Row() != records + 1 || form->MSF1->Rows() != 50 + records) {
        std::fprintf(stderr, "showdata listed %d rows, expected %d\n", form->MSF1->Rows() - 50, records);
        return 1;
    }

    // The same statement in a plain sqlite3 loop, every value kept as a QString.
    double rawMs = 0, stepMs = 0;
    {
        Connection c = Connection::open(dbPath());
        t.restart();
        std::vector<QString> cells;
        const int n = readAsQStrings(c, sql, cells, size_t(records));
        rawMs = msSince(t);

        // Stepping alone, for reference (no value leaves SQLite).
        t.restart();
        StmtHandle s2 = c.prepare(sql);
        size_t bytes = 0;
        while (sqlite3_step(s2.get()) == SQLITE_ROW)
            for (int i = 0; i < n; ++i)
                bytes += size_t(sqlite3_column_bytes(s2.get(), i));
        stepMs = msSince(t);
        if (cells.size() != size_t(records) * size_t(n) || bytes == 0)
            return 1;
    }

    std::printf("showdata:            %8.1f ms  (%d rows x %d columns)\n", showMs, records, form->MSF1->Cols());
    std::printf("sqlite3 loop+QString:%8.1f ms  ratio %.2f (target <= 2.00)\n", rawMs, showMs / rawMs);
    std::printf("sqlite3 step only:   %8.1f ms  (reference)\n", stepMs);
    std::printf("peak memory:         %8.1f MB after showdata (%.1f MB before; target < 300 MB)\n", showKb / 1024.0,
                baseKb / 1024.0);

    // The tree: departments in their groups.
    const int runs = 5;
    double best = 1e9, total = 0;
    for (int i = 0; i < runs; ++i) {
        t.restart();
        form->tree();
        QCoreApplication::processEvents();
        const double ms = msSince(t);
        best = std::min(best, ms);
        total += ms;
    }
    int nodes = 0;
    for (int g = 0; g < form->TreeView1->topLevelItemCount(); ++g)
        nodes += form->TreeView1->topLevelItem(g)->childCount();
    std::printf("tree:                %8.1f ms best, %.1f ms mean of %d (%d groups, %d departments; target < 200 ms)\n",
                best, total / runs, runs, form->TreeView1->topLevelItemCount(), nodes);
    delete form;
    return (showMs <= 2 * rawMs && showKb < 300 * 1024 && best < 200) ? 0 : 2;
}
