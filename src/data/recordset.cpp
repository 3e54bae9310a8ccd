#include "data/recordset.h"

#include "data/dates.h"
#include "data/sqltext.h"

#include <QRegularExpression>

namespace xs {

namespace {
std::unique_ptr<Engine> &currentEngine()
{
    static std::unique_ptr<Engine> e;
    return e;
}
}  // namespace

Engine &engine()
{
    std::unique_ptr<Engine> &e = currentEngine();
    // The engine is chosen before anything reads or writes (useFile,
    // openServerDatabase, the tool's --db/--server); reading before that is
    // a fault of the program, not of the database.
    if (!e)
        qFatal("no database engine has been chosen");
    return *e;
}

void setEngine(std::unique_ptr<Engine> e) { currentEngine() = std::move(e); }

QString Value::text() const
{
    switch (kind_) {
    case Kind::Null:
        return {};
    case Kind::Text:
        return raw_;
    case Kind::Date:
        if (raw_.size() == 10 && raw_[4] == QLatin1Char('-') && raw_[7] == QLatin1Char('-'))
            return raw_;
        if (const auto d = parseDate(raw_))
            return shortDate(*d);
        return raw_;
    }
    return {};
}

QDate Value::date() const
{
    if (kind_ != Kind::Date)
        return {};
    return parseDate(raw_).value_or(QDate());
}

RecordsetPtr Recordset::open(std::unique_ptr<Rows> rows, const QString &source, SqlOutcome &out)
{
    if (!rows) {
        // A statement that cannot be read, a file that cannot be opened, a
        // server out of reach: a fault of the file or the server is told to
        // the listener, so that it is never mistaken for "no records".
        reportFault(out.fault, out.error);
        return {};
    }
    RecordsetPtr rs(new Recordset);
    rs->rows_ = std::move(rows);
    rs->source_ = source;
    rs->step();
    if (rs->fault_ != DbFault::None) {
        out.ok = false;
        out.fault = rs->fault_;
        out.error = rs->error_;
        return {};
    }
    out.ok = true;
    return rs;
}

Recordset::~Recordset() { Close(); }

void Recordset::step()
{
    if (!rows_) {
        eof_ = true;
        return;
    }
    eof_ = !rows_->next();
    if (rows_->fault() != DbFault::None) {
        // A read stopped by a fault (a damaged page, say) is not the end of
        // the records: keep why and tell the listener.
        fault_ = rows_->fault();
        error_ = rows_->error();
        reportFault(fault_, error_);
    }
}

void Recordset::MoveFirst()
{
    if (!rows_)
        return;
    if (!rows_->rewind()) {
        eof_ = true;
        fault_ = rows_->fault();
        error_ = rows_->error();
        reportFault(fault_, error_);
        return;
    }
    step();
}

void Recordset::MoveNext()
{
    if (!eof_)
        step();
}

QString Recordset::fieldName(int i) const { return i >= 0 && i < fieldCount() ? rows_->name(i) : QString(); }

int Recordset::fieldIndex(const QString &name) const
{
    for (int i = 0; i < fieldCount(); ++i)
        if (rows_->name(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

Value Recordset::field(int i) const
{
    if (eof_ || !rows_ || i < 0 || i >= fieldCount() || rows_->isNull(i))
        return {};
    return Value(rows_->isDate(i) ? Value::Kind::Date : Value::Kind::Text, rows_->text(i));
}

Value Recordset::field(const QString &name) const { return field(fieldIndex(name)); }

static QString tableOfSource(const QString &source)
{
    static const QRegularExpression re(QStringLiteral(R"(^select\s+\*\s*from\s+([^\s;]+)$)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(source.trimmed());
    return m.hasMatch() ? m.captured(1) : QString();
}

bool Recordset::AddNew()
{
    if (!isOpen() || tableOfSource(source_).isEmpty()) {
        error_ = QStringLiteral("结果集不可追加记录");
        return false;
    }
    adding_ = true;
    pending_.assign(size_t(fieldCount()), std::nullopt);
    return true;
}

bool Recordset::setField(int i, const QString &value)
{
    if (!adding_ || i < 0 || i >= fieldCount()) {
        error_ = QStringLiteral("字段不存在");
        return false;
    }
    pending_[size_t(i)] = value;
    return true;
}

bool Recordset::setField(const QString &name, const QString &value) { return setField(fieldIndex(name), value); }

bool Recordset::Update()
{
    if (!adding_) {
        error_ = QStringLiteral("没有要保存的新记录");
        return false;
    }
    adding_ = false;
    QStringList cols;
    Params values;
    for (int i = 0; i < fieldCount(); ++i) {
        const auto &v = pending_[size_t(i)];
        if (!v)
            continue;
        cols << QLatin1Char('"') + rows_->name(i).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
        if (rows_->isDate(i)) {
            if (v->trimmed().isEmpty()) {
                values << std::nullopt;
            } else if (const auto d = parseDate(*v)) {
                values << shortDate(*d);
            } else {
                error_ = QStringLiteral("“%1”不是日期").arg(*v);
                return false;
            }
        } else {
            values << *v;
        }
    }
    SqlOutcome o;
    engine().insert(tableOfSource(source_), cols, values, o, rows_.get());
    fault_ = o.ok ? DbFault::None : o.fault;
    if (!o.ok)
        error_ = o.error;
    return o.ok;
}

void Recordset::Close()
{
    rows_.reset();
    eof_ = true;
    adding_ = false;
}

QString connstr()
{
    return QStringLiteral("provider=Microsoft.Jet.OLEDB.4.0;Data source =") + appDir() + QStringLiteral("/xs.mdb");
}

RecordsetPtr openQuery(const QString &sql, SqlOutcome *outcome)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    const QString source = sql.trimmed();
    return Recordset::open(engine().query(source, out), source, out);
}

RecordsetPtr runsql(const QString &sql, SqlOutcome *outcome)
{
    SqlOutcome local;
    SqlOutcome &out = outcome ? *outcome : local;
    out = SqlOutcome{};
    if (!isActionStatement(sql)) {
        const QString source = sql.trimmed();
        return Recordset::open(engine().query(source, out), source, out);
    }
    engine().action(sql, out);
    return {};
}

Transaction::Transaction() { engine().begin(nullptr); }

Transaction::~Transaction()
{
    if (!done_)
        engine().rollback();
}

bool Transaction::commit()
{
    if (done_)
        return false;
    done_ = true;
    return engine().commit();
}

}  // namespace xs
