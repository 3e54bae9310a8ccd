// The work-table operations without a window: 生成处方 (its checks in order,
// a new row, a modification of the loaded row), 保存 into the archive, the
// removal of a 门诊号's rows and 清空打印库, each also when the engine refuses.
#include "data/globals.h"
#include "prescribe/worktable.h"
#include "testenv.h"

#include <QTest>

using namespace xs;
using namespace xs::test;

namespace {

// A complete prescription in column order, with blanks around 姓名.
WorkRecord record(const QString &number)
{
    return {number,
            QStringLiteral(" 张三 "),
            QStringLiteral("男"),
            QStringLiteral("内科"),
            "1980-05-06",
            QStringLiteral("北京路1号"),
            "100000",
            "13800000000",
            "2024-03-01",
            QStringLiteral("无"),
            QStringLiteral("未婚"),
            QStringLiteral("正常"),
            QStringLiteral("无"),
            QStringLiteral("腹痛"),
            QStringLiteral("胃炎"),
            QStringLiteral("奥美拉唑"),
            QStringLiteral("2盒"),
            QStringLiteral("王医生"),
            "45",
            "110101"};
}

void addWorkRow(const TestDb &db, const QString &number, const QString &name = QStringLiteral("李四"))
{
    db.exec(QStringLiteral("insert into yc(门诊号,姓名,入诊时间) values('%1','%2','2024-03-01')").arg(number, name));
}

QStringList numbers(const TestDb &db, const QString &table)
{
    return db.rows(QStringLiteral("select 门诊号 from %1 order by rowid").arg(table));
}

// A trigger that makes the engine refuse `event` on `table`.
void refuse(const TestDb &db, const QString &event, const QString &table)
{
    db.exec(QStringLiteral("create trigger refuse before %1 on %2 begin select raise(abort,'locked'); end")
                .arg(event, table));
}

}  // namespace

class TestWorkTable : public QObject {
    Q_OBJECT
private slots:
    // The first check that fails answers; nothing is written.
    void generateRefusals_data()
    {
        QTest::addColumn<int>("column");  // emptied or changed column (-1: none)
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("modify");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("box");
        QTest::newRow("门诊号 empty") << 0 << "" << false << int(GenerateOutcome::EmptyBox) << 0;
        QTest::newRow("身份证 empty: the last box") << 19 << "" << false << int(GenerateOutcome::EmptyBox) << 16;
        QTest::newRow("备注 empty, modifying") << 9 << "" << true << int(GenerateOutcome::EmptyBox) << 7;
        QTest::newRow("a blank is not empty, but no date") << 4 << " " << false << int(GenerateOutcome::NotADate) << 2;
        QTest::newRow("empty combo value is no refusal") << 2 << "" << false << int(GenerateOutcome::Stored) << -1;
        QTest::newRow("number archived") << 0 << " A1 " << false << int(GenerateOutcome::NumberTaken) << 0;
        QTest::newRow("number archived, modifying: no question")
            << 0 << "A1" << true << int(GenerateOutcome::Stored) << -1;
        QTest::newRow("birth date unreadable") << 4 << "1980-13-45" << false << int(GenerateOutcome::NotADate) << 2;
        QTest::newRow("visit date unreadable") << 8 << "明天" << false << int(GenerateOutcome::NotADate) << 6;
    }
    void generateRefusals()
    {
        QFETCH(int, column);
        QFETCH(QString, value);
        QFETCH(bool, modify);
        QFETCH(int, result);
        QFETCH(int, box);
        TestDb db;
        db.exec(QStringLiteral("insert into xj(门诊号,姓名) values('A1','已存档')"));
        addWorkRow(db, QStringLiteral("W1"));
        WorkRecord r = record(QStringLiteral("N1"));
        r[size_t(column)] = value;
        const GenerateOutcome g = generatePrescription(r, modify, QStringLiteral("W1"));
        QCOMPARE(int(g.result), result);
        QCOMPARE(g.box, box);
        if (result != GenerateOutcome::Stored) {
            QCOMPARE(numbers(db, QStringLiteral("yc")), QStringList{QStringLiteral("W1")});
            QCOMPARE(db.scalar(QStringLiteral("select 姓名 from yc")), QStringLiteral("李四"));
        }
    }

