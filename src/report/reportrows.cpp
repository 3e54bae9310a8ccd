#include "report/reportrows.h"

#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/recordset.h"
#include "data/serverpager.h"
#include "data/sqlite/sqlite.h"
#include "data/sqltext.h"

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
#include <optional>
#include <sqlite3.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace xs {

namespace {

constexpr int kChunkRows = 64;
// Rows read before open() returns: a result this small is read whole, so its
// count is known at once; a larger one has its first pages ready.
constexpr int kForegroundRows = 2000;
// Chunks kept in memory before the rest goes to the temporary file.
constexpr qint64 kMemoryBudget = 4 << 20;
constexpr quint32 kNull = 0xFFFFFFFFu;
// Rows of one keyset page on the server.
constexpr int kServerPageRows = 500;
// Blocks of the first table read at a time for a join without ORDER BY.
constexpr int kServerBlocks = 8;

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
    std::optional<Connection> conn;
    StmtHandle stmt;  // declared after conn: finalized before the connection closes
    // On the shared server: a cursor in a read-only transaction of its own,
    // on a connection that stays with this pass until it ends (the pool
    // belongs to the main thread: the connection goes back there only).
    std::unique_ptr<PgCursor> cursor;
    // Or, for a statement that can be paged, keyset pages: each page one
    // statement of its own, so no transaction stays open between them.
    std::optional<ServerPages> pages;
    std::shared_ptr<PgConnection> server;
    PgResult page;
    int pageRow = -1;
    bool lastPage = false;
    ServerPages::Key lastKey;
    qint64 nextBlock = 0;
    qint64 blockEnd = -1;
    QString pageError;
    DbFault pageFault = DbFault::None;
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
    std::atomic<bool> inTransaction{false};
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
            if (conn)
                sqlite3_interrupt(conn->get());
            worker.join();
        }
        // The pass's server connection goes back to the pool once the pass
        // is over and the connection idle: the windows' next statement then
        // runs on a server process that has run statements before, not on a
        // new one that must connect and load its caches first.
        std::shared_ptr<PgConnection> used = server ? server : cursor ? cursor->connection() : nullptr;
        endTransaction();
        server.reset();
        const QCoreApplication *app = QCoreApplication::instance();
        if (used && app && QThread::currentThread() == app->thread())
            giveBackServerConnection(std::move(used));
        if (file)
            std::fclose(file);
    }

    void endTransaction()
    {
        stmt.reset();
        if (cursor) {
            inTransaction = false;
            cursor.reset();
        }
        if (conn && inTransaction.exchange(false))
            conn->exec("ROLLBACK");
    }

    // The next row of the statement: SQLITE_ROW, SQLITE_DONE or an error code.
    int step()
    {
        if (pages)
            return stepPages();
        if (!cursor) {
            // Each row is bounded in time (a sort before the first one included).
            const ReadingDeadline deadline;
            return sqlite3_step(stmt.get());
        }
        if (cursor->next())
            return SQLITE_ROW;
        return cursor->ok() ? SQLITE_DONE : SQLITE_ERROR;
    }

    // The next row of the keyset pages, reading the next page when one ends.
    int stepPages()
    {
        if (++pageRow < page.rows())
            return SQLITE_ROW;
        if (pages->byBlocks())
            return stepBlocks();
        if (lastPage)
            return SQLITE_DONE;
        const ServerPages::Statement st = pages->page(page.rows() > 0 ? &lastKey : nullptr, nullptr, kServerPageRows);
        page = pages->run(*server, st);
        if (!page.ok()) {
            pageFault = page.fault();
            pageError = page.error();
            return SQLITE_ERROR;
        }
        pageRow = 0;
        if (page.rows() == kServerPageRows)
            lastKey = pages->keyOf(page, page.rows() - 1);
        else
            lastPage = true;
        return page.rows() > 0 ? SQLITE_ROW : SQLITE_DONE;
    }

    // The next row of a join read in ranges of its first table's blocks.
    int stepBlocks()
    {
        const auto failed = [&](const PgResult &r) {
            pageFault = r.fault();
            pageError = r.error();
            return SQLITE_ERROR;
        };
        if (blockEnd < 0) {
            const ServerPages::Statement st = pages->blockCount();
            const PgResult r = server->read(st.sql, st.params);
            if (!r.ok() || r.rows() != 1)
                return failed(r);
            blockEnd = r.text(0, 0).toLongLong();
        }
        while (nextBlock < blockEnd) {
            const ServerPages::Statement st = pages->blocks(nextBlock, kServerBlocks);
            page = pages->run(*server, st);
            if (!page.ok())
                return failed(page);
            nextBlock += kServerBlocks;
            pageRow = 0;
            if (page.rows() > 0 || nextBlock >= blockEnd)
                return page.rows() > 0 ? SQLITE_ROW : SQLITE_DONE;
        }
        return SQLITE_DONE;
    }

    void appendRow()
    {
        if (pages) {
            for (size_t c = 0; c < index.size(); ++c) {
                const int i = index[c] + 1;  // after the page's piece number
                if (index[c] < 0 || page.isNull(pageRow, i)) {
                    appendValue(building, nullptr, 0);
                    continue;
                }
                const QByteArray text = isDate[c] ? Value(Value::Kind::Date, page.text(pageRow, i)).text().toUtf8()
                                                  : page.text(pageRow, i).toUtf8();
                appendValue(building, text.constData(), int(text.size()));
            }
            ++buildingRows;
            return;
        }
        if (cursor) {
            for (size_t c = 0; c < index.size(); ++c) {
                const int i = index[c];
                const QByteArray text = i < 0 || cursor->isNull(i) ? QByteArray()
                                        : isDate[c] ? Value(Value::Kind::Date, cursor->text(i)).text().toUtf8()
                                                    : cursor->text(i).toUtf8();
                appendValue(building, i < 0 || cursor->isNull(i) ? nullptr : text.constData(), int(text.size()));
            }
            ++buildingRows;
            return;
        }
        sqlite3_stmt *s = stmt.get();
        for (size_t c = 0; c < index.size(); ++c) {
            const int i = index[c];
            if (i < 0 || sqlite3_column_type(s, i) == SQLITE_NULL) {
                appendValue(building, nullptr, 0);
            } else if (isDate[c]) {
                const QByteArray text = Value(Value::Kind::Date, columnText(s, i)).text().toUtf8();
                appendValue(building, text.constData(), int(text.size()));
            } else {
                const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(s, i));
                appendValue(building, p ? p : "", sqlite3_column_bytes(s, i));
            }
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
        endTransaction();
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
            const int rc = step();
            ++steps;
            if (rc == SQLITE_ROW) {
                appendRow();
                if (buildingRows == kChunkRows && !flush()) {
                    finish(QStringLiteral("临时文件写不进去（磁盘可能已满），报表只读到了前 %1 条记录")
                               .arg(published.load()));
                    return;
                }
                continue;
            }
            const bool ok = flush();
            if (rc == SQLITE_DONE && ok)
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

std::unique_ptr<ReportRows> ReportRows::open(const QString &dbFile, const QString &sql, const QStringList &columns,
                                             QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<ReportRows>();
    };
    if (onServer())
        return openOnServer(sql, columns, error);
    const auto translated = translateSql(sql.trimmed());
    if (!translated)
        return fail(QStringLiteral("语句无法解析"));

    auto impl = std::make_unique<Impl>();
    // A file that cannot be read is told as such (never an empty report that
    // looks like "no records"); a statement the engine refuses only prints nothing.
    try {
        impl->conn.emplace(Connection::open(dbFile));
    } catch (const DbError &e) {
        reportFault(e.fault(), e.message());
        return fail(e.message());
    }
    auto failConn = [&] {
        const QString why = impl->conn->lastError();
        reportFault(faultOf(impl->conn->lastCode()), why);
        return fail(why);
    };
    // One read transaction for the pass: every row comes from the same state.
    if (!impl->conn->exec("BEGIN"))
        return failConn();
    impl->inTransaction = true;
    impl->stmt = impl->conn->prepare(*translated);
    if (!impl->stmt)
        return failConn();
    if (!sqlite3_stmt_readonly(impl->stmt.get()) || sqlite3_column_count(impl->stmt.get()) == 0)
        return fail(QStringLiteral("不是查询语句"));

    sqlite3_stmt *s = impl->stmt.get();
    const int n = sqlite3_column_count(s);
    for (const QString &want : columns) {
        int found = -1;
        for (int i = 0; i < n && found < 0; ++i)
            if (QString::fromUtf8(sqlite3_column_name(s, i)).compare(want, Qt::CaseInsensitive) == 0)
                found = i;
        impl->index.push_back(found);
        const char *decl = found >= 0 ? sqlite3_column_decltype(s, found) : nullptr;
        impl->isDate.push_back(decl && QByteArray(decl).compare("DATE", Qt::CaseInsensitive) == 0);
    }

    return start(std::move(impl), columns, error);
}

