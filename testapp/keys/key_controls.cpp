#include "key_controls.h"

#include <QSignalBlocker>

namespace keys {

int SelectedEntry(const QComboBox* combo) {
    const int index = combo->currentIndex();
    return index >= 0 && combo->itemText(index) == combo->currentText() ? index : -1;
}

std::optional<int> ChosenCode(const QComboBox* combo) {
    const int entry = SelectedEntry(combo);
    const QVariant data = entry >= 0 ? combo->itemData(entry) : QVariant();
    return data.isValid() ? std::optional<int>(data.toInt()) : std::nullopt;
}

void ShowComboText(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text);
    combo->setCurrentIndex(index);
    if (index < 0) combo->setEditText(text);
}

QStringList KeyLengthItems(std::span<const int> lengths) {
    QStringList items;
    for (int bytes : lengths) items << QString::number(bytes);
    return items;
}

void ShowKeyLengths(QComboBox* combo, std::span<const int> lengths) {
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItems(KeyLengthItems(lengths));
    combo->setCurrentIndex(0);
}

std::string Text(const QLineEdit* edit) { return edit->text().toLatin1().toStdString(); }
std::string Text(const QComboBox* combo) { return combo->currentText().toLatin1().toStdString(); }
QString FromLatin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace keys
