#pragma once
// What the benchmarks share: an application folder with a fresh database,
// bulk rows, the plain sqlite3 loop a listing is measured against, timing and
// peak memory. Header only: every bench/bench_*.cpp is a program of its own.
#include "data/schema.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstdio>
#include <sqlite3.h>
#include <vector>

namespace xs::bench {

// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
inline void preferOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Peak resident memory of the process so far (VmHWM), in kB; -1 if unknown.
inline long peakKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

inline double msSince(const QElapsedTimer &t) { return t.nsecsElapsed() / 1e6; }

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Points the data layer at dir and creates the database with its tables there.
// False (with the reason on stderr) when the tables cannot be made.
inline bool createDatabase(const QTemporaryDir &dir)
{
    setAppDirForTesting(dir.path());
    Connection c = Connection::create(dbPath());
    if (createSchema(c))
        return true;
    std::fprintf(stderr, "schema: %s\n", qPrintable(c.lastError()));
    return false;
}

// Inserts `rows` rows into table in one transaction; values(r) gives row r's
// cells in column order.
template <class Values>
void insertRows(const Connection &c, const QString &table, int rows, Values values)
{
    c.exec("BEGIN");
    StmtHandle s;
    for (int r = 0; r < rows; ++r) {
        const auto v = values(r);
        if (!s) {
            QString marks = QStringLiteral("?");
            for (size_t i = 1; i < v.size(); ++i)
                marks += QStringLiteral(",?");
            s = c.prepare(QStringLiteral("insert into %1 values(%2)").arg(table, marks));
        }
        for (size_t i = 0; i < v.size(); ++i)
            bindText(s.get(), int(i) + 1, v[i]);
        sqlite3_step(s.get());
        sqlite3_reset(s.get());
    }
    c.exec("COMMIT");
}

// A case record (the 20 columns of xj and yc) of realistic length for row r,
// with its 门诊号, 科室, 药名 and 药量 as given.
inline std::array<QString, 20> caseRecord(int r, const QString &number, const QString &dept, const QString &drugs,
                                          const QString &amounts)
{
    return {
        number,
        QStringLiteral("病人%1").arg(r),
        r % 2 ? QStringLiteral("男") : QStringLiteral("女"),
        dept,
        QStringLiteral("19%1-0%2-1%3").arg(50 + r % 50).arg(1 + r % 9).arg(r % 10),
        QStringLiteral("青禾市青禾区长安路%1号%2单元").arg(r % 500).arg(r % 7),
        QStringLiteral("1000%1").arg(r % 100, 2, 10, QLatin1Char('0')),
        QStringLiteral("1380000%1").arg(r % 10000, 4, 10, QLatin1Char('0')),
        QStringLiteral("2024-0%1-2%2").arg(1 + r % 9).arg(r % 9),
        QStringLiteral("复诊"),
        r % 3 ? QStringLiteral("已婚") : QStringLiteral("未婚"),
        QStringLiteral("体温37.2℃，咽部充血"),
        QStringLiteral("无"),
        QStringLiteral("咳嗽三天，伴低热"),
        QStringLiteral("上呼吸道感染"),
        drugs,
        amounts,
        QStringLiteral("张医生"),
        QString::number(20 + r % 60),
        QStringLiteral("3301021970%1").arg(r, 8, 10, QLatin1Char('0')),
    };
}

// The least any listing has to do: steps sql in a plain sqlite3 loop and
// appends every value to cells as a QString (room made first for
// reserveRows rows). Returns the statement's column count.
inline int readAsQStrings(const Connection &c, const QString &sql, std::vector<QString> &cells, size_t reserveRows = 0)
{
    StmtHandle s = c.prepare(sql);
    const int n = sqlite3_column_count(s.get());
    cells.reserve(cells.size() + reserveRows * size_t(n));
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        for (int i = 0; i < n; ++i)
            cells.push_back(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(s.get(), i)),
                                              sqlite3_column_bytes(s.get(), i)));
    return n;
}

}  // namespace xs::bench
