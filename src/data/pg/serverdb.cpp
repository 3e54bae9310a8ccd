#include "data/pg/serverdb.h"

#include "data/schema.h"

#include "data/audit.h"
#include "data/engine.h"
#include "data/pg/pgengine.h"
#include "data/pg/pgroles.h"
#include "data/pg/pgschema.h"
#include "data/pg/pgsql.h"

#include <vector>

namespace xs {

namespace {
struct ServerState {
    bool on = false;
    QString conninfo;
    QString room;
    std::vector<std::shared_ptr<PgConnection>> idle;
};
ServerState &state()
{
    static ServerState s;
    return s;
}
constexpr size_t kPoolSize = 4;
}  // namespace

void useServer(const QString &conninfo, const QString &room)
{
    ServerState &s = state();
    s.on = true;
    s.conninfo = conninfo;
    s.room = room;
    s.idle.clear();
    setEngine(makeServerEngine());
}

void stopServer()
{
    ServerState &s = state();
    s.on = false;
    s.conninfo.clear();
    s.room.clear();
    s.idle.clear();
}

bool openServerDatabase(const QString &conninfo, const QString &room, QString *why)
{
    PgConnection c(conninfo);
    // Each check at start-up is bounded: a server that stalls a statement
    // (a table locked by another program, say) is told within seconds
    // instead of leaving the program without a window.
    c.setOnConnect(QStringLiteral("SET statement_timeout = %1").arg(kStartupStatementTimeoutMs));
    if (!c.ensure()) {
        if (why)
            *why = c.lastError();
        return false;
    }
    const auto stalled = [&] {
        if (!c.timedOut())
            return false;
        if (why)
            *why = QStringLiteral("数据库服务器在 %1 秒内没有完成启动时的检查（服务器很忙，或表被其他程序锁住）。"
                                  "请稍后再启动程序；若反复出现，请联系数据库管理员。")
                       .arg(kStartupStatementTimeoutMs / 1000);
        return true;
    };
    QString error;
    // The program makes and changes no structure on the server (only
    // chengheng-db upgrade does); it refuses a newer one.
    const int version = serverSchemaVersion(c, &error);
    if (version <= 0) {
        if (stalled())
            return false;
        if (why)
            *why = error.isEmpty() ? QStringLiteral("服务器上还没有澄衡数据库。请先用 chengheng-db init --server 或 "
                                                    "chengheng-db migrate 建立它。")
                                   : error;
        return false;
    }
    // An older structure lacks tables this program writes: the administrator
    // brings it up first (with a backup), rather than a room's program.
    if (version < kSchemaVersion) {
        if (why)
            *why = QStringLiteral("服务器上的澄衡数据库是较早的版本（数据库结构版本 %1），本程序需要版本 %2。"
                                  "请数据库管理员先用 chengheng-db upgrade --server 升级它。")
                       .arg(version)
                       .arg(kSchemaVersion);
        return false;
    }
    // The program runs only as its room's own login role: a superuser, the
    // owner or an administrator could undo what the trail records.
    if (const QString problem = programRoleProblem(c, room); !problem.isEmpty()) {
        if (!stalled() && why)
            *why = problem;
        return false;
    }
    // The kept count only speeds the listings up: a failure leaves it as it
    // is, but a stalled server ends the start here.
    checkServerRowCounts(c);
    if (stalled())
        return false;
    useServer(conninfo, room);
    return true;
}

bool onServer() { return state().on; }
QString serverRoom() { return state().room; }

std::shared_ptr<PgConnection> newServerConnection()
{
    ServerState &s = state();
    if (!s.on)
        return {};
    auto c = std::make_shared<PgConnection>(s.conninfo);
    // A table read without ORDER BY comes in the order it is stored, from its
    // start (a large table's scan would otherwise join one already running,
    // and the pages of a grid read in that order would not follow each other).
    c->setOnConnect(searchPathFor(s.room) + QStringLiteral(";SET synchronize_seqscans = off"));
    // The server's audit trail names the signed-in user (or the tool's account).
    c->setAuditUser(auditActor());
    return c;
}

std::shared_ptr<PgConnection> takeServerConnection(DbFault *fault, QString *error)
{
    ServerState &s = state();
    while (!s.idle.empty()) {
        std::shared_ptr<PgConnection> c = std::move(s.idle.back());
        s.idle.pop_back();
        if (c->idle() && c->setAuditUser(auditActor()))
            return c;
    }
    std::shared_ptr<PgConnection> c = newServerConnection();
    if (!c->ensure()) {
        if (fault)
            *fault = c->lastFault();
        if (error)
            *error = c->lastError();
        return {};
    }
    return c;
}

std::shared_ptr<PgConnection> takeSpareServerConnection()
{
    ServerState &s = state();
    while (s.idle.size() > 1) {
        std::shared_ptr<PgConnection> c = std::move(s.idle.front());
        s.idle.erase(s.idle.begin());
        if (c->idle() && c->setAuditUser(auditActor()))
            return c;
    }
    return newServerConnection();
}

void giveBackServerConnection(std::shared_ptr<PgConnection> c, PoolEnd end)
{
    ServerState &s = state();
    // Only a connection nothing else holds goes back: a recordset still
    // reading one that its transaction gave back would share it with the
    // next statement.
    if (!c || c.use_count() != 1 || !s.on || c->conninfo() != s.conninfo || !c->idle() || s.idle.size() >= kPoolSize)
        return;
    // The windows take from the back, the background passes from the front:
    // the windows' statements keep the connections whose server processes
    // have run them before (their plans, triggers and catalogue caches are
    // warm there; a fresh process's first insert into the archive costs
    // several times a warm one's).
    if (end == PoolEnd::Background)
        s.idle.insert(s.idle.begin(), std::move(c));
    else
        s.idle.push_back(std::move(c));
}

}  // namespace xs
