#pragma once
#include <QString>

// What a libpq connection text (key=value pairs or a postgresql:// URI) sets,
// read by libpq's own parser, so that nothing it would accept is missed.
namespace xs {

enum class ConninfoVerdict {
    Fine,           // libpq reads it and it holds no password
    Unreadable,     // libpq would refuse it (unknown option, a quote left open, ...)
    HoldsPassword,  // it sets a password, in whatever spelling libpq takes
};
ConninfoVerdict checkConninfo(const QString &conninfo);

// Whether a connection made with this text must be encrypted with the
// server's certificate checked (sslmode=verify-full) because nothing else
// says how: it reaches a host other than this machine over the network (not
// a Unix socket directory, not 127.0.0.0/8, ::1 or localhost), and neither
// the text nor PGSSLMODE sets an sslmode. Without a host in the text,
// libpq's PGHOSTADDR and PGHOST name it.
bool needsVerifiedTls(const QString &conninfo);

}  // namespace xs
