#pragma once
#include <QFont>
#include <QString>

namespace xs {
// Makes 宋体, SimSun, 华文中宋 and STZhongsong resolve to an installed Song-style
// CJK font, and sets a CJK-capable interface font. Called once at start-up
// (and by the test fixtures).
void registerFontSubstitutions();
// A font by its old name, point size and weight.
QFont oldFont(const QString &family, double pointSize, bool bold = false);
}  // namespace xs
