#pragma once
#include "data/engine.h"
#include "data/value.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace xs {

class Recordset;
using RecordsetPtr = std::unique_ptr<Recordset>;

// A forward-reading result of one query that owns what it reads on. Reading
// is lazy (one row at a time), so a large result costs no memory; on the
// file an open result never blocks writers on other connections (WAL).
class Recordset {
public:
    // Opens the rows of a reading and steps to the first; null with
    // `out` filled (and the fault listener told) when that fails.
    static RecordsetPtr open(std::unique_ptr<Rows> rows, const QString &source, SqlOutcome &out);
    ~Recordset();
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    // End of data (the old EOF; that name is a C macro).
    bool atEOF() const { return eof_; }
    void MoveFirst();
    void MoveNext();
    int fieldCount() const { return rows_ ? rows_->columns() : 0; }
    QString fieldName(int i) const;
    int fieldIndex(const QString &name) const;  // -1 when there is no such column
    // Value of field i (or by name) of the current row; null at end of data.
    Value field(int i) const;
    Value field(const QString &name) const;
    QString text(int i) const { return field(i).text(); }
    QString text(const QString &name) const { return field(name).text(); }
    const QString &source() const { return source_; }

    // Appending a row to the table of "select * from T": AddNew, assignments,
    // Update (an INSERT with bound parameters of the assigned fields only, so
    // the table's defaults fill the rest). Outside a Transaction the INSERT
    // runs in a write transaction of its own, so it waits for another
    // program's write instead of failing at once. Update reports failure;
    // lastError() says why (in Chinese).
    bool AddNew();
    bool setField(int i, const QString &value);
    bool setField(const QString &name, const QString &value);
    bool Update();
    QString lastError() const { return error_; }
    // The fault of the last failure (a read stopped by a damaged page, say).
    DbFault lastFault() const { return fault_; }
    void Close();
    bool isOpen() const { return rows_ != nullptr; }

private:
    Recordset() = default;
    void step();
    std::unique_ptr<Rows> rows_;
    QString source_;
    bool eof_ = true;
    bool adding_ = false;
    std::vector<std::optional<QString>> pending_;
    QString error_;
    DbFault fault_ = DbFault::None;
};

// The connection text naming the application's database file.
QString connstr();

// Runs one statement on a connection opened for it. Action statements (first
// word INSERT, DELETE or UPDATE) give null and run in a write transaction of
// their own (BEGIN IMMEDIATE, so the busy wait applies); queries give a
// recordset. Any failure gives null and nothing is thrown: `outcome`, when
// given, tells success, rows changed and the fault in Chinese. A file-level
// fault of a query (the file cannot be opened, is damaged, ...) is also told
// to the fault listener, so that it is never mistaken for "no records".
RecordsetPtr runsql(const QString &sql, SqlOutcome *outcome = nullptr);

// Opens a statement as a reading, whatever its first word (a statement that
// would write is refused, never run): for readers of statements that are
// not the runner's (a grid's listing).
RecordsetPtr openQuery(const QString &sql, SqlOutcome *outcome = nullptr);

// Runs an action statement and says whether it succeeded.
inline bool runaction(const QString &sql)
{
    SqlOutcome o;
    runsql(sql, &o);
    return o.ok;
}

// While a Transaction lives, runsql and the recordsets it opens share one
// connection inside BEGIN IMMEDIATE; without commit() the destructor rolls back.
class Transaction {
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    bool commit();

private:
    bool done_ = false;
};

}  // namespace xs
