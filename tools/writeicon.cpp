// Writes the application's icon, drawn by the same code as the windows' title
// bar icon, to a PNG file for the desktop menu entry. Run at build time.
#include "ui/images.h"

#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: writeicon SIZE FILE.png\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int size = QByteArray(argv[1]).toInt();
    const QPixmap pm = xs::appIcon().pixmap(size, size);
    return pm.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
}
