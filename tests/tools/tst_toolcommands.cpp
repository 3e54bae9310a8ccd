// chengheng-db's everyday commands on either engine (registered twice, the
// second time on the server): the same command line, with --db FILE or
// --server CONNINFO, gives the same output and the same exit code.
#include "data/catalogue.h"
#include "data/passwords.h"
#include "data/schema.h"
#include "data/sqlite/sqlite.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

using namespace xs;
using namespace xs::test;

namespace {

// The tool's arguments naming the test's database (on the server as its
// superuser, who may change the catalogue).
QStringList target(const TestDb &db)
{
    return serverEngine() ? QStringList{QStringLiteral("--server"), db.server()}
                          : QStringList{QStringLiteral("--db"), db.path()};
}

QString account()
{
    const passwd *pw = getpwuid(geteuid());
    return QStringLiteral("chengheng-db:") + QString::fromLocal8Bit(pw->pw_name);
}

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QString csvHeader() { return catalogueColumns().join(u','); }

// A CSV line of 17 fields: the given fields first, the rest empty.
QByteArray csvLine(const QStringList &first)
{
    QStringList f = first;
    while (f.size() < catalogueColumns().size())
        f << QString();
    return (f.join(u',') + QStringLiteral("\r\n")).toUtf8();
}

// What the commands may change: the accounts (passwords as the engine keeps
// them) and the catalogue.
QStringList contents(const TestDb &db)
{
    return db.rows(QStringLiteral("select username,password,admin,readonly,qx1,qx2,qx3,qx4 from use order by username"))
           + db.rows(QStringLiteral("select %1 from 表1").arg(catalogueColumns().join(u',')));
}

}  // namespace

class TestToolCommands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void refusalsChangeNothing_data();
    void refusalsChangeNothing();
    void passwordKeptAsTheEngineKeepsThem_data();
    void passwordKeptAsTheEngineKeepsThem();
    void catalogueRoundTrip();
    void catalogueImportRefused_data();
    void catalogueImportRefused();
    void drugCatalogue_data();
    void drugCatalogue();
    void auditShowFilters();
};

void TestToolCommands::initTestCase() { QVERIFY2(QFileInfo(toolPath()).isExecutable(), qPrintable(toolPath())); }

// Each row: the commands run one after another on a new database with the
// demo accounts and the catalogue, the last one's exit code and output
// (stdout, or stderr on failure); then the trail holds together and names
// the tool's account for every change.
void TestToolCommands::commands_data()
{
    // DB: the test's database; PWFILE: a file holding " Secret "; CSV: a file of the test
    QTest::addColumn<QList<QStringList>>("runs");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::newRow("user add") << QList<QStringList>{{"user", "add", "Doc", "--password-file", "PWFILE", "DB"}} << 0
                              << "已添加用户 Doc，权限：（无）";
    QTest::newRow("user add twice, letter case ignored")
        << QList<QStringList>{{"user", "add", "doc", "--password-file", "PWFILE", "DB"},
                              {"user", "add", "DOC", "--password-file", "PWFILE", "DB"}}
        << 1 << "chengheng-db: 用户 doc 已存在";
    QTest::newRow("add existing, other case")
        << QList<QStringList>{{"user", "add", "ADMIN", "--password-file", "PWFILE", "DB"}} << 1
        << "chengheng-db: 用户 admin 已存在";
    QTest::newRow("grant and revoke") << QList<QStringList>{{"user", "add", "doc", "--password-file", "PWFILE", "DB"},
                                                            {"user", "grant", "DOC", "qx2", "admin", "DB"},
                                                            {"user", "revoke", "doc", "admin", "DB"}}
                                      << 0 << "用户 doc 的权限：qx2";
    QTest::newRow("grant repeated flags")
        << QList<QStringList>{{"user", "add", " 李医生 ", "--password-file", "PWFILE", "DB"},
                              {"user", "grant", "李医生", "qx2", "qx3", "qx2", "DB"}}
        << 0 << "用户 李医生 的权限：qx2 qx3";
    QTest::newRow("revoke a flag not held, other case")
        << QList<QStringList>{{"user", "revoke", "GUEST", "qx1", "DB"}} << 0 << "用户 guest 的权限：（无）";
    QTest::newRow("grant to nobody") << QList<QStringList>{{"user", "grant", "nobody", "qx1", "DB"}} << 1
                                     << "chengheng-db: 没有名为 nobody 的用户";
    // Ordered by user name on either engine; passwords are never listed.
    QTest::newRow("user list") << QList<QStringList>{{"user", "add", " 李医生 ", "--password-file", "PWFILE", "DB"},
                                                     {"user", "grant", "李医生", "qx2", "qx3", "DB"},
                                                     {"user", "grant", "viewer", "admin", "DB"},
                                                     {"user", "revoke", "李医生", "qx3", "DB"},
                                                     {"user", "list", "DB"}}
                               << 0
                               << "用户名  权限\nadmin   admin\nclerk   qx1\ndoctor  qx2\nguest   （无）\n"
                                  "viewer  admin readonly\n李医生  qx2";
    QTest::newRow("catalogue round trip")
        << QList<QStringList>{{"catalogue", "export", "CSV", "DB"}, {"catalogue", "import", "CSV", "DB"}} << 0
        << "已从 CSV 导入药品目录，共 25 行";
    QTest::newRow("catalogue export") << QList<QStringList>{{"catalogue", "export", "CSV", "DB"}} << 0
                                      << "已把药品目录（25 行）导出到 CSV";
    QTest::newRow("both --db and --server")
        << QList<QStringList>{{"user", "list", "--db", "x.mdb", "--server", "host=x"}} << 2
        << "chengheng-db: --db 和 --server 只能给一个：一个命令只处理一个数据库";
}

