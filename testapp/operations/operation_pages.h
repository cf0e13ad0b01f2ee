// The PIN and data pages. For now they carry only their operation buttons.
#pragma once

#include "placeholder_page.h"

namespace operations {

class PinPage : public shell::PlaceholderPage {
public:
    PinPage(shell::Shell& shell, QWidget* parent = nullptr)
        : PlaceholderPage(shell,
                          {{"btEnablePin", "startup PIN1"},
                           {"Button5", "startup PIN2"},
                           {"btGetPin", "Read ciphertext"},
                           {"Button6", "PIN Renew/verify"},
                           {"btMakeMAC", "MAC calculation"}},
                          parent) {}
};

class DataPage : public shell::PlaceholderPage {
public:
    DataPage(shell::Shell& shell, QWidget* parent = nullptr)
        : PlaceholderPage(
              shell, {{"btEncryptData", "Data Encrpytion"}, {"btDecipherData", "Data Decryptions"}},
              parent) {}
};

}  // namespace operations
