#!/usr/bin/env bash
# The shared library exports exactly the 20 PinPad_ functions, the message-pump hook, the
# wait cancel, the frame monitor hook and the last failure's reason.
set -euo pipefail
expected=$(sort "$(dirname "$0")/expected_exports.txt")
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
    diff <(echo "$expected") <(echo "$actual") || true
    echo "exported names differ"
    exit 1
fi
echo "$(wc -l <<<"$expected") exported names as expected"
