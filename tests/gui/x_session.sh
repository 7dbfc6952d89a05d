# Shared by the dialog tests (gui_test.sh, gui_windows_test.sh), sourced once the caller has set
# kName (for its messages) and made $work: messages and checks, an X server of the test's own
# (Xvfb), waiting for the program to end and for a message box to show. Every wait is for
# something to happen, within kWait seconds; none is for a fixed time.
# 77 means skipped because no X server could be started here (with HALVIC_REQUIRE_X=1, as in CI,
# that is a failure too).

readonly kSkip=77
readonly kWait=${kWait:-20}  # seconds for any one thing to happen
readonly outputs="qxase.qxd qxm.qxd qxa.qxd qxn.qxd qxi.qxd qxc.qxd qxs.qxd"
readonly kQuote=${kQuote:-\'}  # quotes a name with a space in messages (" on Windows)
xvfb_pid=
app_pid=
failures=0

# Stops what the test started; the caller's cleanup runs it last.
stop_x_session() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
}

log() { echo "$kName: $*"; }
fail() {
    echo "$kName: FAIL: $*" >&2
    exit 1
}
check() {  # check DESCRIPTION COMMAND...: a failed check is counted and the test goes on
    local what=$1
    shift
    if "$@"; then
        log "ok: $what"
    else
        echo "$kName: FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}
no_x_server() {
    if [ "${HALVIC_REQUIRE_X:-0}" = 1 ]; then
        fail "$* (HALVIC_REQUIRE_X=1: this GUI test must run here)"
    fi
    echo "$kName: SKIP: no X server can be started: $*" >&2
    exit $kSkip
}

# Starts Xvfb and exports its DISPLAY.
start_x_server() {
    command -v Xvfb >/dev/null || no_x_server "Xvfb is not installed (apt-get install xvfb)"
    # Xvfb picks a free display itself and writes its number to fd 9 once it accepts clients.
    # -noreset: the server does not reset when its last client goes, which would refuse the next
    # program that connects meanwhile ("Unable to initialize GTK+").
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    local deadline=$((SECONDS + kWait))
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
}

# wait_for COMMAND...: runs COMMAND again and again until it succeeds, for at most kWait seconds.
wait_for() {
    local deadline=$((SECONDS + kWait))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.05
    done
}

# drawn WINDOW: whether WINDOW (an id, or root) shows more than one colour, for wait_for: Wine
# draws a window's controls after it is mapped, and a screenshot wants them drawn.
drawn() {
    local colours
    colours=$(import -window "$1" miff:- 2>/dev/null | identify -format '%k' - 2>/dev/null)
    [[ "$colours" =~ ^[0-9]+$ ]] && [ "$colours" -gt 1 ]
}
wait_drawn() { wait_for drawn "$1" || fail "window $1 was not drawn within ${kWait}s"; }

# has_message: whether the dialog has shown a message (see message below).
has_message() { [ -n "$(message)" ]; }

# wait_app: waits for the program ($app_pid) to end; sets status.
wait_app() {
    local deadline=$((SECONDS + kWait))
    while kill -0 "$app_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the dialog's program did not end within ${kWait}s"
        sleep 0.05
    done
    wait "$app_pid"
    status=$?
    app_pid=
}

# find_window TITLE: the visible window with this exact caption, waited for. Searched again and
# again: a search fails with BadWindow when a window it looks at goes meanwhile.
find_window() {
    local deadline=$((SECONDS + kWait)) found=
    until [ -n "$found" ] || [ $SECONDS -ge $deadline ]; do
        found=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$found" ] || sleep 0.1
    done
    echo "$found"
}

# find_box TITLE: the visible window with this exact caption; focuses it.
find_box() {
    box=$(find_window "$1")
    [ -n "$box" ] || fail "no window '$1' within ${kWait}s"
    timeout $kWait xdotool windowfocus --sync "$box" || fail "cannot focus '$1'"
    wait_drawn "$box"
}

# dialog_again: the dialog, open again after a message box; focuses it (sets win).
dialog_again() {
    win=$(find_window Halvic)
    [ -n "$win" ] || fail "the dialog did not open again within ${kWait}s"
    timeout $kWait xdotool windowfocus --sync "$win" || fail "cannot focus the dialog again"
    wait_drawn "$win"
}

# What the dialog wrote to $report (HALVIC_GUI_REPORT): its layout in pixels and the messages it
# showed, each line of a message after its key.
# field KEY [N]: the Nth value (default 1) of the report line "KEY ...".
field() { awk -v k="$1" -v n="${2:-1}" '$1 == k { print $(n + 1); exit }' "$report"; }
# message: the messages the dialog showed, if any, one a line.
message() { sed -n 's/^message //p' "$report"; }
# warnings: the lines of the box shown after a conversion with warnings, if any.
warnings() { sed -n 's/^warnings //p' "$report"; }

# write_warned_input FILE: an input whose conversion gives seven warnings, at lines 2 to 8: tags
# <x1> to <x7>, which select no field.
write_warned_input() {
    { printf '<@>1\n'; for i in 1 2 3 4 5 6 7; do printf '<x%d>a\n' "$i"; done; } >"$1"
}
# check_warnings INPUT FOLDER_PATTERN: the box after converting INPUT (write_warned_input) into a
# folder that matches FOLDER_PATTERN: how many, the first five as the command line prints them,
# how many more, and the folder.
check_warnings() {
    local input=$1 folder=$2 lines i
    mapfile -t lines < <(warnings)
    check "warnings: the count (got '${lines[0]-}')" [ "${lines[0]-}" = "7 warnings:" ]
    for i in 1 2 3 4 5; do
        check "warnings: line $i names the input, its line and tag <x$i> (got '${lines[i]-}')" \
            eval '[[ "${lines[i]-}" == "$input:$((i + 1)): tag <x$i> "?* ]]'
    done
    check "warnings: and 2 more (got '${lines[6]-}')" [ "${lines[6]-}" = "and 2 more." ]
    check "warnings: the folder (got '${lines[*]:7}')" \
        eval '[ ${#lines[@]} = 10 ] && [ -z "${lines[7]}" ] &&
              [ "${lines[8]}" = "The files were written to:" ] && [[ "${lines[9]}" == $folder ]]'
}
# typed_path PATH: PATH as a person types it into the dialog's program (the Windows test's own
# gives the Windows form).
typed_path() { echo "$1"; }
# check_details INPUT: the warnings box's details (write_warned_input gives seven warnings): every
# warning listed, "Copy" puts the list on the clipboard, "Save..." writes it to a file; then
# Escape closes the box. Screenshot details.png.
check_details() {
    local input=$1 saved="$work/saved warnings.txt" i
    local want=()
    for i in 1 2 3 4 5 6 7; do want+=("$input:$((i + 1)): tag <x$i> "); done
    details_listed() { [ "$(grep -c '^details ' "$report")" -ge 7 ]; }
    xdotool key alt+d
    check "details: the list is shown" wait_for details_listed
    local lines
    mapfile -t lines < <(sed -n 's/^details //p' "$report")
    check "details: every warning, none else (got ${#lines[@]} lines)" [ ${#lines[@]} = 7 ]
    for i in 0 1 2 3 4 5 6; do
        check "details: line $((i + 1)) (got '${lines[i]-}')" eval '[[ "${lines[i]-}" == "${want[i]}"?* ]]'
    done
    clipboard() { xclip -o -selection clipboard 2>/dev/null | tr -d '\r'; }
    copied() { [ "$(clipboard)" = "$(printf '%s\n' "${lines[@]}")" ]; }
    xdotool key alt+c
    check "copy: the clipboard holds the list (got '$(clipboard | head -n 2)')" wait_for copied
    import -window "$box" "$artefacts/details.png"
    local box_before=$box
    xdotool key alt+s
    find_box 'Save the warnings'
    xdotool key ctrl+a
    xdotool type --delay 20 "$(typed_path "$saved")"
    xdotool key Return
    saved_list() { [ "$( { tr -d '\r' <"$saved"; } 2>/dev/null)" = "$(printf '%s\n' "${lines[@]}")" ]; }
    check "save: the file holds the list" wait_for saved_list
    box=$box_before
    timeout $kWait xdotool windowfocus --sync "$box" || fail "save: cannot focus the box again"
    xdotool key Escape
}
# cancel_case: a long conversion (input from a named pipe, six seconds) shows its progress after a
# second; Cancel (Escape) stops it, says "Conversion cancelled.", replaces nothing and leaves no
# temporary file; the dialog opens again. Screenshot progress.png.
cancel_case() {
    local feeder name
    start_app cancel
    for name in $outputs; do echo "old $name" >"$case_dir/$name"; done
    mkfifo "$work/slow.txt"
    # About six seconds of input, a record at a time.
    (for i in $(seq 60); do printf '<@>%d\r\n<l>record %d\r\n' "$i" "$i"; sleep 0.1; done) \
        >"$work/slow.txt" 2>/dev/null &
    feeder=$!
    xdotool key Tab Tab
    xdotool type --delay 20 "$(typed_path "$work/slow.txt")"
    xdotool key Return
    check "cancel: a progress window after a second" wait_for grep -q '^progress shown' "$report"
    find_box Halvic
    import -window "$box" "$artefacts/progress.png"
    xdotool key Escape  # Cancel
    find_box 'Halvic: nothing converted'
    check "cancel: message 'Conversion cancelled.' (got '$(message)')" \
        [ "$(message)" = "Conversion cancelled." ]
    xdotool key Return
    dialog_again
    xdotool key Escape
    wait_app
    kill "$feeder" 2>/dev/null
    wait "$feeder" 2>/dev/null
    check "cancel: exit status 1 (got $status)" [ "$status" = 1 ]
    for name in $outputs; do
        check "cancel: $name is as it was" [ "$(cat "$case_dir/$name")" = "old $name" ]
    done
    check "cancel: no temporary file left" [ "$(ls -A "$case_dir" | grep -vc '^\.halvic\.lock$')" = 7 ]
}
# du X|Y N: N dialog units in pixels, as wxDLG_UNIT and Windows compute them (round(N * base / 4
# or 8)).
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

dir_is_empty() { [ -z "$(ls -A "$case_dir")" ]; }
window_gone() { ! xdotool search --onlyvisible --name '^Halvic$' >/dev/null; }

# dialog_cases REASON: what both dialogs do alike once open (start_app CASE opens one in a fresh
# folder): Escape converts nothing; Enter at once, with an empty name, shows the error box and
# writes nothing, the dialog opens again, and Cancel then ends with the failure's status; a
# missing file's box names it as typed and REASON (any words when empty), the dialog opens again
# with the name, which Enter tries again, and a name typed over it converts, with a box for its
# warnings; F1 shows the help and leaves the dialog open. Screenshots error.png, warnings.png and
# help.png.
dialog_cases() {
    local reason=$1
    # Escape converts nothing
    start_app escape
    xdotool key Escape
    wait_app
    check "Escape: exit status 0 (got $status)" [ "$status" = 0 ]
    check "Escape: nothing written" dir_is_empty

    # Enter at once is OK with an empty name: the error box, nothing written; then the dialog
    # again, and Cancel (from the edit box, which holds the focus: OK, Cancel) ends with status 1
    start_app empty
    xdotool key Return
    find_box 'Halvic: nothing converted'
    check "the dialog closed before the message" window_gone
    import -window "$box" "$artefacts/error.png"
    check "message 'No file name was given.' (got '$(message)')" [ "$(message)" = "No file name was given." ]
    xdotool key Return
    dialog_again
    xdotool key Tab Tab space
    wait_app
    check "empty name, then Cancel: exit status 1 (got $status)" [ "$status" = 1 ]
    check "empty name: nothing written" dir_is_empty

    # a file that cannot be opened, its name pasted in quotes with a space after them: the box
    # names it, quoted for its spaces, and the reason; the dialog opens again with the name,
    # selected: Enter tries it again, a name typed replaces it
    start_app missing
    write_warned_input "$work/warned.txt"
    xdotool key Tab Tab
    xdotool type --delay 20 '"no such file.txt" '
    xdotool key Return
    find_box 'Halvic: nothing converted'
    local first want="${kQuote}no such file.txt$kQuote: "
    first=$(message)
    check "message names the file as typed and the reason (got '$first')" \
        eval '[[ "$first" == "$want"${reason:-?*} ]]'
    xdotool key Escape
    dialog_again
    check "missing: nothing written" dir_is_empty
    xdotool key Return
    find_box 'Halvic: nothing converted'
    check "missing: Enter in the dialog opened again tries the same name (got '$(message)')" \
        [ "$(message)" = "$first"$'\n'"$first" ]
    xdotool key Return
    dialog_again
    xdotool type --delay 20 " $work/warned.txt "
    xdotool key Return
    find_box 'Halvic: converted with warnings'
    import -window "$box" "$artefacts/warnings.png"
    check_warnings "$work/warned.txt" "?*missing"
    check_details "$work/warned.txt"
    wait_app
    check "missing, then a name typed over it: exit status 0 (got $status)" [ "$status" = 0 ]
    check "missing, then a name typed over it: the seven files written" \
        [ "$(ls "$case_dir" | wc -l)" = 7 ]

    # F1 shows the help; back in the dialog, Escape ends it
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
}
