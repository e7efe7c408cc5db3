# SPDX-License-Identifier: MIT
# bash completion for xmlutil: subcommands, their options, and files.
_xmlutil() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local subcommands="get values count xml children attr attrs check set set-attr
        append remove clear merge-menu format fmt stamp new id help"
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$subcommands --help --version" -- "$cur"))
        return
    fi
    local subcommand=${COMP_WORDS[1]} options="-q --help"
    case $subcommand in
        help) COMPREPLY=($(compgen -W "$subcommands" -- "$cur")); return ;;
        get|count|attr) options+=" -N" ;;
        values|children|attrs) options+=" -N -0 --null" ;;
        xml) options+=" -N --all" ;;
        set|set-attr|append|remove|clear) options+=" -N --all -o --output" ;;
        merge-menu|stamp) options+=" -N -o --output" ;;
        format|fmt) options+=" --indent --compact -o --output" ;;
    esac
    case $prev in
        -o|--output) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        -N|--indent) COMPREPLY=(); return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -o filenames -F _xmlutil xmlutil
