#include "data/pg/pgconninfo.h"

#include <QList>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <libpq-fe.h>
#include <netinet/in.h>

namespace xs {

namespace {
bool looksLikeConninfo(const char *text)
{
    return std::strchr(text, '=') != nullptr || std::strncmp(text, "postgresql://", 13) == 0
           || std::strncmp(text, "postgres://", 11) == 0;
}

// A host entry (a name, an address, or a socket directory) that stays on this
// machine: a socket directory ('/...', or '@...' for the abstract namespace),
// the default socket (empty), a loopback address or the name localhost.
bool staysOnThisMachine(const QByteArray &host)
{
    if (host.isEmpty() || host.startsWith('/') || host.startsWith('@'))
        return true;
    QByteArray name = host.toLower();
    if (name.endsWith('.'))
        name.chop(1);
    if (name == "localhost")
        return true;
    in_addr v4{};
    if (inet_pton(AF_INET, name.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, name.constData(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}
}  // namespace

bool needsVerifiedTls(const QString &conninfo)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
    PQfreemem(error);
    if (!options)
        return false;  // libpq refuses the text before it connects anywhere
    QByteArray host, hostaddr;
    bool hostGiven = false, sslmodeGiven = false;
    for (const PQconninfoOption *o = options; o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::strcmp(o->keyword, "host") == 0) {
            host = o->val;
            hostGiven = true;
        } else if (std::strcmp(o->keyword, "hostaddr") == 0) {
            hostaddr = o->val;
            hostGiven = true;
        } else if (std::strcmp(o->keyword, "sslmode") == 0 || std::strcmp(o->keyword, "requiressl") == 0) {
            sslmodeGiven = true;
        }
    }
    PQconninfoFree(options);
    if (sslmodeGiven || !qEnvironmentVariableIsEmpty("PGSSLMODE"))
        return false;
    if (!hostGiven) {
        host = qgetenv("PGHOST");
        hostaddr = qgetenv("PGHOSTADDR");
    }
    // Several hosts (a comma-separated list) are tried in turn; an address
    // of hostaddr is where the connection goes, the host beside it only
    // names the server for its certificate.
    const QList<QByteArray> hosts = host.split(',');
    const QList<QByteArray> addrs = hostaddr.split(',');
    for (qsizetype i = 0; i < std::max(hosts.size(), addrs.size()); ++i) {
        const QByteArray addr = i < addrs.size() ? addrs[i].trimmed() : QByteArray();
        const QByteArray name = i < hosts.size() ? hosts[i].trimmed() : QByteArray();
        if (!staysOnThisMachine(addr.isEmpty() ? name : addr))
            return true;
    }
    return false;
}

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
