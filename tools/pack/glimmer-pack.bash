# bash completion for glimmer-pack: its commands, each command's options,
# the values of --kind, and file names where a file is expected.
# Installed as share/bash-completion/completions/glimmer-pack; needs nothing
# from the bash-completion package.

_glimmer_pack()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="build list extract verify sign new"
    COMPREPLY=()

    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$commands help --help --version" -- "$cur"))
        return
    fi
    if [ "${COMP_WORDS[1]}" = help ]; then
        [ "$COMP_CWORD" -eq 2 ] && COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi

    case $prev in
        --kind)
            COMPREPLY=($(compgen -W "blank zero underscore" -- "$cur"))
            return ;;
        --title|--base|--timestamp)
            return ;;
    esac

    local options="-q --quiet -v --verbose --help"
    case ${COMP_WORDS[1]} in
        build)
            options+=" -o --stub --title --saver --data --uninstaller --media --license
                     --base --kind --store --pack --sign-cert --sign-key --timestamp" ;;
        list) options+=" --json" ;;
        extract) options+=" --overwrite" ;;
        verify) ;;
        sign) options+=" -o --cert --key --timestamp" ;;
        new) options+=" -o --overwrite" ;;
        *) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    else
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _glimmer_pack glimmer-pack
