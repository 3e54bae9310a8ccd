#pragma once
#include "data/recordset.h"

#include <QString>
#include <optional>

// The data environment that feeds the three printed reports: one connection
// to the application's database file and three commands, each with a
// recordset named after it with the prefix "rs".
//
//   DataEnv1.rsCommand1.Open(printstr);        // close if open, open with another statement
//   if (DataEnv1.rsCommand1.atEOF()) ...       // end of data
//   DataEnv1.rsCommand2.text("科室");          // read the current row by column name
//   DataEnv1.Command3.CommandText              // "select *from yc"
//
// A report bound to a command prints the rows of its recordset's statement as
// the recordset stands when the report is shown (see reportSource()).
namespace xs {

struct DataCommand {
    QString Name;
    QString CommandText;
};

// Connection1: the application's xs.mdb, the same file connstr() names and
// every runsql statement opens.
class DataEnvConnection {
public:
    QString ConnectionString() const;
    QString DataSource() const;  // the database file's path
};

class DataEnvRecordset {
public:
    enum class State { Closed, Open, Failed };

    explicit DataEnvRecordset(const DataCommand &command) : command_(command) {}
    DataEnvRecordset(const DataEnvRecordset &) = delete;
    DataEnvRecordset &operator=(const DataEnvRecordset &) = delete;

    // Closes the recordset if it is open and opens it again with `source`
    // (through runsql). A statement that fails leaves the recordset holding
    // no row (state Failed, atEOF true) and returns false; a report shown
    // from it prints nothing rather than some other rows. An action statement
    // (insert, update, delete) is not run at all and fails the same way.
    bool Open(const QString &source);
    // Opens it with the command's own text.
    bool Open() { return Open(command_.CommandText); }
    void Close();
    // Lets go of the rows read so far, and of the read snapshot they hold
    // (which keeps the journal from being checkpointed), but keeps the
    // statement: reports and a later read use it as before, a read starting
    // again from its first row.
    void release();

    State state();
    bool isOpen() { return state() == State::Open; }
    // End of data. A recordset that was never opened (or was closed) is first
    // opened with its command's text, as the data environment does when a
    // command is first used.
    bool atEOF();
    void MoveFirst();
    void MoveNext();
    int fieldCount();
    QString fieldName(int i);
    Value field(int i);
    Value field(const QString &name);
    QString text(int i) { return field(i).text(); }
    QString text(const QString &name) { return field(name).text(); }

    // The statement the recordset was last opened with (the command's text
    // until it is reopened).
    QString Source();
    const DataCommand &command() const { return command_; }
    // The open recordset itself, null when it is closed or failed.
    Recordset *recordset();

    // What a report bound to this recordset prints: the statement it stands
    // on (a closed recordset stands on its command's text), or nothing when
    // its last opening failed.
    std::optional<QString> reportSource();

private:
    void followFile();
    void ensureOpen();

    const DataCommand &command_;
    RecordsetPtr rs_;
    State state_ = State::Closed;
    QString source_;
    QString file_;  // database file the recordset was opened on
};

class DataEnvironment {
public:
    DataEnvironment();
    DataEnvironment(const DataEnvironment &) = delete;
    DataEnvironment &operator=(const DataEnvironment &) = delete;

    DataEnvConnection Connection1;
    const DataCommand Command1;
    const DataCommand Command2;
    const DataCommand Command3;
    DataEnvRecordset rsCommand1;
    DataEnvRecordset rsCommand2;
    DataEnvRecordset rsCommand3;

    // The recordset of a command by the command's name ("Command1"), or null.
    DataEnvRecordset *recordsetOf(const QString &commandName);
    // Closes the three recordsets.
    void Close();
};

// The single data environment of the process.
extern DataEnvironment DataEnv1;

}  // namespace xs
