#pragma once
#include <QStringList>

namespace xs {

// The database tool's "report" command: renders one of the three reports to a
// PDF file without opening a window.
//
//   chengheng-db report cases|departments|prescription --out FILE.pdf
//                       [--sql "STATEMENT"] [--db PATH]
//
// `args` are the words after "report". The report reads the rows of its own
// command (Command1, Command2, Command3 of the data environment) or of
// --sql, from the application's xs.mdb or the file --db names. It creates
// its own (offscreen) application object when none exists; call it before
// creating a QCoreApplication. Returns the exit code: 0 written (an empty
// result still gives its one page, with a note on stderr), 1 the database,
// the statement or the output file failed, 2 the command line is wrong.
int reportCommand(const QStringList &args);

// The usage lines of the command, for the tool's help text.
QString reportUsage();

}  // namespace xs
