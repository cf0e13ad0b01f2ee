// The key store as the tool uses it: the file the program keeps (./KeyStock.txt, or the one
// named with --key-store), read and written through padlogic's KeyStore with the same records
// the program writes for the same operation; or no store at all (--no-key-store).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "key_store.h"
#include "step.h"

namespace cli {

class ToolKeyStore {
public:
    // No store: nothing is read or written.
    ToolKeyStore() = default;
    // The store at `path` as the user named it; opened by its absolute path, so that it stays
    // the same file whatever folder the tool is in.
    explicit ToolKeyStore(const std::string& path);

    bool used() const { return m_store.has_value(); }
    // The path as the user named it, for messages.
    const std::string& shown() const { return m_shown; }

    // Writes `records`, all or none. When the write fails, so does the step: "<done>, but could
    // not be recorded in <path>: <reason>." Nothing happens without a store.
    void Record(StepOutcome& outcome, std::string_view done,
                const padlogic::KeyRecords& records) const;
    // Record for values the pad sent: each must be `length` hexadecimal characters or the key
    // mask, or nothing is recorded and the step fails.
    void RecordPadValues(StepOutcome& outcome, std::string_view done,
                         const padlogic::KeyRecords& records, std::size_t length) const;

    // The clear value of the key at `index` for use as a key: the combined value of a clear key
    // or the value of a key loaded in cipher text (`cipherKey`). nullopt, with the reason in the
    // failed step, when there is no store or it holds no usable value.
    std::optional<std::string> KeyValue(StepOutcome& outcome, const std::string& index,
                                        bool cipherKey, const std::string& option) const;

    // The store, for reads before a write; nullptr without one.
    const padlogic::KeyStore* store() const { return m_store ? &*m_store : nullptr; }

private:
    std::optional<padlogic::KeyStore> m_store;
    std::string m_shown;
};

}  // namespace cli
