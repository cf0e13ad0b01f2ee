// The keyboard conventions of the program's windows: Tab follows each page's reading order, and
// Return or Enter presses the focused push button as Space does.
#pragma once

#include <QObject>
#include <QWidget>
#include <functional>

namespace shell {

// Chains the focus of the controls under `container` in the order its layouts place them: group
// by group, each grid row by row, from left to right.
void SetReadingTabOrder(QWidget* container);

// Installed on the application: Return and keypad Enter on a focused, enabled push button of a
// window other than a dialog (whose default button already takes them) press it, unless `held`
// says that the window's keys are held back now.
class ReturnPressesButtons : public QObject {
public:
    ReturnPressesButtons(std::function<bool()> held, QObject* parent)
        : QObject(parent), m_held(std::move(held)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<bool()> m_held;
};

}  // namespace shell
