# Bash completion of tarvelo: the modes and their options, file names where a file is expected,
# folders for --skin-dir, and nothing where a number or a name is expected.

_tarvelo()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --log | --check-layout | --render-layout)
            _filedir
            return
            ;;
        --out)
            _filedir png
            return
            ;;
        --skin-dir)
            _filedir -d
            return
            ;;
        --seconds | --passes | --dialog | --variant)
            return
            ;;
    esac
    $split && return

    # The mode chosen so far decides which options follow; the options already given are not
    # offered again.
    local mode="" word
    local -a given=()
    for word in "${words[@]:1:cword-1}"; do
        word=${word%%=*}
        case $word in
            --search | --check-layout | --render-layout | --help | -h | --version)
                [[ -z $mode ]] && mode=$word
                ;;
        esac
        given+=("$word")
    done

    local -a options
    case $mode in
        --search)
            options=(--seconds --passes --json --parsable --events --log --help)
            ;;
        --check-layout)
            options=(--dialog --variant --skin-dir --help)
            ;;
        --render-layout)
            options=(--out --dialog --variant --skin-dir --help)
            ;;
        --version)
            return
            ;;
        *)
            if ((${#given[@]} > 0)); then
                # Only the window's log file came before: the window takes nothing more.
                return
            fi
            options=(--search --check-layout --render-layout --log --help --version)
            ;;
    esac
    if [[ $mode == --search ]]; then
        for word in "${given[@]}"; do
            case $word in
                --json) given+=(--parsable) ;;
                --parsable) given+=(--json) ;;
            esac
        done
    fi

    local -a offered=()
    local option
    for option in "${options[@]}"; do
        for word in "${given[@]}"; do
            [[ $word == "$option" ]] && continue 2
        done
        offered+=("$option")
    done
    [[ -z $cur || $cur == -* ]] || return
    COMPREPLY=($(compgen -W "${offered[*]}" -- "$cur"))
    [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
} &&
    complete -F _tarvelo tarvelo
