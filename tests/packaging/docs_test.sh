#!/usr/bin/env bash
# The manual pages and the bash completion stay honest: every option that `--help` lists for a
# command is in the manual page and offered by the completion; the pages render; the completion
# offers the commands, the formats and file names.
#
# usage: docs_test.sh HALVIC MAN_DIR SOURCE_DIR
#   MAN_DIR holds the built halvic.1.gz and halvic-gui.1.gz.
set -u
halvic=${1:?usage: docs_test.sh HALVIC MAN_DIR SOURCE_DIR}
man_dir=${2:?}
source_dir=${3:?}
failures=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

page=$(MANWIDTH=200 man -l "$man_dir/halvic.1.gz" 2>/dev/null)
check "halvic(1) renders" [ -n "$page" ]
check "halvic(1) shows no markup of its own (_HH_)" eval '! grep -qF "_HH_" <<<"$page"'
input_page=$(MANWIDTH=200 man -l "$man_dir/halvic-input.5.gz" 2>/dev/null)
check "halvic-input(5) lists what is stored for what is written and the warnings" \
    eval 'grep -q "WHAT IS STORED FOR WHAT IS WRITTEN" <<<"$input_page" && grep -q "^WARNINGS" <<<"$input_page"'
gui_page=$(MANWIDTH=200 man -l "$man_dir/halvic-gui.1.gz" 2>/dev/null)
check "halvic-gui(1) renders" [ -n "$gui_page" ]

completion=$source_dir/completion/halvic.bash
for command in "" convert diff dump; do
    # The option names at the start of --help's lines: "-o,--output-dir TEXT", "--sync".
    options=$("$halvic" $command --help | grep -oE '^  (-[a-zA-Z],)?--[a-z-]+' | tr ',' ' ')
    for option in $options; do
        check "'halvic $command $option' is in the manual page" \
            grep -qE -- "(^|[ ,])$option([ ,]|$)" <<<"$page"
        if [ "${#option}" -gt 2 ]; then  # the completion offers long options
            check "'halvic $command $option' is offered by the completion" \
                grep -qF -- "$option" "$completion"
        fi
    done
done

# The completion as bash runs it, with bash-completion's helpers.
complete_line() {
    bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$1"
        COMP_LINE=$2
        COMP_POINT=${#COMP_LINE}
        read -ra COMP_WORDS <<<"$COMP_LINE"
        [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        _halvic halvic "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        echo "${COMPREPLY[*]}"' _ "$completion" "$1"
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/out" && touch "$work/catalogue.txt"
cd "$work" || exit 1
check "halvic <Tab> offers the commands" [ "$(complete_line 'halvic ')" = "convert diff dump help" ]
check "halvic help <Tab> offers the commands it explains" \
    [ "$(complete_line 'halvic help ')" = "convert diff dump" ]
check "halvic diff --format <Tab> offers the formats" \
    [ "$(complete_line 'halvic diff --format ')" = "text jsonl" ]
check "halvic dump --format <Tab> offers the formats" \
    [ "$(complete_line 'halvic dump --format ')" = "text jsonl csv tagged" ]
check "halvic convert c<Tab> offers the input file" \
    [ "$(complete_line 'halvic convert c')" = "catalogue.txt" ]
check "halvic convert x -o <Tab> offers directories only" \
    [ "$(complete_line 'halvic convert x -o ')" = "out" ]

if [ $failures -ne 0 ]; then
    echo "docs_test: $failures check(s) failed" >&2
    exit 1
fi
