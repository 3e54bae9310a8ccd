#include "report/reportrows.h"

#include "data/recordset.h"
#include "data/sqlite.h"
#include "data/sqltext.h"

#include <optional>
#include <sqlite3.h>
#include <vector>

namespace xs {

struct ReportRows::Impl {
    std::optional<Connection> conn;
    StmtHandle stmt;             // declared after conn: finalized before the connection closes
    std::vector<int> index;      // statement column of each wanted column, -1 when absent
    std::vector<bool> isDate;
    int current = -1;            // row the statement stands on; -1 before the first

    ~Impl()
    {
        stmt.reset();
        if (conn)
            conn->exec("ROLLBACK");
    }
};

ReportRows::~ReportRows() = default;

std::unique_ptr<ReportRows> ReportRows::none(const QStringList &columns)
{
    std::unique_ptr<ReportRows> r(new ReportRows);
    r->columns_ = columns;
    return r;
}

std::unique_ptr<ReportRows> ReportRows::open(const QString &dbFile, const QString &sql,
                                             const QStringList &columns, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<ReportRows>();
    };
    const auto translated = translateSql(sql.trimmed());
    if (!translated)
        return fail(QStringLiteral("语句无法解析"));

    auto impl = std::make_unique<Impl>();
    impl->conn.emplace(Connection::open(dbFile));  // DbError travels up
    // One read transaction for the life of the showing: counting and every
    // later page see the same rows.
    if (!impl->conn->exec("BEGIN"))
        return fail(impl->conn->lastError());
    impl->stmt = impl->conn->prepare(*translated);
    if (!impl->stmt)
        return fail(impl->conn->lastError());
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

    std::unique_ptr<ReportRows> r(new ReportRows);
    r->columns_ = columns;
    int rc;
    int count = 0;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        ++count;
    if (rc != SQLITE_DONE)
        return fail(impl->conn->lastError());
    sqlite3_reset(s);
    r->count_ = count;
    r->steps_ = count;
    r->d = std::move(impl);
    return r;
}

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
    last = std::min(last, count_);
    if (!d || first >= last)
        return;
    sqlite3_stmt *s = d->stmt.get();
    if (d->current > first) {
        sqlite3_reset(s);
        d->current = -1;
    }
    QStringList values;
    for (int row = first; row < last; ++row) {
        while (d->current < row) {
            ++steps_;
            if (sqlite3_step(s) != SQLITE_ROW) {
                // Cannot happen inside the read transaction; stop cleanly anyway.
                sqlite3_reset(s);
                d->current = -1;
                return;
            }
            ++d->current;
        }
        values.clear();
        for (size_t c = 0; c < d->index.size(); ++c) {
            const int i = d->index[c];
            if (i < 0 || sqlite3_column_type(s, i) == SQLITE_NULL) {
                values << QString();
                continue;
            }
            const QString raw = columnText(s, i);
            values << (d->isDate[c] ? Value(Value::Kind::Date, raw).text() : raw);
        }
        fn(row, values);
    }
}

}  // namespace xs
