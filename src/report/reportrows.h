#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace xs {

// The rows one showing of a report prints. The statement runs on a connection
// of its own inside a read transaction, so the showing sees one consistent
// state of the file however long its preview stays open, while other
// connections keep writing (WAL). No row is kept in memory: the rows are
// counted once, and a page reads just its own rows by stepping the statement
// (forward from where it stands, or from the start when it must go back), so a
// report over any number of rows costs the same memory.
class ReportRows {
public:
    ~ReportRows();
    ReportRows(const ReportRows &) = delete;
    ReportRows &operator=(const ReportRows &) = delete;

    // No rows at all (a recordset that could not be opened).
    static std::unique_ptr<ReportRows> none(const QStringList &columns);
    // Runs `sql` (the old dialect, translated as runsql does) against the
    // database file at `dbFile`, reading the given columns by name. Null with
    // *error set when the statement does not compile or is not a query; a file
    // that cannot be opened throws DbError.
    static std::unique_ptr<ReportRows> open(const QString &dbFile, const QString &sql,
                                            const QStringList &columns, QString *error = nullptr);

    int count() const { return count_; }
    const QStringList &columns() const { return columns_; }
    // Whether the statement gives a column of that name (letter case ignored).
    bool hasColumn(const QString &column) const;
    // Calls fn(row, values) for rows [first, last) in order; values[i] is the
    // text of columns()[i] (null as empty, dates in the short form).
    void read(int first, int last, const std::function<void(int, const QStringList &)> &fn);
    // Statement steps taken so far (benchmarks and tests look at the cost).
    long long steps() const { return steps_; }

private:
    ReportRows() = default;
    struct Impl;
    std::unique_ptr<Impl> d;
    QStringList columns_;
    int count_ = 0;
    long long steps_ = 0;
};

}  // namespace xs
