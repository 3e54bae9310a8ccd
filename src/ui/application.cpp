#include "ui/application.h"

#include "data/audit.h"
#include "data/dbconfig.h"
#include "data/engines.h"
#include "data/pg/serverdb.h"
#include "data/sqlite/fileschema.h"
#include "data/sqlite/sqlite.h"
#include "ui/fonts.h"
#include "ui/msgbox.h"
#include "ui/windowfilter.h"

#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>
#include <exception>
#include <memory>

namespace xs {

Application::Application(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("澄衡"));
    setQuitOnLastWindowClosed(true);
    installQtTranslations();
    registerFontSubstitutions();
    WindowFilter::ensureInstalled();
}

QTranslator *installQtTranslations()
{
    // Qt's own dialogs and buttons (print, the file dialog of 导出PDF, the
    // standard buttons) speak the program's language. The translations come
    // from Debian's qt6-translations-l10n, a dependency of the package; without
    // them those dialogs stay English and everything else works.
    auto translator = std::make_unique<QTranslator>(qApp);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator.release();
}

void reportDbError(const DbError &e) { MsgBox(e.message(), vbCritical | vbOKOnly, QStringLiteral("澄衡")); }

bool Application::notify(QObject *receiver, QEvent *event)
{
    // Nothing is meant to be thrown through an event handler; should anything
    // be, it is told and the application goes on with the next event.
    try {
        return QApplication::notify(receiver, event);
    } catch (const DbError &e) {
        reportDbError(e);
    } catch (const std::exception &) {
        MsgBox(QStringLiteral("程序内部出错，刚才的操作可能没有完成。请检查数据后再试。"), vbCritical | vbOKOnly,
               QStringLiteral("澄衡"));
    } catch (...) {
        MsgBox(QStringLiteral("程序内部出错，刚才的操作可能没有完成。请检查数据后再试。"), vbCritical | vbOKOnly,
               QStringLiteral("澄衡"));
    }
    return true;
}

bool Application::openDatabase() { return openDatabaseOrTell(); }

bool openDatabaseOrTell()
{
    const DatabaseChoice choice = loadDatabaseChoice();
    if (!choice.error.isEmpty()) {
        MsgBox(choice.error, vbCritical | vbOKOnly, QStringLiteral("澄衡"));
        return false;
    }
    if (choice.server) {
        QString why;
        if (!openServerDatabase(choice.conninfo, choice.room, &why)) {
            MsgBox(QStringLiteral("无法使用配置文件 %1 中的数据库服务器：\n").arg(choice.source) + why,
                   vbCritical | vbOKOnly, QStringLiteral("澄衡"));
            return false;
        }
        return true;
    }
    useFile();
    try {
        checkOurs(dbPath());
        // A file of an older version is brought up to this one here (the
        // audit trail too); should that fail, the work goes on and the user
        // knows changes go unrecorded. A newer one is not used.
        QString why;
        const SchemaOutcome schema = migrateFile(Connection::open(dbPath()), &why);
        if (schema == SchemaOutcome::Newer) {
            MsgBox(why, vbCritical | vbOKOnly, QStringLiteral("澄衡"));
            return false;
        }
        if (schema == SchemaOutcome::Failed)
            MsgBox(
                QStringLiteral("无法在数据库中建立审计记录：%1\n程序照常使用，但在此问题解决之前所做的修改不会被记录。"
                               "请检查数据库文件的写入权限后重新启动程序。")
                    .arg(why),
                vbExclamation | vbOKOnly, QStringLiteral("警告"));
        return true;
    } catch (const DbError &e) {
        reportDbError(e);
        return false;
    }
}

namespace {
bool g_faultPending = false;  // a message is queued or showing: later faults join it
QString g_faultMessage;
}  // namespace

void installDbFaultListener()
{
    setFaultListener([](DbFault, const QString &message) {
        if (g_faultPending)
            return;
        g_faultPending = true;
        g_faultMessage = message;
        QTimer::singleShot(0, qApp, [] {
            MsgBox(QStringLiteral("读取数据库失败，显示的内容不完整：\n") + g_faultMessage, vbCritical | vbOKOnly,
                   QStringLiteral("澄衡"));
            g_faultPending = false;
        });
    });
}

}  // namespace xs
