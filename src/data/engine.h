#pragma once
#include "data/value.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

// The seam between the system and its database engines. One engine is chosen
// at start-up (the file, or the shared server) and everything above reads and
// writes through it; nothing above asks which one runs. Each engine lives in
// a folder of its own (src/data/sqlite/, src/data/pg/) and only there are the
// engine's own headers included.
namespace xs {

class PageSource;
class RowStream;

// Parameters of a statement, $1, $2, ... in order; nullopt is SQL NULL.
using Params = QList<std::optional<QString>>;

// The rows of one reading as an engine steps them, one at a time: a large
// result never lies whole in memory. A reading owns what it reads on (its
// connection, or its place in the open transaction) until it is destroyed.
class Rows {
public:
    virtual ~Rows() = default;
    virtual int columns() const = 0;
    virtual QString name(int c) const = 0;
    // Whether column c holds dates (the windows show them in short form).
    virtual bool isDate(int c) const = 0;
    // Moves to the next row (the first, right after opening); false at the
    // end and on a fault, which fault() then tells.
    virtual bool next() = 0;
    // Back to before the first row (the reading runs again); false on a fault.
    virtual bool rewind() = 0;
    virtual bool isNull(int c) const = 0;
    virtual QString text(int c) const = 0;
    virtual DbFault fault() const = 0;
    virtual QString error() const = 0;
};

class Engine {
public:
    virtual ~Engine() = default;

    // A reading in the windows' dialect (#date#, [name], "text", a bare table
    // name), translated by the engine; a statement that would write is
    // refused, never run. Null with `out` filled when it cannot be read.
    virtual std::unique_ptr<Rows> query(const QString &sql, SqlOutcome &out) = 0;
    // An action statement (INSERT, UPDATE, DELETE) in the windows' dialect:
    // in the open transaction, else in a write transaction of its own.
    virtual void action(const QString &sql, SqlOutcome &out) = 0;
    // A statement in the dialect both engines share, with $1.. parameters:
    // rows for a reading (null for a statement without rows, or on failure).
    // It runs in the open transaction when there is one.
    virtual std::unique_ptr<Rows> exec(const QString &sql, const Params &params, SqlOutcome &out) = 0;
    // Appends one row to `table` with the given columns (none: every column
    // takes its default). `readBy`, when given, is the reading of the table
    // the row is added after: an engine may write on what it read on.
    virtual void insert(const QString &table, const QStringList &columns, const Params &values, SqlOutcome &out,
                        Rows *readBy = nullptr) = 0;

    // A listing read in keyset pages (data/pagesource.h): null with `out`
    // filled when the statement cannot be read.
    virtual std::unique_ptr<PageSource> pages(const QString &sql, SqlOutcome &out) = 0;
    // A report's rows, read forward once; null with `error` set.
    virtual std::unique_ptr<RowStream> rowStream(const QString &sql, QString *error) = 0;

    // One transaction at a time. While it is open every statement above runs
    // in it; a transaction that could not begin refuses every write with
    // `failure` until it ends, so no part of a change is kept on its own.
    virtual bool begin(QString *failure) = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;

    // Whether the database keeps passwords as hashes (the shared server
    // always; a file once converted); nullopt with `why` when that cannot be
    // read.
    virtual std::optional<bool> hashesPasswords(QString *why) = 0;
    // What follows a reading inside a transaction so that the rows it reads
    // stay as read until the transaction ends (empty where the transaction
    // already holds the whole database).
    virtual QString rowLock() const = 0;
    // After a sign-in: the day's backup where this engine keeps it (the file
    // copies itself once a day; the server's backups are the clinic's own).
    virtual void afterSignIn(const std::function<void(const QString &why)> &failed) = 0;
};

// The engine of this process, once one is set (data/engines.h).
Engine &engine();
// Sets the engine of this process (at start-up, by the tool for its target,
// and by the tests).
void setEngine(std::unique_ptr<Engine> e);

}  // namespace xs
