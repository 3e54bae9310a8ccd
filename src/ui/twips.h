#pragma once
#include <QRect>
#include <QWidget>

// Positions and sizes of the windows are kept in twips: 15 twips to a pixel
// at 96 DPI.
namespace xs {
constexpr int tw(int twips) { return (twips * 2 + 15) / 30; }
constexpr int toTwips(int pixels) { return pixels * 15; }
inline QRect twRect(int left, int top, int width, int height)
{
    return QRect(tw(left), tw(top), tw(width), tw(height));
}
// Places w at (left, top) with size (width, height), all in twips.
inline void placeTw(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twRect(left, top, width, height));
}
}  // namespace xs
