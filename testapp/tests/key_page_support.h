// Helpers the key management page's tests share: choosing list entries as the operator does,
// pressing pad keys once an entry runs, the pad's keys and the key store.
#pragma once

#include <QTimer>

#include "key_store.h"
#include "pad_rig.h"
#include "reference_crypto.h"

namespace testsupport {

inline std::string Latin1(const QString& text) { return text.toLatin1().toStdString(); }
inline QString Q(const std::string& text) { return QString::fromStdString(text); }
// The check value as OpenSSL computes it.
inline QString Kcv(const QString& key) { return Q(padsim::test::RefVerifyCode(Latin1(key))); }

// Chooses the entry `text` of a list, which runs the list's change handler.
inline void Choose(const PadRig& rig, const char* combo, const QString& text) {
    auto* box = rig.control<QComboBox>(combo);
    const int index = box->findText(text);
    if (index < 0) qWarning("%s has no entry %s", combo, qPrintable(text));
    box->setCurrentIndex(index);
}

inline QString Stored(const char* section, const QString& key) {
    return shell::ReadKeyStore(section, key.toLatin1().constData(), 100);
}

// The key the pad holds at `index` as "value/tag", "" for none.
inline QString PadKey(const PadRig& rig, int index) {
    return rig.pad->With([index](padsim::PadSimulator& sim) {
        const auto key = sim.Key(index);
        return key ? Q(key->value + "/" + key->tag) : QString();
    });
}

inline bool ShowActive(const PadRig& rig) {
    rig.window->show();
    rig.window->activateWindow();
    return QTest::qWaitForWindowActive(rig.w());
}

// Runs `action` once the pad is in `mode` and the page's entry loop runs (its status is shown),
// from inside the loop that a click started: the loop keeps handling the window's events.
class WhenEntryRuns : public QObject {
public:
    WhenEntryRuns(const PadRig& rig, padsim::Mode mode, const QString& status,
                  std::function<void()> action) {
        auto* timer = new QTimer(this);
        timer->setInterval(5);
        connect(timer, &QTimer::timeout, this, [&rig, mode, status, action, timer] {
            if (rig.status() != status) return;
            if (rig.pad->With([](padsim::PadSimulator& sim) { return sim.mode(); }) != mode) return;
            timer->stop();
            action();
        });
        timer->start();
    }
};

}  // namespace testsupport
