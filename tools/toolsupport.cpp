#include "toolsupport.h"

#include <QCommandLineParser>

#include "data/audit.h"
#include "data/engine.h"
#include "data/pg/pgconninfo.h"
#include "data/pg/pgsql.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "data/sqlite/sqliteengine.h"
#include "dbcommands.h"

#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace xs::tool {

QString escapeControls(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        // Line breaks belong to the messages themselves; every other control
        // character (and the bidirectional overrides that reorder a terminal
        // line) is shown as its code, never sent to the terminal.
        const bool control = (c < 0x20 && c != u'\n') || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E)
                             || (c >= 0x2066 && c <= 0x2069) || c == 0x2028 || c == 0x2029;
        if (!control)
            shown += ch;
        else if (c < 0x100)
            shown += QStringLiteral("\\x%1").arg(unsigned(c), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u%1").arg(unsigned(c), 4, 16, QLatin1Char('0'));
    }
    return shown;
}

int error(int code, const QString &text)
{
    const QByteArray line = (QStringLiteral("chengheng-db: ") + escapeControls(text) + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
    return code;
}

void out(const QString &text)
{
    const QByteArray line = (escapeControls(text) + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

bool parseOptions(const QStringList &args, const QStringList &valueOptions, const QStringList &switchOptions,
                  Options *opts, QString *why)
{
    const auto refuse = [why](const QString &text) {
        if (why)
            *why = text;
        else
            error(ExitUsage, text);
        return false;
    };
    // QCommandLineParser does the parsing ("--db PATH", "--db=PATH", "--"
    // ending the options); its English complaints are replaced by our own.
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    auto bare = [](const QString &name) {
        return QString(name).remove(0, name.startsWith(QLatin1String("--")) ? 2 : 1);
    };
    for (const QString &name : valueOptions)
        parser.addOption(QCommandLineOption(bare(name), QString(), QStringLiteral("value")));
    for (const QString &name : switchOptions)
        parser.addOption(QCommandLineOption(bare(name)));
    // The parser takes the program name from the first word.
    if (!parser.parse(QStringList{QStringLiteral("chengheng-db")} + args)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty()) {
            const QString &u = unknown.first();
            return refuse(QStringLiteral("未知的选项 %1")
                              .arg(u.size() == 1 ? QStringLiteral("-") + u : QStringLiteral("--") + u));
        }
        // The other complaint of the parser: a value option at the end.
        for (const QString &name : valueOptions)
            if (args.contains(name))
                return refuse(QStringLiteral("选项 %1 后面缺少值").arg(name));
        return refuse(QStringLiteral("命令行无法解析"));
    }
    Options o;
    o.positional = parser.positionalArguments();
    for (const QString &name : valueOptions) {
        const QStringList given = parser.values(bare(name));
        if (given.size() > 1)
            return refuse(QStringLiteral("选项 %1 给了不止一次").arg(name));
        if (!given.isEmpty())
            o.values.insert(name, given.first());
    }
    for (const QString &name : switchOptions) {
        if (parser.optionNames().count(bare(name)) > 1)
            return refuse(QStringLiteral("选项 %1 给了不止一次").arg(name));
        if (parser.isSet(bare(name)))
            o.switches << name;
    }
    *opts = std::move(o);
    return true;
}

QString databasePath(const Options &opts)
{
    return opts.values.contains(QStringLiteral("--db")) ? opts.value(QStringLiteral("--db")) : xs::dbPath();
}

std::optional<Connection> openDatabase(const QString &path)
{
    // Opening never creates a file; a missing one is reported, not made.
    try {
        Connection c = Connection::open(path);
        // An older file is brought up to this version (trail too) before any change.
        QString why;
        if (const SchemaOutcome schema = migrateFile(c, &why); schema != SchemaOutcome::Current) {
            error(ExitFailed, schema == SchemaOutcome::Newer
                                  ? why
                                  : QStringLiteral("无法在 %1 中建立审计记录，命令没有执行：%2").arg(path, why));
            return std::nullopt;
        }
        return c;
    } catch (const DbError &e) {
        error(ExitFailed, e.message());
        return std::nullopt;
    }
}

std::optional<Target> chooseTarget(const Options &o, int *code)
{
    if (!o.has(QStringLiteral("--server")))
        return Target{false, databasePath(o)};
    if (o.has(QStringLiteral("--db"))) {
        *code = error(ExitUsage, QStringLiteral("--db 和 --server 只能给一个：一个命令只处理一个数据库"));
        return std::nullopt;
    }
    return Target{true, o.value(QStringLiteral("--server"))};
}

std::optional<Target> openTarget(const Options &o, int *code, Repair repair, const QString &room)
{
    std::optional<Target> t = chooseTarget(o, code);
    if (!t)
        return std::nullopt;
    *code = ExitFailed;
    if (t->server) {
        if (!connectServer(t->name))
            return std::nullopt;
        useServer(t->name, room);
        return t;
    }
    try {
        // The engine opens the file for each statement: one that cannot be
        // opened is told now, as such.
        if (repair == Repair::Trail ? !openDatabase(t->name) : !Connection::open(t->name).get())
            return std::nullopt;
        setEngine(makeFileEngine(t->name));
    } catch (const DbError &e) {
        error(ExitFailed, e.message());
        return std::nullopt;
    }
    return t;
}

bool stdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

namespace {
termios g_savedTerminal;
volatile std::sig_atomic_t g_echoOff = 0;

// Ctrl-C while the echo is off must not leave the terminal without echo.
extern "C" void restoreEchoAndDie(int sig)
{
    if (g_echoOff)
        tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
}  // namespace

std::optional<QString> ask(const QString &prompt, bool secret)
{
    const QByteArray p = prompt.toUtf8();
    std::fwrite(p.constData(), 1, size_t(p.size()), stderr);
    std::fflush(stderr);

    const bool hide = secret && stdinIsTerminal() && tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0;
    using Handler = void (*)(int);
    Handler oldInt = SIG_DFL, oldTerm = SIG_DFL;
    if (hide) {
        termios quiet = g_savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        oldInt = std::signal(SIGINT, restoreEchoAndDie);
        oldTerm = std::signal(SIGTERM, restoreEchoAndDie);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        g_echoOff = 1;
    }
    std::string line;
    const bool got = bool(std::getline(std::cin, line));
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedTerminal);
        g_echoOff = 0;
        std::signal(SIGINT, oldInt);
        std::signal(SIGTERM, oldTerm);
        std::fputs("\n", stderr);  // the user's Enter was not echoed either
    }
    if (!got)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromUtf8(line.data(), qsizetype(line.size()));
}

int refusePasswordOption(const QString &option, const QString &fileOption)
{
    return error(ExitUsage, QStringLiteral("密码不能写在命令行上（同一台机器上的其他用户用 ps 就能看到）。请去掉 %1，"
                                           "改用 %2 文件（文件的第一行是密码）或 %2 -（从标准输入读取），"
                                           "或者不加这些选项，在终端上按提示输入（输入的内容不显示）。")
                                .arg(option, fileOption));
}

bool conninfoWithoutPassword(const QString &conninfo, const QString &option)
{
    if (checkConninfo(conninfo) != ConninfoVerdict::HoldsPassword)
        return true;
    error(ExitUsage, QStringLiteral("%1 的连接串中写有密码，而命令行上的密码别人用 ps 就能看到。请删去它，"
                                    "改放在 ~/.pgpass（权限 0600）或服务文件 pg_service.conf 中。")
                         .arg(option));
    return false;
}

namespace {
// The first line of a password file, without its line break; nothing after
// a message when the file cannot be read.
std::optional<QString> firstLineOf(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error(ExitFailed, QStringLiteral("无法读取密码文件 %1：文件不存在或没有读权限").arg(path));
        return std::nullopt;
    }
    QByteArray line = f.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}
}  // namespace

