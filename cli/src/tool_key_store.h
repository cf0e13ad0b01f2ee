// The key store as the tool uses it: the file the program keeps (./KeyStock.txt, or the one
// named with --key-store), read and written through padlogic's KeyStore with the same records
// the program writes for the same operation; or no store at all (--no-key-store).
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "key_store.h"
#include "step.h"

namespace cli {

// Why keys could not be kept in the store that the user named at `path`: checked before the
// first step, so that no key reaches a pad whose store cannot record it. Empty when they can.
std::string KeyStoreProblem(const std::string& path);

class ToolKeyStore {
public:
    // No store: nothing is read or written.
    ToolKeyStore() = default;
    // The store at `path` as the user named it; opened by its absolute path, so that it stays
    // the same file whatever folder the tool is in.
    explicit ToolKeyStore(const std::string& path);

    bool used() const { return m_store.has_value(); }
    // Where the tool tells the user, once per process, that a write took the permissions of
    // other users from the store.
    void SetNotes(std::ostream& notes) { m_notes = &notes; }
    // The path as the user named it, for messages.
    const std::string& shown() const { return m_shown; }

    // Writes `records`, all or none. When the write fails, so does the step: "<done>, but could
    // not be recorded in <path>: <reason>." Nothing happens without a store.
    void Record(StepOutcome& outcome, std::string_view done,
                const padlogic::KeyRecords& records) const;
    // Record for values the pad sent: each is recorded as sent, or empty when the store cannot
    // keep it (a line break or NUL in it), so that no earlier value stands in for it; then the
    // step fails and says so.
    void RecordPadValues(StepOutcome& outcome, std::string_view done,
                         padlogic::KeyRecords records) const;

    // The clear value of the key at `index` for use as a key: the combined value of a clear key
    // or the value of a key loaded in cipher text (`cipherKey`). nullopt, with the reason in the
    // failed step, when there is no store or its value is no key (padlogic::IsUsableKey).
    std::optional<std::string> KeyValue(StepOutcome& outcome, const std::string& index,
                                        bool cipherKey, const std::string& option) const;

    // The store, for reads before a write; nullptr without one.
    const padlogic::KeyStore* store() const { return m_store ? &*m_store : nullptr; }

private:
    std::optional<padlogic::KeyStore> m_store;
    std::string m_shown;
    std::ostream* m_notes = nullptr;
};

}  // namespace cli
