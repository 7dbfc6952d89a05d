#!/usr/bin/env bash
# The Debian packages as a user gets them: built with cpack, unpacked with dpkg-deb, the unpacked
# halvic runs and converts the example, the manual pages render, the completion offers the
# commands, lintian finds nothing, and `cmake --install` installs exactly what the packages hold.
#
# usage: deb_test.sh BUILD_DIR SOURCE_DIR
set -u
build=${1:?usage: deb_test.sh BUILD_DIR SOURCE_DIR}
source_dir=${2:?}
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/debs" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; echo "deb_test: cpack failed" >&2; exit 1; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
debs=("$work/debs/halvic_${version}_amd64.deb")
[ -f "$build/app/halvic-gui" ] && debs+=("$work/debs/halvic-gui_${version}_amd64.deb")
for deb in "${debs[@]}"; do
    check "$(basename "$deb") was made" [ -f "$deb" ]
    dpkg-deb -x "$deb" "$work/root"
done
check "the command line's package does not need the dialog's libraries" \
    eval '! dpkg-deb -f "${debs[0]}" Depends | grep -q wx'

root=$work/root
check "the unpacked halvic --version runs" \
    [ "$("$root/usr/bin/halvic" --version)" = "halvic $version" ]
mkdir "$work/out"
"$root/usr/bin/halvic" convert "$source_dir/examples/sample.txt" -o "$work/out"
for name in qxase.qxd qxm.qxd qxa.qxd qxn.qxd qxi.qxd qxc.qxd qxs.qxd; do
    check "the unpacked halvic writes $name as expected" \
        cmp -s "$work/out/$name" "$source_dir/examples/expected/$name"
done
for page in "$root"/usr/share/man/man1/*.1.gz "$root"/usr/share/man/man5/*.5.gz; do
    check "$(basename "$page") renders" eval '[ -n "$(MANWIDTH=80 man -l "$page" 2>/dev/null)" ]'
done
offered=$(bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE="halvic "; COMP_POINT=7; COMP_WORDS=(halvic ""); COMP_CWORD=1
    _halvic halvic "" halvic
    echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/halvic")
check "the installed completion offers the commands (got '$offered')" \
    [ "$offered" = "convert diff dump help" ]

for file in share/doc/halvic/README.md share/zsh/vendor-completions/_halvic \
    share/fish/vendor_completions.d/halvic.fish; do
    check "the command line's package holds $file" [ -s "$root/usr/$file" ]
done

lintian --fail-on error,warning "${debs[@]}" >"$work/lintian.log" 2>&1
check "lintian finds no error or warning: $(grep -E '^[EW]:' "$work/lintian.log" | head -5)" \
    eval '! grep -qE "^[EW]:" "$work/lintian.log"'

# cmake --install puts exactly the packages' files under any prefix.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
installed=$(cd "$work/prefix" && find . -type f | sort)
packaged=$(cd "$root/usr" && find . -type f | sort)
check "cmake --install installs what the packages hold" [ "$installed" = "$packaged" ]

if [ $failures -ne 0 ]; then
    echo "deb_test: $failures check(s) failed" >&2
    exit 1
fi
