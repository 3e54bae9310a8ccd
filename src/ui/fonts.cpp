#include "ui/fonts.h"

#include <QApplication>
#include <QFontDatabase>

namespace xs {

void registerFontSubstitutions()
{
    const QStringList song = {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
                              QStringLiteral("AR PL UMing HK"), QStringLiteral("WenQuanYi Micro Hei")};
    for (const char *name : {"宋体", "SimSun", "华文中宋", "STZhongsong", "新宋体", "NSimSun"})
        QFont::insertSubstitutions(QString::fromUtf8(name), song);
    if (qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QFont ui(QStringLiteral("WenQuanYi Micro Hei"), 9);
        ui.setStyleHint(QFont::SansSerif);
        QApplication::setFont(ui);
    }
}

QFont oldFont(const QString &family, double pointSize, bool bold)
{
    QFont f(family);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

}  // namespace xs
