#include "key_recording.h"

#include <QCoreApplication>

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

}  // namespace

bool RecordKeys(const QString& done, const padlogic::KeyRecords& records) {
    const platform::WriteResult result = padlogic::KeyStore().Write(records);
    if (!result.ok()) ReportUnrecorded(done, result.Reason());
    return result.ok();
}

bool RecordPadKeys(const QString& done, const padlogic::KeyRecords& records, std::size_t length) {
    for (const padlogic::KeyRecords::Record& record : records.records()) {
        if (!padlogic::IsPadKeyValue(record.value, length)) {
            ReportUnrecorded(done, padlogic::NoPadKeyValueReason(length));
            return false;
        }
    }
    return RecordKeys(done, records);
}

}  // namespace shell