void TestToolCommands::commands()
{
    QFETCH(QList<QStringList>, runs);
    QFETCH(int, code);
    QFETCH(QString, output);
    const TestDb db(Accounts | Catalogue);
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("drugs.csv"));
    const QString pw = dir.filePath(QStringLiteral("pw"));
    writeFile(pw, " Secret \n");
    output.replace(QStringLiteral("CSV"), csv);
    ToolRun r;
    for (const QStringList &run : runs) {
        QStringList args;
        for (const QString &a : run)
            args << (a == QLatin1String("DB") ? target(db)
                                              : QStringList{QString(a).replace("PWFILE", pw).replace("CSV", csv)});
        r = runTool(args);
    }
    QCOMPARE(r.code, code);
    QCOMPARE((code == 0 ? r.out : r.err).trimmed(), output);
    // Every change the tool made is in the trail under its account, and the chain holds.
    const ToolRun all = runTool(QStringList{"audit", "show"} + target(db));
    const ToolRun mine = runTool(QStringList{"audit", "show", "--user", account()} + target(db));
    QVERIFY2(all.code == 0 && mine.code == 0, qPrintable(all.err + mine.err));
    QCOMPARE(mine.out.split(u'\n').filter(QStringLiteral("共 ")), all.out.split(u'\n').filter(QStringLiteral("共 ")));
    const ToolRun v = runTool(QStringList{"audit", "verify"} + target(db));
    QVERIFY2(v.code == 0, qPrintable(v.err));
}

void TestToolCommands::refusalsChangeNothing_data()
{
    QTest::addColumn<QStringList>("args");  // the database is added
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("grant unknown user") << QStringList{"user", "grant", "nobody", "qx1"} << 1
                                        << "没有名为 nobody 的用户";
    QTest::newRow("revoke unknown user") << QStringList{"user", "revoke", "nobody", "qx1"} << 1
                                         << "没有名为 nobody 的用户";
    QTest::newRow("unknown flag") << QStringList{"user", "grant", "guest", "qx1", "root"} << 2 << "未知的权限标志 root";
    QTest::newRow("flag in capitals") << QStringList{"user", "grant", "guest", "QX1"} << 2 << "未知的权限标志 QX1";
    QTest::newRow("grant without flag") << QStringList{"user", "grant", "guest"} << 2 << "用法";
    QTest::newRow("add existing, other case")
        << QStringList{"user", "add", "ADMIN", "--password-file", "-"} << 1 << "用户 admin 已存在";
    QTest::newRow("add blank name") << QStringList{"user", "add", "  ", "--password-file", "-"} << 1
                                    << "用户名不能为空";
    QTest::newRow("add, password not given") << QStringList{"user", "add", "nurse"} << 1 << "没有读到密码";
    QTest::newRow("add unknown option") << QStringList{"user", "add", "nurse", "--password-file", "-", "--admin"} << 2
                                        << "未知的选项 --admin";
    QTest::newRow("add, password on the command line")
        << QStringList{"user", "add", "doc", "--password=b"} << 2
        << "密码不能写在命令行上（同一台机器上的其他用户用 ps 就能看到）。请去掉 --password，改用 --password-file 文件";
    QTest::newRow("unknown user command") << QStringList{"user", "delete", "guest"} << 2 << "未知的 user 子命令 delete";
    QTest::newRow("user alone") << QStringList{"user"} << 2 << "user 后面要跟";
    QTest::newRow("list with argument") << QStringList{"user", "list", "guest"} << 2 << "不接受参数";
    QTest::newRow("unknown catalogue command")
        << QStringList{"catalogue", "merge", "a.csv"} << 2 << "未知的 catalogue 子命令 merge";
    QTest::newRow("import without file") << QStringList{"catalogue", "import"} << 2 << "用法";
    QTest::newRow("import missing file") << QStringList{"catalogue", "import", "%1/none.csv"} << 1 << "找不到文件";
}

