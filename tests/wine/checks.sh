# What the Wine tests of the Windows build share, sourced by them: a scratch folder that goes at
# the end with the Wine server, and `check WHAT COMMAND...`, which reports and counts a failure.
# The sourcing script sets `name` (how its lines begin) and ends with `[ $failures = 0 ]`.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/halvic-$name.XXXXXX") || exit 1
trap 'exec 7>&- 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "$name: ok: $what"; else
        echo "$name: FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}
