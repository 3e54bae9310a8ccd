#pragma once
#include <QString>
#include <optional>

// The windows write SQL in the old desktop-database dialect; this turns it into
// SQLite's. One tokenizer that never looks inside quoted strings:
//   #date#          -> 'YYYY-MM-DD' (an unreadable date makes the statement fail)
//   delete * from   -> delete from
//   a bare name     -> select * from name
// Everything else passes through unchanged.
namespace xs {
// The file's engine (SQLite) or the shared server (PostgreSQL), whose form
// differs: #date# -> DATE 'YYYY-MM-DD', [name] -> "name", and a text in
// double quotes -> a single-quoted string literal.
enum class SqlDialect { File, Server };
std::optional<QString> translateSql(const QString &sql, SqlDialect dialect = SqlDialect::File);

// Doubles single quotes so that a typed value pasted between quotes stays one
// string literal: "O'Brien" -> "O''Brien".
QString q(const QString &value);

// The key word that decides how a statement is run: the text before the first
// space, upper-cased.
QString firstWord(const QString &sql);
bool isActionStatement(const QString &sql);

// Whether the text holds more than one statement: a ';' outside quotes,
// comments and dollar-quoted bodies followed by anything but blanks,
// comments or further ';'.
bool severalStatements(const QString &sql);
}  // namespace xs
