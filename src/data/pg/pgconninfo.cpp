#include "data/pg/pgconninfo.h"

#include <QHash>
#include <QList>
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <optional>

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

// The options the text sets, by libpq's keyword; nullopt when libpq refuses it.
std::optional<QHash<QByteArray, QByteArray>> parseConninfo(const QByteArray &text)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.constData(), &error);
    PQfreemem(error);
    if (!options)
        return std::nullopt;
    QHash<QByteArray, QByteArray> set;
    for (const PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val)
            set.insert(o->keyword, o->val);
    PQconninfoFree(options);
    return set;
}
}  // namespace

bool needsVerifiedTls(const QString &conninfo)
{
    const auto options = parseConninfo(conninfo.toUtf8());
    if (!options)
        return false;  // libpq refuses the text before it connects anywhere
    if (options->contains("sslmode") || options->contains("requiressl") || !qEnvironmentVariableIsEmpty("PGSSLMODE"))
        return false;
    const bool hostGiven = options->contains("host") || options->contains("hostaddr");
    const QByteArray host = hostGiven ? options->value("host") : qgetenv("PGHOST");
    const QByteArray hostaddr = hostGiven ? options->value("hostaddr") : qgetenv("PGHOSTADDR");
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
        const auto options = parseConninfo(text);
        if (!options)
            return level == 0 ? ConninfoVerdict::Unreadable : ConninfoVerdict::Fine;
        // libpq has decoded the URI's user:password@ part and its
        // percent-encoded query keys ("pass%77ord=") into the one option
        // "password".
        if (options->contains("password"))
            return ConninfoVerdict::HoldsPassword;
        const QByteArray dbname = options->value("dbname");
        if (!looksLikeConninfo(dbname.constData()))
            break;
        text = dbname;
    }
    return ConninfoVerdict::Fine;
}

}  // namespace xs
