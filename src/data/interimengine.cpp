// A small engine for the tool and the tests over one connection of either kind:
// statements with parameters, a transaction, an account's password.
#include "data/engine.h"
#include "data/passwords.h"
#include "data/pg/pgsql.h"
#include "data/sqlite/sqlite.h"

#include <sqlite3.h>

namespace xs {
namespace {
std::unique_ptr<Engine> g_engine;

class ListRows : public Rows {
public:
    QStringList names;
    QList<QList<std::optional<QString>>> data;
    int at = -1;
    int columns() const override { return int(names.size()); }
    QString name(int c) const override { return names.value(c); }
    bool isDate(int) const override { return false; }
    bool next() override { return ++at < int(data.size()); }
    bool rewind() override
    {
        at = -1;
        return true;
    }
    bool isNull(int c) const override { return !data[at].value(c); }
    QString text(int c) const override { return data[at].value(c).value_or(QString()); }
    DbFault fault() const override { return DbFault::None; }
    QString error() const override { return {}; }
};

class FileEngine : public Engine {
public:
    explicit FileEngine(const QString &path) : c_(Connection::open(path)) {}
    std::unique_ptr<Rows> query(const QString &, SqlOutcome &) override { return {}; }
    void action(const QString &, SqlOutcome &) override {}
    std::unique_ptr<Rows> exec(const QString &sql, const Params &params, SqlOutcome &out) override
    {
        StmtHandle s = c_.prepare(sql);
        if (!s) {
            out.ok = false;
            out.error = c_.lastError();
            return {};
        }
        for (int i = 0; i < int(params.size()); ++i)
            if (params[i])
                bindText(s.get(), i + 1, *params[i]);
            else
                sqlite3_bind_null(s.get(), i + 1);
        auto rows = std::make_unique<ListRows>();
        for (int c = 0; c < sqlite3_column_count(s.get()); ++c)
            rows->names << QString::fromUtf8(sqlite3_column_name(s.get(), c));
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            QList<std::optional<QString>> r;
            for (int c = 0; c < rows->columns(); ++c)
                r << (sqlite3_column_type(s.get(), c) == SQLITE_NULL ? std::nullopt
                                                                     : std::optional<QString>(columnText(s.get(), c)));
            rows->data << r;
        }
        out.ok = rc == SQLITE_DONE;
        out.fault = out.ok ? DbFault::None : faultOf(sqlite3_extended_errcode(c_.get()));
        out.error = out.ok ? QString() : c_.lastError();
        out.changes = sqlite3_changes(c_.get());
        if (!out.ok)
            return {};
        return rows;
    }
    void insert(const QString &table, const QStringList &columns, const Params &values, SqlOutcome &out) override
    {
        QStringList marks;
        for (int i = 1; i <= int(columns.size()); ++i)
            marks << QStringLiteral("$%1").arg(i);
        exec(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)").arg(table, columns.join(','), marks.join(',')), values,
             out);
    }
    bool begin(QString *failure) override
    {
        if (c_.exec("BEGIN IMMEDIATE"))
            return true;
        *failure = c_.lastError();
        return false;
    }
    bool commit() override { return c_.exec("COMMIT"); }
    void rollback() override { c_.exec("ROLLBACK"); }
    std::optional<QString> passwordToKeep(const QString &password, QString *why) override
    {
        const QString s = storedPasswordFor(c_.get(), password);
        if (s.isEmpty() && !password.trimmed().isEmpty()) {
            *why = QStringLiteral("计算密码散列时内存不足，用户没有添加。请关闭其他程序后再试。");
            return std::nullopt;
        }
        return s;
    }
    bool rehashesPlainPasswords() const override { return true; }
    void afterSignIn(const std::function<void(const QString &)> &) override {}

private:
    Connection c_;
};

class ServerEngine : public Engine {
public:
    explicit ServerEngine(const QString &conninfo, const QString &actor) : c_(conninfo)
    {
        c_.setOnConnect(QStringLiteral("SET search_path = chengheng, public"));
        c_.setAuditUser(actor);
    }
    std::unique_ptr<Rows> query(const QString &, SqlOutcome &) override { return {}; }
    void action(const QString &, SqlOutcome &) override {}
    std::unique_ptr<Rows> exec(const QString &sql, const Params &params, SqlOutcome &out) override
    {
        const PgResult r = c_.exec(sql, params);
        out.ok = r.ok();
        out.fault = r.fault();
        out.error = r.error();
        if (!r.ok())
            return {};
        out.changes = r.changes();
        auto rows = std::make_unique<ListRows>();
        for (int c = 0; c < r.columns(); ++c)
            rows->names << r.columnName(c);
        for (int i = 0; i < r.rows(); ++i) {
            QList<std::optional<QString>> row;
            for (int c = 0; c < r.columns(); ++c)
                row << (r.isNull(i, c) ? std::nullopt : std::optional<QString>(r.text(i, c)));
            rows->data << row;
        }
        return rows;
    }
    void insert(const QString &table, const QStringList &columns, const Params &values, SqlOutcome &out) override
    {
        QStringList marks;
        for (int i = 1; i <= int(columns.size()); ++i)
            marks << QStringLiteral("$%1").arg(i);
        exec(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)").arg(table, columns.join(','), marks.join(',')), values,
             out);
    }
    bool begin(QString *failure) override
    {
        if (c_.run("BEGIN"))
            return true;
        *failure = c_.lastError();
        return false;
    }
    bool commit() override { return c_.run("COMMIT"); }
    void rollback() override { c_.run("ROLLBACK"); }
    std::optional<QString> passwordToKeep(const QString &password, QString *why) override
    {
        const QString s = hashPassword(password);
        if (s.isEmpty()) {
            *why = QStringLiteral("密码散列失败（内存不足），没有添加用户");
            return std::nullopt;
        }
        return s;
    }
    bool rehashesPlainPasswords() const override { return true; }
    void afterSignIn(const std::function<void(const QString &)> &) override {}

private:
    PgConnection c_;
};
}  // namespace

Engine &engine() { return *g_engine; }
void setEngine(std::unique_ptr<Engine> e) { g_engine = std::move(e); }
std::unique_ptr<Engine> interimFileEngine(const QString &path) { return std::make_unique<FileEngine>(path); }
std::unique_ptr<Engine> interimServerEngine(const QString &conninfo, const QString &actor)
{
    return std::make_unique<ServerEngine>(conninfo, actor);
}
}  // namespace xs
