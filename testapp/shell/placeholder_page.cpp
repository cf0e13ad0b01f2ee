#include "placeholder_page.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace shell {

PlaceholderPage::PlaceholderPage(Shell& shell, std::initializer_list<ButtonSpec> buttons,
                                 QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout;
    for (const ButtonSpec& spec : buttons) {
        row->addWidget(shell.MakeOperationButton(spec.name, spec.caption, this));
    }
    row->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch();
}

}  // namespace shell
