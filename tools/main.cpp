// chengheng-db: creates and administers the database file xs.mdb from a shell.
#include "data/audit.h"
#include "data/fault.h"
#include "dbcommands.h"
#include "toolsupport.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <cstring>
#include <exception>
#include <memory>
#include <sys/stat.h>

namespace {

using Handler = int (*)(const QStringList &args);

struct Command {
    const char *name;   // the first word on the command line
    const char *usage;  // its usage lines, shown by --help
    Handler run;        // gets the words after the name, returns the exit code
    bool drawing;       // needs fonts and painting (a QGuiApplication, offscreen)
};

// The dispatch table. A new command is one more line here; its handler takes
// the words after the command name, prints its own messages and returns the
// exit code (0 success, 1 failure, 2 bad command line).
const Command kCommands[] = {
    {"init",
     "init PATH [--admin-name NAME] [--admin-password-file FILE|-]\n"
     "init PATH --demo [--records N]\n"
     "init --server CONNINFO [--room NAME] [--room-password-file FILE|-] [--admin-name NAME] "
     "[--admin-password-file FILE|-]",
     xs::tool::runInit, false},
    {"migrate", "migrate --from FILE --to CONNINFO [--room NAME] [--room-password-file FILE|-]", xs::tool::runMigrate,
     false},
    {"room",
     "room add NAME --server CONNINFO [--password-file FILE|-]\n"
     "room list --server CONNINFO\n"
     "room remove NAME --server CONNINFO",
     xs::tool::runRoom, false},
    {"upgrade", "upgrade --server CONNINFO", xs::tool::runUpgrade, false},
    {"user",
     "user add NAME [--password-file FILE|-] [--db PATH | --server CONNINFO]\n"
     "user grant NAME FLAG... [--db PATH | --server CONNINFO]\n"
     "user revoke NAME FLAG... [--db PATH | --server CONNINFO]\n"
     "user list [--db PATH | --server CONNINFO]\n"
     "user hash-passwords [--db PATH | --server CONNINFO]",
     xs::tool::runUser, false},
    {"catalogue",
     "catalogue export FILE.csv [--drugs] [--db PATH | --server CONNINFO]\n"
     "catalogue import FILE.csv [--db PATH | --server CONNINFO]",
     xs::tool::runCatalogue, false},
    {"backup", "backup [--db FILE | --server CONNINFO] DEST", xs::tool::runBackup, false},
    {"restore", "restore BACKUP [--db FILE]", xs::tool::runRestore, false},
    {"check", "check [--db FILE | --server CONNINFO]", xs::tool::runCheck, false},
    {"config", "config [backup.keep [N]] [--db FILE]", xs::tool::runConfig, false},
    {"audit",
     "audit verify [--anchor FILE] [--db FILE | --server CONNINFO]\n"
     "audit anchor [--out FILE] [--db FILE | --server CONNINFO]\n"
     "audit show [--record 门诊号] [--user NAME] [--since DATE] [--db FILE | --server CONNINFO]",
     xs::tool::runAudit, false},
    {"report",
     "report cases|departments|prescription --out FILE.pdf [--sql \"STATEMENT\"] [--db PATH | --server CONNINFO "
     "[--room NAME]]",
     xs::tool::runReport, true},
};

QString usage(const Command *only = nullptr)
{
    QStringList lines = {QStringLiteral("用法：")};
    for (const Command &c : kCommands)
        if (!only || only == &c)
            for (const QString &l : QString::fromUtf8(c.usage).split(u'\n'))
                lines << QStringLiteral("  chengheng-db ") + l;
    if (!only)
        lines << QStringLiteral("  chengheng-db -h | --help（放在命令后面：只列出该命令的用法）")
              << QStringLiteral("  chengheng-db -V | --version（放在命令行的任何位置：显示版本后退出）");
    lines << QString()
          << QStringLiteral("init 在新文件中建表，填入药品目录，并询问超级管理员的用户名和密码（或取自选项）；")
          << QStringLiteral("     --demo 另加演示科室、病例档案和五个演示账户，不询问。已有的文件不会被改动。")
          << QStringLiteral(
                 "     --records N 生成 N 份病例档案代替内置的演示病例（10 万份起用 50 个年级的 2000 个科室）。")
          << QStringLiteral(
                 "密码不写在命令行上：--password-file、--admin-password-file 读文件的第一行，写 - 则从标准输入读；")
          << QStringLiteral("     不给时在终端上询问两次（不显示输入的内容）。")
          << QStringLiteral("FLAG：admin readonly qx1 qx2 qx3 qx4（权限标志，值为 y 时生效）")
          << QStringLiteral(
                 "catalogue export 导出药品菜单（表1 的十七个类别）；--drugs 导出完整的药品目录（编码、通用名、"
                 "剂型、规格、单位、单价、特殊管理……）。")
          << QStringLiteral(
                 "     catalogue import 按文件的表头导入其中一种；导入完整目录时，目录中出现的类别的菜单随之更新"
                 "（停用的药品不列出）。")
          << QStringLiteral(
                 "backup 在程序运行时也能备份，并检查副本；restore 先检查备份，原文件保留为 .before-restore；")
          << QStringLiteral("check 检查完整性、表和列、唯一键；config backup.keep N 设定保留的每日备份数（缺省 14）。")
          << QStringLiteral("user hash-passwords 把所有密码换成散列（Argon2id），此后新增的用户也只保存散列。")
          << QStringLiteral("audit verify 逐条重算审计记录的校验值，指出第一条被改动、插入或删除的记录；")
          << QStringLiteral("audit anchor 取审计锚点（最后一条的序号和校验值、时间、数据库），--out 写入文件；")
          << QStringLiteral("     把它存到别处，日后 audit verify --anchor 锚点文件 能查出审计记录被改写、截短或清空。")
          << QStringLiteral("     每日备份和 backup 在备份旁写同名的 .anchor 锚点。")
          << QStringLiteral("audit show 列出审计记录（谁在何时改了哪条记录的哪些内容），可按门诊号、用户和日期筛选。")
          << QStringLiteral("init --server 在 PostgreSQL 服务器上建表（CONNINFO 为 libpq 连接串或 "
                            "service=名称，密码取自 ~/.pgpass）；")
          << QStringLiteral("migrate 把数据库文件的每个表复制到空的服务器数据库并核对行数；--room 为诊室名（缺省 1，")
          << QStringLiteral(
                 "     不能为空，最长 48 字节，即 16 个汉字）；--room-password-file 给该诊室的服务器账户设密码。")
          << QStringLiteral(
                 "room add 建立诊室（处方工作表和登录账户 chengheng_room_诊室名）或给它设新密码；room remove "
                 "停用诊室，")
          << QStringLiteral("     它的记录留在服务器上；upgrade 把旧版本建立的服务器改为按诊室分设账户（一个事务）。")
          << QStringLiteral("     程序只以诊室账户连接服务器；这些命令由超级用户或 chengheng_admin 的成员运行。")
          << QStringLiteral("--server CONNINFO 代替 --db：命令作用于服务器上的澄衡数据库；服务器上的 backup 用 "
                            "pg_dump（自定义格式）。")
          << QStringLiteral("--db 缺省为 chengheng-db 所在文件夹中的 xs.mdb。");
    return lines.join(u'\n');
}

const Command *findCommand(const char *word)
{
    for (const Command &c : kCommands)
        if (std::strcmp(c.name, word) == 0)
            return &c;
    return nullptr;
}

bool isVersion(const char *a) { return std::strcmp(a, "-V") == 0 || std::strcmp(a, "--version") == 0; }

bool isHelp(const QString &a)
{
    return a == QLatin1String("--help") || a == QLatin1String("-h") || a == QLatin1String("help");
}

// The tool prints only its own messages: Qt's diagnostics (a missing
// XDG_RUNTIME_DIR for the offscreen drawing, font notes) say nothing the
// user of a command can act on.
void dropQtMessages(QtMsgType type, const QMessageLogContext &, const QString &)
{
    if (type == QtFatalMsg)
        xs::tool::error(xs::tool::ExitFailed, QStringLiteral("内部错误，命令中止"));
}

}  // namespace