    void generateNewStoresTrimmedRow()
    {
        TestDb db;
        addWorkRow(db, QStringLiteral("W1"));
        WorkRecord r = record(QStringLiteral(" N1 "));
        QCOMPARE(int(generatePrescription(r, false, std::nullopt).result), int(GenerateOutcome::Stored));
        QCOMPARE(numbers(db, QStringLiteral("yc")), (QStringList{"W1", "N1"}));
        QCOMPARE(db.rows(QStringLiteral("select 姓名,科室,药量,身份证 from yc where 门诊号='N1'")),
                 QStringList{QStringLiteral("张三|内科|2盒|110101")});
        QCOMPARE(db.count(QStringLiteral("xj")), 0);  // the archive is 保存's business
    }

    // Modify mode writes into the row loaded when the window opened, and only
    // there; a row removed meanwhile, or none loaded, stores nothing.
    void generateModify_data()
    {
        QTest::addColumn<QString>("loaded");  // "-": nothing was loaded
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("names");  // 姓名 of W1, W2 afterwards
        QTest::newRow("the loaded row") << "W2" << int(GenerateOutcome::Stored) << QStringList{"李四", "张三"};
        QTest::newRow("loaded row gone") << "W9" << int(GenerateOutcome::RowGone) << QStringList{"李四", "李四"};
        QTest::newRow("nothing loaded") << "-" << int(GenerateOutcome::NothingLoaded) << QStringList{"李四", "李四"};
    }
    void generateModify()
    {
        QFETCH(QString, loaded);
        QFETCH(int, result);
        QFETCH(QStringList, names);
        TestDb db;
        addWorkRow(db, QStringLiteral("W1"));
        addWorkRow(db, QStringLiteral("W2"));
        const std::optional<QString> key = loaded == QLatin1String("-") ? std::nullopt : std::optional(loaded);
        // The number typed may differ from the loaded one: it is rewritten too.
        const GenerateOutcome g = generatePrescription(record(QStringLiteral("W2")), true, key);
        QCOMPARE(int(g.result), result);
        QCOMPARE(db.rows(QStringLiteral("select 姓名 from yc order by 门诊号")), names);
    }

    void generateWriteRefused_data()
    {
        QTest::addColumn<bool>("modify");
        QTest::newRow("new row") << false;
        QTest::newRow("modification") << true;
    }
    void generateWriteRefused()
    {
        QFETCH(bool, modify);
        TestDb db;
        addWorkRow(db, QStringLiteral("W1"));
        refuse(db, modify ? QStringLiteral("update") : QStringLiteral("insert"), QStringLiteral("yc"));
        const GenerateOutcome g = generatePrescription(record(QStringLiteral("W1")), modify, QStringLiteral("W1"));
        QCOMPARE(int(g.result), int(GenerateOutcome::WriteFailed));
        QVERIFY(!g.error.isEmpty());
        QCOMPARE(db.rows(QStringLiteral("select 门诊号,姓名 from yc")), QStringList{QStringLiteral("W1|李四")});
    }

    void generateCheckFails()
    {
        TestDb db;
        db.exec(QStringLiteral("drop table xj"));
        const GenerateOutcome g = generatePrescription(record(QStringLiteral("N1")), false, std::nullopt);
        QCOMPARE(int(g.result), int(GenerateOutcome::CheckFailed));
        QVERIFY(!g.error.isEmpty());
        QCOMPARE(db.count(QStringLiteral("yc")), 0);
    }

    void archive_data()
    {
        QTest::addColumn<QStringList>("work");      // 门诊号 of the work rows
        QTest::addColumn<QStringList>("archived");  // 门诊号 in xj before
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("workRows");
        QTest::addColumn<QStringList>("after");  // 门诊号 in xj afterwards
        QTest::newRow("copied") << QStringList{"W1", "W2"} << QStringList{} << "W1" << int(ArchiveOutcome::Copied) << 1
                                << QStringList{"W1"};
        QTest::newRow("already archived") << QStringList{"W1"} << QStringList{"W1"} << "W1"
                                          << int(ArchiveOutcome::AlreadyArchived) << 1 << QStringList{"W1"};
        QTest::newRow("doubled in the work table")
            << QStringList{"W1", "W1"} << QStringList{} << "W1" << int(ArchiveOutcome::Doubled) << 2 << QStringList{};
        QTest::newRow("apostrophe in the number")
            << QStringList{"O'1"} << QStringList{} << "O'1" << int(ArchiveOutcome::Copied) << 1 << QStringList{"O'1"};
    }
    void archive()
    {
        QFETCH(QStringList, work);
        QFETCH(QStringList, archived);
        QFETCH(QString, key);
        QFETCH(int, result);
        QFETCH(int, workRows);
        QFETCH(QStringList, after);
        TestDb db;
        for (const QString &n : work)
            addWorkRow(db, QString(n).replace(QLatin1String("'"), QLatin1String("''")));
        for (const QString &n : archived)
            db.exec(QStringLiteral("insert into xj(门诊号) values('%1')").arg(n));
        const ArchiveOutcome a = archiveWorkRows(key);
        QCOMPARE(int(a.result), result);
        QCOMPARE(a.workRows, workRows);
        QCOMPARE(numbers(db, QStringLiteral("xj")), after);
        QCOMPARE(numbers(db, QStringLiteral("yc")), work);  // the work table stays as it is
        if (result == ArchiveOutcome::Copied)
            QCOMPARE(db.scalar(QStringLiteral("select 姓名 from xj")), QStringLiteral("李四"));
    }