std::unique_ptr<ReportRows> ReportRows::openOnServer(const QString &sql, const QStringList &columns, QString *error)
{
    auto fail = [&](DbFault f, const QString &why) {
        reportFault(f, why);
        if (error)
            *error = why;
        return std::unique_ptr<ReportRows>();
    };
    const auto translated = translateForServer(sql.trimmed());
    if (!translated) {
        if (error)
            *error = QStringLiteral("语句无法解析");
        return {};
    }
    DbFault f = DbFault::None;
    QString why;
    std::shared_ptr<PgConnection> conn = takeServerConnection(&f, &why);
    if (!conn)
        return fail(f, why);
    auto impl = std::make_unique<Impl>();
    const QString run = *translated;
    if (ServerPages pages(run); pages.ok()) {
        // Keyset pages: the first one tells the columns.
        impl->pages.emplace(std::move(pages));
        impl->server = conn;
        if (impl->stepPages() == SQLITE_ERROR)
            return fail(impl->pageFault, impl->pageError);
        impl->pageRow = -1;
        const int n = impl->pages->listedColumns(impl->page);
        for (const QString &want : columns) {
            int found = -1;
            for (int i = 0; i < n && found < 0; ++i)
                if (impl->page.columnName(1 + i).compare(want, Qt::CaseInsensitive) == 0)
                    found = i;
            impl->index.push_back(found);
            impl->isDate.push_back(found >= 0 && impl->page.isDateColumn(1 + found));
        }
        return start(std::move(impl), columns, error);
    }
    // A server cursor takes queries only: an action statement fails here.
    impl->cursor = std::make_unique<PgCursor>(conn, run, true);
    if (!impl->cursor->ok())
        return fail(impl->cursor->fault(), impl->cursor->error());
    impl->inTransaction = true;
    const QStringList &names = impl->cursor->names();
    for (const QString &want : columns) {
        int found = -1;
        for (int i = 0; i < int(names.size()) && found < 0; ++i)
            if (names[i].compare(want, Qt::CaseInsensitive) == 0)
                found = i;
        impl->index.push_back(found);
        impl->isDate.push_back(found >= 0 && impl->cursor->dateColumns()[size_t(found)]);
    }
    return start(std::move(impl), columns, error);
}