void TestToolCommands::refusalsChangeNothing()
{
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, message);
    const TestDb db(All);
    const QStringList before = contents(db);
    const QByteArray bytes = bytesOf(db.path());
    for (QString &a : args)
        a.replace("%1", db.dir());
    const ToolRun r = runTool(args + target(db));
    QCOMPARE(r.code, code);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.out.isEmpty());
    QCOMPARE(contents(db), before);
    if (serverEngine())
        return;
    // The file is not even touched; and a file that does not exist is not made.
    QVERIFY(bytesOf(db.path()) == bytes);
    QVERIFY(!QFileInfo::exists(db.path() + "-wal"));
    const QString missing = db.dir() + QStringLiteral("/missing.mdb");
    const ToolRun m = runTool(args + QStringList{"--db", missing});
    QVERIFY(m.code != 0);
    QVERIFY(!QFileInfo::exists(missing));
}

void TestToolCommands::passwordKeptAsTheEngineKeepsThem_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("typed");  // what now opens the account
    QTest::newRow("from standard input") << QByteArray(" Secret \n") << "secret";
    QTest::newRow("asked, no terminal") << QByteArray(" typed \n") << "typed";
}

// A new account's password opens it, and is kept only as a hash: a new
// file hashes (init keeps only hashes), the server always does.
void TestToolCommands::passwordKeptAsTheEngineKeepsThem()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, typed);
    const TestDb db(Accounts);
    if (!serverEngine())
        db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value TEXT);"
                               "INSERT OR REPLACE INTO settings VALUES('password.hash','argon2id')"));
    QStringList args = {"user", "add", "nurse"};
    if (QTest::currentDataTag() == QLatin1String("from standard input"))
        args << "--password-file"
             << "-";
    const ToolRun r = runTool(args + target(db), input);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    if (!args.contains("-"))
        QVERIFY(r.err.contains("用户 nurse 的密码："));
    const QString stored = db.scalar(QStringLiteral("select password from use where username='nurse'"));
    QVERIFY2(isPasswordHash(stored) && passwordMatches(stored, false, typed), qPrintable(stored));
}

void TestToolCommands::catalogueRoundTrip()
{
    const TestDb db(Catalogue);
    QTemporaryDir dir;
    const QString a = dir.filePath(QStringLiteral("a.csv"));
    ToolRun r = runTool(QStringList{"catalogue", "export", a} + target(db));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY(bytesOf(a).startsWith((csvHeader() + "\r\n").toUtf8()));
    // Importing what was exported changes nothing.
    const QStringList original = contents(db);
    r = runTool(QStringList{"catalogue", "import", a} + target(db));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(contents(db), original);

    // A hand-made file: header in another order, cells with quotes, commas,
    // line breaks (CRLF and LF), outer blanks, the empty text and nulls.
    QStringList header = catalogueColumns();
    std::reverse(header.begin(), header.end());  // 个人定制 ... 输液
    QByteArray csv = "\xEF\xBB\xBF" + (header.join(',') + "\n").toUtf8();
    csv += csvLine({"\"他说\"\"一日三次\"\"\"", "\"甲,乙\"", "\"第一行\r\n第二行\nend\"", " 空格 ", "\"\""});
    csv += csvLine({"", "阿司匹林", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "0.9%氯化钠注射液 250ml"});
    csv += csvLine({});
    const QString b = dir.filePath(QStringLiteral("b.csv"));
    writeFile(b, csv);
    r = runTool(QStringList{"catalogue", "import", b} + target(db));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out.trimmed(), QString("已从 %1 导入药品目录，共 3 行").arg(b));
    QCOMPARE(db.rows("select 个人定制, 中药方剂, 中药, 用法, coalesce(收费项目, 'null'), coalesce(其他, 'null') "
                     "from 表1 where 输液 is null and 用法 is not null"),
             QStringList{"他说\"一日三次\"|甲,乙|第一行\r\n第二行\nend| 空格 ||null"});
    QCOMPARE(db.rows("select 输液 || '/' || 中药方剂 from 表1 where 输液 is not null"),
             QStringList{"0.9%氯化钠注射液 250ml/阿司匹林"});
    QCOMPARE(db.count("表1 where coalesce(" + catalogueColumns().join(',') + ") is null"), 1);

    // Export and import again: the same cells, the same file, in stored order.
    const QStringList imported = contents(db);
    const QString c = dir.filePath(QStringLiteral("c.csv")), d = dir.filePath(QStringLiteral("d.csv"));
    QCOMPARE(runTool(QStringList{"catalogue", "export", c} + target(db)).code, 0);
    QCOMPARE(runTool(QStringList{"catalogue", "import", c} + target(db)).code, 0);
    QCOMPARE(contents(db), imported);
    QCOMPARE(runTool(QStringList{"catalogue", "export", d} + target(db)).code, 0);
    QCOMPARE(bytesOf(d), bytesOf(c));
}

