#include "data/sqlite/fileaudit.h"

#include "data/audit.h"
#include "data/auditanchor.h"
#include "data/schema.h"
#include "data/sqlite/sqlite.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <sqlite3.h>

// The trail in the file: the SQL functions its triggers call, the triggers
// themselves, and its reading for verify and for an anchor.
namespace xs {

namespace {

const QString kHidden = QStringLiteral("******");

bool fail(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return false;
}

QString valueText(sqlite3_value *v)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return p ? QString::fromUtf8(p, sqlite3_value_bytes(v)) : QString();
}

void resultText(sqlite3_context *ctx, const QString &s)
{
    const QByteArray u = s.toUtf8();
    sqlite3_result_text(ctx, u.constData(), int(u.size()), SQLITE_TRANSIENT);
}

bool sameValue(sqlite3_value *a, sqlite3_value *b)
{
    const int ta = sqlite3_value_type(a), tb = sqlite3_value_type(b);
    if (ta == SQLITE_NULL || tb == SQLITE_NULL)
        return ta == tb;
    if (ta != tb)
        return false;
    const int na = sqlite3_value_bytes(a), nb = sqlite3_value_bytes(b);
    // An empty value has no bytes to compare (and no pointer to them).
    return na == nb && (na == 0 || std::memcmp(sqlite3_value_blob(a), sqlite3_value_blob(b), size_t(na)) == 0);
}

// xs_audit_user(): who the entry names.
void fnUser(sqlite3_context *ctx, int, sqlite3_value **) { resultText(ctx, auditActor()); }

// The statement of this connection that is changing rows right now: the one
// whose triggers are running.
QString runningWrite(sqlite3 *db)
{
    for (sqlite3_stmt *s = sqlite3_next_stmt(db, nullptr); s; s = sqlite3_next_stmt(db, s))
        if (sqlite3_stmt_busy(s) && !sqlite3_stmt_readonly(s))
            return QString::fromUtf8(sqlite3_sql(s));
    return {};
}

// xs_audit_action(action, table): the trigger's own action (新增 修改 删除),
// except for the two that the statement itself tells: a row copied into the
// archive from the work table is archived, and the work table emptied without
// a condition is cleared.
void fnAction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    static const QRegularExpression archive(QStringLiteral(R"(^\s*insert\s+into\s+xj\b.*\bselect\b.*\bfrom\s+yc\b)"),
                                            QRegularExpression::CaseInsensitiveOption
                                                | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression clear(QStringLiteral(R"(^\s*delete\s+from\s+yc\s*;?\s*$)"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QString action = valueText(argv[0]);
    const QString table = valueText(argv[1]);
    const bool adds = action == QStringLiteral("新增") && table == QLatin1String("xj");
    const bool removes = action == QStringLiteral("删除") && table == QLatin1String("yc");
    if (adds || removes) {
        const QString sql = runningWrite(sqlite3_context_db_handle(ctx));
        if (adds && archive.match(sql).hasMatch())
            return resultText(ctx, QStringLiteral("归档"));
        if (removes && clear.match(sql).hasMatch())
            return resultText(ctx, QStringLiteral("清空"));
    }
    resultText(ctx, action);
}

// Column names of the audited tables, per connection: the triggers pass the
// row's values in the table's column order and no names, which keeps them
// small (every connection of the system parses them when it opens).
using ColumnNames = QHash<QString, QStringList>;

// One reading on a connection to the file.
TrailReading readerOf(sqlite3 *db)
{
    return [db](const QString &sql, const std::function<bool(const Cells &)> &row, QString *why) {
        sqlite3_stmt *raw = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &raw, nullptr) != SQLITE_OK)
            return fail(why, faultText(sqlite3_extended_errcode(db), QString::fromUtf8(sqlite3_errmsg(db))));
        StmtHandle s(raw);
        Cells cells;
        int rc = 0;
        while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
            cells.clear();
            for (int c = 0; c < sqlite3_column_count(raw); ++c)
                cells << (sqlite3_column_type(raw, c) == SQLITE_NULL ? std::nullopt
                                                                     : std::optional<QString>(columnText(raw, c)));
            if (!row(cells))
                return true;
        }
        return rc == SQLITE_DONE || fail(why, faultText(rc, QString::fromUtf8(sqlite3_errmsg(db))));
    };
}

