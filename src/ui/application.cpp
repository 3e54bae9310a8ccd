#include "ui/application.h"

#include "data/listing.h"
#include "data/sqlite.h"
#include "ui/fonts.h"
#include "ui/msgbox.h"
#include "ui/windowfilter.h"

namespace xs {

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("澄衡"));
    setQuitOnLastWindowClosed(true);
    registerFontSubstitutions();
    WindowFilter::ensureInstalled();
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
        // The first failure is told and ends the application. Events already
        // queued (or delivered while the message shows) fail the same way
        // before it ends; they are not told again.
        if (!dbErrorTold_) {
            dbErrorTold_ = true;
            reportDbError(e);
            QCoreApplication::exit(1);
        }
        return true;
    }
}

bool Application::openDatabase() { return openDatabaseOrTell(); }

bool openDatabaseOrTell()
{
    try {
        ensureWal(dbPath());
        ensureListingIndexes(Connection::open(dbPath()));
        return true;
    } catch (const DbError &e) {
        reportDbError(e);
        return false;
    }
}

}  // namespace xs
