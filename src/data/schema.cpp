#include "data/schema.h"

#include "data/sqlite/sqlite.h"

namespace xs {

const QStringList &useColumns()
{
    static const QStringList c = {"username", "password", "admin", "readonly", "qx1", "qx2", "qx3", "qx4"};
    return c;
}

const QStringList &classColumns()
{
    static const QStringList c = {"年级", "科室", "诊室", "年制", "专业", "医生", "备注"};
    return c;
}

const QStringList &caseColumns()
{
    static const QStringList c = {"门诊号",   "姓名",     "性别", "科室",     "出生年月", "家庭住址", "邮政编码",
                                  "联系电话", "入诊时间", "备注", "婚否",     "体格检查", "既往病史", "症状",
                                  "诊断",     "药名",     "药量", "医生签字", "年龄",     "身份证"};
    return c;
}

const QStringList &catalogueColumns()
{
    static const QStringList c = {"输液",     "抗生素",   "心血管",     "呼吸",     "消化",    "神经",
                                  "内分泌",   "解热阵痛", "维生素激素", "外用",     "中成药",  "其他",
                                  "收费项目", "用法",     "中药",       "中药方剂", "个人定制"};
    return c;
}

static QString caseTable(const char *name)
{
    QStringList cols;
    for (const QString &c : caseColumns()) {
        const bool date = c == QStringLiteral("出生年月") || c == QStringLiteral("入诊时间");
        cols << c + (date ? QStringLiteral(" DATE") : QStringLiteral(" TEXT COLLATE NOCASE"));
    }
    return QStringLiteral("CREATE TABLE %1(%2);").arg(QLatin1String(name), cols.join(QLatin1Char(',')));
}

bool createSchema(const Connection &c)
{
    QStringList cat;
    for (const QString &col : catalogueColumns())
        cat << col + QStringLiteral(" TEXT");
    QStringList cls;
    for (const QString &col : classColumns())
        cls << col + QStringLiteral(" TEXT COLLATE NOCASE");
    const QString ddl =
        QStringLiteral("PRAGMA journal_mode=WAL;PRAGMA application_id=%1;BEGIN;").arg(kApplicationId)
        + QStringLiteral("CREATE TABLE use(username TEXT COLLATE NOCASE, password TEXT COLLATE NOCASE,"
                         " admin TEXT, readonly TEXT, qx1 TEXT, qx2 TEXT, qx3 TEXT, qx4 TEXT);"
                         "CREATE UNIQUE INDEX use_username ON use(username);")
        + QStringLiteral("CREATE TABLE class(%1);CREATE UNIQUE INDEX class_keshi ON class(科室);"
                         "CREATE INDEX class_nianji ON class(年级);"
                         "CREATE INDEX class_nianji_keshi ON class(年级, 科室);")
              .arg(cls.join(QLatin1Char(',')))
        + caseTable("xj") + QStringLiteral("CREATE UNIQUE INDEX xj_menzhenhao ON xj(门诊号);")
        + QStringLiteral("CREATE INDEX xj_keshi ON xj(科室);CREATE INDEX xj_keshi_menzhenhao ON xj(科室, 门诊号);")
        + caseTable("yc") + QStringLiteral("CREATE TABLE 表1(%1);COMMIT;").arg(cat.join(QLatin1Char(',')));
    if (!c.exec(ddl)) {
        c.exec("ROLLBACK");
        return false;
    }
    return true;
}

}  // namespace xs
