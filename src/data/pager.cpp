#include "data/pager.h"

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace xs {

// The background pass: its thread, and whether it has been cancelled (then
// nothing is posted to the window).
struct Pager::Walk {
    std::unique_ptr<KeyPass> pass;
    std::thread thread;
    std::mutex m;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> hurry{false};  // someone waits for it: no delay
    std::atomic<bool> finished{false};
    bool ok = false;

    // In the pass's thread: runs `post` (which posts to the window) unless
    // the pass was cancelled. A cancel takes the same lock, so nothing is
    // posted to a window once its pager has gone.
    template <typename F>
    void postUnlessCancelled(F &&post)
    {
        std::lock_guard<std::mutex> lock(m);
        if (!cancelled)
            post();
    }
};

namespace {

// Background passes whose window has gone and which a cancel does not end at
// once: each is cancelled by a thread of its own, so that the window's thread
// does not wait for the cancel to reach the engine and for the pass to end.
// What they held is given back once they have ended; the process waits for
// the rest when it ends.
class RetiredWalks {
public:
    void retire(std::shared_ptr<Pager::Walk> w)
    {
        sweep();
        auto r = std::make_unique<Retired>();
        r->walk = std::move(w);
        r->reaper = std::thread([walk = r->walk, ended = &r->ended] {
            while (!walk->finished.load()) {
                walk->pass->cancel();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (walk->thread.joinable())
                walk->thread.join();
            *ended = true;
        });
        retired_.push_back(std::move(r));
    }
    // In the windows' thread: the passes that have ended give back what they held.
    void sweep()
    {
        for (auto it = retired_.begin(); it != retired_.end();) {
            if (!(*it)->ended) {
                ++it;
                continue;
            }
            (*it)->reaper.join();
            (*it)->walk->pass->handBack();
            it = retired_.erase(it);
        }
    }
    RetiredWalks() = default;
    RetiredWalks(const RetiredWalks &) = delete;
    RetiredWalks &operator=(const RetiredWalks &) = delete;
    ~RetiredWalks()
    {
        for (auto &r : retired_)
            r->reaper.join();
    }

private:
    struct Retired {
        std::shared_ptr<Pager::Walk> walk;
        std::thread reaper;
        std::atomic<bool> ended{false};
    };
    std::vector<std::unique_ptr<Retired>> retired_;
};

RetiredWalks &retiredWalks()
{
    static RetiredWalks r;
    return r;
}

}  // namespace

std::unique_ptr<Pager> Pager::open(const QString &sql, SqlOutcome *outcome, int orderedBudgetMs)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    std::unique_ptr<PageSource> source = openPageSource(sql, out);
    return source ? open(std::move(source), &out, orderedBudgetMs) : nullptr;
}

std::unique_ptr<Pager> Pager::open(std::unique_ptr<PageSource> source, SqlOutcome *outcome, int orderedBudgetMs)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    std::unique_ptr<Pager> p(new Pager(std::move(source)));
    PageSource &s = *p->source_;
    const auto fail = [&]() -> std::unique_ptr<Pager> {
        out = s.failure();
        out.ok = false;
        return {};
    };
    if (!s.query().ok) {
        if (!p->readWhole())
            return fail();
        out.ok = true;
        return p;
    }
    // A condition that few rows meet makes the ordered reading visit the
    // whole archive through its indexes, row by row; past a short budget the
    // rows are found by one pass instead.
    const bool limited = !s.query().where.isEmpty() && orderedBudgetMs >= 0;
    bool timedOut = limited && orderedBudgetMs == 0;
    if (!timedOut && !p->readPage(0, false, limited ? s.orderedBudgetMs(orderedBudgetMs) : -1, &timedOut) && !timedOut)
        return fail();
    if (timedOut && !p->readFound())
        return fail();
    // The keys of every page (and the count, when not known yet) come from
    // the background; a whole table is counted at once when the engine can.
    // Without a pass the pages are counted as they are read.
    if (!p->found_ && (p->knownRows() > kPageRows || !p->complete_)) {
        retiredWalks().sweep();
        if (std::unique_ptr<KeyPass> pass = s.keyPass()) {
            if (!p->complete_ && s.query().where.isEmpty() && s.query().tables.size() == 1) {
                const std::optional<int> n = s.quickCount();
                if (n) {
                    p->total_ = std::max(*n, p->knownRows());
                    p->complete_ = true;
                }
                pass->countFirst = !n;
            }
            p->startWalk(std::move(pass));
        }
    }
    out.ok = true;
    return p;
}