QString quoted(const QString &identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString literal(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

QStringList columnsOf(const TrailReading &read, const QString &table)
{
    QStringList cols;
    read(
        QStringLiteral("SELECT name FROM pragma_table_info(%1)").arg(literal(table)),
        [&](const Cells &row) {
            cols << row.value(0).value_or(QString());
            return true;
        },
        nullptr);
    return cols;
}

// xs_audit_changes(op, table, values...): the columns an INSERT ('I', the new
// values) gave, an UPDATE ('U', old and new value of each column in turn)
// changed or a DELETE ('D', the old values) removed, as a JSON array of
// [column, old, new]. The secret column's values show as ******. Null for an
// UPDATE that changed nothing.
void fnChanges(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    if (argc < 2)
        return sqlite3_result_error(ctx, "xs_audit_changes: op, table, values", -1);
    const QString op = valueText(argv[0]);
    const QString table = valueText(argv[1]);
    auto *known = static_cast<ColumnNames *>(sqlite3_user_data(ctx));
    auto it = known->find(table);
    if (it == known->end())
        it = known->insert(table, columnsOf(readerOf(sqlite3_context_db_handle(ctx)), table));
    const QStringList &names = *it;
    const auto *t = std::find_if(std::begin(kAuditedTables), std::end(kAuditedTables),
                                 [&](const AuditedTable &a) { return table == QLatin1String(a.name); });
    const bool pairs = op == QLatin1String("U");
    const int step = pairs ? 2 : 1;
    if ((argc - 2) % step != 0 || (argc - 2) / step > int(names.size()))
        return sqlite3_result_error(ctx, "xs_audit_changes: values do not fit the table", -1);
    QJsonArray out;
    for (int i = 0; i < (argc - 2) / step; ++i) {
        sqlite3_value *oldV = op == QLatin1String("I") ? nullptr : argv[2 + i * step];
        sqlite3_value *newV = op == QLatin1String("D") ? nullptr : argv[2 + i * step + (pairs ? 1 : 0)];
        const bool oldNull = !oldV || sqlite3_value_type(oldV) == SQLITE_NULL;
        const bool newNull = !newV || sqlite3_value_type(newV) == SQLITE_NULL;
        if (pairs ? sameValue(oldV, newV) : (oldV ? oldNull : newNull))
            continue;
        const QString &column = names[i];
        const bool secret = t != std::end(kAuditedTables) && *t->secret
                            && column.compare(QString::fromUtf8(t->secret), Qt::CaseInsensitive) == 0;
        const auto shown = [&](sqlite3_value *v, bool null) {
            return null ? QJsonValue(QJsonValue::Null) : QJsonValue(secret ? kHidden : valueText(v));
        };
        out.append(QJsonArray{column, shown(oldV, oldNull), shown(newV, newNull)});
    }
    if (pairs && out.isEmpty())
        return sqlite3_result_null(ctx);
    resultText(ctx, QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Compact)));
}

// xs_audit_hash(time, user, action, table, key, changes): the hash of the
// entry being written, chained to the last entry of the trail. The trigger
// runs inside the changing statement's write transaction, so no other
// connection can append in between.
void fnHash(sqlite3_context *ctx, int argc, sqlite3_value **argv)
{
    QStringList fields;
    for (int i = 0; i < argc; ++i)
        fields << valueText(argv[i]);
    QString last;
    const auto keep = [&](const Cells &row) {
        last = row.value(0).value_or(QString());
        return false;
    };
    if (!readerOf(sqlite3_context_db_handle(ctx))(QStringLiteral("SELECT 校验值 FROM audit ORDER BY 序号 DESC LIMIT 1"),
                                                  keep, nullptr))
        return sqlite3_result_error(ctx, "xs_audit_hash: the trail cannot be read", -1);
    resultText(ctx, auditFieldsHash(fields << last));
}

const char *const kTableSql =
    "CREATE TABLE audit(序号 INTEGER PRIMARY KEY AUTOINCREMENT, 时间 TEXT NOT NULL, 用户 TEXT, 操作 TEXT NOT NULL,"
    " 表名 TEXT NOT NULL, 记录 TEXT, 改动 TEXT NOT NULL, 校验值 TEXT NOT NULL)";