std::optional<QString> obtainPassword(const Options &opts, const QString &fileOption, const QString &prompt)
{
    QString password;
    if (opts.has(fileOption)) {
        const QString file = opts.value(fileOption);
        std::optional<QString> read;
        if (file == QLatin1String("-")) {
            read = ask(QString(), true);
            if (!read)
                error(ExitFailed, QStringLiteral("没有从标准输入读到密码"));
        } else {
            read = firstLineOf(file);
        }
        if (!read)
            return std::nullopt;
        password = *read;
    } else {
        const std::optional<QString> first = ask(prompt, true);
        if (!first) {
            error(ExitFailed, QStringLiteral("没有读到密码"));
            return std::nullopt;
        }
        if (stdinIsTerminal()) {
            const std::optional<QString> again = ask(QStringLiteral("再输入一次密码："), true);
            if (!again || again->trimmed() != first->trimmed()) {
                error(ExitFailed, QStringLiteral("两次输入的密码不一致"));
                return std::nullopt;
            }
        }
        password = *first;
    }
    password = password.trimmed();
    if (password.isEmpty()) {
        error(ExitFailed, QStringLiteral("密码不能为空"));
        return std::nullopt;
    }
    return password;
}

static int cellWidth(const QString &s)
{
    int w = 0;
    for (const char32_t c : s.toUcs4()) {
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3)
                          || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
                          || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6)
                          || (c >= 0x20000 && c <= 0x3FFFD);
        w += wide ? 2 : 1;
    }
    return w;
}

QString formatTable(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &r : rows)
        for (qsizetype i = 0; i < r.size(); ++i) {
            if (widths.size() <= i)
                widths << 0;
            widths[i] = std::max(widths[i], cellWidth(r[i]));
        }
    QStringList lines;
    for (const QStringList &r : rows) {
        QString line;
        for (qsizetype i = 0; i < r.size(); ++i) {
            line += r[i];
            if (i + 1 < r.size())
                line += QString(widths[i] - cellWidth(r[i]) + 2, u' ');
        }
        lines << line;
    }
    return lines.join(u'\n');
}

}  // namespace xs::tool
