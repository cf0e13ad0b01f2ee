// Recording in the key store (padlogic's KeyStore over ./KeyStock.txt) what was done on the pad,
// with one box for the operator when a record could not be kept.
#pragma once

#include <QString>

#include "key_store.h"

namespace shell {

// Writes `records` in one go (all of them or none). When that fails, a box tells the operator
// that `done` (what happened on the pad, e.g. "The key was loaded into the pad") could not be
// recorded in the key store, and why; the status line is left as it is. True when recorded.
bool RecordKeys(const QString& done, const padlogic::KeyRecords& records);

// RecordKeys for values the pad sent: each is recorded as sent, or empty when the store cannot
// keep it (a line break or NUL in it), so that no earlier value stands in for it; then the box
// says that the pad's reply could not be kept. True when recorded as sent.
bool RecordPadKeys(const QString& done, padlogic::KeyRecords records);

}  // namespace shell