const char *const kIndexSql = "CREATE INDEX audit_jilu ON audit(记录)";

struct SchemaObject {
    QString type;
    QString name;
    QString sql;
};

// The triggers of one audited table, written for the columns the file's
// table has (an older file may lack some).
QList<SchemaObject> triggersFor(const AuditedTable &t, const QStringList &columns)
{
    const QString table = QString::fromUtf8(t.name);
    const QString key = QString::fromUtf8(t.key);
    const struct {
        const char *suffix, *event, *action, *op, *row;
    } kinds[] = {
        {"insert", "INSERT", "新增", "I", "NEW"},
        {"update", "UPDATE", "修改", "U", "OLD"},
        {"delete", "DELETE", "删除", "D", "OLD"},
    };
    QList<SchemaObject> out;
    for (const auto &k : kinds) {
        const QString op = QString::fromLatin1(k.op);
        QStringList args = {literal(op), literal(table)};
        for (const QString &c : columns) {
            if (op != QLatin1String("I"))
                args << QStringLiteral("OLD.") + quoted(c);
            if (op != QLatin1String("D"))
                args << QStringLiteral("NEW.") + quoted(c);
        }
        const QString name = QStringLiteral("audit_%1_%2").arg(table, QString::fromLatin1(k.suffix));
        // The entry's number comes from the table (AUTOINCREMENT: the numbers
        // of removed last entries are never given again).
        const QString sql =
            QStringLiteral("CREATE TRIGGER %1 AFTER %2 ON %3 BEGIN"
                           " INSERT INTO audit(时间,用户,操作,表名,记录,改动,校验值) SELECT "
                           "t,u,a,%4,k,c,xs_audit_hash(t,u,a,%4,k,c)"
                           " FROM (SELECT strftime('%Y-%m-%d %H:%M:%S','now','localtime') AS t,xs_audit_user() AS u,"
                           "xs_audit_action(%5,%4) AS a,%6.%7 AS k,xs_audit_changes(%8) AS c) WHERE c IS NOT NULL; END")
                .arg(name, QString::fromLatin1(k.event), quoted(table), literal(table),
                     literal(QString::fromUtf8(k.action)), QString::fromLatin1(k.row), quoted(key),
                     args.join(QLatin1Char(',')));
        out << SchemaObject{QStringLiteral("trigger"), name, sql};
    }
    return out;
}

// Everything the trail consists of in this file, in creation order.
QList<SchemaObject> trailObjects(const TrailReading &read)
{
    QList<SchemaObject> objects = {
        {QStringLiteral("table"), QStringLiteral("audit"), QString::fromUtf8(kTableSql)},
        {QStringLiteral("index"), QStringLiteral("audit_jilu"), QString::fromUtf8(kIndexSql)},
        {QStringLiteral("trigger"), QStringLiteral("audit_no_update"),
         QStringLiteral("CREATE TRIGGER audit_no_update BEFORE UPDATE ON audit BEGIN"
                        " SELECT RAISE(ABORT, '审计记录只能追加，不能修改'); END")},
        {QStringLiteral("trigger"), QStringLiteral("audit_no_delete"),
         QStringLiteral("CREATE TRIGGER audit_no_delete BEFORE DELETE ON audit BEGIN"
                        " SELECT RAISE(ABORT, '审计记录只能追加，不能删除'); END")},
    };
    for (const AuditedTable &t : kAuditedTables) {
        const QStringList cols = columnsOf(read, QString::fromUtf8(t.name));
        if (cols.contains(QString::fromUtf8(t.key), Qt::CaseInsensitive))
            objects << triggersFor(t, cols);
    }
    return objects;
}

// Trail objects as the file holds them, by name; also any other trigger on
// the trail table (one that could silence or change its entries).
QList<SchemaObject> storedObjects(const TrailReading &read)
{
    QList<SchemaObject> out;
    read(
        QStringLiteral("SELECT type, name, sql FROM sqlite_master WHERE name='audit' OR name='audit_jilu'"
                       " OR type='trigger' AND (name LIKE 'audit!_%' ESCAPE '!' OR tbl_name='audit')"),
        [&](const Cells &row) {
            out << SchemaObject{row.value(0).value_or(QString()), row.value(1).value_or(QString()),
                                row.value(2).value_or(QString())};
            return true;
        },
        nullptr);
    return out;
}

