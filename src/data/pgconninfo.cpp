#include "data/pgconninfo.h"

#include <cstring>
#include <libpq-fe.h>

namespace xs {

namespace {

bool looksLikeConninfo(const char *text)
{
    return std::strchr(text, '=') != nullptr || std::strncmp(text, "postgresql://", 13) == 0
           || std::strncmp(text, "postgres://", 11) == 0;
}

ConninfoVerdict check(const QByteArray &text, bool nested)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.constData(), &error);
    PQfreemem(error);
    if (!options)
        return ConninfoVerdict::Unreadable;
    // libpq has decoded the URI's user:password@ part and its percent-encoded
    // query keys ("pass%77ord=") into the one option "password".
    ConninfoVerdict verdict = ConninfoVerdict::Fine;
    for (const PQconninfoOption *o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::strcmp(o->keyword, "password") == 0) {
            verdict = ConninfoVerdict::HoldsPassword;
            break;
        }
        // A database name may itself be a connection text, which libpq reads
        // as one wherever it expands the name.
        if (!nested && std::strcmp(o->keyword, "dbname") == 0 && looksLikeConninfo(o->val)
            && check(QByteArray(o->val), true) == ConninfoVerdict::HoldsPassword) {
            verdict = ConninfoVerdict::HoldsPassword;
            break;
        }
    }
    PQconninfoFree(options);
    return verdict;
}

}  // namespace

ConninfoVerdict checkConninfo(const QString &conninfo) { return check(conninfo.toUtf8(), false); }

}  // namespace xs
