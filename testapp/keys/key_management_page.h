// The "key management" page. For now it carries only its operation buttons.
#pragma once

#include "placeholder_page.h"

namespace keys {

class KeyManagementPage : public shell::PlaceholderPage {
public:
    KeyManagementPage(shell::Shell& shell, QWidget* parent = nullptr)
        : PlaceholderPage(shell,
                          {{"btDownloadKey", "Download cleartext Key"},
                           {"btDownloadEncrypt", "Download ciphertext key"},
                           {"Button4", "Read Key Verify Code"}},
                          parent) {}
};

}  // namespace keys
