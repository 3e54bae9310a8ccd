#include "data/schema.h"

#include "data/builtin.h"
#include "data/caserecord.h"

namespace xs {

const QStringList &tableColumns(const QString &table)
{
    if (table == QLatin1String("use"))
        return useColumns();
    if (table == QLatin1String("class"))
        return classColumns();
    if (table == QLatin1String("drugs"))
        return drugColumns();
    if (table == QLatin1String("xjrx") || table == QLatin1String("ycrx"))
        return rxLineColumns();
    return table == QStringLiteral("表1") ? catalogueColumns() : caseColumns();
}

ColumnKind columnKind(const QString &table, int column)
{
    if (table == QLatin1String("use"))
        return column == 0 ? ColumnKind::Name : column == 1 ? ColumnKind::Password : ColumnKind::Text;
    if (table == QLatin1String("xjrx") || table == QLatin1String("ycrx"))
        return column == 0 ? ColumnKind::Name : column == 1 ? ColumnKind::Integer : ColumnKind::Text;
    if (table == QLatin1String("xj") || table == QLatin1String("yc"))
        return column == kBirthColumn || column == kVisitColumn ? ColumnKind::Date : ColumnKind::Name;
    return table == QLatin1String("class") ? ColumnKind::Name : ColumnKind::Text;
}

QString createTable(const QString &table, const QString &name, bool ifAbsent, const char *const (&types)[kColumnKinds])
{
    QStringList cols;
    for (int i = 0; i < tableColumns(table).size(); ++i)
        cols << tableColumns(table)[i] + QLatin1Char(' ') + QString::fromLatin1(types[int(columnKind(table, i))]);
    return QStringLiteral("CREATE TABLE %1%2(%3);")
        .arg(ifAbsent ? QStringLiteral("IF NOT EXISTS ") : QString(), name, cols.join(QLatin1Char(',')));
}

QString createIndexes(int since, bool server)
{
    QString ddl;
    for (const IndexDesc &i : kSchemaIndexes)
        if ((since == 0 || i.since == since) && !(server && i.fileOnly))
            ddl += QStringLiteral("CREATE %1INDEX %2%3 ON %4%5(%6);")
                       .arg(i.unique ? QStringLiteral("UNIQUE ") : QString(),
                            since ? QStringLiteral("IF NOT EXISTS ") : QString(), QString::fromUtf8(i.name),
                            server ? QStringLiteral("chengheng.") : QString(), QString::fromUtf8(i.table),
                            QString::fromUtf8(i.columns));
    return ddl;
}

QString newerSchemaText(const QString &where, int version)
{
    return QStringLiteral("%1由较新版本的澄衡建立（数据库结构版本 %2），本程序只认识到版本 %3，没有使用也没有改动它。"
                          "请改用新版本的程序。")
        .arg(where, QString::number(version), QString::number(kSchemaVersion));
}

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

const QStringList &drugColumns()
{
    static const QStringList c = {"编码",     "表1名称",  "类别",     "通用名", "剂型",         "规格",
                                  "单位",     "单价",     "特殊管理", "皮试",   "抗菌药物级别", "过敏类别",
                                  "单次剂量", "剂量单位", "用法",     "频次",   "停用"};
    return c;
}

const QStringList &rxLineColumns()
{
    // What the sheet prints of the drug is kept with the line, so that an
    // archived prescription stays as it was printed when the catalogue changes.
    static const QStringList c = {"门诊号", "行号", "编码",     "药品",     "类别", "通用名", "剂型", "规格",    "数量",
                                  "单位",   "单价", "单次剂量", "剂量单位", "用法", "频次",   "天数", "超量理由"};
    return c;
}

QString drugSeedSql(const QString &table, QString *why)
{
    std::vector<CsvRecord> rows;
    if (!readBuiltinTable(QStringLiteral(":/seed/drugs.csv"), drugColumns(), &rows, why))
        return {};
    QStringList values;
    for (const CsvRecord &row : rows) {
        QStringList cells;
        for (const CsvCell &cell : row)
            cells << (cell ? QLatin1Char('\'') + QString(*cell).replace(QLatin1Char('\''), QStringLiteral("''"))
                                 + QLatin1Char('\'')
                           : QStringLiteral("NULL"));
        values << QLatin1Char('(') + cells.join(QLatin1Char(',')) + QLatin1Char(')');
    }
    // Only into an empty table: a clinic's own catalogue is never replaced.
    return QStringLiteral("INSERT INTO %1(%2) SELECT * FROM (VALUES %3) AS v WHERE NOT EXISTS (SELECT 1 FROM %1);")
        .arg(table, drugColumns().join(QLatin1Char(',')), values.join(QLatin1Char(',')));
}

}  // namespace xs
