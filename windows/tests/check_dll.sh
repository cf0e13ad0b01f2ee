#!/usr/bin/env bash
# check_dll.sh DLL: the Windows DLL exports exactly the 20 PinPad_ functions, the message-pump
# hook, the wait cancel, the frame monitor hook and the last failure's reason, by their plain
# names (no @N), and imports from system DLLs only (no MinGW runtime DLL).
set -euo pipefail
dll=$1
expected=$(sort "$(dirname "$0")/../../driver/tests/expected_exports.txt")
dump=$(objdump -p "$dll")
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/\[/ && NR > 1 {print $NF}' | sort)
if [ "$expected" != "$exports" ]; then
    diff <(echo "$expected") <(echo "$exports") || true
    echo "$dll: exported names differ"
    exit 1
fi
# Windows' own DLLs; msvcrt.dll ships with every Windows.
imports=$(awk '/DLL Name:/ {print toupper($3)}' <<<"$dump" | sort -u)
foreign=$(grep -v -x -E 'KERNEL32.DLL|USER32.DLL|MSVCRT.DLL' <<<"$imports" || true)
if [ -n "$foreign" ]; then
    echo "$dll: imports from non-system DLLs: $foreign"
    exit 1
fi
echo "$dll: $(wc -l <<<"$exports") plain exported names; imports from $(echo $imports)"
