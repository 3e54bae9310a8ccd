#pragma once
#include <QStringList>

// The structure of the database as data: tables, columns, indexes, the kept
// counts and the version they make up. Each engine renders it in its dialect
// (data/sqlite/fileschema.h, data/pgschema.h), where what is no data
// (the triggers' bodies, the server's roles and grants) is written.
namespace xs {

// The version this program makes and knows. A database of an earlier program
// stores none: it is version 1, brought up one step (N to N+1, a transaction
// each) at a time. 2 adds the listings' indexes, the kept counts and the trail;
// 3 the drug catalogue and the prescriptions' lines.
inline constexpr int kSchemaVersion = 3;

enum class ColumnKind {
    Text,      // compared as written
    Name,      // compared ignoring letter case: names, codes, 门诊号, 科室
    Password,  // ignoring case in a file (as older files have it); the server keeps hashes only
    Date,
    Integer,  // a whole number: the lines' order
};
inline constexpr int kColumnKinds = 5;
// The tables, in creation order; on the server each room has its own yc and ycrx.
// drugs is the catalogue a prescription's lines come from (表1's entries map
// to it by their text); xjrx and ycrx hold the lines of the archived records
// and of the work rows.
inline const QStringList kSchemaTables = {"use", "class", "xj", "表1", "yc", "drugs", "xjrx", "ycrx"};
// Whether each room has a table of this name of its own on the server.
inline bool isRoomTable(const QString &table) { return table == QLatin1String("yc") || table == QLatin1String("ycrx"); }
const QStringList &tableColumns(const QString &table);
ColumnKind columnKind(const QString &table, int column);
struct IndexDesc {
    const char *name;
    const char *table;
    const char *columns;  // "年级, 科室"
    bool unique;
    int since;      // the version that brought it
    bool fileOnly;  // an older file's index the server never had
};

// 年级 nodes of both browsers start from class(年级); the records of each
// department come in 门诊号 order from xj(科室, 门诊号). Listings sorted by
// group and department read class in that order from class(年级, 科室), so
// only the records of one department are sorted at a time.
inline constexpr IndexDesc kSchemaIndexes[] = {
    {"use_username", "use", "username", true, 1, false},
    {"class_keshi", "class", "科室", true, 1, false},
    {"class_nianji", "class", "年级", false, 2, false},
    {"class_nianji_keshi", "class", "年级, 科室", false, 2, false},
    {"xj_menzhenhao", "xj", "门诊号", true, 1, false},
    {"xj_keshi", "xj", "科室", false, 1, true},
    {"xj_keshi_menzhenhao", "xj", "科室, 门诊号", false, 2, false},
    {"drugs_code", "drugs", "编码", true, 3, false},
    {"drugs_entry", "drugs", "表1名称", false, 3, false},
    {"xjrx_line", "xjrx", "门诊号, 行号", false, 3, false},
};
// CREATE TABLE `name` as `table` (IF NOT EXISTS), of the engine's `types` by ColumnKind.
QString createTable(const QString &table, const QString &name, bool ifAbsent, const char *const (&types)[kColumnKinds]);
// The indexes version `since` brought, made when absent (0: all, in a new database).
QString createIndexes(int since, bool server);

// The tables whose number of rows is kept as rows come and go (row_counts and
// its triggers), so that a grid of the whole table is counted at once.
inline const QStringList kCountedTables = {"xj"};

// The tables the audit trail records, the column naming a row, and the column
// whose values never reach the trail, only whether it changed ("" for none).
struct AuditedTable {
    const char *name;
    const char *key;
    const char *secret;
};
inline constexpr AuditedTable kAuditedTables[] = {{"xj", "门诊号", ""},
                                                  {"yc", "门诊号", ""},
                                                  {"class", "科室", ""},
                                                  {"use", "username", "password"},
                                                  {"xjrx", "门诊号", ""}};
// The trail's own columns, in order.
inline const QStringList kTrailColumns = {"序号", "时间", "用户", "操作", "表名", "记录", "改动", "校验值"};

// Why a database of a newer version is not used, in Chinese, naming both
// versions; `where` names the database ("数据库文件 …", "服务器上的澄衡数据库").
QString newerSchemaText(const QString &where, int version);

// Column names of the tables, in their stored order.
const QStringList &useColumns();
const QStringList &classColumns();
const QStringList &caseColumns();       // xj and yc: the twenty CaseRecord columns
const QStringList &catalogueColumns();  // 表1: the seventeen drug categories, menu order
const QStringList &drugColumns();       // drugs: a drug's facts, 编码 first
const QStringList &rxLineColumns();     // xjrx and ycrx: one line of a prescription
// The statement filling `table` (drugs, or the server's chengheng.drugs) with
// the built-in catalogue when it is empty; "" when the built-in file cannot
// be read (why says so).
QString drugSeedSql(const QString &table, QString *why);
}  // namespace xs
