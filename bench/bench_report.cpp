// The case report over many records.
//   1. Time from the request (DataReportclass::Show) to the first page painted
//      in the preview, and the peak memory of that showing, for 100 and for
//      10,000 case records. Each size runs in a child process of its own so
//      that the peaks do not mix (targets: first page under 500 ms, peak
//      memory of the 10,000 run within 1.5 x of the 100 run).
//   2. PDF export of 1,000 case records: pages per second.
// Usage: bench_report                 (runs everything)
//        bench_report --child ROWS    (one showing, prints key=value lines)
//        bench_report --pdf ROWS      (one export, prints key=value lines)
#include "cases/DataReportclass.h"
#include "data/engines.h"
#include "data/schema.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "report/dataenv.h"
#include "report/preview.h"
#include "report/report.h"
#include "report/reportdocument.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sqlite3.h>

using namespace xs;

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

// Starts a new peak: from here on VmHWM counts from the current resident size.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

void fill(const QString &path, int rows)
{
    Connection c = Connection::create(path);
    if (!createSchema(c))
        qFatal("schema: %s", qPrintable(c.lastError()));
    c.exec("BEGIN");
    c.exec(QStringLiteral("insert into class values('内科','心内科','101','三年','心血管内科','王建国','无'),"
                          "('外科','普外科','205','五年','普通外科','李明','无')"));
    StmtHandle s = c.prepare(QStringLiteral("insert into xj values(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    for (int i = 0; i < rows; ++i) {
        const QString n = QString::number(i);
        const QString vals[20] = {
            "MZ" + n.rightJustified(6, QLatin1Char('0')),
            "患者" + n,
            i % 2 ? "男" : "女",
            i % 3 ? "心内科" : "普外科",
            "1980-01-02",
            "青禾市长安路" + n + "号院3号楼2单元501室",
            "100000",
            "1380000" + n,
            "2026-12-01",
            "患者自述近期睡眠不佳，建议两周后复诊。",
            "已婚",
            "血压 150/95 mmHg，心率 88 次/分，律齐，双肺呼吸音清。",
            "高血压病史五年，糖尿病史两年，否认药物过敏史。",
            "头晕、头痛三天，伴有胸闷、心悸，活动后加重。",
            "原发性高血压（2级），冠心病待排",
            "硝苯地平控释片、阿司匹林肠溶片、阿托伐他汀钙片、二甲双胍缓释片、酒石酸美托洛尔片、单硝酸异山梨酯缓释片",
            "30mg×14片 每日一次；100mg×30片 每日一次；20mg×7片 每晚一次；0.5g×30片 每日两次",
            "王建国",
            "46",
            "110101198001020000"};
        for (int k = 0; k < 20; ++k)
            bindText(s.get(), k + 1, vals[k]);
        sqlite3_step(s.get());
        sqlite3_reset(s.get());
    }
    c.exec("COMMIT");
}

int child(int rows)
{
    QTemporaryDir dir;
    fill(dir.filePath(QStringLiteral("xs.mdb")), rows);
    setAppDirForTesting(dir.path());

    const long before = statusKb("VmRSS:");
    resetPeak();
    QElapsedTimer t;
    t.start();
    ReportPreview *w = DataReportclass::Show(false);
    while (w->pagesPainted() == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double firstMs = t.nsecsElapsed() / 1e6;
    const long peak = statusKb("VmHWM:");

    // A second showing in the same process (fonts and caches warm), then a
    // walk to the last page and back.
    t.restart();
    w = DataReportclass::Show(false);
    const int painted = w->pagesPainted();
    while (w->pagesPainted() == painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double warmMs = t.nsecsElapsed() / 1e6;
    t.restart();
    w->lastPage();
    const double lastMs = t.nsecsElapsed() / 1e6;
    t.restart();
    w->firstPage();
    const double backMs = t.nsecsElapsed() / 1e6;
    const long peakAfterWalk = statusKb("VmHWM:");

    std::printf("rows=%d\npages=%d\nfirst_ms=%.1f\nwarm_ms=%.1f\nlast_page_ms=%.1f\nback_to_first_ms=%.1f\n"
                "rss_before_kb=%ld\npeak_kb=%ld\npeak_after_walk_kb=%ld\n",
                rows, w->pageCount(), firstMs, warmMs, lastMs, backMs, before, peak, peakAfterWalk);
    DataReportclass::Unload();
    setAppDirForTesting(QString());
    return 0;
}

int pdf(int rows)
{
    QTemporaryDir dir;
    fill(dir.filePath(QStringLiteral("xs.mdb")), rows);
    const QString out = dir.filePath(QStringLiteral("cases.pdf"));
    QElapsedTimer t;
    t.start();
    auto doc = makeReportDocument(DataReportclass::layout(), DataEnv1.Command1.CommandText);
    if (!doc->exportPdf(out))
        qFatal("export failed");
    const double ms = t.nsecsElapsed() / 1e6;
    std::printf("rows=%d\npages=%d\nexport_ms=%.1f\npages_per_s=%.1f\npdf_bytes=%lld\n", rows, doc->pageCount(), ms,
                doc->pageCount() / (ms / 1000.0), QFileInfo(out).size());
    return 0;
}

QMap<QString, QString> runChild(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    QMap<QString, QString> kv;
    for (const QString &line :
         QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        kv.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    if (p.exitCode() != 0 || kv.isEmpty())
        qFatal("child %s failed", qPrintable(args.join(QLatin1Char(' '))));
    return kv;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    xs::useFile();
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--child"))
        return child(args[2].toInt());
    if (args.size() == 3 && args[1] == QLatin1String("--pdf"))
        return pdf(args[2].toInt());

    std::printf("Case report, request to first page painted in the preview (each size in its own process)\n");
    const auto small = runChild({QStringLiteral("--child"), QStringLiteral("100")});
    const auto large = runChild({QStringLiteral("--child"), QStringLiteral("10000")});
    for (const auto *kv : {&small, &large})
        std::printf("  %6s records, %5s pages: first page %7s ms (warm %6s ms), last page %6s ms, back to first %6s ms;"
                    " RSS before %s kB, peak %s kB (after walking to the last page %s kB)\n",
                    qPrintable(kv->value("rows")), qPrintable(kv->value("pages")), qPrintable(kv->value("first_ms")),
                    qPrintable(kv->value("warm_ms")), qPrintable(kv->value("last_page_ms")),
                    qPrintable(kv->value("back_to_first_ms")), qPrintable(kv->value("rss_before_kb")),
                    qPrintable(kv->value("peak_kb")), qPrintable(kv->value("peak_after_walk_kb")));
    const double firstMs = large.value("first_ms").toDouble();
    const double ratio = large.value("peak_after_walk_kb").toDouble() / small.value("peak_after_walk_kb").toDouble();
    std::printf("  10,000 records: first page %.1f ms (target < 500 ms: %s); peak memory %.2f x the 100-record run "
                "(target <= 1.5: %s)\n",
                firstMs, firstMs < 500 ? "met" : "MISSED", ratio, ratio <= 1.5 ? "met" : "MISSED");

    std::printf("PDF export of the case report\n");
    const auto p = runChild({QStringLiteral("--pdf"), QStringLiteral("1000")});
    std::printf("  %s records, %s pages in %s ms: %s pages/s (%s bytes)\n", qPrintable(p.value("rows")),
                qPrintable(p.value("pages")), qPrintable(p.value("export_ms")), qPrintable(p.value("pages_per_s")),
                qPrintable(p.value("pdf_bytes")));
    return 0;
}