Pager::~Pager()
{
    if (!walk_)
        return;
    {
        std::lock_guard<std::mutex> lock(walk_->m);
        walk_->cancelled = true;
    }
    if (walk_->pass->endsAtOnce()) {
        walk_->pass->cancel();
        if (walk_->thread.joinable())
            walk_->thread.join();
        walk_->pass->handBack();
    } else {
        retiredWalks().retire(std::move(walk_));
    }
}

std::vector<int> Pager::cachedPages() const
{
    std::vector<int> pages;
    for (const auto &entry : cache_)
        pages.push_back(entry.first);
    return pages;
}

void Pager::keep(int k, PageRows page)
{
    cache_.emplace_front(k, std::move(page));
    while (int(cache_.size()) > kCachedPages) {
        auto victim = std::prev(cache_.end());
        if (victim->first == pinnedPage_ && cache_.size() > 1)
            victim = std::prev(victim);
        cache_.erase(victim);
    }
}

// A statement read whole: its rows go into pages of kPageRows, every page
// kept, and the count is known at the end.
bool Pager::readWhole()
{
    PageRows page;
    int pages = 0;
    int rows = 0;
    const bool read = source_->readWhole([&](std::vector<QString> &row) {
        for (QString &cell : row)
            page.cells.push_back(std::move(cell));
        ++rows;
        if (++page.rows == kPageRows) {
            cache_.emplace_back(pages++, std::move(page));
            page = PageRows{};
        }
    });
    if (!read)
        return false;
    if (page.rows > 0)
        cache_.emplace_back(pages, std::move(page));
    ++pagesRead_;
    complete_ = true;
    total_ = rows;
    return true;
}

// One pass finds the rows of every page; the pages then look their rows up.
// The count is known at once.
bool Pager::readFound()
{
    const int n = source_->findRows();
    if (n == PageSource::kTooMany)
        return readPage(0);
    if (n < 0)
        return false;
    found_ = true;
    complete_ = true;
    total_ = n;
    cache_.clear();
    return readPage(0);
}

bool Pager::readPage(int k, bool far, int budgetMs, bool *timedOut)
{
    PageRows page;
    if (found_) {
        const int first = k * kPageRows;
        ++pagesRead_;
        if (!source_->foundRows(first, std::max(std::min(total_, first + kPageRows) - first, 0), page))
            return false;
        keep(k, std::move(page));
        return true;
    }
    const int known = int(lastKey_.size());
    if (far ? k <= known : k > known)
        return false;
    const bool read = far ? source_->pageAt(k * kPageRows, known > 0 ? lastKey_[size_t(known - 1)].get() : nullptr,
                                            known * kPageRows, page)
                          : source_->page(k > 0 ? lastKey_[size_t(k - 1)].get() : nullptr,
                                          k < known ? lastKey_[size_t(k)].get() : nullptr, page, budgetMs, timedOut);
    ++pagesRead_;
    if (!read)
        return false;
    if (!far && k == known) {
        if (page.rows == kPageRows && page.last) {
            lastKey_.push_back(std::move(page.last));
            if (complete_ && total_ < (k + 1) * kPageRows)
                total_ = (k + 1) * kPageRows;  // rows added after the count
        } else if (!complete_) {
            complete_ = true;
            total_ = k * kPageRows + page.rows;
        }
    }
    keep(k, std::move(page));
    return true;
}

const PageRows *Pager::page(int k, bool far)
{
    for (auto it = cache_.begin(); it != cache_.end(); ++it)
        if (it->first == k) {
            if (paged())
                cache_.splice(cache_.begin(), cache_, it);
            return &it->second;
        }
    if (!paged() || !readPage(k, far))
        return nullptr;
    return &cache_.front().second;
}

bool Pager::fetchMore()
{
    if (complete_)
        return false;
    const int before = knownRows();
    const bool read = readPage(int(lastKey_.size()));
    if (knownRows() != before || complete_)
        emit rowsChanged();
    return read && (knownRows() != before || !complete_);
}

