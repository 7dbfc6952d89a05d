#!/usr/bin/env bash
# The Windows dialog halvic-gui.exe as a person uses it, under Wine in an X server of its own
# (Xvfb), driven with xdotool as gui_test.sh drives the Linux dialog.
#
# usage: gui_windows_test.sh HALVIC_GUI_EXE EXAMPLES_DIR ARTEFACT_DIR WINEPREFIX HALVIC_EXE
#   screenshots go to ARTEFACT_DIR (dialog.png as it opens, dialog-typed.png, error.png,
#   warnings.png, help.png, waiting.png). HALVIC_EXE is the command line, run as another
#   conversion. Besides what it sees through X, it reads the file named by HALVIC_GUI_REPORT, where
#   the dialog writes its layout in pixels and the messages it shows.
# The edit box's completion list is Windows's own, which takes Escape itself while it is shown;
# under Wine it lists nothing, so Escape with the list open is tested on Linux only.
# Exit status: 0 passed, 1 failed, 77 skipped (see x_session.sh).

set -u -o pipefail

usage="usage: gui_windows_test.sh HALVIC_GUI_EXE EXAMPLES_DIR ARTEFACT_DIR WINEPREFIX HALVIC_EXE"
app=${1:?$usage}
examples=${2:?$usage}
artefacts=${3:?$usage}
export WINEPREFIX=${4:?$usage}
cli=${5:?$usage}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

work=$(mktemp -d "${TMPDIR:-/tmp}/halvic-gui-windows-test.XXXXXX") || exit 1
kName=gui_windows_test
kWait=30  # Wine's first start in a prefix takes a few seconds
kQuote='"'
source "$(dirname "$0")/x_session.sh"
holder=
trap 'exec 8>&-; stop_x_session; [ -n "$holder" ] && kill "$holder" 2>/dev/null; wineserver -k 2>/dev/null; rm -rf "$work"' EXIT

for tool in wine wineserver xdotool xwininfo xclip import identify timeout; do
    command -v "$tool" >/dev/null || fail "$tool is not installed"
done
[ -f "$app" ] || fail "no program $app"
mkdir -p "$artefacts" "$WINEPREFIX" || fail "cannot create $artefacts or $WINEPREFIX"
rm -f "$artefacts"/*.png

# A prefix made beforehand (ctest copies one for each test, tests/wine/wine_prefix.sh) is used as
# it is. Otherwise it is made before there is a display, so that Wine shows no window while it
# does so; what it started without a display is ended before the dialog starts.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    (unset DISPLAY; wine wineboot --init >"$work/wineboot.log" 2>&1)
    wineserver -k 2>/dev/null
    [ -f "$WINEPREFIX/system.reg" ] || fail "wineboot made no Wine prefix: $(cat "$work/wineboot.log")"
fi
start_x_server
typed_path() { WINEDEBUG=-all winepath -w "$1" 2>/dev/null; }

# start_app CASE [ARGUMENT]: halvic-gui.exe [ARGUMENT] in a fresh, empty working directory
# $work/CASE; sets app_pid, case_dir, report and win (the dialog, found by its caption).
start_app() {
    case_dir=$work/$1
    report=$work/$1.report
    mkdir -p "$case_dir"
    local name=$1
    shift
    (cd "$case_dir" && HALVIC_GUI_REPORT=$report exec wine "$app" "$@") >"$work/$name.log" 2>&1 &
    app_pid=$!
    win=$(find_window Halvic)
    [ -n "$win" ] || fail "$name: no visible window 'Halvic' within ${kWait}s; log: $(cat "$work/$name.log")"
    timeout $kWait xdotool windowfocus --sync "$win" || fail "$name: cannot focus the dialog"
    wait_drawn "$win"
}


# --- 1: Tab Tab, the sample's path and Enter convert it --------------------------------

start_app convert
cat "$report"
width=$(xwininfo -id "$win" | awk '/^ *Width:/ { print $2 }')
height=$(xwininfo -id "$win" | awk '/^ *Height:/ { print $2 }')
want="$(du X 185) $(du Y 50)"
check "client size measured by X ($width $height) = 185 x 50 dialog units ($want)" \
    [ "$width $height" = "$want" ]
check "the template asks for the same size" \
    [ "$(field dialog_expected 1) $(field dialog_expected 2)" = "$want" ]
# The controls in the template's order, at their places.
expect_rect ok 128 7 50 14
expect_rect cancel 128 23 50 14
expect_rect label 7 7 29 8
expect_rect edit 40 7 80 14
check "OK is the default button" [ "$(field default)" = ok ]
check "OK holds the focus" [ "$(field focus)" = ok ]
import -window "$win" "$artefacts/dialog.png" || fail "cannot take a screenshot"
xdotool key Tab Tab  # OK -> Cancel -> (the label is no tab stop) -> edit box
xdotool type --delay 20 "$examples/sample.txt"
import -window "$win" "$artefacts/dialog-typed.png"
xdotool key Return
wait_app
check "converted: exit status 0 (got $status)" [ "$status" = 0 ]
check "no message shown (got '$(message)')" [ -z "$(message)" ]
check "no warnings shown (got '$(warnings)')" [ -z "$(warnings)" ]
for name in $outputs; do
    check "$name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done

# --- 2 to 5: Escape, an empty name, a missing file, F1 ----------------------------------

dialog_cases ""  # the reason in words is Wine's, not Windows's

# --- 6: another conversion into the folder goes first: the dialog says so, then converts the --
#        file named on its command line ("Open with", "Convert with Halvic") into its folder

mkdir -p "$work/waiting"
cp "$examples/sample.txt" "$work/waiting/"
start_app waiting "$(typed_path "$work/waiting/sample.txt")"
# The other conversion: halvic.exe reading an input that does not end yet, holding the lock.
mkfifo "$work/held-input"
(cd "$case_dir" && exec wine "$cli" convert - <"$work/held-input") >"$work/holder.log" 2>&1 &
holder=$!
exec 8>"$work/held-input"
temporaries() { ls -A "$case_dir" | grep -q '\.tmp\.'; }
wait_for temporaries || fail "waiting: the other conversion did not start"  # it holds the lock
xdotool key Return
wait_for has_message
wait_drawn root
import -window root -crop 500x200+262+284 +repage "$artefacts/waiting.png"
check "waiting: message '$(message)'" \
    eval '[[ "$(message)" == "waiting for another conversion into "?*waiting ]]'
check "waiting: halvic-gui.exe waits while the other conversion runs" kill -0 "$app_pid"
exec 8>&-  # the other conversion's input ends; it converts it and lets go of the lock
wait "$holder"
holder=
wait_app
check "waiting: exit status 0 (got $status)" [ "$status" = 0 ]
for name in $outputs; do
    check "waiting: $name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done

# --- 7: a long conversion shows its progress; Cancel stops it and replaces nothing ----------

cancel_case

# --- 8: --version and /? print, where the output is sent, instead of opening the dialog -----

version=$(wine "$app" --version 2>/dev/null | tr -d '\r')
check "--version: the program and its version (got '$version')" \
    eval '[[ "$version" == "halvic-gui "[0-9]* ]]'
usage=$(wine "$app" '/?' 2>/dev/null | head -n 1 | tr -d '\r')
check "/?: its usage (got '$usage')" [ "$usage" = "Usage: halvic-gui [FILE]" ]

if [ $failures -ne 0 ]; then
    echo "gui_windows_test: $failures check(s) failed; screenshots in $artefacts" >&2
    exit 1
fi
log "passed; screenshots in $artefacts"
