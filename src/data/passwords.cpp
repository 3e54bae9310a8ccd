#include "data/passwords.h"

#include "data/statements.h"

#include "data/audit.h"
#include "data/recordset.h"
#include "data/sqltext.h"

#include <sodium.h>
#include <vector>

namespace xs {

namespace {

const QString kHashPrefix = QStringLiteral("$argon2id$");

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Letter case as the column's NOCASE comparison ignores it: A-Z only.
QString foldCase(const QString &s)
{
    QString out = s;
    for (QChar &c : out)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return out;
}

// The hash of an already normalised password.
QString hashNormalised(const QString &normalised)
{
    if (!sodiumReady())
        return {};
    const QByteArray utf8 = normalised.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, utf8.constData(), static_cast<unsigned long long>(utf8.size()), kPasswordOps,
                          kPasswordMemory)
        != 0)
        return {};
    return QString::fromLatin1(out);
}

}  // namespace

bool isPasswordHash(const QString &stored)
{
    // A hash is all ASCII with its parameters after the prefix; a typed
    // password that happens to begin so is compared as typed.
    return stored.startsWith(kHashPrefix) && stored.contains(QLatin1String("$m="))
           && stored.size() < crypto_pwhash_STRBYTES;
}

QString hashPassword(const QString &typed) { return hashNormalised(foldCase(typed.trimmed())); }

bool passwordMatches(const QString &stored, bool storedIsNull, const QString &typed)
{
    if (storedIsNull)
        return false;
    const QString given = foldCase(typed.trimmed());
    if (!isPasswordHash(stored))
        return foldCase(stored) == given;
    if (!sodiumReady())
        return false;
    const QByteArray hash = stored.toLatin1();
    const QByteArray utf8 = given.toUtf8();
    return crypto_pwhash_str_verify(hash.constData(), utf8.constData(), static_cast<unsigned long long>(utf8.size()))
           == 0;
}

bool signInPasswordMatches(const QString &name, const QString &typed)
{
    RecordsetPtr rs =
        runsql(QStringLiteral("select password, username from use where username='") + q(name) + QStringLiteral("'"));
    if (!rs)
        return false;
    std::optional<QString> plainMatch;
    QString storedName;
    bool matched = false;
    for (; !rs->atEOF() && !matched; rs->MoveNext()) {
        const Value v = rs->field(0);
        if (!passwordMatches(v.text(), v.isNull(), typed))
            continue;
        matched = true;
        storedName = rs->text(1);
        if (!isPasswordHash(v.text()))
            plainMatch = v.text();
    }
    rs.reset();
    if (!matched || !plainMatch)
        return matched;
    // A plain row gets its hash now where the database keeps hashes (the
    // shared server always, a file once converted). Only the hash is sent:
    // the row is read again under a lock and its stored text compared here,
    // so the plain password is in no statement and no parameter (a server's
    // statement log would keep it). Not being able to write it costs nothing
    // but the delay: the next sign-in tries again.
    const std::optional<bool> hashes = engine().hashesPasswords(nullptr);
    if (!hashes || !*hashes)
        return true;
    const QString hash = hashNormalised(foldCase(*plainMatch));
    // The trail names the user signing in, who is not yet CurrentUser.
    const AuditActorScope actor(storedName);
    if (hash.isEmpty())
        return true;
    Transaction t;
    SqlOutcome o;
    std::unique_ptr<Rows> row = engine().exec(
        QStringLiteral("select password from use where username=$1") + engine().rowLock(), {storedName}, o);
    const bool unchanged = row && row->next() && !row->isNull(0) && row->text(0) == *plainMatch;
    row.reset();
    if (unchanged) {
        engine().exec(QStringLiteral("update use set password=$1 where username=$2"), {hash, storedName}, o);
        if (o.ok)
            t.commit();
    }
    return true;
}

std::optional<QString> passwordToKeep(const QString &typed, QString *why)
{
    const std::optional<bool> hashes = engine().hashesPasswords(why);
    if (!hashes)
        return std::nullopt;
    return *hashes ? hashPassword(typed) : typed.trimmed();
}

HashConversion convertPasswordsToHashes(const std::function<bool(QString *why)> &keepHashes)
{
    HashConversion r;
    r.ok = inTransaction(&r.error, [&](QString *why) {
        QList<std::pair<QString, QString>> plain;
        if (!eachRow(
                QStringLiteral("SELECT username, password FROM use") + engine().rowLock(), {},
                [&](const Cells &row) {
                    if (!row.value(1) || isPasswordHash(*row.value(1)))
                        ++r.kept;
                    else
                        plain.append({row.value(0).value_or(QString()), *row.value(1)});
                    return true;
                },
                why))
            return false;
        for (const auto &[name, password] : plain) {
            // Exactly what signed in before opens the account after: the
            // stored text with its letter case folded, blanks and all.
            const QString hash = hashNormalised(foldCase(password));
            if (hash.isEmpty()) {
                *why = QStringLiteral("计算密码散列时内存不足，密码没有改动。请关闭其他程序后再试。");
                return false;
            }
            // Only the hash goes into the statement (a server's statement log
            // would keep the password); the rows read stay locked till the end.
            if (!runStatement(QStringLiteral("UPDATE use SET password=$1 WHERE username=$2"), {hash, name}, why))
                return false;
            ++r.converted;
        }
        return keepHashes(why);
    });
    if (!r.ok)
        r.converted = 0;
    return r;
}

}  // namespace xs