QString Pager::cell(int row, int c)
{
    if (row < 0 || c < 0 || c >= columnCount())
        return {};
    const int k = row / kPageRows;
    if (found_ && row >= total_)
        return {};
    const bool byKeys = paged() && !found_;
    // A page far beyond the keys known while the background pass still runs
    // (a scroll bar dragged over a table whose count is known at once): that
    // one page is read by its place in the order, skipping the rows before
    // it in the engine, and not the pages between nor after the pass.
    const bool far = byKeys && k > int(lastKey_.size()) + 1 && walk_;
    // Otherwise the keys of the pages before it are read first, when the
    // background pass has not brought them. (A statement read whole has every
    // page in the cache already.)
    while (byKeys && !far && k > int(lastKey_.size())) {
        const size_t had = lastKey_.size();
        const int before = knownRows();
        if (!readPage(int(had)) || lastKey_.size() == had)
            break;
        if (knownRows() != before)
            emit rowsChanged();
    }
    if (byKeys && !far && k > int(lastKey_.size()))
        return {};
    const PageRows *p = page(k, far);
    const int i = row % kPageRows;
    if (!p || i >= p->rows)
        return {};
    return p->cells[size_t(i) * size_t(columnCount()) + size_t(c)];
}

void Pager::pin(int row)
{
    pinnedPage_ = row < 0 ? -1 : row / kPageRows;
    // Read now if it is not cached: the record pinned is the one at that row
    // the moment it became current.
    if (pinnedPage_ >= 0)
        cell(row, 0);
}

void Pager::startWalk(std::unique_ptr<KeyPass> pass)
{
    auto w = std::make_shared<Walk>();
    w->pass = std::move(pass);
    walk_ = w;
    const int delayMs = source_->passDelayMs();
    w->thread = std::thread([w, delayMs, self = this] {
#if defined(__linux__)
        // The pass yields to the window's own reading on a busy machine.
        setpriority(PRIO_PROCESS, pid_t(syscall(SYS_gettid)), 10);
#endif
        const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs);
        while (!w->cancelled && !w->hurry && std::chrono::steady_clock::now() < start)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!w->cancelled)
            w->ok = w->pass->run([w, self](int n) {
                w->postUnlessCancelled([self, n] {
                    QMetaObject::invokeMethod(
                        self, [self, n] { self->takeCount(n); }, Qt::QueuedConnection);
                });
            });
        w->postUnlessCancelled([self] {
            QMetaObject::invokeMethod(
                self, [self] { self->takeWalk(); }, Qt::QueuedConnection);
        });
        w->finished = true;
    });
}

void Pager::takeWalk()
{
    if (!walk_)
        return;
    std::shared_ptr<Walk> w = std::move(walk_);
    if (w->thread.joinable())
        w->thread.join();
    w->pass->handBack();
    if (!w->ok)
        return;
    std::vector<KeyPtr> &keys = w->pass->keys;
    for (size_t k = lastKey_.size(); k < keys.size(); ++k)
        lastKey_.push_back(std::move(keys[k]));
    if (!complete_) {
        total_ = std::max(w->pass->count, int(lastKey_.size()) * kPageRows);
        complete_ = true;
        emit rowsChanged();
    }
}

void Pager::takeCount(int count)
{
    if (complete_)
        return;
    total_ = std::max(count, knownRows());
    complete_ = true;
    emit rowsChanged();
}

void Pager::waitForCount()
{
    if (complete_)
        return;
    if (walk_) {
        // The whole pass, so that the keys come with the count.
        walk_->hurry = true;
        takeWalk();
    }
    while (!complete_ && fetchMore()) {
    }
}

namespace {
struct Prefetched {
    QString sql;
    std::unique_ptr<Pager> pager;
};
Prefetched &prefetched()
{
    static Prefetched p;
    return p;
}
}  // namespace

void PrefetchedListing::put(const QString &sql, std::unique_ptr<Pager> pager)
{
    prefetched().sql = sql;
    prefetched().pager = std::move(pager);
}

std::unique_ptr<Pager> PrefetchedListing::take(const QString &sql)
{
    Prefetched &p = prefetched();
    if (!p.pager || p.sql != sql)
        return {};
    p.sql.clear();
    return std::move(p.pager);
}

void PrefetchedListing::drop()
{
    prefetched().pager.reset();
    prefetched().sql.clear();
}

}  // namespace xs
