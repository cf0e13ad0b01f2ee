#!/usr/bin/env bash
# The shared library exports exactly the 20 PinPad_ functions and the message-pump hook.
set -euo pipefail
expected=$(sort "$(dirname "$0")/expected_exports.txt")
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$expected" != "$actual" ]; then
    diff <(echo "$expected") <(echo "$actual") || true
    echo "exported names differ"
    exit 1
fi
echo "21 exported names as expected"
