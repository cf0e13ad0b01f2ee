#include "page_layout.h"

namespace shell {

QLineEdit* MakeEdit(const char* name, QWidget* parent, int maxLength) {
    auto* edit = Named<QLineEdit>(name, parent);
    edit->setMaxLength(maxLength);
    return edit;
}

QComboBox* MakeCombo(const char* name, QWidget* parent, const QStringList& items,
                     const QString& text, bool editable) {
    auto* combo = Named<QComboBox>(name, parent);
    combo->setEditable(editable);
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