    void archiveRefusedCopiesNothing()
    {
        TestDb db;
        addWorkRow(db, QStringLiteral("W1"));
        refuse(db, QStringLiteral("insert"), QStringLiteral("xj"));
        const ArchiveOutcome a = archiveWorkRows(QStringLiteral("W1"));
        QCOMPARE(int(a.result), int(ArchiveOutcome::Failed));
        QVERIFY(!a.error.isEmpty());
        QCOMPARE(db.count(QStringLiteral("xj")), 0);
        QCOMPARE(db.count(QStringLiteral("yc")), 1);
    }

    void removeAndClear_data()
    {
        QTest::addColumn<QString>("key");  // empty: clear
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("every row of the number") << "W1" << false << QStringList{"W2"};
        QTest::newRow("a number no row has") << "W9" << false << QStringList{"W1", "W2", "W1"};
        QTest::newRow("removal refused") << "W1" << true << QStringList{"W1", "W2", "W1"};
        QTest::newRow("clear") << "" << false << QStringList{};
        QTest::newRow("clear refused") << "" << true << QStringList{"W1", "W2", "W1"};
    }
    void removeAndClear()
    {
        QFETCH(QString, key);
        QFETCH(bool, refused);
        QFETCH(QStringList, left);
        TestDb db;
        for (const char *n : {"W1", "W2", "W1"})
            addWorkRow(db, QString::fromLatin1(n));
        if (refused)
            refuse(db, QStringLiteral("delete"), QStringLiteral("yc"));
        const WorkWrite w = key.isEmpty() ? clearWorkTable() : removeWorkRows(key);
        QCOMPARE(w.ok, !refused);
        QCOMPARE(w.error.isEmpty(), !refused);
        QCOMPARE(numbers(db, QStringLiteral("yc")), left);
    }

    // A prescription's lines are stored with its work row, follow a changed
    // 门诊号, go to the archive with 保存 (replacing what an earlier record of
    // the number left there) and go with the row.
    void linesGoWithTheRow()
    {
        TestDb db(Catalogue);
        const std::vector<RxPick> picks = {{QStringLiteral("阿莫西林胶囊 0.5g"), QStringLiteral("抗生素"), " 2 "},
                                           {QStringLiteral("自备药"), QStringLiteral("个人定制"), "1"}};
        QCOMPARE(int(generatePrescription(record(QStringLiteral("N1")), false, std::nullopt, picks).result),
                 int(GenerateOutcome::Stored));
        const auto shown = [](const std::optional<std::vector<RxLine>> &lines) {
            QStringList out;
            for (const RxLine &l : lines.value_or(std::vector<RxLine>{}))
                out << QStringList{l.code,
                                   l.generic,
                                   l.spec,
                                   l.quantity,
                                   l.unit,
                                   l.price,
                                   l.dose,
                                   l.doseUnit,
                                   l.route,
                                   l.frequency,
                                   l.control,
                                   l.allergy,
                                   l.skinTest ? "皮试" : "",
                                   l.category}
                           .join(u'|');
            return out;
        };
        const QStringList stored = {
            QStringLiteral("YP0021|阿莫西林胶囊|0.5g|2|盒|12.00|0.5|g|口服|tid|普通|青霉素类|皮试|抗生素"),
            QStringLiteral("|自备药||1|||||||普通|||个人定制")};
        QString why;
        QCOMPARE(shown(workLines(QStringLiteral("N1"), &why)), stored);
        // Modified under another number, with one more drug.
        QCOMPARE(int(generatePrescription(record(QStringLiteral("N2")), true, QStringLiteral("N1"),
                                          {{QStringLiteral("自备药2"), QString(), "3"}})
                         .result),
                 int(GenerateOutcome::Stored));
        QCOMPARE(shown(workLines(QStringLiteral("N1"), &why)), QStringList());
        QCOMPARE(shown(workLines(QStringLiteral("N2"), &why)).size(), 3);
        db.exec(QStringLiteral("insert into xjrx(门诊号,行号,药品) values('N2',1,'旧的')"));
        QCOMPARE(int(archiveWorkRows(QStringLiteral("N2")).result), int(ArchiveOutcome::Copied));
        QCOMPARE(shown(archivedLines(QStringLiteral("N2"), &why)).mid(0, 2), stored);
        // The archived lines are in the trail: the stale one added and removed, the three copied.
        if (!serverEngine())
            QCOMPARE(db.count(QStringLiteral("audit where 表名='xjrx'")), 5);
        QVERIFY(removeWorkRows(QStringLiteral("N2")).ok);
        QCOMPARE(db.count(QStringLiteral("ycrx")), 0);
        QCOMPARE(db.count(QStringLiteral("xjrx")), 3);
    }

