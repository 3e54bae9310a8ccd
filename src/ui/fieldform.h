#pragma once
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

class QLabel;

// Pieces shared by the entry windows (case entry, department editor) and the
// query dialogs (case query, department query).
namespace xs {

class XsWindow;

// A one-line editor that, like the old text box, keeps the caret where it is
// when Tab or Enter moves into it instead of selecting the whole text.
class KeepCaretLineEdit : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void focusInEvent(QFocusEvent *e) override;
};

// A text box of an entry window: one line with a typing limit, or several
// lines with a vertical scroll bar and no limit. Text set by the program is
// never cut: a stored value longer than the typing limit raises the limit for
// as long as the box holds it, so loading and saving a record keeps it whole.
class TextBox : public QWidget {
    Q_OBJECT
public:
    enum Kind { SingleLine, MultiLine };
    explicit TextBox(Kind kind, QWidget *parent = nullptr);

    bool isMultiLine() const { return plain_ != nullptr; }
    QString text() const;
    // Shows t whole, whatever its length (see above).
    void setText(const QString &t);
    void clear() { setText(QString()); }
    // The most characters the user can type into a single-line box (0: no
    // limit); what the box allows at the moment is maxLength().
    void setTypingLimit(int n);
    int typingLimit() const { return limit_; }
    int maxLength() const;
    void selectAll();
    QString selectedText() const;

    QLineEdit *lineEdit() const { return line_; }
    QWidget *editor() const;

signals:
    void textChanged();

protected:
    void focusInEvent(QFocusEvent *e) override;

private:
    void applyLimit(int textLength);

    QLineEdit *line_ = nullptr;
    QPlainTextEdit *plain_ = nullptr;
    int limit_ = 0;
};

// Makes `box` the buddy of `label` and gives it the label's caption (without
// the trailing colon) as its accessible name.
void pairLabel(QLabel *label, QWidget *box);

// A failed check: shows `text` (OK button, `icon`, `title`), then puts the
// focus into `box` and selects its whole text.
void refuseAt(QWidget *box, const QString &text, int icon, const QString &title = QStringLiteral("警告"));

// The label look of the query dialogs: blue 宋体 10.5 pt.
void styleQueryLabel(QLabel *label);

// Appends one condition column='value' to `cond`, written "and column='value'"
// when cond already holds one. The pieces are joined without blanks, so a
// condition's closing quote is followed directly by "and". The value is quoted.
void addCondition(QString &cond, const QString &column, const QString &value);

// True when `sql` runs and yields at least one row. A statement that fails
// counts as yielding none.
bool hasRows(const QString &sql);

// The query dialogs' answer to 确定 without any condition: the message (no
// icon, title " 警告"), then the focus into `firstBox`.
void tellNoCondition(QWidget *firstBox);
// The query dialogs' answer when nothing matched: `text` (no icon, title
// "查询"), then `dialog` comes to the front with the focus in `firstBox`.
void tellNothingFound(XsWindow *dialog, QWidget *firstBox, const QString &text);

}  // namespace xs
