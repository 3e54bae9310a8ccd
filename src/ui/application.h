#pragma once
#include <QApplication>

namespace xs {
// The application object. Its event dispatch is the one place where a
// database file that cannot be opened (DbError) is caught: the user is told
// which file and why, and the application ends.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
    // Checks that xs.mdb opens (and is in WAL mode); on failure tells the
    // user and returns false. Never creates the file.
    bool openDatabase();

private:
    bool dbErrorTold_ = false;
};
class DbError;
// Shows the message for a database that cannot be opened.
void reportDbError(const DbError &e);
// Opens xs.mdb once (putting it in WAL mode if needed); when it cannot, tells
// the user which file and why and returns false. Never creates the file.
bool openDatabaseOrTell();
}  // namespace xs
