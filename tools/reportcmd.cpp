#include "reportcmd.h"

#include "cases/DataReportclass.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/sqlite.h"
#include "data/sqlite/sqliteengine.h"
#include "data/sqltext.h"
#include "dbcommands.h"
#include "dept/DataReportclass2.h"
#include "prescribe/DataReport1.h"
#include "report/dataenv.h"
#include "report/report.h"
#include "report/reportdocument.h"
#include "toolsupport.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>
#include <memory>

namespace xs {

QString reportUsage()
{
    return QStringLiteral("用法: chengheng-db report cases|departments|prescription --out FILE.pdf "
                          "[--sql \"STATEMENT\"] [--timeout SECONDS] [--db PATH | --server CONNINFO [--room NAME]]");
}

int reportCommand(const QStringList &args)
{
    QTextStream out(stdout);
    auto usage = [&](const QString &why) {
        tool::error(tool::ExitUsage, why);
        QTextStream(stderr) << reportUsage() << '\n';
        return int(tool::ExitUsage);
    };

    tool::Options opts;
    QString why;
    if (!tool::parseOptions(args,
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
    QString dbFile = opts.value(QStringLiteral("--db"));
    auto fail = [](int code, const QString &text) { return tool::error(code, text); };

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
    if (dbFile.isEmpty())
        dbFile = dbPath();

    // Fonts and PDF output need a GUI application object; the offscreen
    // platform needs no display.
    std::unique_ptr<QGuiApplication> app;
    if (!QCoreApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "chengheng-db";
        static char *argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        return fail(1, QStringLiteral("report 需要图形应用对象（请在创建 QCoreApplication 之前调用）。"));
    }

    int code = 0;
    const std::optional<tool::Target> target = tool::chooseTarget(opts, &code);
    if (!target)
        return code;
    if (target->server) {
        // The report reads the shared tables and the room's own work table.
        const QString &conninfo = target->name;
        const QString room =
            opts.has(QStringLiteral("--room")) ? opts.value(QStringLiteral("--room")).trimmed() : QStringLiteral("1");
        if (const QString problem = roomNameProblem(room); !problem.isEmpty())
            return usage(QStringLiteral("--room：") + problem);
        if (!tool::connectServer(conninfo))
            return 1;
        useServer(conninfo, room);
    } else {
        if (opts.has(QStringLiteral("--room")))
            return usage(QStringLiteral("--room 只能与 --server 同用。"));
        // A file that cannot be opened is told as such, not as a failed statement.
        try {
            Connection::open(dbFile);
        } catch (const DbError &e) {
            return fail(1, e.message());
        }
        setEngine(makeFileEngine(dbFile));
    }
    auto rows = ReportRows::open(*sql, layout->boundColumns(), &why);
    if (!rows)
        return fail(1, QStringLiteral("语句执行失败：%1（%2）").arg(why, *sql));
    auto doc = std::make_unique<ReportDocument>(*layout, std::move(rows));
    if (!doc->exportPdf(outPath, &why))
        return fail(1, why);
    if (doc->isEmpty())
        fail(0, QStringLiteral("没有可打印的记录：只写入了报表头和页脚。"));
    out << QStringLiteral("%1：%2 条记录，%3 页 -> %4\n")
               .arg(layout->name)
               .arg(doc->rowCount())
               .arg(doc->pageCount())
               .arg(QFileInfo(outPath).absoluteFilePath());
    return 0;
}

}  // namespace xs
