#include "ui/application.h"

#include "data/sqlite.h"
#include "ui/fonts.h"
#include "ui/msgbox.h"

namespace xs {

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("澄衡"));
    setQuitOnLastWindowClosed(true);
    registerFontSubstitutions();
}

void reportDbError(const DbError &e)
{
    MsgBox(e.message() + QStringLiteral("\n程序将退出。"), vbCritical | vbOKOnly, QStringLiteral("澄衡"));
}

bool Application::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const DbError &e) {
        reportDbError(e);
        QCoreApplication::exit(1);
        return true;
    }
}

bool Application::openDatabase() { return openDatabaseOrTell(); }

bool openDatabaseOrTell()
{
    try {
        ensureWal(dbPath());
        return true;
    } catch (const DbError &e) {
        reportDbError(e);
        return false;
    }
}

}  // namespace xs
