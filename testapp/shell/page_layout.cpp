#include "page_layout.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QValidator>
#include <algorithm>
#include <limits>

namespace shell {
namespace {

// Accepts an edit that keeps the text within the limit, or that does not make it longer, so a
// text set by the program beyond the limit can still be shortened.
class TypingLimit : public QValidator {
public:
    TypingLimit(QLineEdit* edit, int limit) : QValidator(edit), m_edit(edit), m_limit(limit) {}
    void setLimit(int limit) { m_limit = limit; }
    State validate(QString& input, int&) const override {
        if (input.size() <= m_limit || input.size() <= m_edit->text().size()) return Acceptable;
        return Invalid;
    }

private:
    QLineEdit* m_edit;
    int m_limit;
};

// A memo with a typing limit: keys, pastes, drops and input-method text that would make the text
// longer than the limit are refused or cut to the room left.
class LimitedMemo : public QPlainTextEdit {
public:
    LimitedMemo(QWidget* parent, int limit) : QPlainTextEdit(parent), m_limit(limit) {}
    void setLimit(int limit) { m_limit = limit; }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        const bool inserts =
            !text.isEmpty() && (text.at(0).isPrint() || text.at(0) == '\r' || text.at(0) == '\t');
        if (inserts && text.size() > Room()) return event->accept();
        QPlainTextEdit::keyPressEvent(event);
    }
    void insertFromMimeData(const QMimeData* source) override {
        if (m_limit < 0 || !source->hasText()) return QPlainTextEdit::insertFromMimeData(source);
        const int room = Room();
        if (room > 0) insertPlainText(source->text().left(room));
    }
    void inputMethodEvent(QInputMethodEvent* event) override {
        const int room = Room();
        if (event->commitString().size() > room) {
            QInputMethodEvent cut(event->preeditString(), event->attributes());
            cut.setCommitString(event->commitString().left(std::max(room, 0)),
                                event->replacementStart(), event->replacementLength());
            return QPlainTextEdit::inputMethodEvent(&cut);
        }
        QPlainTextEdit::inputMethodEvent(event);
    }

private:
    // Characters that may still be added in place of the selection.
    int Room() const {
        if (m_limit < 0) return std::numeric_limits<int>::max();
        const int length = document()->characterCount() - 1;
        const int selected = static_cast<int>(textCursor().selectedText().size());
        return m_limit - (length - selected);
    }

    int m_limit;
};

}  // namespace

QPlainTextEdit* MakeMemo(const char* name, QWidget* parent, int typingLimit) {
    auto* memo = new LimitedMemo(parent, typingLimit);
    memo->setObjectName(QLatin1String(name));
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
    control->setAccessibleName(caption);
    return label;
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
