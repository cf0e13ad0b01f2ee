#!/usr/bin/env bash
# Runs the examples of the manual pages and of the packages' README against padsim.
#   examples_test.sh BIN_DIR EXAMPLES_DIR FILE...
# FILE is a manual page (examples between .EX and .EE) or a plain-text README (examples indented
# by four spaces). The first line of every example is a comment that says where it runs:
#   # against padsim ...   # no pad needed ...                    run here
#   # on a real pad ...    # on Windows ...    # by a person ...
#   # as root ...          # a file ... (; a file ... in an ini file)  not run
# An example without one of these fails the test, so that none is left out unseen. An example
# runs with bash -e in a folder of its own, with BIN_DIR first on PATH and the installed examples
# folder (/usr/share/doc/lumenord-tools/examples) read from EXAMPLES_DIR; it must succeed within
# 120 s, and whatever it started in the background is ended with it.
set -uo pipefail
bin_dir=$1 examples_dir=$2
shift 2
work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0 ran=0 marked=0

# Prints each example of FILE as a block of lines ending with a line "\x01", in plain text.
extract() {
    case "$1" in
        *.[1-8])
            awk '/^\.EX$/ { inside = 1; next }
                 /^\.EE$/ { inside = 0; print "\001"; next }
                 inside' "$1" |
                sed -e 's/\\-/-/g' -e 's/\\(dq/"/g' -e 's/\\&//g' -e 's/\\e/\\/g' ;;
        *)
            awk '/^    / { sub(/^    /, ""); print; inside = 1; next }
                 inside { print "\001"; inside = 0 }
                 END { if (inside) print "\001" }' "$1" ;;
    esac
}

run_example() {  # FILE NUMBER SCRIPT
    local dir
    dir="$work/$(basename "$1")-$2"
    mkdir -p "$dir"
    {
        # Background jobs end with the example, also when it fails.
        echo "trap 'rc=\$?; j=\$(jobs -p); [ -z \"\$j\" ] || kill \$j 2>/dev/null; wait; exit \$rc' EXIT"
        echo "trap 'exit 143' TERM"
        printf '%s\n' "$3" | sed "s|/usr/share/doc/lumenord-tools/examples|$examples_dir|g"
    } >"$dir/example.sh"
    (cd "$dir" && PATH="$bin_dir:$PATH" timeout 120 bash -e example.sh) >"$dir/output" 2>&1
    local rc=$?
    ran=$((ran + 1))
    if [ "$rc" -ne 0 ]; then
        failures=$((failures + 1))
        echo "FAIL $1 example $2 (exit $rc):"
        sed 's/^/    | /' "$dir/example.sh"
        sed 's/^/    > /' "$dir/output"
    else
        echo "ok   $1 example $2"
    fi
}

for file in "$@"; do
    number=0 block=""
    while IFS= read -r line; do
        if [ "$line" != $'\001' ]; then
            block+="$line"$'\n'
            continue
        fi
        number=$((number + 1))
        first=${block%%$'\n'*}
        case "$first" in
            "# against padsim"* | "# no pad needed"*) run_example "$file" "$number" "$block" ;;
            "# on a real pad"* | "# on Windows"* | "# by a person"* | "# as root"* | "# a file"* | "; a file"*)
                marked=$((marked + 1))
                echo "---- $file example $number not run: ${first#\# }" ;;
            *)
                failures=$((failures + 1))
                echo "FAIL $file example $number says nowhere where it runs: $first" ;;
        esac
        block=""
    done < <(extract "$file")
done

echo "examples: $ran run, $failures failed, $marked marked as not runnable here"
[ "$ran" -gt 0 ] && [ "$failures" -eq 0 ]
