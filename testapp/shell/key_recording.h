// Recording in the key store (padlogic's KeyStore over ./KeyStock.txt) what was done on the pad,
// with one box for the operator when a record could not be kept.
#pragma once

#include <QString>
#include <cstddef>

#include "key_store.h"

namespace shell {

// Writes `records` in one go (all of them or none). When that fails, a box tells the operator
// that `done` (what happened on the pad, e.g. "The key was loaded into the pad") could not be
// recorded in the key store, and why; the status line is left as it is. True when recorded.
bool RecordKeys(const QString& done, const padlogic::KeyRecords& records);

// RecordKeys for values the pad sent: each must be `length` hexadecimal characters or the key
// mask, checked whole (an embedded NUL fails it), or nothing is recorded and the box says that
// the pad's reply is not a key value.
bool RecordPadKeys(const QString& done, const padlogic::KeyRecords& records, std::size_t length);

}  // namespace shell
