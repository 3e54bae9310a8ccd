#pragma once
#include <QFont>
#include <QPageSize>
#include <QRect>
#include <QString>
#include <QStringList>
#include <array>
#include <span>
#include <vector>

// A printed report as data. Every position and size is in twips (1440 to the
// inch). Element positions are measured from the left edge of the printable
// area and from the top of the element's section. Nothing here grows: a value
// longer than its box is wrapped inside the box's width and cut at its height,
// and every section keeps its height.
namespace xs {

constexpr int kTwipsPerInch = 1440;

struct ReportFont {
    QString name = QStringLiteral("宋体");
    double size = 9;    // points
    int weight = 400;   // 400 regular, 700 bold
    int charset = 134;  // GB2312; Qt picks the glyphs by script, so this is recorded only
    bool italic = false;
};

enum class ElementKind { Label, Field };

struct ReportElement {
    QString name;  // designer name: Label1, Text1, ...
    ElementKind kind = ElementKind::Label;
    QString caption;    // labels; "%p" in a caption prints the page number
    QString dataField;  // fields: the column, found by name (letter case ignored)
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    ReportFont font;

    QRect rect() const { return QRect(left, top, width, height); }
};

enum class SectionKind { ReportHeader = 0, PageHeader, Detail, PageFooter, ReportFooter };
constexpr int kSectionCount = 5;

struct ReportSection {
    QString name;
    int height = 0;
    std::vector<ReportElement> elements;
};

struct ReportLayout {
    QString name;        // the report's name, e.g. "DataReportclass"
    QString caption;     // caption of its preview window
    QString dataMember;  // the data environment command it is bound to, e.g. "Command1"
    int reportWidth = 0;
    int leftMargin = 1440;
    int rightMargin = 1440;
    int topMargin = 1440;
    int bottomMargin = 1440;
    QPageSize::PageSizeId paper = QPageSize::A4;
    std::array<ReportSection, kSectionCount> sections;

    ReportSection &section(SectionKind k) { return sections[size_t(k)]; }
    const ReportSection &section(SectionKind k) const { return sections[size_t(k)]; }
    // Paper size in twips (portrait).
    QSize paperSize() const;
    int printableHeight() const { return paperSize().height() - topMargin - bottomMargin; }
    // The columns the fields are bound to, each once, in the order of first use.
    QStringList boundColumns() const;
};

// The Qt font for a report font, sized in twips (pixel size = points x 20) so
// that one layout measures the same on screen, printer and PDF: the painter is
// scaled from twips to the device. 宋体 resolves to the Song-style CJK font
// through the substitutions registered at start-up.
QFont reportQFont(const ReportFont &f);

// Small builders that keep the layout tables readable.
ReportElement reportLabel(const QString &name, const QString &caption, int left, int top, int width, int height,
                          const ReportFont &font);
ReportElement reportField(const QString &name, const QString &column, int left, int top, int width, int height,
                          const ReportFont &font);

// One row of a layout table: a label with its caption or a field with its
// column, at (left, top) in its section, all in twips.
struct LayoutCell {
    int top, left, width, height;
    bool field;
    const char *text;  // UTF-8: caption of a label, column of a field
};
// Element names are numbered in the order the elements are added, labels
// Label1.., fields Text1.., across the sections of one report.
struct ElementCounter {
    int labels = 0;
    int fields = 0;
};
// Adds the cells of a table to a section, labels in labelFont and fields in
// fieldFont.
void addCells(ReportSection &section, std::span<const LayoutCell> cells, const ReportFont &labelFont,
              const ReportFont &fieldFont, ElementCounter &counter);

}  // namespace xs
