#include "key_store.h"

#include <QCoreApplication>

#include "dialogs.h"
#include "key_parts.h"

namespace shell {
namespace {

// The box of a write that did not happen: the pad has what the program could not record.
void ReportUnrecorded(const QString& done, const QString& reason) {
    ShowDialog({QCoreApplication::applicationName(),
                QString("%1, but could not be recorded in %2: %3.")
                    .arg(done, QString::fromLatin1(kKeyStorePath), reason),
                QMessageBox::Warning, QMessageBox::Ok});
}

bool IsPadKeyValue(std::string_view text, std::size_t length) {
    return text == padlogic::kKeyMask || (text.size() == length && padlogic::IsHex(text));
}

}  // namespace

platform::WriteResult WriteKeyStore(const char* section, const char* key, std::string_view value) {
    if (section == nullptr || key == nullptr) return {platform::WriteError::kBadText};
    return platform::WriteProfileEntry({section, key, value}, kKeyStorePath);
}

bool RecordKeys(const QString& done, const std::vector<platform::ProfileEntry>& entries) {
    const platform::WriteResult result = platform::WriteProfileEntries(entries, kKeyStorePath);
    if (!result.ok()) ReportUnrecorded(done, QString::fromStdString(result.Reason()));
    return result.ok();
}

bool RecordPadKeys(const QString& done, const std::vector<platform::ProfileEntry>& entries,
                   std::size_t length) {
    for (const platform::ProfileEntry& entry : entries) {
        if (!IsPadKeyValue(entry.value, length)) {
            ReportUnrecorded(done, QString("the pad's reply is not a key value (%1 hexadecimal "
                                           "characters expected)")
                                       .arg(length));
            return false;
        }
    }
    return RecordKeys(done, entries);
}

QString ReadKeyStore(const char* section, const char* key, std::size_t bufferSize) {
    std::vector<char> buffer(bufferSize, '\0');
    platform::GetPrivateProfileString(section, key, "", buffer.data(), buffer.size(),
                                      kKeyStorePath);
    return QString::fromLatin1(buffer.data());
}

int ReadKeyStoreInt(const char* section, const char* key, int defaultValue) {
    return platform::GetPrivateProfileInt(section, key, defaultValue, kKeyStorePath);
}

}  // namespace shell
