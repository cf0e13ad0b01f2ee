#include "key_store_records.h"

#include "key_tables.h"

namespace certify {
namespace {

padlogic::KeyRecords RecordsOf(const KeyLoad& load, const padlogic::KeyStore& store) {
    padlogic::KeyRecords records;
    switch (load.kind) {
        case KeyLoad::Kind::kClear:
            return records.ClearKey(load.index, load.parts, load.value, load.code);
        case KeyLoad::Kind::kTyped: {
            const int part = load.code - padlogic::kFirstPadEntryCode + 1;
            return records.PadPart(load.index, part, load.parts[part - 1], load.code);
        }
        case KeyLoad::Kind::kCipher:
        case KeyLoad::Kind::kErased:
            return padlogic::CipherKeyRecords(load.decryptIndex, load.index, load.tag, load.value,
                                              store);
    }
    return records;
}

}  // namespace

std::string RecordLoads(const Certificate& certificate, const padlogic::KeyStore& store) {
    std::vector<padlogic::KeyRecords> all;
    for (const KeyLoad& load : certificate.loads) all.push_back(RecordsOf(load, store));
    padlogic::KeyRecords settings;
    if (certificate.authData) settings.AuthData(*certificate.authData);
    if (certificate.pinTimeoutSeconds) settings.PinTimeout(*certificate.pinTimeoutSeconds);
    if (!settings.records().empty()) all.push_back(settings);
    for (const padlogic::KeyRecords& records : all) {
        const platform::WriteResult written = store.Write(records);
        if (!written.ok()) return written.Reason();
    }
    return {};
}

}  // namespace certify
