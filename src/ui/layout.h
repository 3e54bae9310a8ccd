#pragma once
#include <QHash>
#include <QString>
#include <array>
#include <span>

class QWidget;

namespace xs {

class XsWindow;

// One control of a window's layout table: what it is, its name and caption,
// and its place in twips inside its parent, as the window was designed.
struct Control {
    enum Kind {
        Label,    // QLabel with the caption
        Picture,  // QLabel without text; the window gives it its picture
        Line,     // QLineEdit
        Caret,    // KeepCaretLineEdit: a QLineEdit that keeps its caret on Tab
        Box,      // TextBox, one line, with the typing limit `limit` (0: none)
        Memo,     // TextBox of several lines
        Combo,    // QComboBox
        Button,   // QPushButton with the caption
        Frame,    // QGroupBox with the caption; other controls may lie in it
        Grid,     // FlexGrid
        List,     // QListWidget
    };
    Kind kind;
    const char *name;              // object name, as "Text1(0)" for an element of a control array
    const char *caption;           // "" for none
    int left, top, width, height;  // no width and height: not placed, it takes its own size
    const char *parent = nullptr;  // the Frame, earlier in the table, it lies in; null: the window
    const char *buddy = nullptr;   // a Label's box: the label names it (pairLabel)
    int limit = 0;                 // a Box's typing limit
    int align = 0;                 // a Label's Qt::Alignment; 0: the default
};

// A window's layout table: object name, designer caption, the size of its
// client area in twips, its controls in the order they were made (later ones
// lie on top) and its tab order, by name.
struct WindowLayout {
    const char *name;
    const char *caption;
    int clientWidth, clientHeight;
    std::span<const Control> controls;
    std::span<const char *const> tabOrder;
};

// The controls built from a table, by name.
class Controls {
public:
    // The control of that name; ends the program when the table has none (a
    // table and its window disagree: a programming error).
    QWidget *widget(const QString &name) const;
    template <class W>
    W *get(const char *name) const
    {
        return static_cast<W *>(widget(QString::fromUtf8(name)));
    }
    // The elements name(0) .. name(N-1) of a control array.
    template <class W, size_t N>
    void getArray(const char *name, std::array<W *, N> &out) const
    {
        for (size_t i = 0; i < N; ++i)
            out[i] = static_cast<W *>(widget(QStringLiteral("%1(%2)").arg(QString::fromUtf8(name)).arg(i)));
    }

private:
    friend Controls buildControls(QWidget *window, std::span<const Control> controls);
    QHash<QString, QWidget *> byName_;
};

// The control of that name in the table; null when it has none.
const Control *controlNamed(std::span<const Control> controls, const QString &name);

// Makes the controls of the table on `window`: each with its name and
// caption, placed in twips in its parent, labels paired with their boxes.
Controls buildControls(QWidget *window, std::span<const Control> controls);

// Builds a window from its table: name, caption, the application's icon,
// client size, the controls, then the tab order (a text box takes part with
// its editor).
Controls buildWindow(XsWindow *window, const WindowLayout &layout);

}  // namespace xs
