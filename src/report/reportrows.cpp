#include "report/reportrows.h"

#include "data/pagesource.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace xs {

namespace {

constexpr int kChunkRows = kPageRows;
// Rows read before open() returns: a result this small is read whole, so its
// count is known at once; a larger one has its first pages ready.
constexpr int kForegroundRows = 2000;
// Chunks kept in memory before the rest goes to the temporary file.
constexpr qint64 kMemoryBudget = 4 << 20;
constexpr quint32 kNull = 0xFFFFFFFFu;

void appendValue(QByteArray &out, const char *p, int n)
{
    char len[4];
    qToLittleEndian<quint32>(p ? quint32(n) : kNull, len);
    out.append(len, 4);
    if (p && n > 0)
        out.append(p, n);
}

// Decodes one chunk: rows of `columns` values each.
std::vector<QStringList> decodeChunk(const QByteArray &bytes, int columns)
{
    std::vector<QStringList> rows;
    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    while (p + 4 <= end) {
        QStringList row;
        row.reserve(columns);
        for (int c = 0; c < columns && p + 4 <= end; ++c) {
            const quint32 n = qFromLittleEndian<quint32>(p);
            p += 4;
            if (n == kNull) {
                row << QString();
                continue;
            }
            const qsizetype len = std::min<qsizetype>(qsizetype(n), end - p);
            row << QString::fromUtf8(p, len);
            p += len;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

// A file in the temporary folder (TMPDIR) that nobody else sees and that
// goes away when it is closed, or when the process ends.
std::FILE *anonymousFile()
{
    QByteArray name = QDir(QDir::tempPath()).filePath(QStringLiteral("chengheng-report-XXXXXX")).toLocal8Bit();
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    ::unlink(name.constData());
    std::FILE *f = ::fdopen(fd, "w+b");
    if (!f)
        ::close(fd);
    return f;
}

}  // namespace

struct ReportRows::Impl {
    std::unique_ptr<RowStream> rows;
    std::vector<int> index;  // statement column of each wanted column, -1 when absent
    std::vector<bool> isDate;

    struct Chunk {
        QByteArray memory;   // the chunk itself, or empty when it lies in the file
        qint64 offset = -1;  // where its compressed bytes lie in the file
        qint64 size = 0;
    };
    mutable std::mutex m;
    mutable std::condition_variable cv;
    std::vector<Chunk> chunks;  // guarded by m
    std::FILE *file = nullptr;  // guarded by m once the reader may use it
    QString problem;            // guarded by m
    bool done = false;          // guarded by m
    std::atomic<int> published{0};
    std::atomic<long long> steps{0};
    std::atomic<bool> stop{false};
    std::thread worker;

    // Written by whoever steps the statement (open(), then the worker).
    QByteArray building;
    int buildingRows = 0;
    qint64 memoryBytes = 0;

    // The chunk the reader decoded last (the reading thread only).
    int cachedChunk = -1;
    std::vector<QStringList> cachedRows;

    ~Impl()
    {
        stop = true;
        if (worker.joinable()) {
            rows->interrupt();
            worker.join();
        }
        rows.reset();
        if (file)
            std::fclose(file);
    }

    void appendRow()
    {
        for (size_t c = 0; c < index.size(); ++c) {
            const int i = index[c];
            if (i < 0 || rows->isNull(i)) {
                appendValue(building, nullptr, 0);
                continue;
            }
            const QByteArray text =
                isDate[c] ? Value(Value::Kind::Date, QString::fromUtf8(rows->utf8(i))).text().toUtf8() : rows->utf8(i);
            appendValue(building, text.constData(), int(text.size()));
        }
        ++buildingRows;
    }

    // Hands the rows built so far to the reader. False when the temporary
    // file cannot take them (the disk is full): those rows are lost.
    bool flush()
    {
        if (buildingRows == 0)
            return true;
        Chunk chunk;
        QByteArray packed;
        const bool inMemory = !file && memoryBytes + building.size() <= kMemoryBudget;
        if (inMemory) {
            chunk.memory = building;
            memoryBytes += building.size();
        } else {
            packed = qCompress(building, 1);
        }
        {
            std::lock_guard lock(m);
            if (!inMemory) {
                if (!file)
                    file = anonymousFile();
                if (!file || std::fseek(file, 0, SEEK_END) != 0)
                    return false;
                chunk.offset = std::ftell(file);
                chunk.size = packed.size();
                if (std::fwrite(packed.constData(), 1, size_t(packed.size()), file) != size_t(packed.size())
                    || std::fflush(file) != 0)
                    return false;
            }
            chunks.push_back(std::move(chunk));
            published += buildingRows;
        }
        cv.notify_all();
        building.clear();
        buildingRows = 0;
        return true;
    }

    void finish(const QString &why)
    {
        rows->end();
        {
            std::lock_guard lock(m);
            problem = why;
            done = true;
        }
        cv.notify_all();
    }

    // The rest of the pass, on the worker thread.
    void run()
    {
        for (;;) {
            if (stop) {
                finish(QString());
                return;
            }
            const RowStream::Step rc = rows->next();
            ++steps;
            if (rc == RowStream::Row) {
                appendRow();
                if (buildingRows == kChunkRows && !flush()) {
                    finish(QStringLiteral("临时文件写不进去（磁盘可能已满），报表只读到了前 %1 条记录")
                               .arg(published.load()));
                    return;
                }
                continue;
            }
            const bool ok = flush();
            if (rc == RowStream::Done && ok)
                finish(QString());
            else if (stop)
                finish(QString());
            else if (!ok)
                finish(
                    QStringLiteral("临时文件写不进去（磁盘可能已满），报表只读到了前 %1 条记录").arg(published.load()));
            else
                finish(QStringLiteral("读取记录时数据库出错，报表只读到了前 %1 条记录").arg(published.load()));
            return;
        }
    }

    // Loads the chunk holding `chunk` into the cache; false when it cannot be read.
    bool load(int chunkIndex, int columns)
    {
        if (cachedChunk == chunkIndex)
            return true;
        QByteArray bytes;
        {
            std::lock_guard lock(m);
            if (chunkIndex < 0 || size_t(chunkIndex) >= chunks.size())
                return false;
            const Chunk &c = chunks[size_t(chunkIndex)];
            if (c.offset < 0) {
                bytes = c.memory;
            } else {
                QByteArray packed(qsizetype(c.size), Qt::Uninitialized);
                if (std::fseek(file, long(c.offset), SEEK_SET) != 0
                    || std::fread(packed.data(), 1, size_t(c.size), file) != size_t(c.size))
                    return false;
                bytes = qUncompress(packed);
            }
        }
        cachedRows = decodeChunk(bytes, columns);
        cachedChunk = chunkIndex;
        return true;
    }
};

ReportRows::~ReportRows() = default;

std::unique_ptr<ReportRows> ReportRows::none(const QStringList &columns)
{
    std::unique_ptr<ReportRows> r(new ReportRows);
    r->columns_ = columns;
    return r;
}

std::unique_ptr<ReportRows> ReportRows::open(const QString &sql, const QStringList &columns, QString *error)
{
    auto impl = std::make_unique<Impl>();
    impl->rows = openRowStream(sql, error);
    if (!impl->rows)
        return {};
    const RowStream &rows = *impl->rows;
    const int n = rows.columns();
    for (const QString &want : columns) {
        int found = -1;
        for (int i = 0; i < n && found < 0; ++i)
            if (rows.name(i).compare(want, Qt::CaseInsensitive) == 0)
                found = i;
        impl->index.push_back(found);
        impl->isDate.push_back(found >= 0 && rows.isDate(found));
    }
    return start(std::move(impl), columns, error);
}

std::unique_ptr<ReportRows> ReportRows::start(std::unique_ptr<Impl> impl, const QStringList &columns, QString *error)
{
    // The first rows now; a small result is read whole and its transaction
    // ends before open() returns.
    RowStream::Step rc = RowStream::Row;
    for (int row = 0; row < kForegroundRows; ++row) {
        rc = impl->rows->next();
        ++impl->steps;
        if (rc != RowStream::Row)
            break;
        impl->appendRow();
        if (impl->buildingRows == kChunkRows)
            impl->flush();  // memory only this early: cannot fail
    }
    if (rc == RowStream::Failed) {
        reportFault(impl->rows->fault(), impl->rows->error());
        if (error)
            *error = impl->rows->error();
        return {};
    }
    if (rc == RowStream::Done) {
        impl->flush();
        impl->finish(QString());
    } else {
        Impl *raw = impl.get();
        impl->worker = std::thread([raw] { raw->run(); });
    }

    std::unique_ptr<ReportRows> r(new ReportRows);
    r->columns_ = columns;
    r->d = std::move(impl);
    return r;
}

int ReportRows::count() const { return d ? d->published.load() : 0; }

bool ReportRows::complete() const
{
    if (!d)
        return true;
    std::lock_guard lock(d->m);
    return d->done;
}

bool ReportRows::waitComplete(int ms) const
{
    if (!d)
        return true;
    std::unique_lock lock(d->m);
    if (ms < 0) {
        d->cv.wait(lock, [this] { return d->done; });
        return true;
    }
    return d->cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return d->done; });
}

QString ReportRows::problem() const
{
    if (!d)
        return {};
    std::lock_guard lock(d->m);
    return d->problem;
}

long long ReportRows::steps() const { return d ? d->steps.load() : 0; }

bool ReportRows::reading() const { return d && d->rows && d->rows->inTransaction(); }

void ReportRows::read(int first, int last, const std::function<void(int, const QStringList &)> &fn)
{
    first = std::max(first, 0);
    last = std::min(last, count());
    if (!d || first >= last)
        return;
    const QStringList empty;
    for (int row = first; row < last; ++row) {
        if (!d->load(row / kChunkRows, int(columns_.size()))) {
            // A chunk that cannot be read back prints blank rather than stopping the report.
            fn(row, empty);
            continue;
        }
        const size_t at = size_t(row % kChunkRows);
        fn(row, at < d->cachedRows.size() ? d->cachedRows[at] : empty);
    }
}

}  // namespace xs
