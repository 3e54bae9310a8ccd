#include "report/dataenv.h"

#include "data/sqlite/sqlite.h"
#include "data/sqltext.h"

namespace xs {

DataEnvironment DataEnv1;

QString DataEnvConnection::ConnectionString() const
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Persist Security Info=False;Data Source=") + DataSource();
}

QString DataEnvConnection::DataSource() const { return dbPath(); }

// The environment always reaches the application's current file. Only the
// test fixtures ever point the application at another folder; a recordset
// still open on the previous file is then dropped, as if never opened.
void DataEnvRecordset::followFile()
{
    if (state_ != State::Closed && file_ != dbPath())
        Close();
}

bool DataEnvRecordset::Open(const QString &source)
{
    Close();
    source_ = source;
    file_ = dbPath();
    // A recordset is only ever a source of rows: an action statement given as
    // its source is not run (reopening report data must not change data).
    if (!isActionStatement(source))
        rs_ = runsql(source);  // DbError (file cannot be opened) travels up
    state_ = rs_ ? State::Open : State::Failed;
    return rs_ != nullptr;
}

void DataEnvRecordset::Close()
{
    rs_.reset();
    state_ = State::Closed;
    source_.clear();
}

DataEnvRecordset::State DataEnvRecordset::state()
{
    followFile();
    return state_;
}

void DataEnvRecordset::release()
{
    if (state_ == State::Open)
        rs_.reset();
}

void DataEnvRecordset::ensureOpen()
{
    if (state() == State::Closed) {
        Open(command_.CommandText);
    } else if (state_ == State::Open && !rs_) {
        rs_ = runsql(source_);
        if (!rs_)
            state_ = State::Failed;
    }
}

bool DataEnvRecordset::atEOF()
{
    ensureOpen();
    return !rs_ || rs_->atEOF();
}

void DataEnvRecordset::MoveFirst()
{
    ensureOpen();
    if (rs_)
        rs_->MoveFirst();
}

void DataEnvRecordset::MoveNext()
{
    ensureOpen();
    if (rs_)
        rs_->MoveNext();
}

int DataEnvRecordset::fieldCount()
{
    ensureOpen();
    return rs_ ? rs_->fieldCount() : 0;
}

QString DataEnvRecordset::fieldName(int i)
{
    ensureOpen();
    return rs_ ? rs_->fieldName(i) : QString();
}

Value DataEnvRecordset::field(int i)
{
    ensureOpen();
    return rs_ ? rs_->field(i) : Value();
}

Value DataEnvRecordset::field(const QString &name)
{
    ensureOpen();
    return rs_ ? rs_->field(name) : Value();
}

QString DataEnvRecordset::Source() { return state() == State::Closed ? command_.CommandText : source_; }

Recordset *DataEnvRecordset::recordset()
{
    if (state() == State::Open)
        ensureOpen();  // rows let go by release() are read again
    return state() == State::Open ? rs_.get() : nullptr;
}

std::optional<QString> DataEnvRecordset::reportSource()
{
    switch (state()) {
    case State::Closed:
        return command_.CommandText;
    case State::Open:
        return source_;
    case State::Failed:
        return std::nullopt;
    }
    return std::nullopt;
}

DataEnvironment::DataEnvironment()
    : Command1{QStringLiteral("Command1"),
               QStringLiteral("select xj.门诊号,xj.姓名,xj.性别,xj.科室,xj.出生年月,xj.家庭住址,xj.邮政编码,"
                              "xj.联系电话,xj.入诊时间,xj.备注,xj.婚否,xj.体格检查,xj.既往病史, xj.症状, "
                              "xj.诊断,xj.药名,xj.药量, xj.医生签字, xj.年龄,xj.身份证,class.专业 from xj "
                              "inner join class on xj.科室=class.科室")},
      Command2{QStringLiteral("Command2"), QStringLiteral("select * from class")}, Command3{QStringLiteral("Command3"),
                                                                                            QStringLiteral(
                                                                                                "select *from yc")},
      rsCommand1(Command1), rsCommand2(Command2), rsCommand3(Command3)
{}

DataEnvRecordset *DataEnvironment::recordsetOf(const QString &commandName)
{
    if (commandName == Command1.Name)
        return &rsCommand1;
    if (commandName == Command2.Name)
        return &rsCommand2;
    if (commandName == Command3.Name)
        return &rsCommand3;
    return nullptr;
}

void DataEnvironment::Close()
{
    rsCommand1.Close();
    rsCommand2.Close();
    rsCommand3.Close();
}

}  // namespace xs