    // The sheet's patient part: age and sex from 出生年月 and 性别, else from
    // the 身份证 number; 急诊 and 儿科 from the 科室, 儿科 also for a child.
    void sheetHeader_data()
    {
        QTest::addColumn<QString>("values");    // 性别|科室|出生年月|身份证
        QTest::addColumn<QString>("expected");  // sex|birth|急诊|儿科
        const QString child = QDate::currentDate().addYears(-3).toString(Qt::ISODate);
        QTest::newRow("from the record") << "女|内科|1980-05-06|110101198005060015"
                                         << "女|1980-05-06|0|0";
        QTest::newRow("from the number") << "Combo1|急诊内科||110101198005060015"
                                         << "男|1980-05-06|1|0";
        QTest::newRow("number not valid") << "Combo1|内科||110101198005060012"
                                          << "||0|0";
        QTest::newRow("a child") << "男|内科|" + child + "|"
                                 << "男|" + child + "|0|1";
        QTest::newRow("儿科") << "男|儿科|1980-05-06|"
                              << "男|1980-05-06|0|1";
    }
    void sheetHeader()
    {
        QFETCH(QString, values);
        QFETCH(QString, expected);
        TestDb db;
        const QStringList v = values.split(u'|');
        db.exec(QStringLiteral("insert into yc(门诊号,姓名,性别,科室,出生年月,身份证,诊断,医生签字) values('H1','张三',"
                               "'%1','%2',%3,'%4','胃炎','王医生')")
                    .arg(v[0], v[1], v[2].isEmpty() ? QStringLiteral("NULL") : "'" + v[2] + "'", v[3]));
        QString why;
        const std::optional<RxHeader> h = workHeader(QStringLiteral("H1"), &why);
        QVERIFY2(h, qPrintable(why));
        QCOMPARE(QStringList({h->sex, h->birth.toString(Qt::ISODate), QString::number(h->emergency),
                              QString::number(h->paediatric)})
                     .join(u'|'),
                 expected);
        QCOMPARE(QStringList({h->institution, h->caseNo, h->name, h->diagnosis, h->doctor}).join(u'|'),
                 QStringLiteral("青禾医院|H1|张三|胃炎|王医生"));
        QVERIFY(!workHeader(QStringLiteral("H9"), &why) && why.isEmpty());
    }

    // Lines the engine refuses store no row either.
    void linesRefusedStoreNothing()
    {
        TestDb db(Catalogue);
        refuse(db, QStringLiteral("insert"), QStringLiteral("ycrx"));
        const GenerateOutcome g = generatePrescription(record(QStringLiteral("N1")), false, std::nullopt,
                                                       {{QStringLiteral("自备药"), QString(), "1"}});
        QCOMPARE(int(g.result), int(GenerateOutcome::WriteFailed));
        QVERIFY(!g.error.isEmpty());
        QCOMPARE(db.count(QStringLiteral("yc")), 0);
    }
};

QTEST_MAIN(TestWorkTable)
#include "tst_worktable.moc"
