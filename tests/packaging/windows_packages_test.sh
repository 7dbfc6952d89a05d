#!/usr/bin/env bash
# The Windows packages: cpack makes the ZIP and the NSIS installer; the installer installs
# silently under Wine, the installed halvic.exe runs from the PATH, the Start-menu shortcut starts
# in the user's Documents, Explorer offers Halvic for .txt files, and the uninstaller takes it all
# away again, leaving a program in use for the next restart.
#
# usage: windows_packages_test.sh BUILD_DIR WINEPREFIX
set -u -o pipefail

usage="usage: windows_packages_test.sh BUILD_DIR WINEPREFIX"
build=${1:?$usage}
export WINEPREFIX=${2:?$usage}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY  # the silent installer shows no window

work=$(mktemp -d "${TMPDIR:-/tmp}/halvic-packages-test.XXXXXX") || exit 1
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
failures=0
log() { echo "windows_packages_test: $*"; }
fail() {
    echo "windows_packages_test: FAIL: $*" >&2
    exit 1
}
check() {
    local what=$1
    shift
    if "$@"; then log "ok: $what"; else
        echo "windows_packages_test: FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}

(cd "$build" && cpack -G "ZIP;NSIS" -B "$work/packages" >"$work/cpack.log" 2>&1) ||
    fail "cpack failed: $(cat "$work/cpack.log")"
zip=$(ls "$work"/packages/*.zip) || fail "no ZIP package"
installer=$(ls "$work"/packages/*.exe) || fail "no NSIS installer"
listing=$(unzip -Z1 "$zip")
for file in bin/halvic.exe bin/halvic-gui.exe README.md COPYRIGHT.txt; do
    check "the ZIP holds $file" eval 'echo "$listing" | grep -q "^[^/]*/$file\$"'
done

mkdir -p "$WINEPREFIX"
# A prefix made beforehand (ctest copies one for each test) is used as it is.
[ -f "$WINEPREFIX/system.reg" ] || wine wineboot --init >"$work/wine.log" 2>&1
wine "$installer" /S >>"$work/wine.log" 2>&1
check "the installer ends with status 0" [ $? = 0 ]
drive_c=$WINEPREFIX/drive_c
installed="$drive_c/Program Files/Halvic"
check "installed under Program Files" [ -f "$installed/bin/halvic.exe" -a -f "$installed/bin/halvic-gui.exe" ]
gui="$installed/bin/halvic-gui.exe"
file_version=$(strings -a -el "$gui" | grep -A1 -x FileVersion | tail -n 1)
check "halvic-gui.exe's version resource says 1.0.0.1 (got '$file_version')" [ "$file_version" = 1.0.0.1 ]
texts=$(strings -a "$gui")
check "halvic-gui.exe's manifest asks for common controls 6 and per-monitor DPI awareness" \
    eval 'grep -q Microsoft.Windows.Common-Controls <<<"$texts" && grep -q PerMonitorV2 <<<"$texts"'
# A new Command Prompt finds halvic on the PATH, and Explorer has the verb on .txt files and
# Halvic under "Open with" (one Wine start for all of it).
gui_command='"C:\Program Files\Halvic\bin\halvic-gui.exe" "%1"'
classes='HKLM\Software\Classes'
sed 's/$/\r/' >"$drive_c/halvic-checks.bat" <<EOF
@echo off
halvic --version
reg query "HKLM\System\CurrentControlSet\Control\Session Manager\Environment" /v PATH
reg query $classes\SystemFileAssociations\.txt\shell\Halvic.Convert /ve
reg query $classes\SystemFileAssociations\.txt\shell\Halvic.Convert\command /ve
reg query $classes\.txt\OpenWithProgids /v Halvic.TextFile
reg query $classes\Halvic.TextFile\shell\open\command /ve
reg query $classes\Applications\halvic-gui.exe\shell\open\command /ve
EOF
wine cmd /c 'C:\halvic-checks.bat' >"$work/installed.txt" 2>&1
installed_text=$(tr -d '\r' <"$work/installed.txt")
value() { grep -F -A2 "$1" <<<"$installed_text" | grep -o 'REG_[A-Z_]*  *.*' | sed 's/^REG_[A-Z_]*  *//' | head -n 1; }
check "halvic --version in a new Command Prompt says 'halvic 1.0.0.1' (got '$(head -n 1 <<<"$installed_text")')" \
    [ "$(head -n 1 <<<"$installed_text")" = "halvic 1.0.0.1" ]
check "the machine's PATH holds C:\\Program Files\\Halvic\\bin ($(value 'Session Manager\Environment'))" \
    eval 'value "Session Manager\\Environment" | tr ";" "\n" | grep -qxF "C:\\Program Files\\Halvic\\bin"'
check "the context-menu verb on .txt files is 'Convert with Halvic'" \
    [ "$(value 'Halvic.Convert' | head -n 1)" = "Convert with Halvic" ]
check "the verb starts the dialog with the file ($(value 'Halvic.Convert\command'))" \
    [ "$(value 'Halvic.Convert\command')" = "$gui_command" ]
check "Halvic is offered under \"Open with\" for .txt files" \
    eval 'value "OpenWithProgids" >/dev/null && grep -q "Halvic.TextFile  *REG_SZ" <<<"$installed_text"'
check "\"Open with\" starts the dialog with the file" \
    eval '[ "$(value "Halvic.TextFile\\shell\\open\\command")" = "$gui_command" ] &&
          [ "$(value "halvic-gui.exe\\shell\\open\\command")" = "$gui_command" ]'
shortcut=$(find "$drive_c" -path '*Start Menu/Programs/Halvic/Halvic.lnk' | head -n 1)
check "a Start-menu shortcut to the dialog" [ -n "$shortcut" ]
check "the shortcut starts halvic-gui.exe" grep -qa 'halvic-gui.exe' "$shortcut"
# Its working folder, where the dialog writes: the Documents of the user who starts it.
link_texts=$(strings -a "$shortcut"; strings -a -el "$shortcut")
check "the shortcut starts in %USERPROFILE%\\Documents" \
    eval 'grep -qxF "%USERPROFILE%\\Documents" <<<"$link_texts"'

# Uninstalled silently while halvic.exe runs (waiting at its prompt): the rest goes, the program
# goes at the next restart and the log says so. Run in place (_?=): the uninstaller waits for
# itself.
mkfifo "$work/stdin"
wine "$installed/bin/halvic.exe" <"$work/stdin" >/dev/null 2>"$work/prompt.txt" &
exec 3>"$work/stdin"
for _ in $(seq 100); do [ -s "$work/prompt.txt" ] && break; sleep 0.1; done
wine "$installed/Uninstall.exe" /S '_?=C:\Program Files\Halvic' >>"$work/wine.log" 2>&1
exec 3>&-
wait
wineserver -w
uninstall_log=$(find "$drive_c/users" -name Halvic-uninstall.log | head -n 1)
check "its log says that halvic.exe goes at the restart" \
    grep -qF 'C:\Program Files\Halvic\bin\halvic.exe was running: it will be removed when Windows restarts.' "$uninstall_log"
check "the uninstaller removes the dialog" [ ! -e "$installed/bin/halvic-gui.exe" ]
check "the running halvic.exe stays until the restart" [ -e "$installed/bin/halvic.exe" ]
check "the shortcut is removed" [ ! -e "$shortcut" ]
# Nothing of Halvic's is left in the registry (the PATH entry, the verb, "Open with", the
# uninstaller's entry) but the files to be removed at the restart, and the desktop menu entries
# that Wine made for the shortcuts and keeps.
left=$(grep -i halvic "$WINEPREFIX"/system.reg "$WINEPREFIX"/user.reg |
       grep -v -E -e '"PendingFileRenameOperations"=' -e '\.(desktop|menu)"=')
check "nothing in the registry names Halvic: $left" [ -z "$left" ]

if [ $failures -ne 0 ]; then
    echo "windows_packages_test: $failures check(s) failed; Wine said: $(tail -20 "$work/wine.log")" >&2
    exit 1
fi
log "passed"
