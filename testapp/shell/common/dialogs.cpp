#include "dialogs.h"

#include <QCoreApplication>

namespace shell {
namespace {

QMessageBox::StandardButton ShowMessageBox(const DialogRequest& request) {
    QMessageBox box(request.icon, request.caption, request.text, request.buttons);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

DialogFunction& CurrentDialogFunction() {
    static DialogFunction function;
    return function;
}

}  // namespace

QMessageBox::StandardButton ShowDialog(const DialogRequest& request) {
    const DialogFunction& function = CurrentDialogFunction();
    return function ? function(request) : ShowMessageBox(request);
}

void SetDialogFunction(DialogFunction function) { CurrentDialogFunction() = std::move(function); }

void ShowErrorDialog(const QString& message) {
    ShowDialog(
        {QCoreApplication::applicationName(), message, QMessageBox::Critical, QMessageBox::Ok});
}

}  // namespace shell
