#include "key_recording.h"

#include <QCoreApplication>

#include "dialogs.h"
#include "key_parts.h"

namespace shell {
namespace {

// The box of a write that did not happen: the pad has what the program could not record.
void ReportUnrecorded(const QString& done, const QString& reason) {
    ShowDialog({QCoreApplication::applicationName(),
                QString("%1, but could not be recorded in %2: %3.")
                    .arg(done, QString::fromStdString(padlogic::KeyStore().path()), reason),
                QMessageBox::Warning, QMessageBox::Ok});
}

bool IsPadKeyValue(std::string_view text, std::size_t length) {
    return text == padlogic::kKeyMask || (text.size() == length && padlogic::IsHex(text));
}

}  // namespace

bool RecordKeys(const QString& done, const padlogic::KeyRecords& records) {
    const platform::WriteResult result = padlogic::KeyStore().Write(records);
    if (!result.ok()) ReportUnrecorded(done, QString::fromStdString(result.Reason()));
    return result.ok();
}

bool RecordPadKeys(const QString& done, const padlogic::KeyRecords& records, std::size_t length) {
    for (const padlogic::KeyRecords::Record& record : records.records()) {
        if (!IsPadKeyValue(record.value, length)) {
            ReportUnrecorded(done, QString("the pad's reply is not a key value (%1 hexadecimal "
                                           "characters expected)")
                                       .arg(length));
            return false;
        }
    }
    return RecordKeys(done, records);
}

}  // namespace shell
