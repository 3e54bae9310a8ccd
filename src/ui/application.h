#pragma once
#include <QApplication>

class QTranslator;

namespace xs {
// The application object. No database fault ends it: statements return their
// faults as values and the windows tell them; its event dispatch is only the
// last-resort catch for anything thrown, which is told in Chinese and the
// application goes on.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
    // Checks that xs.mdb opens, is a 澄衡 database and is in WAL mode; on
    // failure tells the user and returns false. Never creates the file.
    bool openDatabase();
};
class DbError;
// Installs Qt's own Chinese translations (qtbase_zh_CN from Qt's translations
// folder), so that Qt's dialogs speak Chinese; the translator belongs to the
// application (deleting it uninstalls it). Null when the translations are not
// installed. The application object does this before any window.
QTranslator *installQtTranslations();
// Shows the message for a database that cannot be opened.
void reportDbError(const DbError &e);
// Opens xs.mdb once (refusing a file that is not a 澄衡 database before a byte
// of it changes, then putting it in WAL mode if needed); when it cannot, tells
// the user which file and why and returns false. Never creates the file.
bool openDatabaseOrTell();
// Installs the data layer's fault listener: a read that failed for a fault of
// the file shows one message ("澄衡", critical icon) per burst of faults,
// after the handler that met it has returned, so no message box runs while a
// statement or transaction is open.
void installDbFaultListener();
}  // namespace xs
