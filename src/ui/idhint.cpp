#include "ui/idhint.h"

#include "data/dates.h"
#include "data/idcard.h"
#include "ui/fieldform.h"

#include <QComboBox>
#include <QStringList>

namespace xs {

QString idCardHint(const QString &number, const QString &sex, const QString &birth)
{
    const IdCardInfo id = readIdCard(number);
    if (!id.valid)
        return id.problem;
    QStringList hints;
    if (const std::optional<QDate> d = parseDate(birth); d && *d != id.birth)
        hints << QStringLiteral("身份证号中的出生日期是 %1年%2月%3日，与出生年月不符")
                     .arg(id.birth.year())
                     .arg(id.birth.month())
                     .arg(id.birth.day());
    if (const QString s = sex.trimmed(); (s == QStringLiteral("男") || s == QStringLiteral("女")) && s != id.sex)
        hints << QStringLiteral("身份证号中的性别是%1，与性别不符").arg(id.sex);
    return hints.join(QLatin1Char('\n'));
}

IdCardHint::IdCardHint(TextBox *number, QComboBox *sex, TextBox *birth)
    : QObject(number), number_(number), sex_(sex), birth_(birth)
{
    connect(number_, &TextBox::textChanged, this, &IdCardHint::refresh);
    connect(birth_, &TextBox::textChanged, this, &IdCardHint::refresh);
    connect(sex_, &QComboBox::currentTextChanged, this, &IdCardHint::refresh);
    refresh();
}

void IdCardHint::refresh()
{
    QWidget *box = number_->editor();
    const QString hint = idCardHint(number_->text(), sex_->currentText(), birth_->text());
    if (!hint.isEmpty() && !marked_) {
        // A palette the box inherits stays inherited once the mark is gone.
        own_ = box->testAttribute(Qt::WA_SetPalette) ? box->palette() : QPalette();
        QPalette p = box->palette();
        p.setColor(QPalette::Base, colour());
        box->setPalette(p);
        marked_ = true;
    } else if (hint.isEmpty() && marked_) {
        box->setPalette(own_);
        marked_ = false;
    }
    if (box->toolTip() != hint)
        box->setToolTip(hint);
}

}  // namespace xs
