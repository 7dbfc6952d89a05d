#!/usr/bin/env bash
# The dialog halvic-gui as a person uses it: a real window in an X server of its own (Xvfb),
# driven with xdotool. There is no window manager, so windows get the focus with
# `xdotool windowfocus --sync`; every wait has a time limit.
#
# usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR
#   EXAMPLES_DIR holds sample.txt and expected/*.qxd; screenshots go to ARTEFACT_DIR
#   (dialog.png: the dialog as it opens; dialog-typed.png, error.png, help.png).
# Exit status: 0 passed, 1 failed, 77 skipped because no X server could be started here (with
# HALVIC_REQUIRE_X=1, as in CI, that is a failure too).
#
# Besides what it sees through X, the test reads the file named by HALVIC_GUI_REPORT, where
# halvic-gui writes its dialog-unit base, its computed and actual client size and its controls'
# rectangles, and every message it shows. The dialog's size is measured with xwininfo.

set -u -o pipefail

readonly kSkip=77
readonly kWait=20  # seconds for any one thing to happen

app=${1:?usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR}
examples=${2:?usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR}
artefacts=${3:?usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR}
readonly outputs="qxase.qxd qxm.qxd qxa.qxd qxn.qxd qxi.qxd qxc.qxd qxs.qxd"

work=$(mktemp -d "${TMPDIR:-/tmp}/halvic-gui-test.XXXXXX") || exit 1
xvfb_pid=
app_pid=
failures=0

cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

