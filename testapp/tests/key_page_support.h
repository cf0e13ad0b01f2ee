// Helpers the key management page's tests share: check values, the pad's keys and the key store.
#pragma once

#include "pad_rig.h"
#include "reference_crypto.h"

namespace testsupport {

// What the key store and the key boxes show for a key typed on the pad.
inline const QString kMask = "****************";

inline std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }
inline QString Q(const std::string& text) { return QString::fromStdString(text); }
// The check value as OpenSSL computes it.
inline QString Kcv(const QString& key) { return Q(padsim::test::RefVerifyCode(Latin1(key))); }

inline QString Stored(const char* section, const QString& key) {
    return ReadKeyStore(section, key.toLatin1().constData());
}

// The key the pad holds at `index` as "value/tag", "" for none.
inline QString PadKey(const PadRig& rig, int index) {
    return rig.pad->With([index](padsim::PadSimulator& sim) {
        const auto key = sim.Key(index);
        return key ? Q(key->value + "/" + key->tag) : QString();
    });
}

}  // namespace testsupport
