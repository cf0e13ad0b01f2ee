// Reading and setting the key management page's lists and fields as its rules take them: the
// code a chosen entry stands for, and texts as the Latin-1 bytes the pad and the key store hold.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <optional>
#include <span>
#include <string>

namespace keys {

// The entry the combo shows, or -1 when its text was typed rather than chosen from the list.
int SelectedEntry(const QComboBox* combo);
// The code the chosen entry stands for (its item data); nullopt when the text was typed or the
// entry stands for no code.
std::optional<int> ChosenCode(const QComboBox* combo);
// Shows `text`: its entry when the list has one, else as typed text.
void ShowComboText(QComboBox* combo, const QString& text);
// Key lengths in bytes as list entries.
QStringList KeyLengthItems(std::span<const int> lengths);
// Replaces a key length list, first entry chosen, without running the change handler.
void ShowKeyLengths(QComboBox* combo, std::span<const int> lengths);

std::string Text(const QLineEdit* edit);
std::string Text(const QComboBox* combo);
QString FromLatin1(const std::string& text);

}  // namespace keys
