#include "key_recording.h"

#include <QCoreApplication>
#include <utility>

#include "dialogs.h"

namespace shell {
namespace {

// The box of a write that did not happen: the pad has what the program could not record.
void ReportUnrecorded(const QString& done, const std::string& reason) {
    ShowDialog({QCoreApplication::applicationName(),
                QString::fromStdString(padlogic::UnrecordedText(
                    done.toStdString(), padlogic::KeyStore().path(), reason)),
                QMessageBox::Warning, QMessageBox::Ok});
}

// Once per run: the store held keys that every user could read, and no longer does.
void ReportOthersAccessRemoved() {
    static bool told = false;
    if (std::exchange(told, true)) return;
    ShowDialog(
        {QCoreApplication::applicationName(),
         QString::fromStdString(padlogic::OthersAccessRemovedText(padlogic::KeyStore().path())),
         QMessageBox::Information, QMessageBox::Ok});
}

}  // namespace

bool RecordKeys(const QString& done, const padlogic::KeyRecords& records) {
    const platform::WriteResult result = padlogic::KeyStore().Write(records);
    if (!result.ok()) ReportUnrecorded(done, result.Reason());
    if (result.othersAccessRemoved) ReportOthersAccessRemoved();
    return result.ok();
}

bool RecordPadKeys(const QString& done, padlogic::KeyRecords records) {
    const bool kept = records.EmptyUnkeepableValues();
    // A failed write has its own box; the reply's is for a write that happened without it.
    if (!RecordKeys(done, records)) return false;
    if (!kept) ReportUnrecorded(done, padlogic::UnkeptPadValueReason());
    return kept;
}

}  // namespace shell
