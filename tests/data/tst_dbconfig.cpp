// Where the archive lives: no configuration file -> xs.mdb beside the program;
// a file beside the program wins over the system-wide one; a server named by
// a connection string or service, with its room; a password in the file, an
// empty connection or an unreadable file refused in Chinese.
#include "data/dbconfig.h"
#include "data/sqlite.h"

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
    QTest::newRow("password in the string")
        << QByteArray("[server]\nconnection=\"host=db password=secret\"\n") << false << ""
        << ""
        << "中写有服务器密码。密码不能放在配置文件里";
    QTest::newRow("password in a URI") << QByteArray("[server]\nconnection=postgresql://room:secret@db/chengheng\n")
                                       << false << ""
                                       << ""
                                       << "中写有服务器密码。";
    QTest::newRow("empty connection") << QByteArray("[server]\nconnection=\n") << false << ""
                                      << ""
                                      << "的 [server] connection 是空的。";
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

QTEST_GUILESS_MAIN(TestDbConfig)
#include "tst_dbconfig.moc"
