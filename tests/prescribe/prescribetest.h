#pragma once
// Set-up shared by the prescribing window's tests.
#include "prescribe/Form2.h"
#include "testenv.h"
#include "ui/window.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTest>

namespace xs::test {

// Two departments, given out of sort order (儿科 sorts before 内科).
inline void addDepartments(const TestDb &db)
{
    db.exec(QStringLiteral("insert into class values('一组','内科','101','五年','临床医学','王医生','无'),"
                           "('二组','儿科','102','五年','儿科学','李医生','无')"));
}

// A small catalogue: 消化 with a repeat, an empty cell, a null, outer blanks.
inline void addCatalogue(const TestDb &db)
{
    db.exec(QStringLiteral("insert into 表1(消化,呼吸,外用) values"
                           "('奥美拉唑肠溶胶囊 20mg','氨溴索片 30mg','红霉素软膏'),"
                           "('','复方甘草片',NULL),"
                           "(NULL,'','炉甘石洗剂'),"
                           "(' 多潘立酮片 10mg ','氨溴索片 30mg',NULL),"
                           "('奥美拉唑肠溶胶囊 20mg',NULL,NULL),"
                           "('10',NULL,NULL)"));
}

// Shows the prescribing window and waits until it is active (its set-up has run).
inline Form2 *openForm2()
{
    Form2 *w = WindowRegistry::show<Form2>();
    if (!QTest::qWaitForWindowActive(w))
        qWarning("prescribing window did not become active");
    return w;
}

// After an operation that reopens the window: the old one is gone and a new
// one is open and active. Null when that is not so.
inline Form2 *reopened(QPointer<Form2> old)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (old)
        return nullptr;
    Form2 *w = WindowRegistry::find<Form2>();
    if (!w || !QTest::qWaitForWindowActive(w))
        return nullptr;
    return w;
}

// A complete patient in the text boxes Text2(0..16); 药名 and 药量 as given.
inline void typePatient(Form2 *w, const QString &number, const QString &drugs = QStringLiteral("奥美拉唑"),
                        const QString &amounts = QStringLiteral("2盒"))
{
    const QStringList v = {number,
                           QStringLiteral("张三"),
                           QStringLiteral("1980-05-06"),
                           QStringLiteral("北京路1号"),
                           QStringLiteral("100000"),
                           QStringLiteral("13800000000"),
                           QStringLiteral("2024-03-01"),
                           QStringLiteral("无"),
                           QStringLiteral("正常"),
                           QStringLiteral("无"),
                           QStringLiteral("腹痛"),
                           QStringLiteral("胃炎"),
                           drugs,
                           amounts,
                           QStringLiteral("王医生"),
                           QStringLiteral("45"),
                           QStringLiteral("110101198005060011")};
    for (int i = 0; i < 17; ++i)
        w->Text2[size_t(i)]->setText(v[i]);
}

inline QStringList items(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

}  // namespace xs::test