int main(int argc, char **argv)
{
    // The version is answered wherever it stands among the options (after
    // "--" the words are a command's own), before anything is opened.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (isVersion(argv[i])) {
            std::puts("chengheng-db " XS_VERSION);
            return 0;
        }
    qInstallMessageHandler(dropQtMessages);
    // Files the tool makes (databases, backups, exports) are for the group of
    // the program's users, never for everyone.
    umask(007);
    // The tool's standard error is its user's screen: the engine's English
    // never goes there, every failure is told by the command in Chinese.
    xs::setEngineDetailLog(false);
    const Command *command = argc > 1 ? findCommand(argv[1]) : nullptr;
    std::unique_ptr<QCoreApplication> app;
    if (command && command->drawing) {
        // Drawing into a file needs no screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    const QStringList args = QCoreApplication::arguments().mid(1);
    // Changes the tool makes are recorded under the system account it runs as.
    xs::setAuditActor(xs::tool::systemAccount());

    if (args.isEmpty()) {
        return xs::tool::error(xs::tool::ExitUsage, QStringLiteral("缺少命令\n") + usage());
    }
    if (isHelp(args[0])) {
        xs::tool::out(usage());
        return xs::tool::ExitOk;
    }
    if (!command)
        return xs::tool::error(xs::tool::ExitUsage,
                               QStringLiteral("未知的命令 %1（chengheng-db --help 列出所有命令）").arg(args[0]));
    const QStringList rest = args.mid(1);
    const qsizetype end = rest.indexOf(QStringLiteral("--"));
    for (const QString &a : end < 0 ? rest : rest.first(end))
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            xs::tool::out(usage(command));
            return xs::tool::ExitOk;
        }
    try {
        return command->run(rest);
    } catch (const xs::DbError &e) {
        return xs::tool::error(xs::tool::ExitFailed, e.message());
    } catch (const std::exception &e) {
        return xs::tool::error(xs::tool::ExitFailed, QString::fromLocal8Bit(e.what()));
    }
}
