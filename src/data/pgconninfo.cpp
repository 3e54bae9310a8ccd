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
}  // namespace

ConninfoVerdict checkConninfo(const QString &conninfo)
{
    // The text itself, then a database name that is itself a connection text
    // (libpq reads it as one wherever it expands the name).
    QByteArray text = conninfo.toUtf8();
    for (int level = 0; level < 2; ++level) {
        char *error = nullptr;
        PQconninfoOption *options = PQconninfoParse(text.constData(), &error);
        PQfreemem(error);
        if (!options)
            return level == 0 ? ConninfoVerdict::Unreadable : ConninfoVerdict::Fine;
        // libpq has decoded the URI's user:password@ part and its
        // percent-encoded query keys ("pass%77ord=") into the one option
        // "password".
        bool password = false;
        QByteArray dbname;
        for (const PQconninfoOption *o = options; o->keyword; ++o) {
            if (!o->val)
                continue;
            if (std::strcmp(o->keyword, "password") == 0)
                password = true;
            else if (std::strcmp(o->keyword, "dbname") == 0 && looksLikeConninfo(o->val))
                dbname = QByteArray(o->val);
        }
        PQconninfoFree(options);
        if (password)
            return ConninfoVerdict::HoldsPassword;
        if (dbname.isEmpty())
            break;
        text = dbname;
    }
    return ConninfoVerdict::Fine;
}

}  // namespace xs