// A whole drug catalogue: exported with --drugs, imported by its header; the
// menus of the categories it holds follow it, the others stay; a file with a
// bad row changes nothing.
void TestToolCommands::drugCatalogue_data()
{
    QTest::addColumn<QString>("change");   // "column=value" for the second row, "" for none
    QTest::addColumn<QString>("message");  // "" when imported
    QTest::newRow("imported") << ""
                              << "";
    QTest::newRow("code twice") << "编码=YP0020"
                                << "第 3 行：编码 YP0020 重复";
    QTest::newRow("no generic name") << "通用名="
                                     << "第 3 行：编码、表1名称和通用名都不能为空";
    QTest::newRow("unknown category") << "类别=肠胃"
                                      << "第 3 行：类别“肠胃”不是药品目录的类别";
    QTest::newRow("unknown control") << "特殊管理=限制"
                                     << "第 3 行：特殊管理“限制”应为 普通、麻醉药品、";
    QTest::newRow("skin test not yes or no") << "皮试=要"
                                             << "第 3 行：皮试 应为“是”或“否”";
    QTest::newRow("price not money") << "单价=1.234"
                                     << "第 3 行：单价“1.234”不是金额（元，最多两位小数）";
}

void TestToolCommands::drugCatalogue()
{
    QFETCH(QString, change);
    QFETCH(QString, message);
    const TestDb db(Catalogue);
    QTemporaryDir dir;
    const QString all = dir.filePath(QStringLiteral("all.csv")), mine = dir.filePath(QStringLiteral("mine.csv"));
    ToolRun r = runTool(QStringList{"catalogue", "export", all, "--drugs"} + target(db));
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out.trimmed(), QString("已把药品目录（372 行）导出到 %1").arg(all));
    const QStringList lines = QString::fromUtf8(bytesOf(all)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines[0], drugColumns().join(u','));
    // A clinic's own: three 抗生素 drugs, the last one withdrawn.
    QStringList row2 = lines[21].split(u',');
    if (!change.isEmpty())
        row2[drugColumns().indexOf(change.section(u'=', 0, 0))] = change.section(u'=', 1);
    QStringList row3 = lines[22].split(u',');
    row3[16] = QStringLiteral("是");
    writeFile(mine, (QStringList{lines[0], lines[20], row2.join(u','), row3.join(u','), ""}.join("\n")).toUtf8());
    const QStringList digestive = db.rows("select 消化 from 表1 where 消化 is not null");
    r = runTool(QStringList{"catalogue", "import", mine} + target(db));
    if (!message.isEmpty()) {
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("导入失败，药品目录没有改动") && r.err.contains(message), qPrintable(r.err));
        QCOMPARE(db.count("drugs"), 372);
        return;
    }
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(db.rows("select 编码 from drugs order by 编码"), (QStringList{"YP0020", "YP0021", "YP0022"}));
    QCOMPARE(db.rows("select 抗生素 from 表1 where 抗生素 is not null"),
             (QStringList{QStringLiteral("阿莫西林胶囊 0.25g"), QStringLiteral("阿莫西林胶囊 0.5g")}));
    QCOMPARE(db.rows("select 消化 from 表1 where 消化 is not null"), digestive);
    const QString again = dir.filePath(QStringLiteral("again.csv"));
    QCOMPARE(runTool(QStringList{"catalogue", "export", "--drugs", again} + target(db)).code, 0);
    QCOMPARE(QString::fromUtf8(bytesOf(again)).split(QStringLiteral("\r\n")).mid(0, 4),
             (QStringList{lines[0], lines[20], lines[21], row3.join(u',')}));
}

