#include "data/sqlite/demodata.h"

#include "data/builtin.h"
#include "data/schema.h"
#include "data/sqlite/bulkwrite.h"

namespace xs {

bool seedDemoRecords(const Connection &c, QString *error)
{
    std::vector<CsvRecord> departments, cases;
    if (!readBuiltinTable(QStringLiteral(":/seed/departments.csv"), classColumns(), &departments, error)
        || !readBuiltinTable(QStringLiteral(":/seed/cases.csv"), caseColumns(), &cases, error))
        return false;
    return atomically(c, error, [&](QString *why) {
        return insertRows(c, QStringLiteral("class"), classColumns(), departments, why)
               && insertRows(c, QStringLiteral("xj"), caseColumns(), cases, why);
    });
}

bool seedDemoDepartments(const Connection &c, QString *error)
{
    std::vector<CsvRecord> departments;
    if (!readBuiltinTable(QStringLiteral(":/seed/departments.csv"), classColumns(), &departments, error))
        return false;
    return atomically(c, error, [&](QString *why) {
        return insertRows(c, QStringLiteral("class"), classColumns(), departments, why);
    });
}

}  // namespace xs
