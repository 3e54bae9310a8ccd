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
};
// Shows the message for a database that cannot be opened.
void reportDbError(const class DbError &e);
}  // namespace xs
