#include "signin/Frmdenlu.h"
#include "ui/application.h"
#include "ui/window.h"

// Starts the login window and nothing else; everything after it is reached
// from there.
int main(int argc, char *argv[])
{
    xs::Application app(argc, argv);
    xs::installDbFaultListener();
    if (!app.openDatabase())
        return 1;
    xs::WindowRegistry::show<xs::Frmdenlu>();
    return app.exec();
}