log() { echo "gui_test: $*"; }
fail() {
    echo "gui_test: FAIL: $*" >&2
    exit 1
}
check() {  # check DESCRIPTION COMMAND...: a failed check is counted and the test goes on
    local what=$1
    shift
    if "$@"; then
        log "ok: $what"
    else
        echo "gui_test: FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}
no_x_server() {
    if [ "${HALVIC_REQUIRE_X:-0}" = 1 ]; then
        fail "$* (HALVIC_REQUIRE_X=1: this GUI test must run here)"
    fi
    echo "gui_test: SKIP: no X server can be started: $*" >&2
    exit $kSkip
}

# --- tools and the X server --------------------------------------------------------------

command -v Xvfb >/dev/null || no_x_server "Xvfb is not installed (apt-get install xvfb)"
for tool in xdotool xwininfo xprop import timeout; do
    command -v "$tool" >/dev/null ||
        fail "$tool is not installed (apt-get install xdotool x11-utils imagemagick coreutils)"
done
[ -x "$app" ] || fail "no executable $app"
mkdir -p "$artefacts" || fail "cannot create $artefacts"
rm -f "$artefacts"/*.png

# Xvfb picks a free display itself and writes its number to fd 9 once it accepts clients.
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
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11 NO_AT_BRIDGE=1

# --- helpers ---------------------------------------------------------------------------

# start_app CASE: halvic-gui in a fresh, empty working directory $work/CASE; sets app_pid,
# case_dir, report and win (the dialog, found by its caption).
start_app() {
    case_dir=$work/$1
    report=$work/$1.report
    mkdir -p "$case_dir"
    (cd "$case_dir" && HALVIC_GUI_REPORT=$report exec "$app") >"$work/$1.log" 2>&1 &
    app_pid=$!
    win=$(timeout $kWait xdotool search --sync --onlyvisible --name '^Halvic$' | head -n 1)
    [ -n "$win" ] || fail "$1: no visible window 'Halvic' within ${kWait}s; log: $(cat "$work/$1.log")"
    timeout $kWait xdotool windowfocus --sync "$win" || fail "$1: cannot focus the dialog"
}

# wait_app: waits for halvic-gui to end; sets status.
wait_app() {
    local deadline=$((SECONDS + kWait))
    while kill -0 "$app_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "halvic-gui did not end within ${kWait}s"
        sleep 0.05
    done
    wait "$app_pid"
    status=$?
    app_pid=
}

# find_box TITLE: the visible window with this exact caption; focuses it.
find_box() {
    box=$(timeout $kWait xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
    [ -n "$box" ] || fail "no window '$1' within ${kWait}s"
    timeout $kWait xdotool windowfocus --sync "$box" || fail "cannot focus '$1'"
}

# field KEY [N]: the Nth value (default 1) of the report line "KEY ...".
field() { awk -v k="$1" -v n="${2:-1}" '$1 == k { print $(n + 1); exit }' "$report"; }
# message: the message halvic-gui showed, if any.
message() { sed -n 's/^message //p' "$report"; }

dir_is_empty() { [ -z "$(ls -A "$case_dir")" ]; }
window_gone() { ! xdotool search --onlyvisible --name '^Halvic$' >/dev/null; }

# du X|Y N: N dialog units in pixels, as wxDLG_UNIT computes them (round(N * base / 4 or 8)).
du() {
    local base div
    if [ "$1" = X ]; then base=$(field dlgunit_base 1) div=4; else base=$(field dlgunit_base 2) div=8; fi
    echo $(((2 * $2 * base + div) / (2 * div)))
}

# expect_rect NAME X Y W H (dialog units): the control's rectangle in the report.
expect_rect() {
    local got want
    got=$(awk -v k="$1" '$1 == k { print $2, $3, $4, $5 }' "$report")
    want="$(du X "$2") $(du Y "$3") $(du X "$4") $(du Y "$5")"
    check "$1 at ($2, $3) size $4 x $5 dialog units = $want px (got $got)" [ "$got" = "$want" ]
}

# --- 1: layout, then Tab Tab, the sample's path and Enter convert it ----------------------

start_app convert
cat "$report"
log "font $(sed -n 's/^font //p' "$report"), dialog unit base $(field dlgunit_base 1) x $(field dlgunit_base 2) px"
width=$(xwininfo -id "$win" | awk '/^ *Width:/ { print $2 }')
height=$(xwininfo -id "$win" | awk '/^ *Height:/ { print $2 }')
want="$(du X 185) $(du Y 50)"
check "client size measured by X ($width $height) = 185 x 50 dialog units ($want)" \
    [ "$width $height" = "$want" ]
check "halvic-gui computes the same size" [ "$(field dialog_expected 1) $(field dialog_expected 2)" = "$want" ]
expect_rect ok 128 7 50 14
expect_rect cancel 128 23 50 14
expect_rect edit 40 7 80 14
# The label: position and height as in the layout; its width 29 units, or up to 33 (the gap
# before the edit box) when the text needs it in this font.
label=$(awk '$1 == "label" { print $2, $3, $5 }' "$report")
label_width=$(field label 3)
check "label at (7, 7) height 8 dialog units = $(du X 7) $(du Y 7) $(du Y 8) px (got $label)" \
    [ "$label" = "$(du X 7) $(du Y 7) $(du Y 8)" ]
check "label width $label_width px within 29 to 33 dialog units" \
    [ "$label_width" -ge "$(du X 29)" -a "$label_width" -le "$(du X 33)" ]
# Centred on the screen (1024 x 768, no window manager and so no frame).
x=$(xwininfo -id "$win" | awk '/Absolute upper-left X:/ { print $4 }')
y=$(xwininfo -id "$win" | awk '/Absolute upper-left Y:/ { print $4 }')
check "centred: at ($x, $y), want ($(((1024 - width) / 2)), $(((768 - height) / 2)))" \
    [ $((x - (1024 - width) / 2)) -ge -1 -a $((x - (1024 - width) / 2)) -le 1 \
      -a $((y - (768 - height) / 2)) -ge -1 -a $((y - (768 - height) / 2)) -le 1 ]
props=$(xprop -id "$win")
# _MOTIF_WM_HINTS: flags, functions, decorations; functions 0x8/0x10 and decorations 0x20/0x40
# are minimise and maximise.
motif=$(echo "$props" | sed -n 's/^_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = //p')
functions=$(echo "$motif" | cut -d, -f2)
decorations=$(echo "$motif" | cut -d, -f3)
check "no minimise or maximise box (_MOTIF_WM_HINTS $motif)" \
    [ -n "$motif" -a $((functions & 0x18)) = 0 -a $((decorations & 0x60)) = 0 ]
check "shown on the taskbar (no _NET_WM_STATE_SKIP_TASKBAR)" \
    eval '! echo "$props" | grep -q _NET_WM_STATE_SKIP_TASKBAR'
check "icons 32x32 and 16x16 set" \
    eval 'echo "$props" | grep -q "Icon (32 x 32)" && echo "$props" | grep -q "Icon (16 x 16)"'
import -window "$win" "$artefacts/dialog.png" || fail "cannot take a screenshot"

xdotool key Tab Tab  # OK -> Cancel -> (the label is no tab stop) -> edit box
xdotool type --delay 20 "$examples/sample.txt"
# From the screen, so that the completion list below the edit box shows as well.
import -window root -crop "${width}x$((height + 60))+$x+$y" +repage "$artefacts/dialog-typed.png"
xdotool key Return
wait_app
check "converted: exit status 0 (got $status)" [ "$status" = 0 ]
check "no message shown (got '$(message)')" [ -z "$(message)" ]
for name in $outputs; do
    check "$name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done
check "nothing else written" [ "$(ls "$case_dir" | wc -l)" = 7 ]

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
check "the dialog closed before the message" window_gone
import -window "$box" "$artefacts/error.png"
check "message 'No file name was given.' (got '$(message)')" [ "$(message)" = "No file name was given." ]
xdotool key Return
wait_app
check "empty name: exit status 1 (got $status)" [ "$status" = 1 ]
check "empty name: nothing written" dir_is_empty

# --- 4: a file that cannot be opened: the box names it and the reason -------------------

start_app missing
xdotool key Tab Tab
xdotool type --delay 20 " no such file.txt"
xdotool key Return
find_box 'Halvic: nothing converted'
check "message names the file as typed and the reason (got '$(message)')" \
    [ "$(message)" = " no such file.txt: No such file or directory" ]
xdotool key Escape
wait_app
check "failed conversion: exit status 1 (got $status)" [ "$status" = 1 ]
check "failed conversion: nothing written" dir_is_empty

# --- 5: F1 shows the help; back in the dialog, Escape ends it ----------------------------

start_app help
xdotool key F1
find_box 'Halvic help'
import -window "$box" "$artefacts/help.png"
xdotool key Return
timeout $kWait xdotool windowfocus --sync "$win" || fail "help: cannot focus the dialog again"
check "help: the dialog is still open" kill -0 "$app_pid"
xdotool key Escape
wait_app
check "help: exit status 0 (got $status)" [ "$status" = 0 ]
check "help: nothing written" dir_is_empty

# --- 6: another conversion into the folder goes first: the dialog says so, then converts --

start_app waiting
flock "$case_dir/.halvic.lock" sleep 3 &
holder=$!
until ! flock -n "$case_dir/.halvic.lock" true; do sleep 0.05; done  # the lock is held
xdotool key Tab Tab
xdotool type --delay 20 "$examples/sample.txt"
xdotool key Return
for _ in $(seq 100); do [ -n "$(message)" ] && break; sleep 0.05; done
sleep 0.3
import -window root "$artefacts/waiting.png"
wait_app
wait "$holder"
check "waiting: exit status 0 (got $status)" [ "$status" = 0 ]
check "waiting: message '$(message)'" \
    [ "$(message)" = "waiting for another conversion into $case_dir" ]
for name in $outputs; do
    check "waiting: $name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done

if [ $failures -ne 0 ]; then
    echo "gui_test: $failures check(s) failed; screenshots in $artefacts" >&2
    exit 1
fi
log "passed; screenshots in $artefacts"
