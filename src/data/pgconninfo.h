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

}  // namespace xs
