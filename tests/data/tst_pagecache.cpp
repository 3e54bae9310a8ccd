// The pager's cache of pages, alone: a few pages kept, the least recently
// used dropped first, the pinned page never; a page kept is not read again;
// the rows and the count as the pages come. The pages come from a source of
// numbered rows in memory (the engines' pages: tst_pager).
#include "data/pager.h"

#include <QTest>

using namespace xs;

namespace {

struct RowNumber : PageKey {
    explicit RowNumber(int r) : row(r) {}
    int row;
};

// Rows 0 .. rows - 1, one column holding the row's number; a row's key is
// its number.
class Numbers final : public PageSource {
public:
    explicit Numbers(int rows) : rows_(rows)
    {
        q_.ok = true;
        q_.list = QStringLiteral("n");
        q_.from = QStringLiteral("numbers");
        q_.tables = QStringList{QStringLiteral("numbers")};
        names_ = {QStringLiteral("n")};
    }
    bool page(const PageKey *after, const PageKey *upTo, PageRows &out, int /*budgetMs*/, bool * /*timedOut*/) override
    {
        const int first = after ? static_cast<const RowNumber *>(after)->row + 1 : 0;
        const int end = upTo ? static_cast<const RowNumber *>(upTo)->row + 1 : rows_;
        read(first, std::min(end, first + kPageRows), out);
        if (!upTo && out.rows == kPageRows)
            out.last = std::make_unique<RowNumber>(first + kPageRows - 1);
        return true;
    }
    bool pageAt(int place, const PageKey * /*known*/, int /*knownRows*/, PageRows &out) override
    {
        read(place, std::min(rows_, place + kPageRows), out);
        return true;
    }
    int findRows() override { return -1; }
    bool foundRows(int /*first*/, int /*rows*/, PageRows & /*out*/) override { return false; }
    std::optional<int> quickCount() override { return std::nullopt; }
    std::unique_ptr<KeyPass> keyPass() override { return {}; }
    bool readWhole(const std::function<void(std::vector<QString> &)> & /*take*/) override { return false; }

private:
    static void read(int first, int end, PageRows &out)
    {
        out = PageRows{};
        for (int r = first; r < end; ++r) {
            out.cells.push_back(QString::number(r));
            ++out.rows;
        }
    }
    int rows_;
};

}  // namespace

class TestPageCache : public QObject {
    Q_OBJECT
private slots:
    void keepsRecentPages_data();
    void keepsRecentPages();
    void countComesWithTheLastPage();
};

void TestPageCache::keepsRecentPages_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("pinned");        // row pinned after opening (-1: none)
    QTest::addColumn<QList<int>>("reads");  // rows read, in order
    QTest::addColumn<QList<int>>("kept");   // pages cached at the end
    QTest::addColumn<QList<int>>("dropped");
    QTest::addColumn<int>("pagesRead");
    const int p = kPageRows;
    QList<int> twenty;
    for (int k = 0; k < 20; ++k)
        twenty << k * p;
    QTest::newRow("sixteen pages kept, the oldest dropped")
        << 20 * p << -1 << twenty << QList<int>{19, 18, 17, 4} << QList<int>{0, 1, 2, 3} << 20;
    QTest::newRow("a page kept is not read again, and comes first")
        << 20 * p << -1 << QList<int>{0, p, 2 * p, 5, p + 3} << QList<int>{1, 2, 0} << QList<int>{3} << 3;
    QTest::newRow("the pinned page stays")
        << 20 * p << p + 6 << twenty << QList<int>{1, 19, 5} << QList<int>{0, 2, 3, 4} << 20;
    QTest::newRow("a row far ahead reads the pages before it")
        << 20 * p << -1 << QList<int>{5 * p + 1} << QList<int>{5, 4, 3, 2, 1, 0} << QList<int>{6} << 6;
    QTest::newRow("a dropped page is read again")
        << 20 * p << -1 << twenty + QList<int>{0} << QList<int>{0, 19} << QList<int>{1, 2, 3, 4} << 21;
}

void TestPageCache::keepsRecentPages()
{
    QFETCH(int, rows);
    QFETCH(int, pinned);
    QFETCH(QList<int>, reads);
    QFETCH(QList<int>, kept);
    QFETCH(QList<int>, dropped);
    QFETCH(int, pagesRead);
    std::unique_ptr<Pager> p = Pager::open(std::make_unique<Numbers>(rows));
    QVERIFY(p);
    QCOMPARE(p->pagesRead(), 1);
    p->pin(pinned);
    for (int r : reads)
        QCOMPARE(p->cell(r, 0), QString::number(r));
    const std::vector<int> cached = p->cachedPages();
    QVERIFY(int(cached.size()) <= Pager::kCachedPages);
    for (int k : kept)
        QVERIFY2(std::find(cached.begin(), cached.end(), k) != cached.end(), qPrintable(QString::number(k)));
    for (int k : dropped)
        QVERIFY2(std::find(cached.begin(), cached.end(), k) == cached.end(), qPrintable(QString::number(k)));
    // The page read last comes first.
    if (!reads.isEmpty())
        QCOMPARE(cached.front(), reads.last() / kPageRows);
    QCOMPARE(p->pagesRead(), pagesRead);
    if (pinned >= 0)
        QCOMPARE(p->cell(pinned, 0), QString::number(pinned));
    QCOMPARE(p->pagesRead(), pagesRead);
}

// The rows known grow a page at a time; a short page gives the count.
void TestPageCache::countComesWithTheLastPage()
{
    const int rows = 3 * kPageRows + 8;
    std::unique_ptr<Pager> p = Pager::open(std::make_unique<Numbers>(rows));
    QVERIFY(p);
    QCOMPARE(p->knownRows(), kPageRows);
    QVERIFY(!p->countKnown());
    QVERIFY(p->fetchMore());
    QCOMPARE(p->knownRows(), 2 * kPageRows);
    p->waitForCount();
    QVERIFY(p->countKnown());
    QCOMPARE(p->knownRows(), rows);
    QVERIFY(!p->fetchMore());
    QCOMPARE(p->cell(rows - 1, 0), QString::number(rows - 1));
    QCOMPARE(p->cell(rows, 0), QString());
}

QTEST_MAIN(TestPageCache)
#include "tst_pagecache.moc"
