// Where the archive lives: no configuration file -> xs.mdb beside the program;
// a file beside the program wins over the system-wide one; a server named by
// a connection string or service, with its room; a password in the file in
// any form libpq reads, a text libpq cannot read, a room name the server would
// cut, an empty connection or an unreadable file refused in Chinese. The
// parameters a server connection is opened with: verified TLS for another
// host unless the text says otherwise.
#include "data/dbconfig.h"
#include "data/fault.h"
#include "data/pg/pgsql.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace xs;

class TestDbConfig : public QObject {
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void whichFile();
    void institution_data();
    void institution();
    void connectParameters_data();
    void connectParameters();
};

static void write(const QString &path, const QByteArray &text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

void TestDbConfig::read_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("server");
    QTest::addColumn<QString>("conninfo");
    QTest::addColumn<QString>("room");
    QTest::addColumn<QString>("error");  // a part of the refusal, empty when accepted
    QTest::newRow("no server section") << QByteArray("[other]\nx=1\n") << false << ""
                                       << ""
                                       << "";
    QTest::newRow("service and room") << QByteArray("[server]\nconnection=service=chengheng\nroom=诊室三\n") << true
                                      << "service=chengheng"
                                      << "诊室三"
                                      << "";
    QTest::newRow("connection string, no room")
        << QByteArray("[server]\nconnection=\"host=db.clinic dbname=chengheng user=room\"\n") << true
        << "host=db.clinic dbname=chengheng user=room"
        << "1"
        << "";
    // A password in any form libpq takes is refused; the word in a value is not a password.
    const char *password =
        "中写有服务器密码。密码不能放在配置文件里，请删去它，改放在 ~/.pgpass（权限 0600）或服务文件";
    const char *unreadable = "的 [server] connection 不是有效的连接串";
    const struct {
        const char *name, *connection, *error;
    } conninfos[] = {
        {"password= in the string", "host=db password=secret", password},
        {"password = with blanks", "host=db password = secret", password},
        {"password first, quoted", "password='se cret' host=db", password},
        {"password after a tab", "host=db\tpassword=x", password},
        {"empty password", "host=db password=''", password},
        {"URI user:password@", "postgresql://room:secret@db/chengheng", password},
        {"URI :password@", "postgres://:secret@db/chengheng", password},
        {"URI query", "postgresql:///chengheng?host=/run/postgresql&password=secret", password},
        {"URI query percent-encoded key", "postgresql://db/chengheng?pass%77ord=secret", password},
        {"URI query percent-encoded all", "postgresql://db/chengheng?%70%61%73%73%77%6f%72%64=secret", password},
        {"connection text as dbname", "dbname='host=db password=secret'", password},
        {"URI as dbname", "dbname=postgresql://u:secret@db/x", password},
        {"percent-encoded key in key=value", "host=db pass%77ord=secret", unreadable},
        {"unknown option", "host=db colour=blue", unreadable},
        {"quote left open", "host='db", unreadable},
        {"unknown URI parameter", "postgresql://db/chengheng?nosuch=1", unreadable},
        {"passfile", "host=db passfile=/home/d/.pgpass dbname=chengheng", ""},
        {"the word in a value", "host=db dbname=password application_name='x password=y'", ""},
        {"URI without password", "postgresql://room@db/chengheng?application_name=password", ""},
    };
    for (const auto &t : conninfos) {
        const bool accepted = *t.error == 0;
        QTest::newRow(t.name) << (QByteArray("[server]\nconnection=\"") + t.connection + "\"\n") << accepted
                              << (accepted ? QString::fromUtf8(t.connection) : QString()) << (accepted ? "1" : "")
                              << QString::fromUtf8(t.error);
    }
    // Room names: empty, or longer than the server's 63 bytes as the schema
    // name room_NAME (bytes of UTF-8: a Chinese character is three), are refused.
    const char *roomTooLong = "的 [server] room 不能使用：诊室名“";
    const struct {
        const char *name;
        QString room;
        const char *error;
    } rooms[] = {
        {"room empty", "", "的 [server] room 不能使用：诊室名不能为空。"},
        {"room blank", "   ", "的 [server] room 不能使用：诊室名不能为空。"},
        {"room 48 bytes", QString(48, u'a'), ""},
        {"room 49 bytes", QString(49, u'a'), roomTooLong},
        {"room 16 Chinese characters", QString(16, u'诊'), ""},
        {"room 17 Chinese characters", QString(17, u'诊'), roomTooLong},
        {"room 46 bytes and one Chinese character", QString(46, u'a') + u'诊', roomTooLong},
    };
    for (const auto &t : rooms) {
        const bool accepted = *t.error == 0;
        QTest::newRow(t.name) << (QByteArray("[server]\nconnection=service=x\nroom=\"") + t.room.toUtf8() + "\"\n")
                              << accepted << (accepted ? "service=x" : "") << (accepted ? t.room : QString())
                              << QString::fromUtf8(t.error);
    }
    QTest::newRow("empty connection") << QByteArray("[server]\nconnection=\n") << false << ""
                                      << ""
                                      << "的 [server] connection 是空的。";
}

// The name on the printed prescription, with or without a server named.
void TestDbConfig::institution_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("none named") << QByteArray("[other]\nx=1\n") << QStringLiteral("青禾医院");
    QTest::newRow("named") << QByteArray("[prescription]\ninstitution=城东社区卫生服务中心\n")
                           << QStringLiteral("城东社区卫生服务中心");
    QTest::newRow("blank") << QByteArray("[prescription]\ninstitution=  \n") << QStringLiteral("青禾医院");
    QTest::newRow("with a server") << QByteArray(
        "[server]\nconnection=service=x\n[prescription]\ninstitution= 某医院 \n")
                                   << QStringLiteral("某医院");
}

