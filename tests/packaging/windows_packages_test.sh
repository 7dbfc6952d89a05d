#!/usr/bin/env bash
# The Windows packages: cpack makes the ZIP and the NSIS installer; the installer installs
# silently under Wine, the installed halvic.exe runs, the Start-menu shortcut is there, and the
# uninstaller takes it all away again.
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
version=$(wine 'C:\Program Files\Halvic\bin\halvic.exe' --version 2>&1)
check "the installed halvic.exe --version says 'halvic 1.0.0.1' (got '$version')" \
    [ "$version" = "halvic 1.0.0.1" ]
shortcut=$(find "$drive_c" -path '*Start Menu/Programs/Halvic/Halvic.lnk' | head -n 1)
check "a Start-menu shortcut to the dialog" [ -n "$shortcut" ]
check "the shortcut starts halvic-gui.exe" grep -qa 'halvic-gui.exe' "$shortcut"
# Its working folder, where the dialog writes: the user's Documents.
link_texts=$(strings -a "$shortcut"; strings -a -el "$shortcut")
check "the shortcut starts in Documents" eval 'grep -q "users.*Documents" <<<"$link_texts"'

wine "$installed/Uninstall.exe" /S >>"$work/wine.log" 2>&1
wineserver -w
check "the uninstaller removes the programs" [ ! -e "$installed/bin/halvic.exe" ]

if [ $failures -ne 0 ]; then
    echo "windows_packages_test: $failures check(s) failed; Wine said: $(tail -20 "$work/wine.log")" >&2
    exit 1
fi
log "passed"
