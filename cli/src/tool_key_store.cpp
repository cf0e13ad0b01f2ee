#include "tool_key_store.h"

#include <atomic>
#include <filesystem>

#include "file_io.h"
#include "hex_text.h"
#include "key_parts.h"

namespace cli {

std::string KeyStoreProblem(const std::string& path) {
    if (path.empty()) return "names no file";
    const platform::WriteResult checked =
        platform::CheckReplaceable(path.c_str(), platform::FileContent::kSecret);
    if (checked.ok()) return {};
    return "keys cannot be kept in " + Quoted(path) + ": " + checked.Reason();
}

ToolKeyStore::ToolKeyStore(const std::string& path) : m_shown(path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    m_store.emplace(error ? path : absolute.string());
}

void ToolKeyStore::Record(StepOutcome& outcome, std::string_view done,
                          const padlogic::KeyRecords& records) const {
    if (!m_store) return;
    const platform::WriteResult result = m_store->Write(records);
    static std::atomic<bool> told{false};
    if (result.othersAccessRemoved && m_notes != nullptr && !told.exchange(true))
        *m_notes << "lumenord: " << padlogic::OthersAccessRemovedText(m_shown) << '\n';
    if (result.ok()) return;
    outcome.ok = false;
    outcome.noUsableAnswer = true;  // the pad did its part; the file could not keep it
    outcome.message = padlogic::UnrecordedText(done, m_shown, result.Reason());
}

void ToolKeyStore::RecordPadValues(StepOutcome& outcome, std::string_view done,
                                   padlogic::KeyRecords records) const {
    if (!m_store) return;
    const bool kept = records.EmptyUnkeepableValues();
    const bool okBefore = outcome.ok;
    Record(outcome, done, records);
    // A step that failed already, or whose write failed, says so in its own words.
    if (kept || !okBefore || !outcome.ok) return;
    outcome.ok = false;
    outcome.message = padlogic::UnrecordedText(done, m_shown, padlogic::UnkeptPadValueReason());
}

std::optional<std::string> ToolKeyStore::KeyValue(StepOutcome& outcome, const std::string& index,
                                                  bool cipherKey, const std::string& option) const {
    if (!m_store) {
        outcome.message = "give " + option + ": the key store is left untouched (--no-key-store)";
        return std::nullopt;
    }
    // A key typed on the pad or loaded as cipher text is on record only as its mask.
    const std::string value =
        cipherKey ? m_store->CipherKeyValue(index) : m_store->ClearKeyValue(index);
    if (!value.empty()) return padlogic::ToUpper(value);
    outcome.message =
        "give " + option + ": " + m_shown + " holds no clear value of the key at " + index;
    return std::nullopt;
}

}  // namespace cli
