#pragma once
#include <QString>
#include <functional>

// The one message-box function of the system, shaped like the old MsgBox:
// MsgBox(text, icon | buttons, title). Tests replace the answerer and see
// exactly what the user would have been asked.
namespace xs {

enum MsgFlag : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbYesNo = 4,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
};
enum MsgResult : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

struct MsgBoxCall {
    QString text;
    int flags = 0;
    QString title;
    int buttons() const { return flags & 0x0F; }
    int icon() const { return flags & 0x70; }
};

int MsgBox(const QString &text, int flags = vbOKOnly, const QString &title = QString());

using MsgBoxAnswerer = std::function<int(const MsgBoxCall &)>;
// Replaces the modal dialog by a function (tests); an empty function restores it.
void setMsgBoxAnswerer(MsgBoxAnswerer answerer);

}  // namespace xs
