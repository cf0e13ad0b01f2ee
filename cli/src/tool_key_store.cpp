#include "tool_key_store.h"

#include <filesystem>

#include "key_parts.h"

namespace cli {

ToolKeyStore::ToolKeyStore(const std::string& path) : m_shown(path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    m_store.emplace(error ? path : absolute.string());
}

void ToolKeyStore::Record(StepOutcome& outcome, std::string_view done,
                          const padlogic::KeyRecords& records) const {
    if (!m_store) return;
    const platform::WriteResult result = m_store->Write(records);
    if (result.ok()) return;
    outcome.ok = false;
    outcome.message = padlogic::UnrecordedText(done, m_shown, result.Reason());
}

void ToolKeyStore::RecordPadValues(StepOutcome& outcome, std::string_view done,
                                   const padlogic::KeyRecords& records, std::size_t length) const {
    if (!m_store) return;
    for (const padlogic::KeyRecords::Record& record : records.records()) {
        if (!padlogic::IsPadKeyValue(record.value, length)) {
            outcome.ok = false;
            outcome.message =
                padlogic::UnrecordedText(done, m_shown, padlogic::NoPadKeyValueReason(length));
            return;
        }
    }
    Record(outcome, done, records);
}

std::optional<std::string> ToolKeyStore::KeyValue(StepOutcome& outcome, const std::string& index,
                                                  bool cipherKey, const std::string& option) const {
    if (!m_store) {
        outcome.message = "give " + option + ": the key store is left untouched (--no-key-store)";
        return std::nullopt;
    }
    const std::string value = cipherKey ? m_store->CipherKey(index) : m_store->ClearValue(index);
    // A key typed on the pad or loaded as cipher text is on record only as its mask.
    if (padlogic::IsKeyText(value) && !padlogic::IsMasked(value)) return padlogic::ToUpper(value);
    outcome.message =
        "give " + option + ": " + m_shown + " holds no clear value of the key at " + index;
    return std::nullopt;
}

}  // namespace cli
