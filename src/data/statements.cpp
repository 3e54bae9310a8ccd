#include "data/statements.h"

namespace xs {

bool eachRow(const QString &sql, const Params &params, const std::function<bool(const Cells &)> &row, QString *why)
{
    SqlOutcome out;
    const std::unique_ptr<Rows> rows = engine().exec(sql, params, out);
    if (!out.ok || !rows)
        return falseWith(why, out.error);
    Cells cells;
    while (rows->next()) {
        cells.clear();
        for (int c = 0; c < rows->columns(); ++c)
            cells << (rows->isNull(c) ? std::nullopt : std::optional<QString>(rows->text(c)));
        if (!row(cells))
            return true;
    }
    return rows->fault() == DbFault::None || falseWith(why, rows->error());
}

bool runStatement(const QString &sql, const Params &params, QString *why, int *changes, DbFault *fault)
{
    SqlOutcome out;
    engine().exec(sql, params, out);
    if (changes)
        *changes = out.changes;
    if (fault)
        *fault = out.fault;
    return out.ok || falseWith(why, out.error);
}

bool inTransaction(QString *why, const std::function<bool(QString *why)> &work)
{
    QString text;
    if (!engine().begin(&text))
        return falseWith(why, text);
    if (!work(&text)) {
        engine().rollback();
        return falseWith(why, text);
    }
    if (!engine().commit()) {
        engine().rollback();
        return falseWith(why, QStringLiteral("提交失败，没有改动"));
    }
    return true;
}

}  // namespace xs
