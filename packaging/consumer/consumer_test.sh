#!/usr/bin/env bash
# The install and the packages as someone outside the project meets them, from the Release tree
# that scripts/package built and packaged:
#  1. that tree installed into a temporary prefix: the exported symbols are the header's, a tiny
#     project builds against it once through find_package and once through pkg-config, and both
#     builds read the version of padsim (run from the prefix) through the library;
#  2. the .deb files: each holds the files of its table and the dependencies it must have;
#     liblumenord1, lumenord-tools and tallowbench unpacked into one temporary root (what an
#     operator installs) run from there: padsim, lumenord against it, and the program, which
#     must load libLumenord.so.1 from that root.
# Fails at the first missing file or failed run, saying which.
# usage: consumer_test.sh PACKAGE_BUILD CMAKE C_COMPILER
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 PACKAGE_BUILD CMAKE C_COMPILER" >&2; exit 2; }
pkg_build=$1 cmake=$2 cc=$3
here="$(cd "$(dirname "$0")" && pwd)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$pkg_build/CMakeCache.txt")
[ -n "$version" ] || { echo "FAIL: $pkg_build is no configured tree (run scripts/package)" >&2; exit 1; }
deb_version="$version-1"

work=$(mktemp -d "${TMPDIR:-/tmp}/lumenord-consumer.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

# start_padsim PROGRAM FOLDER: padsim on a pseudo-terminal linked at FOLDER/ttyPAD, mapped to
# com1 by FOLDER/sysconfig.ini; returns once padsim has printed the link (10 s at most).
start_padsim() {
    local program=$1 folder=$2 line
    mkdir -p "$folder"
    printf '[PORTS]\nCOM1=%s\n' "$folder/ttyPAD" >"$folder/sysconfig.ini"
    exec {padsim_out}< <(exec "$program" --no-input --link "$folder/ttyPAD" 2>&1)
    pids+=($!)
    while IFS= read -r -t 10 -u "$padsim_out" line; do
        if [[ $line == *"$folder/ttyPAD"* ]]; then
            # Its display lines go on being read, so that padsim never waits on a full pipe.
            cat <&"$padsim_out" >/dev/null &
            pids+=($!)
            exec {padsim_out}<&-
            return 0
        fi
    done
    fail "$program did not report its link $folder/ttyPAD within 10 s"
}

# expect TEXT COMMAND...: runs COMMAND (60 s at most) in the current folder; fails when it exits
# nonzero or its standard output lacks TEXT. Its standard error is kept in $work/stderr.
expect() {
    local text=$1 out rc=0
    shift
    out=$(timeout 60 "$@" 2>"$work/stderr") || rc=$?
    [ "$rc" -eq 0 ] || fail "$* exited $rc: $out $(cat "$work/stderr")"
    [[ $out == *"$text"* ]] || fail "$* printed no '$text': $out"
}

# ---- 1. the installed tree ----
step "cmake --install $pkg_build into a temporary prefix"
prefix=$work/prefix
"$cmake" --install "$pkg_build" --prefix "$prefix" >"$work/install.log" ||
    fail "install failed: $(cat "$work/install.log")"
library=$(find "$prefix" -name libLumenord.so.1 -print -quit)
[ -n "$library" ] || fail "no libLumenord.so.1 under $prefix"
libdir=$(dirname "$library")
libdir_rel=${libdir#"$prefix"/}
header=$prefix/include/lumenord/pinpad.h
[ -f "$header" ] || fail "no header at include/lumenord/pinpad.h"
[ "$(readlink "$libdir/libLumenord.so")" = libLumenord.so.1 ] || fail "libLumenord.so is no link to libLumenord.so.1"
[ "$(readlink "$library")" = "libLumenord.so.$version" ] || fail "libLumenord.so.1 is no link to libLumenord.so.$version"
readelf -d "$library" | grep -q 'SONAME.*\[libLumenord\.so\.1\]' || fail "the library's SONAME is not libLumenord.so.1"

step "exported symbols are exactly the functions that pinpad.h declares"
grep -oE 'PINPAD_CALL (PinPad|Lumenord)_[A-Za-z_]+\(' "$header" | sed 's/^PINPAD_CALL //; s/($//' |
    sort -u >"$work/documented"
nm -D --defined-only "$library" | awk 'NF == 3 { print $3 }' | sort -u >"$work/exported"
[ "$(wc -l <"$work/documented")" -ge 20 ] || fail "fewer than 20 functions found in the header"
diff -u "$work/documented" "$work/exported" || fail "exported symbols differ from the header's (- header, + library)"

step "find_package(Lumenord 1.0 CONFIG) builds the consumer; 2.0 is refused"
"$cmake" -S "$here" -B "$work/by-cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
    >"$work/configure.log" 2>&1 || fail "configure failed: $(cat "$work/configure.log")"
"$cmake" --build "$work/by-cmake" >"$work/build.log" 2>&1 || fail "build failed: $(cat "$work/build.log")"
if "$cmake" -S "$here" -B "$work/by-cmake-2" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_COMPILER="$cc" -DLUMENORD_WANTED=2.0 >"$work/configure-2.log" 2>&1; then
    fail "find_package(Lumenord 2.0) accepted version $version"
fi
grep -q "$version" "$work/configure-2.log" || fail "the refusal of 2.0 does not name $version"

step "pkg-config builds the consumer"
pc=$libdir/pkgconfig/lumenord.pc
grep -qx "prefix=$prefix" "$pc" || fail "lumenord.pc does not name the install prefix: $(head -1 "$pc")"
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --modversion lumenord)" = "$version" ] || fail "pkg-config --modversion is not $version"
# shellcheck disable=SC2046  # the flags are words
"$cc" -Wall -Wextra -Werror "$here/consumer.c" -o "$work/by-pkg-config" \
    $(pkg-config --cflags lumenord) $(pkg-config --libs lumenord) || fail "pkg-config build failed"

step "both consumers read padsim's version through the installed library"
start_padsim "$prefix/bin/padsim" "$work/installed"
cd "$work/installed"
expect "model=SIM731" "$work/by-cmake/consumer"
expect "model=SIM731" env LD_LIBRARY_PATH="$libdir" "$work/by-pkg-config"
expect "model=SIM731" env LD_LIBRARY_PATH="$libdir" "$prefix/bin/lumenord" --device ttyPAD version

# ---- 2. the packages ----
arch=$(dpkg --print-architecture)
declare -A deb
for package in liblumenord1 liblumenord-dev lumenord-tools tallowbench; do
    deb[$package]=$pkg_build/${package}_${deb_version}_$arch.deb
    [ -f "${deb[$package]}" ] || fail "no ${package}_${deb_version}_$arch.deb in $pkg_build"
done

step "each package holds its files"
doc_files=(README copyright changelog.Debian.gz)
expected=(
    "liblumenord1 $libdir_rel/libLumenord.so.$version"
    "liblumenord1 $libdir_rel/libLumenord.so.1"
    "liblumenord-dev $libdir_rel/libLumenord.so"
    "liblumenord-dev include/lumenord/pinpad.h"
    "liblumenord-dev $libdir_rel/cmake/Lumenord/LumenordConfig.cmake"
    "liblumenord-dev $libdir_rel/cmake/Lumenord/LumenordConfigVersion.cmake"
    "liblumenord-dev $libdir_rel/cmake/Lumenord/LumenordTargets.cmake"
    "liblumenord-dev $libdir_rel/pkgconfig/lumenord.pc"
    "liblumenord-dev share/doc/liblumenord-dev/html/index.html"
    "liblumenord-dev share/doc/liblumenord-dev/html/group__host.html"
    "lumenord-tools bin/lumenord"
    "lumenord-tools bin/padsim"
    "lumenord-tools share/man/man1/lumenord.1.gz"
    "lumenord-tools share/man/man1/padsim.1.gz"
    "lumenord-tools share/doc/lumenord-tools/examples/acceptance.lumenord"
    "tallowbench bin/Tallowbench_english"
    "tallowbench share/man/man1/Tallowbench_english.1.gz"
    "tallowbench share/applications/tallowbench.desktop"
    "tallowbench share/icons/hicolor/scalable/apps/tallowbench.svg"
)
for package in "${!deb[@]}"; do
    for file in "${doc_files[@]}"; do expected+=("$package share/doc/$package/$file"); done
done
for package in "${!deb[@]}"; do
    dpkg-deb -c "${deb[$package]}" | awk '{ print $6 }' >"$work/$package.files"
done
for row in "${expected[@]}"; do
    package=${row%% *} file=${row#* }
    grep -qx "\./usr/$file" "$work/$package.files" || fail "$package lacks /usr/$file"
done

step "each package has its dependencies"
depends() { dpkg-deb -f "${deb[$1]}" Depends; }
for package in liblumenord-dev lumenord-tools tallowbench; do
    [[ $(depends "$package") == *"liblumenord1 (= $deb_version)"* ]] ||
        fail "$package does not depend on liblumenord1 (= $deb_version): $(depends "$package")"
done
[[ $(depends liblumenord1) == *libc6* ]] || fail "liblumenord1 lacks its shared library dependencies"
[[ $(depends lumenord-tools) == *libssl3* ]] || fail "lumenord-tools lacks padsim's libssl3"
[[ $(depends tallowbench) == *libqt6widgets6* ]] || fail "tallowbench lacks libqt6widgets6"
[[ $(depends tallowbench) == *qt6-qpa-plugins* ]] || fail "tallowbench lacks the Qt display plugins (qt6-qpa-plugins)"
dpkg-deb -I "${deb[liblumenord1]}" shlibs | grep -qx "libLumenord 1 liblumenord1 (>= $deb_version)" ||
    fail "liblumenord1 has no shlibs entry for libLumenord.so.1"
dpkg-deb -I "${deb[liblumenord1]}" triggers | grep -qx 'activate-noawait ldconfig' ||
    fail "liblumenord1 has no ldconfig trigger"
dpkg-deb -I "${deb[liblumenord1]}" symbols | sed -n 's/^ \([A-Za-z_]*\)@Base .*/\1/p' | sort -u |
    diff -u "$work/exported" - || fail "liblumenord1's symbols file differs from the exports (+ symbols file)"

step "the packages unpack and their programs run from the unpacked root"
root=$work/root
for package in liblumenord1 lumenord-tools tallowbench; do dpkg-deb -x "${deb[$package]}" "$root"; done
dpkg-deb -x "${deb[liblumenord-dev]}" "$work/root-dev"
grep -qx 'prefix=/usr' "$work/root-dev/usr/$libdir_rel/pkgconfig/lumenord.pc" || fail "the packaged lumenord.pc is not for /usr"
for program in lumenord padsim Tallowbench_english; do
    ! readelf -d "$root/usr/bin/$program" | grep -qE 'RPATH|RUNPATH' || fail "$program carries an RPATH"
    zcat "$root/usr/share/man/man1/$program.1.gz" | grep -qi "^\.TH \"\?$program" ||
        fail "the manual page of $program has no .TH line of its own"
done
start_padsim "$root/usr/bin/padsim" "$work/unpacked"
cd "$work/unpacked"
expect "model=SIM731" env LD_LIBRARY_PATH="$root/usr/$libdir_rel" "$root/usr/bin/lumenord" --device ttyPAD version
expect "Tallowbench_english $version" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$root/usr/bin/Tallowbench_english" --version
# A real start offscreen: the window shows only when the driver loaded (a missing one stops
# it in a dialog); the loader's trace names the file that was loaded.
expect "shown" env LD_LIBRARY_PATH="$root/usr/$libdir_rel" LD_DEBUG=libs QT_QPA_PLATFORM=offscreen \
    TALLOWBENCH_EXIT_WHEN_SHOWN=1 "$root/usr/bin/Tallowbench_english"
grep -q "calling init: $root/usr/$libdir_rel/libLumenord.so.1\$" "$work/stderr" ||
    fail "Tallowbench_english did not load libLumenord.so.1 from the unpacked root"
echo "package_consumer_tests: all checks passed"