std::unique_ptr<ReportRows> ReportRows::start(std::unique_ptr<Impl> impl, const QStringList &columns, QString *error)
{
    // The first rows now; a small result is read whole and its transaction
    // ends before open() returns.
    int rc = SQLITE_ROW;
    for (int row = 0; row < kForegroundRows; ++row) {
        rc = impl->step();
        ++impl->steps;
        if (rc != SQLITE_ROW)
            break;
        impl->appendRow();
        if (impl->buildingRows == kChunkRows)
            impl->flush();  // memory only this early: cannot fail
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        const DbFault f = impl->pages    ? impl->pageFault
                          : impl->cursor ? impl->cursor->fault()
                                         : faultOf(impl->conn->lastCode());
        const QString why = impl->pages    ? impl->pageError
                            : impl->cursor ? impl->cursor->error()
                                           : impl->conn->lastError();
        reportFault(f, why);
        if (error)
            *error = why;
        return {};
    }
    if (rc == SQLITE_DONE) {
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

bool ReportRows::reading() const { return d && d->inTransaction.load(); }

bool ReportRows::hasColumn(const QString &column) const
{
    if (!d)
        return false;
    for (int i = 0; i < columns_.size(); ++i)
        if (columns_[i].compare(column, Qt::CaseInsensitive) == 0)
            return d->index[size_t(i)] >= 0;
    return false;
}

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
