#include "page_layout.h"

#include <QTextCursor>
#include <QTextDocument>
#include <QValidator>

namespace shell {
namespace {

// Accepts an edit that keeps the text within the limit, or that does not make it longer, so a
// text set by the program beyond the limit can still be shortened. The edit's own text already
// holds the edit under validation, so the accepted length is tracked from its changes.
class TypingLimit : public QValidator {
public:
    TypingLimit(QLineEdit* edit, int limit)
        : QValidator(edit), m_limit(limit), m_accepted(edit->text().size()) {
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString& text) { m_accepted = text.size(); });
    }
    void setLimit(int limit) { m_limit = limit; }
    State validate(QString& input, int&) const override {
        if (input.size() <= m_limit || input.size() <= m_accepted) return Acceptable;
        return Invalid;
    }

private:
    int m_limit;
    qsizetype m_accepted;
};

// A memo whose operator edits are checked after the fact, so that every way text comes in is
// covered without predicting what the edit will insert.
class LimitedMemo : public QPlainTextEdit {
public:
    LimitedMemo(int limit, QWidget* parent) : QPlainTextEdit(parent), m_limit(limit) {}
    void setLimit(int limit) { m_limit = limit; }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        Checked([&] { QPlainTextEdit::keyPressEvent(event); });
    }
    void inputMethodEvent(QInputMethodEvent* event) override {
        Checked([&] { QPlainTextEdit::inputMethodEvent(event); });
    }
    // Pasting (keys, context menu, middle button) and dropping all come through here.
    void insertFromMimeData(const QMimeData* source) override {
        Checked([&] { QPlainTextEdit::insertFromMimeData(source); });
    }

private:
    template <typename Edit>
    void Checked(Edit&& edit) {
        const QString before = toPlainText();
        const int anchor = textCursor().anchor();
        const int position = textCursor().position();
        edit();
        const QString after = toPlainText();
        if (after.size() <= m_limit || after.size() <= before.size()) return;
        PutBack(before, after);
        QTextCursor cursor(document());
        cursor.setPosition(anchor);
        cursor.setPosition(position, QTextCursor::KeepAnchor);
        setTextCursor(cursor);
    }

    // Replaces the part of `after` that differs from `before` with what `before` had there.
    void PutBack(const QString& before, const QString& after) {
        qsizetype prefix = 0;
        while (prefix < before.size() && before[prefix] == after[prefix]) ++prefix;
        qsizetype suffix = 0;
        while (suffix < before.size() - prefix &&
               before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
            ++suffix;
        }
        QTextCursor cursor(document());
        cursor.setPosition(static_cast<int>(prefix));
        cursor.setPosition(static_cast<int>(after.size() - suffix), QTextCursor::KeepAnchor);
        // Without a history, undo cannot bring the refused text back.
        document()->setUndoRedoEnabled(false);
        cursor.insertText(before.mid(prefix, before.size() - prefix - suffix));
        document()->setUndoRedoEnabled(true);
    }

    int m_limit;
};

}  // namespace

QPlainTextEdit* MakeMemo(const char* name, QWidget* parent, int limit) {
    QPlainTextEdit* memo = limit < 0 ? new QPlainTextEdit(parent) : new LimitedMemo(limit, parent);
    memo->setObjectName(QLatin1String(name));
    memo->setTabChangesFocus(true);
    return memo;
}

void LimitTyping(QPlainTextEdit* memo, int limit) {
    auto* limited = dynamic_cast<LimitedMemo*>(memo);
    Q_ASSERT(limited != nullptr);
    if (limited != nullptr) limited->setLimit(limit);
}

QLineEdit* MakeEdit(const char* name, QWidget* parent, int maxLength) {
    auto* edit = Named<QLineEdit>(name, parent);
    edit->setMaxLength(maxLength);
    return edit;
}

void LimitTyping(QLineEdit* edit, int limit) {
    if (auto* existing = dynamic_cast<TypingLimit*>(const_cast<QValidator*>(edit->validator()))) {
        existing->setLimit(limit);
        return;
    }
    edit->setValidator(new TypingLimit(edit, limit));
}

QLabel* MakeCaption(const QString& caption, QWidget* control, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(control);
    SetAccessibleCaption(control, caption);
    return label;
}

namespace {
constexpr const char* kResultCaption = "resultCaption";
}  // namespace

QLabel* MakeResultCaption(const QString& caption, QLabel* result, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setBuddy(result);
    result->setProperty(kResultCaption, caption);
    ShowResultText(result, result->text());
    return label;
}

void ShowResultText(QLabel* result, const QString& text) {
    result->setText(text);
    const QString caption = result->property(kResultCaption).toString();
    result->setAccessibleName(text.isEmpty() ? caption : caption + QLatin1Char(' ') + text);
}

void SetAccessibleCaption(QWidget* control, const QString& caption) {
    control->setAccessibleName(caption);
    if (auto* combo = qobject_cast<QComboBox*>(control); combo && combo->lineEdit()) {
        combo->lineEdit()->setAccessibleName(caption);
    }
}

QComboBox* MakeCombo(const char* name, QWidget* parent, const QStringList& items,
                     const QString& text, bool editable) {
    auto* combo = Named<QComboBox>(name, parent);
    combo->setEditable(editable);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->addItems(items);
    const int index = combo->findText(text);
    if (index >= 0) {
        combo->setCurrentIndex(index);
    } else if (editable) {
        combo->setCurrentIndex(-1);
        combo->setEditText(text);
    } else {
        // A fixed combo without items shows its design-time text as its only entry.
        combo->addItem(text);
        combo->setCurrentIndex(combo->count() - 1);
    }
    return combo;
}

QStringList HexItems(int first, int last) {
    QStringList items;
    for (int value = first; value <= last; ++value) {
        items << QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
    }
    return items;
}

}  // namespace shell
