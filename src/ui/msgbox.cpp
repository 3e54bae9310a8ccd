#include "ui/msgbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace xs {

namespace {
MsgBoxAnswerer g_answerer;
}

void setMsgBoxAnswerer(MsgBoxAnswerer answerer) { g_answerer = std::move(answerer); }

int MsgBox(const QString &text, int flags, const QString &title)
{
    const MsgBoxCall call{text, flags, title.isNull() ? QStringLiteral("澄衡") : title};
    if (g_answerer)
        return g_answerer(call);

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(call.title);
    box.setText(text);
    switch (call.icon()) {
    case vbCritical:
        box.setIcon(QMessageBox::Critical);
        break;
    case vbQuestion:
        box.setIcon(QMessageBox::Question);
        break;
    case vbExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case vbInformation:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    QPushButton *ok = nullptr, *cancel = nullptr, *yes = nullptr, *no = nullptr;
    switch (call.buttons()) {
    case vbOKCancel:
        ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(cancel);
        break;
    case vbYesNo:
        yes = box.addButton(QStringLiteral("是"), QMessageBox::YesRole);
        no = box.addButton(QStringLiteral("否"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        break;
    default:
        ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
        box.setEscapeButton(ok);
        break;
    }
    box.exec();
    QAbstractButton *clicked = box.clickedButton();
    if (clicked && clicked == cancel)
        return vbCancel;
    if (clicked && clicked == yes)
        return vbYes;
    if (no && (clicked == no || !clicked))
        return vbNo;
    if (cancel && !clicked)
        return vbCancel;
    return vbOK;
}

}  // namespace xs
