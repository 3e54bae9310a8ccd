// runsql("select * from xj ") over 100,000 rows, reading every field as text,
// against a plain sqlite3 prepared-statement loop over the same rows.
// Usage: bench_runsql [rows]
#include "benchsupport.h"
#include "data/engines.h"
#include "data/recordset.h"

#include <QCoreApplication>

using namespace xs;
using namespace xs::bench;

static void fill(const Connection &c, int rows)
{
    insertRows(c, QStringLiteral("xj"), rows, [](int i) {
        const QString n = QString::number(i);
        return std::array<QString, 20>{"MZ" + n,
                                       "患者" + n,
                                       i % 2 ? "男" : "女",
                                       "心内科",
                                       "1980-01-02",
                                       "青禾市长安路" + n + "号",
                                       "100000",
                                       "1380000" + n,
                                       "2026-12-01",
                                       "无",
                                       "已婚",
                                       "血压 130/85mmHg，心率 72 次/分",
                                       "高血压病史五年",
                                       "头晕、乏力",
                                       "原发性高血压",
                                       "硝苯地平控释片 30mg阿司匹林肠溶片 100mg",
                                       "1盒2盒",
                                       "王医生",
                                       "46",
                                       "110101198001020000"};
    });
}

static double viaRunsql(qint64 &chars)
{
    QElapsedTimer t;
    t.start();
    RecordsetPtr rs = runsql(QStringLiteral("select * from xj "));
    const int n = rs->fieldCount();
    for (; !rs->atEOF(); rs->MoveNext())
        for (int i = 0; i < n; ++i)
            chars += rs->text(i).size();
    return msSince(t);
}

static double viaSqlite(const QString &path, qint64 &chars)
{
    QElapsedTimer t;
    t.start();
    sqlite3 *db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(db, "select * from xj", -1, &s, nullptr);
    const int n = sqlite3_column_count(s);
    while (sqlite3_step(s) == SQLITE_ROW)
        for (int i = 0; i < n; ++i) {
            const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, i));
            chars += QString::fromUtf8(p, sqlite3_column_bytes(s, i)).size();
        }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return msSince(t);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    xs::useFile();
    const int rows = argc > 1 ? atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    setAppDirForTesting(dir.path());
    {
        Connection c = Connection::create(dbPath());
        createSchema(c);
        fill(c, rows);
    }
    std::vector<double> a, b;
    qint64 ca = 0, cb = 0;
    for (int run = 0; run < 7; ++run) {
        b.push_back(viaSqlite(dbPath(), cb));
        a.push_back(viaRunsql(ca));
    }
    if (ca != cb) {
        std::fprintf(stderr, "different text read: %lld vs %lld\n", ca, cb);
        return 1;
    }
    const double ma = median(a), mb = median(b);
    std::printf("rows %d x 20 fields, median of 7 runs\n", rows);
    std::printf("runsql + Recordset: %8.1f ms\n", ma);
    std::printf("plain sqlite3 loop: %8.1f ms\n", mb);
    std::printf("ratio:              %8.2f (target <= 1.5)\n", ma / mb);
    return 0;
}
