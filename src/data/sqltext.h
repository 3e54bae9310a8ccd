#pragma once
#include "data/value.h"

#include <QString>
#include <QStringList>
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
// The same for an engine: nullopt with `out` telling the failure.
std::optional<QString> translateSql(const QString &sql, SqlDialect dialect, SqlOutcome &out);

// Doubles single quotes so that a typed value pasted between quotes stays one
// string literal: "O'Brien" -> "O''Brien".
QString q(const QString &value);

// Whether the statement's first word (before the first space) is INSERT,
// UPDATE or DELETE.
bool isActionStatement(const QString &sql);

// INSERT INTO table(columns) VALUES($1, ..., $count), in the dialect both
// engines share; DEFAULT VALUES without columns.
QString insertStatement(const QString &table, const QStringList &columns, qsizetype count);

// Whether the text holds more than one statement: a ';' outside quotes,
// comments and dollar-quoted bodies followed by anything but blanks,
// comments or further ';'.
bool severalStatements(const QString &sql);
}  // namespace xs
