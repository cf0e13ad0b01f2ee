// The clear-text keypad and IC card pages. For now they carry only their operation buttons.
#pragma once

#include "placeholder_page.h"

namespace operations {

class CleartextPage : public shell::PlaceholderPage {
public:
    CleartextPage(shell::Shell& shell, QWidget* parent = nullptr)
        : PlaceholderPage(shell,
                          {{"OpenKeyBord", "Open Pinpad"},
                           {"CloseKeyBord", "Close Pinpad"},
                           {"TabSheet8_Display", "Display"}},
                          parent) {}
};

class IcCardPage : public shell::PlaceholderPage {
public:
    IcCardPage(shell::Shell& shell, QWidget* parent = nullptr)
        : PlaceholderPage(shell,
                          {{"IC_Control", "Control Command"}, {"IC_Access", "Accessing Command"}},
                          parent) {}
};

}  // namespace operations
