#!/usr/bin/env bash
# The dialog halvic-gui as a person uses it: a real window in an X server of its own (Xvfb),
# driven with xdotool. There is no window manager, so windows get the focus with
# `xdotool windowfocus --sync`; every wait has a time limit.
#
# usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR
#   EXAMPLES_DIR holds sample.txt and expected/*.qxd; screenshots go to ARTEFACT_DIR
#   (dialog.png: the dialog as it opens; dialog-typed.png with the completion list, error.png,
#   warnings.png, help.png, waiting.png, progress.png).
# Exit status: 0 passed, 1 failed, 77 skipped because no X server could be started here (with
# HALVIC_REQUIRE_X=1, as in CI, that is a failure too).
#
# Besides what it sees through X, the test reads the file named by HALVIC_GUI_REPORT, where
# halvic-gui writes its dialog-unit base, its computed and actual client size and its controls'
# rectangles, and every message it shows. The dialog's size is measured with xwininfo.

set -u -o pipefail

app=${1:?usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR}
examples=${2:?usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR}
artefacts=${3:?usage: gui_test.sh HALVIC_GUI EXAMPLES_DIR ARTEFACT_DIR}

work=$(mktemp -d "${TMPDIR:-/tmp}/halvic-gui-test.XXXXXX") || exit 1
kName=gui_test
source "$(dirname "$0")/x_session.sh"
trap 'stop_x_session; rm -rf "$work"' EXIT

# --- tools and the X server --------------------------------------------------------------

for tool in xdotool xwininfo xprop xclip import identify timeout; do
    command -v "$tool" >/dev/null ||
        fail "$tool is not installed (apt-get install xdotool x11-utils xclip imagemagick coreutils)"
done
[ -x "$app" ] || fail "no executable $app"
mkdir -p "$artefacts" || fail "cannot create $artefacts"
rm -f "$artefacts"/*.png

start_x_server
unset WAYLAND_DISPLAY
export GDK_BACKEND=x11 NO_AT_BRIDGE=1

# --- helpers ---------------------------------------------------------------------------

# start_app CASE: halvic-gui in a fresh, empty working directory $work/CASE; sets app_pid,
# case_dir, report and win (the dialog, found by its caption).
start_app() {
    case_dir=$work/$1
    report=$work/$1.report
    mkdir -p "$case_dir"
    local name=$1
    shift  # what is left is halvic-gui's command line
    (cd "$case_dir" && HALVIC_GUI_REPORT=$report exec "$app" "$@") >"$work/$name.log" 2>&1 &
    app_pid=$!
    win=$(find_window Halvic)
    [ -n "$win" ] || fail "$name: no visible window 'Halvic' within ${kWait}s; log: $(cat "$work/$name.log")"
    timeout $kWait xdotool windowfocus --sync "$win" || fail "$name: cannot focus the dialog"
}

# The edit box's completion list: a window of GTK's, named after the program, shown under it.
completion_list_shown() { xdotool search --onlyvisible --name '^halvic-gui$' >/dev/null 2>&1; }
completion_list_gone() { ! completion_list_shown; }




# --- 1: layout, then Tab Tab, the sample's path, Escape for the completion list, Enter -------

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
check "the completion list shows what the name may be" wait_for completion_list_shown
# From the screen, so that the completion list below the edit box shows as well.
import -window root -crop "${width}x$((height + 60))+$x+$y" +repage "$artefacts/dialog-typed.png"
# Escape closes the list, not the dialog; Enter then converts.
xdotool key Escape
check "Escape closed the completion list" wait_for completion_list_gone
check "Escape left the dialog open" kill -0 "$app_pid"
xdotool key Return
wait_app
check "converted: exit status 0 (got $status)" [ "$status" = 0 ]
check "no message shown (got '$(message)')" [ -z "$(message)" ]
check "no warnings shown (got '$(warnings)')" [ -z "$(warnings)" ]
for name in $outputs; do
    check "$name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done
check "nothing else written" [ "$(ls "$case_dir" | wc -l)" = 7 ]

# --- 2 to 5: Escape, an empty name, a missing file, F1 ----------------------------------

dialog_cases "No such file or directory"

# --- 6: another conversion into the folder goes first: the dialog says so, then converts --

start_app waiting
# Another conversion's lock, held by this shell until the dialog has said that it waits.
exec 7>>"$case_dir/.halvic.lock"
flock 7 || fail "waiting: cannot take the lock"
xdotool key Tab Tab
xdotool type --delay 20 "$examples/sample.txt"
xdotool key Return
wait_for has_message
check "waiting: message '$(message)'" \
    [ "$(message)" = "waiting for another conversion into $case_dir" ]
check "waiting: halvic-gui waits while the lock is held" \
    eval 'kill -0 "$app_pid" && [ ! -e "$case_dir/qxase.qxd" ]'
wait_drawn root
import -window root "$artefacts/waiting.png"
exec 7>&-  # lets go of the lock
wait_app
check "waiting: exit status 0 (got $status)" [ "$status" = 0 ]
for name in $outputs; do
    check "waiting: $name equals the expected one" cmp "$case_dir/$name" "$examples/expected/$name"
done

# --- 7: a file named on the command line ("Open with") is in the edit box; Enter converts it --
#        into the file's own folder

mkdir -p "$work/beside"
cp "$examples/sample.txt" "$work/beside/"
start_app given "$work/beside/sample.txt"
xdotool key Return
wait_app
check "given: exit status 0 (got $status)" [ "$status" = 0 ]
check "given: no warnings shown (got '$(warnings)')" [ -z "$(warnings)" ]
for name in $outputs; do
    check "given: $name, beside the input, equals the expected one" \
        cmp "$work/beside/$name" "$examples/expected/$name"
done
check "given: nothing written in the folder it was started in" dir_is_empty

# --help and --version answer on the terminal, with no display needed
check "--version: the program and its version (got '$(env -u DISPLAY "$app" --version)')" \
    eval '[[ "$(env -u DISPLAY "$app" --version)" == "halvic-gui "[0-9]* ]]'
check "--help: its usage" \
    eval '[ "$(env -u DISPLAY "$app" --help | head -n 1)" = "Usage: halvic-gui [FILE]" ]'

# --- 8: a file that gives no record: the error box, nothing replaced; the dialog again, whose --
#        Escape in the edit box ends with status 1

mkdir -p "$work/norecord"
for name in $outputs; do echo "old $name" >"$work/norecord/$name"; done
cp "$examples/../README.md" "$work/norecord/"
start_app norecord "$work/norecord/README.md"
xdotool key Return
find_box 'Halvic: nothing converted'
check "no record: the message says why (got '$(message)')" \
    eval 'case "$(message)" in *"so no record was converted and no file was replaced"*) true ;; *) false ;; esac'
xdotool key Return
dialog_again
xdotool key Escape
wait_app
check "no record: exit status 1 (got $status)" [ "$status" = 1 ]
for name in $outputs; do
    check "no record: $name is as it was" [ "$(cat "$case_dir/$name")" = "old $name" ]
done

# --- 9: a long conversion shows its progress; Cancel stops it and replaces nothing ----------

cancel_case

if [ $failures -ne 0 ]; then
    echo "gui_test: $failures check(s) failed; screenshots in $artefacts" >&2
    exit 1
fi
log "passed; screenshots in $artefacts"
