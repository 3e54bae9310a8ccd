#include "mainwin/MDIForm1.h"
#include "signin/Frmdenlu.h"
#include "ui/application.h"
#include "ui/window.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

// Starts the login window and nothing else; everything after it is reached
// from there.
int main(int argc, char *argv[])
{
    // The one word the program answers on its command line, for packaging and
    // support; it opens no window and no file.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("chengheng " XS_VERSION);
        return 0;
    }
    // Files the program makes (backups, exports) are for the group of the
    // program's users, never for everyone.
    umask(007);
    xs::Application app(argc, argv);
    xs::installDbFaultListener();
    if (!app.openDatabase())
        return 1;
    xs::MDIForm1::wireSignIn();
    xs::WindowRegistry::show<xs::Frmdenlu>();
    return app.exec();
}