void TestToolCommands::catalogueImportRefused_data()
{
    QTest::addColumn<QByteArray>("content");  // "<dir>" makes a folder instead of a file
    QTest::addColumn<QString>("message");
    const QByteArray header = (csvHeader() + "\r\n").toUtf8();
    QTest::newRow("unclosed quote") << header + csvLine({"a"}) + csvLine({"\"open"}) << "第3行：引号没有闭合";
    QTest::newRow("quote inside field") << header + csvLine({"ab\"c"}) << "第2行：没有加引号的字段中出现了引号";
    QTest::newRow("text after quote") << header + csvLine({"\"ab\"c"}) << "第2行：右引号后面只能是逗号或换行";
    QTest::newRow("too few fields") << header + csvLine({"a"}) + "a,b,c\r\n"
                                    << "第3行有3个字段，表头有17个";
    QTest::newRow("too many fields") << header + csvLine({"a"}).replace("\r\n", ",x\r\n")
                                     << "第2行有18个字段，表头有17个";
    QTest::newRow("unknown column") << (csvHeader().replace("消化", "肠胃") + "\n").toUtf8() + csvLine({"a"})
                                    << "未知的列 肠胃；缺少列 消化";
    QTest::newRow("repeated column") << (csvHeader().replace("消化", "输液") + "\n").toUtf8()
                                     << "重复的列 输液；缺少列 消化";
    QTest::newRow("missing column") << (catalogueColumns().mid(0, 16).join(',') + "\n").toUtf8() << "缺少列 个人定制";
    QTest::newRow("empty file") << QByteArray() << "文件是空的";
    QTest::newRow("not utf-8") << header + QByteArray("\xB0\xA2\xC4\xAA\xCE\xF7\xC1\xD6") + ",,,,,,,,,,,,,,,,\r\n"
                               << "不是有效的 UTF-8 文本";
    QTest::newRow("folder") << QByteArray("<dir>") << "是文件夹";
}

void TestToolCommands::catalogueImportRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const TestDb db(Catalogue);
    const QStringList before = contents(db);
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("bad.csv"));
    if (content == "<dir>")
        QVERIFY(QDir().mkdir(csv));
    else
        writeFile(csv, content);
    const ToolRun r = runTool(QStringList{"catalogue", "import", csv} + target(db));
    QCOMPARE(r.code, 1);
    QVERIFY2(r.err.contains("导入失败，药品目录没有改动") && r.err.contains(message), qPrintable(r.err));
    QCOMPARE(contents(db), before);
    if (serverEngine())
        return;
    // The file's own import (inside a caller's transaction) reports the same and leaves 表1 as it was.
    QString why;
    QVERIFY(!importCatalogueCsv(Connection::open(db.path()), csv, &why));
    QVERIFY2(why.contains(message), qPrintable(why));
    QCOMPARE(contents(db), before);
}

// audit show lists the entries a filter lets through, on either engine.
void TestToolCommands::auditShowFilters()
{
    const TestDb db(Accounts);
    QCOMPARE(runTool(QStringList{"user", "add", "M1", "--password-file", "-"} + target(db), "pw\n").code, 0);
    QCOMPARE(runTool(QStringList{"user", "grant", "m1", "qx2"} + target(db)).code, 0);
    QCOMPARE(runTool(QStringList{"user", "grant", "guest", "qx1"} + target(db)).code, 0);
    ToolRun r = runTool(QStringList{"audit", "show", "--record", "M1"} + target(db));
    QCOMPARE(r.code, 0);
    QStringList lines = r.out.trimmed().split(u'\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[0].startsWith(QStringLiteral("序号  时间")) && lines[0].endsWith(QStringLiteral("改动")),
             qPrintable(lines[0]));
    QVERIFY2(lines[1].simplified().contains(QStringLiteral("新增 用户 M1 username：M1；密码：")), qPrintable(lines[1]));
    QVERIFY2(lines[2].simplified().contains(QStringLiteral("修改 用户 M1 qx2：（空） → y")), qPrintable(lines[2]));
    QCOMPARE(lines[3], QStringLiteral("共 2 条"));
    r = runTool(QStringList{"audit", "show", "--user", account().toUpper()} + target(db));
    QVERIFY2(r.out.endsWith(QStringLiteral("共 3 条\n")), qPrintable(r.out));
    r = runTool(QStringList{"audit", "show", "--since", "2999-1-1"} + target(db));
    QCOMPARE(r.out.trimmed(), QStringLiteral("没有符合条件的审计记录"));
    r = runTool(QStringList{"audit", "show", "--since", "明天"} + target(db));
    QCOMPARE(r.code, 2);
}

QTEST_MAIN(TestToolCommands)
#include "tst_toolcommands.moc"
