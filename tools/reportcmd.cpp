#include "cases/DataReportclass.h"
#include "data/pg/pgschema.h"
#include "data/sqltext.h"
#include "dbcommands.h"
#include "dept/DataReportclass2.h"
#include "prescribe/DataReport1.h"
#include "report/dataenv.h"
#include "report/report.h"
#include "report/reportdocument.h"
#include "toolsupport.h"

#include <QFileInfo>
#include <QTextStream>

namespace xs::tool {

namespace {
const QString kReportUsage =
    QStringLiteral("用法: chengheng-db report cases|departments|prescription --out FILE.pdf "
                   "[--sql \"STATEMENT\"] [--timeout SECONDS] [--db PATH | --server CONNINFO [--room NAME]]");
}  // namespace

int runReport(const QStringList &args)
{
    QTextStream out(stdout);
    auto usage = [&](const QString &why) {
        error(ExitUsage, why);
        QTextStream(stderr) << kReportUsage << '\n';
        return int(ExitUsage);
    };

    Options opts;
    QString why;
    if (!parseOptions(args,
                      {QStringLiteral("--out"), QStringLiteral("--db"), QStringLiteral("--sql"),
                       QStringLiteral("--server"), QStringLiteral("--room"), QStringLiteral("--timeout")},
                      {}, &opts, &why))
        return usage(why);
    if (opts.positional.size() > 1)
        return usage(QStringLiteral("多余的参数：%1").arg(opts.positional[1]));
    const QString kind = opts.positional.value(0);
    const QString outPath = opts.value(QStringLiteral("--out"));
    if (kind.isEmpty())
        return usage(QStringLiteral("缺少报表名（cases、departments 或 prescription）。"));
    if (outPath.isEmpty())
        return usage(QStringLiteral("缺少 --out FILE.pdf。"));
    std::optional<QString> sql;
    if (opts.values.contains(QStringLiteral("--sql")))
        sql = opts.value(QStringLiteral("--sql"));

    const ReportLayout *layout = nullptr;
    const DataCommand *command = nullptr;
    if (kind == QLatin1String("cases")) {
        layout = &DataReportclass::layout();
        command = &DataEnv1.Command1;
    } else if (kind == QLatin1String("departments")) {
        layout = &DataReportclass2::layout();
        command = &DataEnv1.Command2;
    } else if (kind == QLatin1String("prescription")) {
        layout = &DataReport1::layout();
        command = &DataEnv1.Command3;
    } else {
        return usage(QStringLiteral("未知报表：%1（可用 cases、departments、prescription）").arg(kind));
    }
    if (!sql)
        sql = command->CommandText;
    // A report reads one query; a second statement after it is never run.
    if (severalStatements(*sql))
        return usage(
            QStringLiteral("--sql 只能是一条查询语句，其中却有用分号隔开的多条语句。请只留下一条 select 语句。"));
    // The reading stops after this long (30 s unless given), whatever the statement.
    if (opts.has(QStringLiteral("--timeout"))) {
        bool number = false;
        const int seconds = opts.value(QStringLiteral("--timeout")).toInt(&number);
        if (!number || seconds < 1 || seconds > 86400)
            return usage(QStringLiteral("--timeout 后面要跟读取的时限，1 到 86400 之间的秒数。"));
        setReadingTimeoutMs(seconds * 1000);
    }
    // An empty --db names the application's file, as no --db does.
    if (opts.value(QStringLiteral("--db")).isEmpty())
        opts.values.remove(QStringLiteral("--db"));
    int code = 0;
    const std::optional<Target> target = chooseTarget(opts, &code);
    if (!target)
        return code;
    // The report reads the shared tables and the room's own work table.
    const QString room =
        opts.has(QStringLiteral("--room")) ? opts.value(QStringLiteral("--room")).trimmed() : QStringLiteral("1");
    if (!target->server && opts.has(QStringLiteral("--room")))
        return usage(QStringLiteral("--room 只能与 --server 同用。"));
    if (const QString problem = roomNameProblem(room); target->server && !problem.isEmpty())
        return usage(QStringLiteral("--room：") + problem);
    // The file is only read: an older one gets no trail here.
    if (!openTarget(opts, &code, Repair::None, room))
        return code;
    auto rows = ReportRows::open(*sql, layout->boundColumns(), &why);
    if (!rows)
        return error(1, QStringLiteral("语句执行失败：%1（%2）").arg(why, *sql));
    auto doc = std::make_unique<ReportDocument>(*layout, std::move(rows));
    if (!doc->exportPdf(outPath, &why))
        return error(1, why);
    if (doc->isEmpty())
        error(0, QStringLiteral("没有可打印的记录：只写入了报表头和页脚。"));
    out << QStringLiteral("%1：%2 条记录，%3 页 -> %4\n")
               .arg(layout->name)
               .arg(doc->rowCount())
               .arg(doc->pageCount())
               .arg(QFileInfo(outPath).absoluteFilePath());
    return 0;
}

}  // namespace xs::tool
