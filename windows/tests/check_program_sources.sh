#!/usr/bin/env bash
# check_program_sources.sh COMPILER: the test program's own sources (testapp/, its tests aside)
# and the platform layer it shares with the driver (platform/, its tests aside) build for Windows. (1) No source or header outside *_posix.cpp includes a POSIX header. (2) Every
# source that includes no Qt header, directly or through the project's headers, compiles with
# COMPILER (the 32-bit MinGW g++ of the Windows build: its win32 thread model, without std::thread
# in GCC 12, is stricter than the posix one of an official Qt's MinGW kit), with the flags of the
# Windows build, without linking. The Qt sources need a Qt for Windows,
# which Debian lacks; (1) covers them.
set -euo pipefail
compiler=$1
top="$(cd "$(dirname "$0")/../.." && pwd)"
program="$top/testapp"
include_dirs=(testapp/shell testapp/shell/common testapp/keys testapp/operations testapp/monitor driver/include platform padlogic loader)

mapfile -t files < <(cd "$top" && find testapp platform \( -path testapp/tests -o -path platform/tests \) \
    -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sort)

# (1) POSIX headers only in *_posix.cpp.
posix='#[[:space:]]*include[[:space:]]*<(unistd|pthread|fcntl|poll|termios|dlfcn|dirent|spawn|semaphore|sched|syslog|pwd|grp|sys/[a-z_]+|netinet/[a-z_]+|arpa/[a-z_]+)\.h>'
status=0
for f in "${files[@]}"; do
    [[ $f == *_posix.cpp ]] && continue
    if hits=$(grep -nE "$posix" "$top/$f" 2>/dev/null); then
        sed "s|^|$f:|" <<<"$hits"
        status=1
    fi
done
[ $status -eq 0 ] || { echo "POSIX headers outside *_posix.cpp (above)"; exit 1; }

# The project's header that `name` (an include in `from`) names, or nothing.
resolve() {
    local from=$1 name=$2 dir
    for dir in "$(dirname "$from")" "${include_dirs[@]/#/$top/}"; do
        [ -f "$dir/$name" ] && { realpath "$dir/$name"; return; }
    done
}

# Whether `file`, or a project header it includes at any depth, includes a Qt header.
uses_qt() {
    local -A seen=()
    local queue=("$(realpath "$1")") file name
    while [ ${#queue[@]} -gt 0 ]; do
        file=${queue[0]}
        queue=("${queue[@]:1}")
        [ -n "${seen[$file]:-}" ] && continue
        seen[$file]=1
        grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file" && return 0
        while read -r name; do
            local found
            found=$(resolve "$file" "$name")
            [ -n "$found" ] && queue+=("$found")
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
    done
    return 1
}

# (2) The non-Qt sources compile for Windows.
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Werror -DWIN32_LEAN_AND_MEAN -DNOMINMAX
       -D_WIN32_WINNT=0x0601 "${include_dirs[@]/#/-I$top/}")
compiled=() qt=()
for f in "${files[@]}"; do
    [[ $f == *.cpp && $f != *_posix.cpp ]] || continue
    if uses_qt "$top/$f"; then
        qt+=("$f")
        continue
    fi
    "$compiler" "${flags[@]}" "$top/$f" || { echo "$f does not compile for Windows"; exit 1; }
    compiled+=("$f")
done
[ ${#compiled[@]} -gt 0 ] || { echo "no non-Qt source found under $program"; exit 1; }
echo "compiled for Windows (${#compiled[@]}): ${compiled[*]}"
echo "Qt sources, checked for POSIX headers only (${#qt[@]}): ${qt[*]}"
