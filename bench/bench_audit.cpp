// What the audit trail and hashed passwords cost: a case save (add and modify,
// the statements of the case entry window) on an archive of N records without
// the trail, with it, and with a trail that already holds N entries; and a
// sign-in's password check on a plain and on a hashed account.
//
//   build/bench_audit [RECORDS]      (default 1,000,000)
#include "benchsupport.h"
#include "data/accounts.h"
#include "data/audit.h"
#include "data/caserecord.h"
#include "data/engines.h"
#include "data/globals.h"
#include "data/passwords.h"
#include "data/recordset.h"
#include "data/sqlite/demoarchive.h"
#include "data/sqlite/demodata.h"
#include "data/sqlite/fileaudit.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/settings.h"
#include "data/sqltext.h"

#include <QCoreApplication>
#include <cstdlib>
#include <ctime>

using namespace xs;
using namespace xs::bench;

namespace {

constexpr int kSaves = 200;

std::array<QString, 20> values(const QString &key, int i)
{
    std::array<QString, 20> v;
    v[0] = key;
    v[1] = QStringLiteral("测试%1").arg(i);
    v[2] = QStringLiteral("男");
    v[3] = QStringLiteral("东院心血管内科1诊区");
    v[kBirthColumn] = QStringLiteral("1980-01-02");
    v[kVisitColumn] = QStringLiteral("2026-12-01");
    v[13] = QStringLiteral("头痛%1").arg(i);
    v[14] = QStringLiteral("感冒");
    return v;
}

// The case entry window's add: the duplicate look-up, then AddNew/Update of
// the twenty fields.
bool addCase(const QString &key, int i)
{
    RecordsetPtr found = runsql(QStringLiteral("select * from xj where 门诊号='") + q(key) + QStringLiteral("'"));
    if (!found || !found->atEOF())
        return false;
    found.reset();
    RecordsetPtr rs = runsql(QStringLiteral("select * from xj "));
    if (!rs || !rs->AddNew())
        return false;
    const auto v = values(key, i);
    for (int c = 0; c < 20; ++c)
        rs->setField(c, v[size_t(c)]);
    return rs->Update();
}

// The case entry window's modify: one update keyed by 门诊号.
bool modifyCase(const QString &key, int i)
{
    SqlOutcome o;
    runsql(*caseUpdateStatement(kCaseUpdateHead, values(key, i), key), &o);
    return o.ok && o.changes == 1;
}

struct Samples {
    std::vector<double> adds, mods;        // wall clock
    std::vector<double> addsCpu, modsCpu;  // processor time of this process (no waiting for the disk)
    double addMedian() const { return median(adds); }
    double modMedian() const { return median(mods); }
};

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The triggers that write the trail on (as the program keeps them) or off
// (dropped; the trail table stays).
void setTrail(bool on)
{
    Connection c = Connection::open(dbPath());
    if (on) {
        QString why;
        if (migrateFile(c, &why) != SchemaOutcome::Current) {
            std::fprintf(stderr, "trail: %s\n", qPrintable(why));
            std::exit(1);
        }
        return;
    }
    for (const char *t : {"xj", "yc", "class", "use"})
        for (const char *op : {"insert", "update", "delete"})
            c.exec(QStringLiteral("DROP TRIGGER IF EXISTS audit_%1_%2").arg(QLatin1String(t), QLatin1String(op)));
}

// Saves alternate one by one between no trail and the trail, so that the load
// of the machine (other builds, the disk's flushes) falls on both alike.
void measure(const QStringList &keys, const QString &prefix, Samples *without, Samples *with)
{
    constexpr int kRound = 1;
    int n = 0;
    for (int round = 0; round < 2 * kSaves / kRound; ++round) {
        const bool on = round % 2 == 1;
        setTrail(on);
        Samples *into = on ? with : without;
        for (int i = 0; i < kRound; ++i, ++n) {
            QElapsedTimer t;
            t.start();
            double cpu = cpuMs();
            if (!addCase(prefix + QString::number(n), n)) {
                std::fprintf(stderr, "add failed\n");
                std::exit(1);
            }
            into->adds.push_back(msSince(t));
            into->addsCpu.push_back(cpuMs() - cpu);
            t.restart();
            cpu = cpuMs();
            if (!modifyCase(keys[n], n)) {
                std::fprintf(stderr, "modify failed\n");
                std::exit(1);
            }
            into->mods.push_back(msSince(t));
            into->modsCpu.push_back(cpuMs() - cpu);
        }
    }
    setTrail(true);
}

double signInMs(const QString &name, const QString &typed)
{
    std::vector<double> v;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        if (!signInPasswordMatches(name, typed)) {
            std::fprintf(stderr, "sign-in failed\n");
            std::exit(1);
        }
        v.push_back(msSince(t));
    }
    return median(v);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    xs::useFile();
    const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    if (!createDatabase(dir))
        return 1;
    QElapsedTimer build;
    build.start();
    {
        Connection c = Connection::open(dbPath());
        QString err;
        DemoArchiveOptions o = demoArchiveFor(records);
        if (!c.exec("BEGIN") || !fillDemoArchive(c, o, &err) || !c.exec("COMMIT")) {
            std::fprintf(stderr, "archive: %s\n", qPrintable(err));
            return 1;
        }
        c.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    std::printf("archive of %d records built in %.1f s\n", records, build.elapsed() / 1000.0);

    // Records to modify, spread over the archive.
    QStringList keys;
    {
        Connection c = Connection::open(dbPath());
        StmtHandle s = c.prepare(QStringLiteral("SELECT 门诊号 FROM xj WHERE rowid % ? = 0 LIMIT ?"));
        sqlite3_bind_int(s.get(), 1, std::max(1, records / (4 * kSaves)));
        sqlite3_bind_int(s.get(), 2, 4 * kSaves);
        while (sqlite3_step(s.get()) == SQLITE_ROW)
            keys << columnText(s.get(), 0);
    }
    if (keys.size() < 4 * kSaves) {
        std::fprintf(stderr, "archive too small\n");
        return 1;
    }
    CurrentUser = QStringLiteral("doctor");

    Samples without, with, withoutFull, withFull;
    measure(keys.mid(0, 2 * kSaves), QStringLiteral("BENCH-A-"), &without, &with);

    // A trail as long as the archive: every record changed once.
    QElapsedTimer fill;
    fill.start();
    runaction(QStringLiteral("update xj set 备注=coalesce(备注,'')||'.'"));
    const double fillSeconds = fill.elapsed() / 1000.0;
    measure(keys.mid(2 * kSaves, 2 * kSaves), QStringLiteral("BENCH-B-"), &withoutFull, &withFull);
    qint64 entries = 0;
    {
        Connection c = Connection::open(dbPath());
        StmtHandle s = c.prepare(QStringLiteral("SELECT count(*) FROM audit"));
        if (s && sqlite3_step(s.get()) == SQLITE_ROW)
            entries = sqlite3_column_int64(s.get(), 0);
        s.reset();
        QElapsedTimer v;
        v.start();
        const AuditVerification check = verifyAuditTrail(c.get());
        std::printf("audit verify over %lld entries: %.1f s, %s\n", static_cast<long long>(check.entries),
                    v.elapsed() / 1000.0, check.ok ? "sound" : qPrintable(check.problem));
    }
    std::printf("trail filled by one update of every record in %.1f s\n\n", fillSeconds);

    std::printf("| case save at %d records (median of %d, ms) | add | modify |\n", records, kSaves);
    std::printf("|---|---|---|\n");
    std::printf("(each cell: wall clock, and in brackets the processor time of the save)\n");
    const auto row = [](const char *what, const Samples &s) {
        std::printf("| %s | %.2f (%.2f) | %.2f (%.2f) |\n", what, s.addMedian(), median(s.addsCpu), s.modMedian(),
                    median(s.modsCpu));
    };
    row("without the trail", without);
    row("with the trail (short)", with);
    std::printf("| cost of the trail | %+.2f (%+.2f) | %+.2f (%+.2f) |\n", with.addMedian() - without.addMedian(),
                median(with.addsCpu) - median(without.addsCpu), with.modMedian() - without.modMedian(),
                median(with.modsCpu) - median(without.modsCpu));
    row("without the trail, trail table full", withoutFull);
    std::printf("| with the trail (%lld entries) | %.2f (%.2f) | %.2f (%.2f) |\n", static_cast<long long>(entries),
                withFull.addMedian(), median(withFull.addsCpu), withFull.modMedian(), median(withFull.modsCpu));
    std::printf("| cost of the trail (%lld entries) | %+.2f (%+.2f) | %+.2f (%+.2f) |\n\n",
                static_cast<long long>(entries), withFull.addMedian() - withoutFull.addMedian(),
                median(withFull.addsCpu) - median(withoutFull.addsCpu), withFull.modMedian() - withoutFull.modMedian(),
                median(withFull.modsCpu) - median(withoutFull.modsCpu));

    // Sign-in's password check (median of 5): a plain account, a hashed one,
    // and a plain row of a hashing file (checked, then hashed).
    {
        Connection c = Connection::open(dbPath());
        insertUser(c, QStringLiteral("plain"), QStringLiteral("plain123"), {});
        writeSetting(c.get(), QString::fromLatin1(kPasswordHashSetting), QStringLiteral("argon2id"));
        insertUser(c, QStringLiteral("hashed"), QStringLiteral("hashed123"), {});
    }
    const double hashed = signInMs(QStringLiteral("hashed"), QStringLiteral(" HASHED123 "));
    QElapsedTimer first;
    first.start();
    signInPasswordMatches(QStringLiteral("plain"), QStringLiteral("plain123"));
    const double rehash = msSince(first);
    std::printf("| sign-in password check (ms) | |\n|---|---|\n");
    std::printf("| hashed account (Argon2id, %llu passes, %zu MiB) | %.1f |\n", kPasswordOps, kPasswordMemory >> 20,
                hashed);
    std::printf("| plain row of a hashing file: checked and hashed | %.1f |\n", rehash);
    std::printf("| the same account at its next sign-in (now hashed) | %.1f |\n",
                signInMs(QStringLiteral("plain"), QStringLiteral("plain123")));
    return 0;
}
