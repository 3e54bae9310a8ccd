#include "report/reportmodel.h"

#include "ui/fonts.h"

#include <QGuiApplication>
#include <cmath>

namespace xs {

QSize ReportLayout::paperSize() const
{
    const QSizeF mm = QPageSize(paper).size(QPageSize::Millimeter);
    return QSize(int(std::lround(mm.width() / 25.4 * kTwipsPerInch)),
                 int(std::lround(mm.height() / 25.4 * kTwipsPerInch)));
}

QStringList ReportLayout::boundColumns() const
{
    QStringList cols;
    for (const ReportSection &s : sections)
        for (const ReportElement &e : s.elements)
            if (e.kind == ElementKind::Field && !cols.contains(e.dataField, Qt::CaseInsensitive))
                cols << e.dataField;
    return cols;
}

QFont reportQFont(const ReportFont &f)
{
    // The substitutions for 宋体 are registered once per process, also when no
    // window ran the application's start-up (the database tool, tests).
    static const bool registered = [] {
        registerFontSubstitutions();
        return true;
    }();
    Q_UNUSED(registered);
    QFont font(f.name);
    font.setPixelSize(std::max(1, int(std::lround(f.size * 20))));
    font.setWeight(QFont::Weight(f.weight));
    font.setItalic(f.italic);
    font.setStyleHint(QFont::Serif);
    // Unhinted outlines measure alike on every device, so the screen wraps a
    // text exactly where the printer does.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

ReportElement reportLabel(const QString &name, const QString &caption, int left, int top, int width, int height,
                          const ReportFont &font)
{
    ReportElement e;
    e.name = name;
    e.kind = ElementKind::Label;
    e.caption = caption;
    e.left = left;
    e.top = top;
    e.width = width;
    e.height = height;
    e.font = font;
    return e;
}

ReportElement reportField(const QString &name, const QString &column, int left, int top, int width, int height,
                          const ReportFont &font)
{
    ReportElement e = reportLabel(name, QString(), left, top, width, height, font);
    e.kind = ElementKind::Field;
    e.dataField = column;
    return e;
}

void addCells(ReportSection &section, std::span<const LayoutCell> cells, const ReportFont &labelFont,
              const ReportFont &fieldFont, ElementCounter &counter)
{
    for (const LayoutCell &c : cells) {
        const QString text = QString::fromUtf8(c.text);
        section.elements.push_back(c.field ? reportField(QStringLiteral("Text%1").arg(++counter.fields), text, c.left,
                                                         c.top, c.width, c.height, fieldFont)
                                           : reportLabel(QStringLiteral("Label%1").arg(++counter.labels), text, c.left,
                                                         c.top, c.width, c.height, labelFont));
    }
}

}  // namespace xs
