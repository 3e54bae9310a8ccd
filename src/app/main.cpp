#include "signin/Frmdenlu.h"
#include "ui/application.h"
#include "ui/window.h"

#include <sys/stat.h>

// Starts the login window and nothing else; everything after it is reached
// from there.
int main(int argc, char *argv[])
{
    // Files the program makes (backups, exports) are for the group of the
    // program's users, never for everyone.
    umask(007);
    xs::Application app(argc, argv);
    if (!app.openDatabase())
        return 1;
    xs::WindowRegistry::show<xs::Frmdenlu>();
    return app.exec();
}
