#include "data/rights.h"

#include "data/globals.h"
#include "data/recordset.h"
#include "data/sqltext.h"

namespace xs {

static bool firstFieldIsY(const RecordsetPtr &rs) { return rs && !rs->atEOF() && rs->text(0) == QLatin1String("y"); }

RightLookup lookupRight(int code)
{
    const QString who = QLatin1Char('\'') + q(CurrentUser) + QLatin1Char('\'');
    RightLookup out;
    SqlOutcome o;
    auto failed = [&] {
        out.failed = true;
        out.fault = o.fault;
        out.error = o.error;
        return out;  // empty result
    };
    RecordsetPtr rs = runsql(QStringLiteral("select admin from use where username=") + who, &o);
    if (!rs)
        return failed();
    if (rs->atEOF()) {
        out.result = QStringLiteral("nothing");
        out.vanished = true;
        return out;
    }
    if (firstFieldIsY(rs)) {
        out.result = QStringLiteral("admin");
        return out;
    }
    rs = runsql(QStringLiteral("select readonly from use where username=") + who, &o);
    if (!rs)
        return failed();
    if (firstFieldIsY(rs)) {
        out.result = QStringLiteral("readonly");
        return out;
    }
    if (code < 1 || code > 4) {
        out.result = QStringLiteral("false");
        return out;
    }
    rs = runsql(QStringLiteral("select qx%1 from use where username=").arg(code) + who, &o);
    if (!rs)
        return failed();
    if (rs->atEOF())
        return out;
    out.result = firstFieldIsY(rs) ? QStringLiteral("true") : QStringLiteral("false");
    return out;
}

bool gatePasses(Gate g, const QString &r)
{
    if (r.isEmpty() || r == QLatin1String("nothing"))
        return false;
    switch (g) {
    case Gate::View:
        return r != QLatin1String("false");
    case Gate::Change:
        return r != QLatin1String("readonly") && r != QLatin1String("false");
    case Gate::EditButton:
        return r != QLatin1String("readonly");
    case Gate::Prescribing:
        return r == QLatin1String("admin") || r == QLatin1String("readonly");
    }
    return false;
}

}  // namespace xs
