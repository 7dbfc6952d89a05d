# bash completion for halvic: its commands, their options, --format values, files for INPUT and
# directories for --output-dir and dump's DIR, sets and files for diff.

_halvic() {
    local cur prev words cword
    _init_completion || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            convert | diff | dump | help) command=${words[i]}; break ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
        else
            COMPREPLY=($(compgen -W 'convert diff dump help' -- "$cur"))
        fi
        return
    fi

    case $command in
        help)
            [[ $prev == help ]] && COMPREPLY=($(compgen -W 'convert diff dump' -- "$cur"))
            ;;
        convert)
            case $prev in
                -o | --output-dir | --output) _filedir -d; return ;;
                --from) COMPREPLY=($(compgen -W 'bytes utf-8 utf-16 cp1252 latin1' -- "$cur")); return ;;
                --wait) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--help --output-dir --output --quiet --verbose --check --diff --strict --sync --wait --from' -- "$cur"))
            else
                _filedir
            fi
            ;;
        diff)
            case $prev in
                -f | --format) COMPREPLY=($(compgen -W 'text jsonl' -- "$cur")); return ;;
                -e | --encoding) COMPREPLY=($(compgen -W 'latin1 cp1252 utf-8' -- "$cur")); return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--help --format --encoding --quiet' -- "$cur"))
            else
                _filedir
            fi
            ;;
        dump)
            case $prev in
                -f | --format) COMPREPLY=($(compgen -W 'text jsonl csv tagged' -- "$cur")); return ;;
                -e | --encoding) COMPREPLY=($(compgen -W 'latin1 cp1252 utf-8 utf-16' -- "$cur")); return ;;
                -r | --record | -n | --number | --wait) return ;;
            esac
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--help --format --encoding --bom --record --number --wait' -- "$cur"))
            else
                _filedir -d
            fi
            ;;
    esac
} && complete -F _halvic halvic
