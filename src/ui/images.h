#pragma once
#include <QIcon>
#include <QPixmap>
#include <QString>

// The system's own pictures, drawn at run time so that no picture file has to
// travel with the program.
namespace xs {
QIcon appIcon();
QPixmap loginBanner(int width, int height);
QIcon signInIcon();
QIcon closeIcon();
QPixmap decorationPixmap(int index, int size);
// Background of the main window's client area: 1920 x 975, 24-bit colour.
QPixmap mainBackground();
// Toolbar pictures (32 x 32) by key: "del", "print", "find", "modi", "class";
// tree pictures (16 x 16): "class" (group), "cla2" (department).
QPixmap toolbarPixmap(const QString &key);
QPixmap treePixmap(const QString &key);
}  // namespace xs
