#include "page_layout.h"

#include <QValidator>

namespace shell {
namespace {

// Accepts an edit that keeps the text within the limit, or that does not make it longer than it
// was, so a text set by the program beyond the limit can still be shortened. The validator sees
// the edited text only, so the length before the edit is tracked from the accepted changes.
class TypingLimit : public QValidator {
public:
    TypingLimit(QLineEdit* edit, int limit)
        : QValidator(edit), m_limit(limit), m_acceptedLength(edit->text().size()) {
        connect(edit, &QLineEdit::textChanged, this,
                [this](const QString& text) { m_acceptedLength = text.size(); });
    }
    void setLimit(int limit) { m_limit = limit; }
    State validate(QString& input, int&) const override {
        if (input.size() <= m_limit || input.size() <= m_acceptedLength) return Acceptable;
        return Invalid;
    }

private:
    int m_limit;
    qsizetype m_acceptedLength;
};

}  // namespace

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
