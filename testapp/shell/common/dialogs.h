// The one way the program shows a modal box, replaceable so tests can answer it.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace shell {

struct DialogRequest {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

using DialogFunction = std::function<QMessageBox::StandardButton(const DialogRequest&)>;

// Shows `request` modally with no owner window and returns the button pressed.
QMessageBox::StandardButton ShowDialog(const DialogRequest& request);

// Replaces the function behind ShowDialog; an empty function restores the real message box.
void SetDialogFunction(DialogFunction function);

// The toolkit's standard error display for an exception that reached a handler's boundary.
void ShowErrorDialog(const QString& message);

}  // namespace shell