void TestDbConfig::institution()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/chengheng.conf");
    write(file, text);
    QCOMPARE(readDatabaseChoice(file).institution, name);
}

void TestDbConfig::read()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, server);
    QFETCH(QString, conninfo);
    QFETCH(QString, room);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/chengheng.conf");
    write(file, text);
    const DatabaseChoice c = readDatabaseChoice(file);
    QCOMPARE(c.server, server);
    QCOMPARE(c.conninfo, conninfo);
    QCOMPARE(c.room, room);
    if (error.isEmpty())
        QVERIFY2(c.error.isEmpty(), qPrintable(c.error));
    else
        QVERIFY2(c.error.contains(error) && c.error.contains(file), qPrintable(c.error));
}

void TestDbConfig::whichFile()
{
    QTemporaryDir app, etc;
    setAppDirForTesting(app.path());
    setSystemConfigFolderForTesting(etc.path());
    QVERIFY(!loadDatabaseChoice().server);
    QVERIFY(loadDatabaseChoice().source.isEmpty());
    write(etc.path() + QStringLiteral("/chengheng.conf"), "[server]\nconnection=service=etc\n");
    QCOMPARE(loadDatabaseChoice().conninfo, QStringLiteral("service=etc"));
    write(app.path() + QStringLiteral("/chengheng.conf"), "[server]\nconnection=service=beside\n");
    QCOMPARE(loadDatabaseChoice().conninfo, QStringLiteral("service=beside"));
    QCOMPARE(loadDatabaseChoice().source, app.path() + QStringLiteral("/chengheng.conf"));
    setAppDirForTesting(QString());
    setSystemConfigFolderForTesting(QString());
}

void TestDbConfig::connectParameters_data()
{
    QTest::addColumn<QString>("conninfo");
    QTest::addColumn<QByteArray>("env");  // NAME=VALUE set for the row, libpq's own fallbacks
    QTest::addColumn<bool>("verified");   // sslmode=verify-full put before the text
    const struct {
        const char *name, *conninfo;
        bool verified;
        const char *env = "";
    } rows[] = {
        {"default socket", "dbname=chengheng", false},
        {"service only", "service=chengheng", false},
        {"socket directory", "host=/run/postgresql dbname=chengheng", false},
        {"abstract socket", "host=@pg dbname=chengheng", false},
        {"127.0.0.1", "host=127.0.0.1 port=5432 dbname=chengheng", false},
        {"127.8.9.10", "host=127.8.9.10", false},
        {"localhost", "host=LocalHost dbname=chengheng", false},
        {"::1", "host=::1", false},
        {"hostaddr loopback, host names the certificate", "host=db.clinic hostaddr=127.0.0.1", false},
        {"remote name", "host=db.clinic dbname=chengheng user=room", true},
        {"remote address", "host=192.168.1.20", true},
        {"remote hostaddr", "hostaddr=10.0.0.5 dbname=x", true},
        {"IPv6 remote", "host=fe80::1", true},
        {"not quite loopback", "host=128.0.0.1", true},
        {"a name that starts like localhost", "host=localhost.clinic.example", true},
        {"a name under localhost (the resolver decides)", "host=db.localhost", true},
        {"second of two hosts remote", "host=/run/postgresql,db.clinic", true},
        {"own sslmode=disable", "host=db.clinic sslmode=disable", false},
        {"own sslmode=require", "host=db.clinic sslmode=require", false},
        {"URI remote", "postgresql://room@db.clinic:5433/chengheng", true},
        {"URI remote, own sslmode", "postgresql://db.clinic/chengheng?sslmode=verify-ca", false},
        {"URI localhost", "postgresql://localhost/chengheng", false},
        {"URI ::1", "postgresql://[::1]:5432/chengheng", false},
        {"URI socket", "postgresql:///chengheng?host=/run/postgresql", false},
        {"URI percent-encoded socket", "postgresql://%2Frun%2Fpostgresql/chengheng", false},
        {"unreadable", "host=db.clinic colour=blue", false},
        {"no host, PGHOST remote", "dbname=chengheng", true, "PGHOST=db.clinic"},
        {"no host, PGHOSTADDR remote", "dbname=chengheng", true, "PGHOSTADDR=10.0.0.5"},
        {"host in the text wins over PGHOST", "host=/run/postgresql", false, "PGHOST=db.clinic"},
        {"PGSSLMODE set", "host=db.clinic", false, "PGSSLMODE=require"},
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << QString::fromUtf8(r.conninfo) << QByteArray(r.env) << r.verified;
}

void TestDbConfig::connectParameters()
{
    QFETCH(QString, conninfo);
    QFETCH(QByteArray, env);
    QFETCH(bool, verified);
    for (const char *name : {"PGSSLMODE", "PGHOST", "PGHOSTADDR"})
        qunsetenv(name);
    if (!env.isEmpty())
        qputenv(env.left(env.indexOf('=')).constData(), env.mid(env.indexOf('=') + 1));
    QStringList got;
    for (const auto &[key, value] : xs::connectParameters(conninfo))
        got << QString::fromUtf8(key + '=' + value);
    // The text comes last, whole, so that what it sets wins.
    QStringList want{QStringLiteral("connect_timeout=5")};
    if (verified)
        want << QStringLiteral("sslmode=verify-full");
    want << QStringLiteral("dbname=") + conninfo;
    if (!env.isEmpty())
        qunsetenv(env.left(env.indexOf('=')).constData());
    QCOMPARE(got, want);
}

QTEST_GUILESS_MAIN(TestDbConfig)
#include "tst_dbconfig.moc"
