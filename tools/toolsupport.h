#pragma once
// Plumbing shared by the commands of chengheng-db: messages, exit codes,
// argument parsing and questions on the terminal.
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

namespace xs {
class Connection;
}

namespace xs::tool {

enum ExitCode : int {
    ExitOk = 0,
    ExitFailed = 1,  // the command could not be carried out (missing file, unknown user...)
    ExitUsage = 2,   // the command line itself is wrong
};

// "chengheng-db: TEXT" on stderr; returns `code` so that a handler can write
// `return error(ExitFailed, ...)`.
// Both show control characters of the text (other than line breaks) as
// escapes such as "\x00", so bad input cannot reach the terminal raw.
int error(int code, const QString &text);
void out(const QString &text);  // one line on stdout
QString escapeControls(const QString &text);

// Options of one command: those that take a value (`--db PATH` or `--db=PATH`)
// and switches (`--demo`). Anything else starting with "-" is refused; "--"
// ends the options. A refusal goes to `why`, or without it on stderr (then
// the command ends with ExitUsage).
struct Options {
    QStringList positional;
    QHash<QString, QString> values;
    QStringList switches;
    bool has(const QString &name) const { return values.contains(name) || switches.contains(name); }
    QString value(const QString &name) const { return values.value(name); }
};
bool parseOptions(const QStringList &args, const QStringList &valueOptions, const QStringList &switchOptions,
                  Options *opts, QString *why = nullptr);

// The database a command works on: --db, else xs.mdb in the tool's folder.
QString databasePath(const Options &opts);
// Opens an existing database file and makes sure it has the audit trail; on
// failure says why on stderr and gives nothing.
std::optional<Connection> openDatabase(const QString &path);

// The database a command works on, chosen once from its options: --db PATH
// (or the default file) becomes a file engine on that file, --server CONNINFO
// a server engine; the commands then run the same code on either. Only what
// is truly an engine's own (its backup, its checks) asks which one it is.
struct Target {
    bool server = false;
    QString name;  // the file's path, or the connection text
};
// The target the options name (nothing, after a usage message, when they
// name both), not opened: for the commands that work on the file itself.
std::optional<Target> chooseTarget(const Options &o, int *code);
enum class Repair { Trail, None };
// Opens the database the options name and makes it the engine of this
// process (a file of an older version gets its audit trail first, unless
// `repair` is None: reading only). Nothing after a message, with `code` the
// exit code (--db and --server together are a usage error). On the server
// the tables of `room` come first, as that room's program has them.
std::optional<Target> openTarget(const Options &o, int *code, Repair repair = Repair::Trail,
                                 const QString &room = QStringLiteral("1"));

// Asks on stderr and reads one line from stdin (without its line break).
// With `secret` on a terminal, the typed text is not echoed. Nothing at the
// end of input.
std::optional<QString> ask(const QString &prompt, bool secret);
bool stdinIsTerminal();

// A password for a command, never from its command line: from the file named
// by `fileOption` (its first line; "-" for standard input), else asked on the
// terminal (twice, not echoed) or read from standard input when that is no
// terminal. Trimmed; nothing (after a message) when it is missing, empty or
// the two entries differ.
std::optional<QString> obtainPassword(const Options &opts, const QString &fileOption, const QString &prompt);
// The refusal of a password written on the command line (`option`), naming
// the safe forms (`fileOption` with a file or "-", or the prompt); ExitUsage.
int refusePasswordOption(const QString &option, const QString &fileOption);
// A server connection text given as `option` that holds a password (in any
// form libpq reads) is refused with a message naming ~/.pgpass; false then.
bool conninfoWithoutPassword(const QString &conninfo, const QString &option);

// Columns of text aligned for a terminal (CJK characters are two cells wide).
QString formatTable(const QList<QStringList> &rows);

}  // namespace xs::tool
