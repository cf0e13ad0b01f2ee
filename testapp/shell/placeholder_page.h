// A page whose operations are not built yet: it holds only its operation buttons, so that the
// button registry is complete. The page's own issue replaces it.
#pragma once

#include <QPushButton>
#include <QWidget>
#include <utility>
#include <vector>

#include "shell.h"

namespace shell {

struct ButtonSpec {
    const char* name;
    const char* caption;
};

class PlaceholderPage : public QWidget {
public:
    PlaceholderPage(Shell& shell, std::initializer_list<ButtonSpec> buttons, QWidget* parent);
};

}  // namespace shell
