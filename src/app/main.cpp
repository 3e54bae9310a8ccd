#include "mainwin/MDIForm1.h"
#include "signin/Frmdenlu.h"
#include "ui/application.h"
#include "ui/window.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

// What `chengheng --help` prints: the program takes no options of its own
// besides these two; everything else is chosen in its windows and in the
// configuration file.
const char kHelp[] = "用法：chengheng [-h | --help] [-v | --version]\n"
                     "澄衡：门诊诊室的病例档案、处方、科室设置和用户管理程序。不带选项时打开登录窗口。\n"
                     "\n"
                     "  -h, --help     显示本说明后退出\n"
                     "  -v, --version  显示版本后退出\n"
                     "\n"
                     "数据库是程序所在文件夹中的 xs.mdb；若程序旁边的 chengheng.conf 或\n"
                     "/etc/chengheng/chengheng.conf 的 [server] 一节写有 connection，则使用该 PostgreSQL 服务器。\n"
                     "建立和管理数据库用 chengheng-db（chengheng-db --help 列出它的命令）。\n";

bool isWord(const char *arg, const char *shortForm, const char *longForm)
{
    return std::strcmp(arg, shortForm) == 0 || std::strcmp(arg, longForm) == 0;
}

}  // namespace

// Starts the login window and nothing else; everything after it is reached
// from there.
int main(int argc, char *argv[])
{
    // Help and version are answered before anything else is set up: they
    // open no window and no file and need no display.
    for (int i = 1; i < argc; ++i) {
        if (isWord(argv[i], "-h", "--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (isWord(argv[i], "-v", "--version")) {
            std::puts("chengheng " XS_VERSION);
            return 0;
        }
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
