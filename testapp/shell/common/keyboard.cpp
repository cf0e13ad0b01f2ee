#include "keyboard.h"

#include <QDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLayout>
#include <QPushButton>
#include <algorithm>
#include <tuple>
#include <vector>

namespace shell {
namespace {

void CollectLayout(QLayout* layout, QList<QWidget*>& controls);

// A control takes part in Tab; a container without focus of its own (a group box, a panel) is
// read through its layout.
void CollectWidget(QWidget* widget, QList<QWidget*>& controls) {
    if (widget == nullptr) return;
    if (widget->focusPolicy() & Qt::TabFocus) {
        controls << widget;
    } else if (widget->layout() != nullptr) {
        CollectLayout(widget->layout(), controls);
    }
}

void CollectItem(QLayoutItem* item, QList<QWidget*>& controls) {
    if (item->widget() != nullptr) {
        CollectWidget(item->widget(), controls);
    } else if (item->layout() != nullptr) {
        CollectLayout(item->layout(), controls);
    }
}

void CollectLayout(QLayout* layout, QList<QWidget*>& controls) {
    auto* grid = qobject_cast<QGridLayout*>(layout);
    if (grid == nullptr) {
        for (int i = 0; i < layout->count(); ++i) CollectItem(layout->itemAt(i), controls);
        return;
    }
    // A grid reads row by row, whatever order its cells were added in; a cell that spans rows
    // (a column of buttons beside fields) comes after the last of them.
    std::vector<std::tuple<int, int, int>> cells;  // last row, column, item index
    for (int i = 0; i < grid->count(); ++i) {
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(i, &row, &column, &rowSpan, &columnSpan);
        cells.emplace_back(row + std::max(rowSpan, 1) - 1, column, i);
    }
    std::sort(cells.begin(), cells.end());
    for (const auto& [row, column, index] : cells) CollectItem(grid->itemAt(index), controls);
}

}  // namespace

void SetReadingTabOrder(QWidget* container) {
    QList<QWidget*> controls;
    if (container->layout() != nullptr) CollectLayout(container->layout(), controls);
    for (int i = 1; i < controls.size(); ++i) QWidget::setTabOrder(controls[i - 1], controls[i]);
}

bool ReturnPressesButtons::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || key->isAutoRepeat())
        return false;
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button == nullptr || !button->isEnabled() || button->window()->focusWidget() != button)
        return false;
    if (qobject_cast<QDialog*>(button->window()) != nullptr || m_held()) return false;
    button->click();
    return true;
}

}  // namespace shell
