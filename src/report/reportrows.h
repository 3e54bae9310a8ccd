#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace xs {

// The rows one showing of a report prints, read in one pass of the statement
// on a connection of its own inside one read transaction, so the showing
// prints one consistent state of the file however long its preview stays open
// while other connections keep writing (WAL).
//
// The pass does not wait for the user: the first rows are read at once (a
// small result entirely, so its count is known when open() returns), the rest
// in the background. Each row is kept as the texts of the wanted columns in
// chunks: the first few megabytes in memory, the rest compressed in a
// temporary file that goes away with the object. When the pass ends the read
// transaction ends with it, so no snapshot stays pinned while the preview is
// open, and a page reads its rows from the chunks at the same cost for page
// 1 and page 100,000.
//
// On the shared server the pass reads keyset pages instead (each page one
// statement of its own, see data/pg/serverpages.h): no transaction stays open
// at any time, so the showing prints the rows as each page found them; a
// record that another room changes while the pass runs can show twice or not
// at all (a row updated moves to another ctid), as if printed between the
// two states. A join without ORDER BY is read in ranges of its first table.
class ReportRows {
public:
    ~ReportRows();
    ReportRows(const ReportRows &) = delete;
    ReportRows &operator=(const ReportRows &) = delete;

    // No rows at all (a recordset that could not be opened).
    static std::unique_ptr<ReportRows> none(const QStringList &columns);
    // Runs `sql` (the old dialect, translated as runsql does) on the engine
    // in use (the file, or the shared server in keyset pages, through a
    // server cursor when it cannot be paged), reading the given columns by name. Null
    // with *error set when the statement does not compile or is not a query; a file that cannot be opened throws
    // DbError.
    static std::unique_ptr<ReportRows> open(const QString &sql, const QStringList &columns, QString *error = nullptr);

    // Rows read so far; the final count once complete().
    int count() const;
    // Every row of the statement has been read (or reading stopped, see problem()).
    bool complete() const;
    // Waits until complete() or until `ms` milliseconds have passed (-1: no
    // limit); true when complete.
    bool waitComplete(int ms = -1) const;
    // Why reading stopped before the end of the statement (a temporary file
    // that could not be written, an engine failure), in words for the user;
    // empty when every row was read.
    QString problem() const;

    const QStringList &columns() const { return columns_; }
    // Calls fn(row, values) for the rows of [first, last) read so far, in
    // order; values[i] is the text of columns()[i] (null as empty, dates in
    // the short form).
    void read(int first, int last, const std::function<void(int, const QStringList &)> &fn);
    // Statement steps taken so far (benchmarks and tests look at the cost).
    long long steps() const;
    // Whether the statement still holds its read transaction.
    bool reading() const;

private:
    ReportRows() = default;
    struct Impl;
    // Reads the first rows and hands the rest to the worker.
    static std::unique_ptr<ReportRows> start(std::unique_ptr<Impl> impl, const QStringList &columns, QString *error);
    std::unique_ptr<Impl> d;
    QStringList columns_;
};

}  // namespace xs
