#!/usr/bin/env bash
# The Wine prefix of the Windows build's tests: made once per ctest run (wineboot takes a while),
# then copied for each test, which may change it as it likes.
#
# usage: wine_prefix.sh make BASE                   makes the Wine prefix BASE afresh
#        wine_prefix.sh copy BASE PREFIX COMMAND...  runs COMMAND with WINEPREFIX=PREFIX, a fresh
#                                                    copy of BASE; the copy goes when COMMAND
#                                                    passes and stays, for a look, when it fails
#        wine_prefix.sh remove BASE                 removes BASE
# The exit status is COMMAND's with copy.
set -u -o pipefail
# Wine turns Windows names into the host's by the host's locale: in a C or POSIX locale a name
# such as "Ausgabe ß Ω" has no host name at all, and the tests use such names.
export LC_ALL=C.UTF-8

usage="usage: wine_prefix.sh make|remove BASE, or wine_prefix.sh copy BASE PREFIX COMMAND..."
action=${1:?$usage}
base=${2:?$usage}
case $action in
make)
    rm -rf "$base" && mkdir -p "$(dirname "$base")" || exit 1
    # Without a display, so that Wine shows no window while it makes the prefix.
    (unset DISPLAY; WINEPREFIX=$base wine wineboot --init) >"$base.log" 2>&1
    # Names that begin with a dot are shown as any other, as on Windows (Wine hides them): a
    # file is then hidden only when it was made so.
    WINEPREFIX=$base wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >>"$base.log" 2>&1
    # The registry is written out when the server ends.
    WINEPREFIX=$base wineserver -w
    if [ ! -f "$base/system.reg" ]; then
        echo "wine_prefix: wineboot made no Wine prefix in $base: $(cat "$base.log")" >&2
        exit 1
    fi
    rm -f "$base.log"
    ;;
copy)
    prefix=${3:?$usage}
    shift 3
    [ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
    [ -f "$base/system.reg" ] || { echo "wine_prefix: no Wine prefix in $base" >&2; exit 1; }
    rm -rf "$prefix" && cp -a --reflink=auto "$base" "$prefix" || exit 1
    WINEPREFIX=$prefix "$@"
    status=$?
    WINEPREFIX=$prefix wineserver -k 2>/dev/null
    # 77: a test that skipped itself (the dialog's, without an X server) passed too.
    [ $status = 0 ] || [ $status = 77 ] && rm -rf "$prefix"
    exit $status
    ;;
remove)
    rm -rf "$base"
    ;;
*)
    echo "$usage" >&2
    exit 2
    ;;
esac
