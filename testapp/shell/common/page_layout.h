// Small helpers the pages share to name and place their controls.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QWidget>

namespace shell {

// Creates a widget of type W named `name`.
template <typename W, typename... Args>
W* Named(const char* name, QWidget* parent, Args&&... args) {
    auto* widget = new W(std::forward<Args>(args)..., parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLineEdit* MakeEdit(const char* name, QWidget* parent, int maxLength = 32767);
// Limits what the operator types or pastes into `edit` to `limit` characters without cutting a
// text that is already longer (QLineEdit::setMaxLength would cut it). Calling it again changes
// the limit.
void LimitTyping(QLineEdit* edit, int limit);
// A memo named `name`; Tab moves on to the next control instead of typing a tab. With a `limit`, an
// edit by the operator (typing, pasting, dropping, input method) that would make the text longer
// than `limit` characters is refused and the text and cursor stay as they were; a text that the
// program sets is never cut.
QPlainTextEdit* MakeMemo(const char* name, QWidget* parent, int limit = -1);
// Changes the limit of a memo that MakeMemo made with a limit.
void LimitTyping(QPlainTextEdit* memo, int limit);
// The caption label of `control`: its buddy, and the control's accessible name is the caption,
// so screen readers and GUI automation find the control by what the operator reads.
QLabel* MakeCaption(const QString& caption, QWidget* control, QWidget* parent);
// The caption of a label that shows a result: its buddy, and the label's accessible name is the
// caption followed by what it shows (ShowResultText), so a screen reader hears the result too.
QLabel* MakeResultCaption(const QString& caption, QLabel* result, QWidget* parent);
// Shows `text` in a result label of MakeResultCaption and exposes it with its caption.
void ShowResultText(QLabel* result, const QString& text);
// Gives `control` the accessible name `caption`; an editable combo's own edit, which is what
// has the focus while the operator types, gets it too.
void SetAccessibleCaption(QWidget* control, const QString& caption);
// An editable (or fixed) combo with `items` and `text` shown. Typed text never joins the list.
QComboBox* MakeCombo(const char* name, QWidget* parent, const QStringList& items,
                     const QString& text, bool editable = true);
// Two-digit upper-case hexadecimal texts from `first` to `last`.
QStringList HexItems(int first, int last);

}  // namespace shell
