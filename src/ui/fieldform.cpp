#include "ui/fieldform.h"

#include "data/recordset.h"
#include "data/sqltext.h"
#include "ui/fonts.h"
#include "ui/msgbox.h"
#include "ui/window.h"
#include "ui/windowfilter.h"

#include <QFocusEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace xs {

void KeepCaretLineEdit::focusInEvent(QFocusEvent *e)
{
    QFocusEvent plain(e->type(), Qt::OtherFocusReason);
    QLineEdit::focusInEvent(&plain);
}

TextBox::TextBox(Kind kind, QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (kind == MultiLine) {
        plain_ = new QPlainTextEdit(this);
        plain_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        plain_->setTabChangesFocus(true);
        layout->addWidget(plain_);
        connect(plain_, &QPlainTextEdit::textChanged, this, &TextBox::textChanged);
    } else {
        line_ = new KeepCaretLineEdit(this);
        layout->addWidget(line_);
        connect(line_, &QLineEdit::textChanged, this, [this] { emit textChanged(); });
    }
    // The box itself takes no focus (so Tab passes it by); focus given to it
    // goes on to its editor.
    setFocusPolicy(Qt::NoFocus);
}

void TextBox::focusInEvent(QFocusEvent *e)
{
    QWidget::focusInEvent(e);
    editor()->setFocus(e->reason());
}

QWidget *TextBox::editor() const { return line_ ? static_cast<QWidget *>(line_) : plain_; }

QString TextBox::text() const { return line_ ? line_->text() : plain_->toPlainText(); }

void TextBox::setText(const QString &t)
{
    if (line_) {
        applyLimit(int(t.size()));
        line_->setText(t);
        // Show a loaded text from its start, as the old box did.
        line_->setCursorPosition(0);
    } else {
        plain_->setPlainText(t);
    }
}

void TextBox::setTypingLimit(int n)
{
    limit_ = n;
    if (line_)
        applyLimit(int(line_->text().size()));
}

void TextBox::applyLimit(int textLength)
{
    const int base = limit_ > 0 ? limit_ : kNoTypingLimit;
    line_->setMaxLength(std::max(base, textLength));
}

int TextBox::maxLength() const { return line_ && limit_ > 0 ? line_->maxLength() : 0; }

void TextBox::selectAll()
{
    if (line_)
        line_->selectAll();
    else
        plain_->selectAll();
}

QString TextBox::selectedText() const
{
    if (line_)
        return line_->selectedText();
    // The plain text edit reports line breaks as U+2029.
    return plain_->textCursor().selectedText().replace(QChar(0x2029), QLatin1Char('\n'));
}

void pairLabel(QLabel *label, QWidget *box)
{
    label->setBuddy(box);
    QString name = label->text();
    while (name.endsWith(QChar(0xFF1A)) || name.endsWith(QLatin1Char(':')))
        name.chop(1);
    box->setAccessibleName(name);
}

void refuseAt(QWidget *box, const QString &text, int icon, const QString &title)
{
    MsgBox(text, icon | vbOKOnly, title);
    box->setFocus(Qt::OtherFocusReason);
    if (auto *t = qobject_cast<TextBox *>(box))
        t->selectAll();
    else if (auto *l = qobject_cast<QLineEdit *>(box))
        l->selectAll();
}

void styleQueryLabel(QLabel *label)
{
    label->setFont(oldFont(QStringLiteral("宋体"), 10.5));
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, QColor(0, 0, 192));
    label->setPalette(p);
}

void addCondition(QString &cond, const QString &column, const QString &value)
{
    cond += (cond.isEmpty() ? QString() : QStringLiteral("and ")) + column + QStringLiteral("='") + q(value)
            + QStringLiteral("'");
}

bool hasRows(const QString &sql)
{
    RecordsetPtr rs = runsql(sql);
    return rs && !rs->atEOF();
}

void tellNoCondition(QWidget *firstBox)
{
    // The leading blank of the title is intended: the query dialogs have
    // always shown " 警告" here, not the "警告" of the entry windows.
    MsgBox(QStringLiteral("你至少要输入一个条件以上才能查询！"), vbOKOnly, QStringLiteral(" 警告"));
    firstBox->setFocus(Qt::OtherFocusReason);
}

void tellNothingFound(XsWindow *dialog, QWidget *firstBox, const QString &text)
{
    MsgBox(text, vbOKOnly, QStringLiteral("查询"));
    WindowRegistry::bringToFront(dialog);
    firstBox->setFocus(Qt::OtherFocusReason);
}

}  // namespace xs
