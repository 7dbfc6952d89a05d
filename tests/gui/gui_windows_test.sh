#!/usr/bin/env bash
# The Windows dialog halvic-gui.exe as a person uses it, under Wine in an X server of its own
# (Xvfb), driven with xdotool as gui_test.sh drives the Linux dialog.
#
# usage: gui_windows_test.sh HALVIC_GUI_EXE EXAMPLES_DIR ARTEFACT_DIR WINEPREFIX
#   screenshots go to ARTEFACT_DIR (dialog.png as it opens, dialog-typed.png, error.png).
# Exit status: 0 passed, 1 failed, 77 skipped because no X server could be started here (with
# HALVIC_REQUIRE_X=1, as in CI, that is a failure too).

set -u -o pipefail

readonly kSkip=77
readonly kWait=30  # seconds for any one thing to happen

usage="usage: gui_windows_test.sh HALVIC_GUI_EXE EXAMPLES_DIR ARTEFACT_DIR WINEPREFIX"
app=${1:?$usage}
examples=${2:?$usage}
artefacts=${3:?$usage}
export WINEPREFIX=${4:?$usage}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
readonly outputs="qxase.qxd qxm.qxd qxa.qxd qxn.qxd qxi.qxd qxc.qxd qxs.qxd"

work=$(mktemp -d "${TMPDIR:-/tmp}/halvic-gui-windows-test.XXXXXX") || exit 1
xvfb_pid=
app_pid=
failures=0

cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

log() { echo "gui_windows_test: $*"; }
fail() {
    echo "gui_windows_test: FAIL: $*" >&2
    exit 1
}
check() {  # check DESCRIPTION COMMAND...: a failed check is counted and the test goes on
    local what=$1
    shift
    if "$@"; then
        log "ok: $what"
    else
        echo "gui_windows_test: FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}
no_x_server() {
    [ "${HALVIC_REQUIRE_X:-0}" = 1 ] && fail "$* (HALVIC_REQUIRE_X=1: this GUI test must run here)"
    echo "gui_windows_test: SKIP: no X server can be started: $*" >&2
    exit $kSkip
}

command -v Xvfb >/dev/null || no_x_server "Xvfb is not installed (apt-get install xvfb)"
for tool in wine wineserver xdotool import timeout; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -f "$app" ] || fail "no program $app"
mkdir -p "$artefacts" "$WINEPREFIX" || fail "cannot create $artefacts or $WINEPREFIX"
rm -f "$artefacts"/*.png

# The prefix is made before there is a display, so that Wine shows no window while it does so.
(unset DISPLAY; wine wineboot --init >"$work/wineboot.log" 2>&1; wineserver -w) ||
    fail "wineboot failed: $(cat "$work/wineboot.log")"

Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
deadline=$((SECONDS + kWait))
until grep -q '^[0-9][0-9]*$' "$work/display" 2>/dev/null; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        xvfb_pid=
        no_x_server "Xvfb ended at once: $(tr '\n' ' ' <"$work/xvfb.log")"
    fi
    [ $SECONDS -lt $deadline ] || no_x_server "Xvfb gave no display number in ${kWait}s"
    sleep 0.05
done
export DISPLAY=":$(cat "$work/display")"
log "Xvfb on display $DISPLAY"

# start_app CASE: halvic-gui.exe in a fresh, empty working directory $work/CASE; sets app_pid,
# case_dir and win (the dialog, found by its caption).
start_app() {
    case_dir=$work/$1
    mkdir -p "$case_dir"
    (cd "$case_dir" && exec wine "$app") >"$work/$1.log" 2>&1 &
    app_pid=$!
    win=$(timeout $kWait xdotool search --sync --onlyvisible --name '^Halvic$' | head -n 1)
    [ -n "$win" ] || fail "$1: no visible window 'Halvic' within ${kWait}s; log: $(cat "$work/$1.log")"
    timeout $kWait xdotool windowfocus --sync "$win" || fail "$1: cannot focus the dialog"
    sleep 0.3  # Wine draws the controls after the window is mapped
}

wait_app() {
    local deadline=$((SECONDS + kWait))
    while kill -0 "$app_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "halvic-gui.exe did not end within ${kWait}s"
        sleep 0.05
    done
    wait "$app_pid"
    status=$?
    app_pid=
}

find_box() {
    box=$(timeout $kWait xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
    [ -n "$box" ] || fail "no window '$1' within ${kWait}s"
    timeout $kWait xdotool windowfocus --sync "$box" || fail "cannot focus '$1'"
    sleep 0.3
}

dir_is_empty() { [ -z "$(ls -A "$case_dir" | grep -v '^\.halvic\.lock$')" ]; }

# --- 1: Tab Tab, the sample's path and Enter convert it --------------------------------

start_app convert
import -window "$win" "$artefacts/dialog.png" || fail "cannot take a screenshot"
xdotool key Tab Tab  # OK -> Cancel -> (the label is no tab stop) -> edit box
xdotool type --delay 20 "$examples/sample.txt"
import -window "$win" "$artefacts/dialog-typed.png"
xdotool key Return
wait_app
check "converted: exit status 0 (got $status)" [ "$status" = 0 ]
for name in $outputs; do
    check "$name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done

# --- 2: Escape converts nothing ---------------------------------------------------------

start_app escape
xdotool key Escape
wait_app
check "Escape: exit status 0 (got $status)" [ "$status" = 0 ]
check "Escape: nothing written" dir_is_empty

# --- 3: Enter at once is OK with an empty name: the error box, nothing written -----------

start_app empty
xdotool key Return
find_box 'Halvic: nothing converted'
import -window "$box" "$artefacts/error.png"
xdotool key Return
wait_app
check "empty name: exit status 1 (got $status)" [ "$status" = 1 ]
check "empty name: nothing written" dir_is_empty

if [ $failures -ne 0 ]; then
    echo "gui_windows_test: $failures check(s) failed; screenshots in $artefacts" >&2
    exit 1
fi
log "passed; screenshots in $artefacts"
