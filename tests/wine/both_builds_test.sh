#!/usr/bin/env bash
# The Windows build under Wine and the Linux build converting into one folder: each sees the
# other's lock (the Windows build's byte range lock, which Wine takes on the host too), so that
# neither waits in vain nor removes the other's temporaries, and the folder ends with one whole
# set. Skipped (77) without a Linux build.
#
# usage: both_builds_test.sh HALVIC_EXE WINEPREFIX LINUX_HALVIC
set -u -o pipefail

usage="usage: both_builds_test.sh HALVIC_EXE WINEPREFIX LINUX_HALVIC"
windows=${1:?$usage}
export WINEPREFIX=${2:?$usage}
linux=${3:?$usage}
[ -x "$linux" ] || { echo "both_builds_test: no Linux build at $linux; skipped"; exit 77; }
name=both_builds_test
. "$(dirname "$0")/checks.sh"
# The folder's files, name and bytes, one a line (the empty lock file left out).
files_of() {
    (cd "$1" && for f in .[!.]* *; do
        [ "$f" = .halvic.lock ] || echo "$f $(sha1sum <"$f")"
    done)
}

# Inputs that take a while to convert, so that the two builds' conversions overlap.
seq 1 30000 | awk '{ print "<@>" $1 "<l>one<s>text " $1 }' >a.txt
seq 1 30000 | awk '{ print "<@>" $1 "<l>two<s>other " $1 % 500 }' >b.txt
mkdir set-a set-b out
"$linux" convert a.txt -o set-a && "$linux" convert b.txt -o set-b ||
    { echo "both_builds_test: FAIL: the reference sets" >&2; exit 1; }

# converts_while_held HOLDER OTHER: while the build HOLDER converts from a pipe that stalls
# (holding the lock), the build OTHER's conversion and dump give up after a second.
run() { if [ "$1" = Windows ]; then wine "$windows" "${@:2}"; else "$linux" "${@:2}"; fi; }
converts_while_held() {
    mkfifo stalled
    run "$1" convert - -o out <stalled >/dev/null 2>held.err &
    local holder=$!
    exec 7>stalled
    printf '<@>1<s>a first record\n' >&7
    # Its temporaries are made once it holds the lock.
    for _ in $(seq 100); do
        ls out/.qxase.qxd.tmp.* >/dev/null 2>&1 && break
        sleep 0.1
    done
    run "$2" convert --wait 1 a.txt -o out 2>other.err
    check "the $2 build waits for the $1 build's conversion" [ $? = 1 ]
    check "the $2 build says why it gave up" grep -q 'still holds it after 1 second' other.err
    run "$2" dump --wait 1 out >/dev/null 2>other.err
    check "the $2 build's dump waits for the $1 build's conversion" [ $? = 1 ]
    exec 7>&-
    wait $holder
    check "the $1 build's conversion ends well" [ $? = 0 ]
    rm stalled
}
converts_while_held Windows Linux
converts_while_held Linux Windows

# Both at once, round after round: every conversion succeeds, and one whole set is left.
rm -rf out && mkdir out
(for _ in $(seq 12); do "$linux" convert -q a.txt -o out || echo linux >>failed; done) &
linuxRounds=$!
for _ in $(seq 4); do wine "$windows" convert -q b.txt -o out 2>>wine.err || echo wine >>failed; done
wait $linuxRounds
check "every conversion of both builds succeeds" [ ! -e failed ]
check "one whole set is left, and nothing else" eval \
    '[ "$(files_of out)" = "$(files_of set-a)" ] || [ "$(files_of out)" = "$(files_of set-b)" ]'

[ $failures = 0 ]