// How the file's trail differs from the program's: each object of ours that
// is missing or, for a trigger, not as written here (the table and its
// entries are never rebuilt), then every other trigger on the trail table
// (one that could silence or change its entries).
struct Misfit {
    SchemaObject object;
    bool stored = false;  // the file holds an object of this name
    bool ours = true;
};
QList<Misfit> misfits(const TrailReading &read)
{
    const QList<SchemaObject> wanted = trailObjects(read);
    const QList<SchemaObject> stored = storedObjects(read);
    const auto named = [](const QList<SchemaObject> &in, const QString &name) {
        return std::find_if(in.begin(), in.end(), [&](const SchemaObject &o) { return o.name == name; });
    };
    QList<Misfit> out;
    for (const SchemaObject &o : wanted) {
        const auto have = named(stored, o.name);
        if (have == stored.end())
            out << Misfit{o};
        else if (o.type == QLatin1String("trigger") && have->sql != o.sql)
            out << Misfit{o, true};
    }
    for (const SchemaObject &o : stored)
        if (o.type == QLatin1String("trigger") && named(wanted, o.name) == wanted.end())
            out << Misfit{o, true, false};
    return out;
}

}  // namespace

void registerAuditFunctions(sqlite3 *db)
{
    const int text = SQLITE_UTF8 | SQLITE_INNOCUOUS;
    sqlite3_create_function(db, "xs_audit_user", 0, text, nullptr, fnUser, nullptr, nullptr);
    sqlite3_create_function(db, "xs_audit_action", 2, text, nullptr, fnAction, nullptr, nullptr);
    sqlite3_create_function_v2(db, "xs_audit_changes", -1, text | SQLITE_DETERMINISTIC, new ColumnNames, fnChanges,
                               nullptr, nullptr, [](void *p) { delete static_cast<ColumnNames *>(p); });
    sqlite3_create_function(db, "xs_audit_hash", 6, text, nullptr, fnHash, nullptr, nullptr);
}

const AuditTrailSide &fileAuditTrail()
{
    static const AuditTrailSide side{QStringLiteral("audit"),
                                     QStringLiteral("SELECT 1 FROM sqlite_master WHERE type='table' AND name='audit'"),
                                     QStringLiteral("文件中没有审计记录表 audit"),
                                     QStringLiteral("（还没有被程序或 chengheng-db 打开过，或审计记录表被删除了）"),
                                     QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name='audit'")};
    return side;
}

bool hasAuditTrail(sqlite3 *db) { return hasAuditTrail(readerOf(db), fileAuditTrail(), nullptr); }

QStringList auditTrailWork(sqlite3 *db)
{
    QStringList work;
    for (const Misfit &m : misfits(readerOf(db))) {
        if (!m.ours) {
            work.prepend(QStringLiteral("DROP TRIGGER %1").arg(quoted(m.object.name)));
            continue;
        }
        if (m.stored)
            work << QStringLiteral("DROP TRIGGER %1").arg(m.object.name);
        work << m.object.sql;
    }
    return work;
}

AuditVerification verifyAuditTrail(sqlite3 *db)
{
    const TrailReading read = readerOf(db);
    // The triggers that write the trail must be those of the program.
    return verifyAuditTrail(read, fileAuditTrail(), [&](const Cells &, const QString &) {
        for (const Misfit &m : misfits(read)) {
            const QString &name = m.object.name;
            if (!m.ours)
                return QStringLiteral("审计记录表上有不属于程序的触发器 %1").arg(name);
            if (m.object.type == QLatin1String("trigger"))
                return m.stored ? QStringLiteral("审计触发器 %1 被改动：此后的修改可能没有记录").arg(name)
                                : QStringLiteral("审计触发器 %1 缺失：此后的修改没有记录").arg(name);
        }
        return QString();
    });
}

bool readAuditPosition(sqlite3 *db, qint64 number, AuditTrailPosition *out, QString *why)
{
    return readAuditPosition(readerOf(db), fileAuditTrail(), number, out, why);
}

}  // namespace xs
