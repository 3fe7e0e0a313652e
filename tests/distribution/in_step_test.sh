#!/bin/bash
# The manual page and the bash completion say what glimmer-pack's --help
# says: the same commands, and for each command the same long options (in
# both directions). The options every command takes (--help, --quiet,
# --verbose) are left out of the comparison per command: the page describes
# them once, under OPTIONS. Compared as sets of names, so that rewording a
# help text does not matter.
#   in_step_test.sh GLIMMER_PACK MANUAL_PAGE COMPLETION
set -u
pack=$1 page=$2 completion=$3
faults=0

fault() { echo "FAULT: $*"; faults=$((faults + 1)); }

# Long options named in a text, one per line, sorted, those of every
# command left out.
long_options() { grep -oE -- '--[a-z][a-z0-9-]+' | grep -vxE -- '--(help|quiet|verbose)' | sort -u; }

# Compares two sorted lists; $1 names what is compared.
same() {
    local what=$1 left=$2 right=$3 missing extra
    missing=$(comm -23 <(echo "$left") <(echo "$right") | tr '\n' ' ')
    extra=$(comm -13 <(echo "$left") <(echo "$right") | tr '\n' ' ')
    [ -z "${missing// }" ] || fault "$what lacks: $missing"
    [ -z "${extra// }" ] || fault "$what has, but --help does not: $extra"
}

# The manual page as plain text: font changes and escaped hyphens undone.
roff=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\e/\\/g' "$page")

# Commands: the first word of each line of the "Commands:" (or
# "Subcommands:") list of the tool's help.
commands=$("$pack" --help | awk 'tolower($0) ~ /commands:$/ {list = 1; next}
                                 list && NF == 0 {list = 0}
                                 list {print $1}' | sort -u)
[ -n "$commands" ] || fault "no commands found in 'glimmer-pack --help'"

page_commands=$(echo "$roff" | awk '/^\.SH/ {inside = ($2 == "COMMANDS")} inside && /^\.SS/ {print $2}' | sort -u)
same "the manual page's COMMANDS" "$commands" "$page_commands"

source "$completion"
complete_words() {
    COMP_WORDS=(glimmer-pack "$@")
    COMP_CWORD=$#
    COMPREPLY=()
    _glimmer_pack
    printf '%s\n' "${COMPREPLY[@]}"
}
# "help COMMAND" is offered too, but is no command of its own.
same "the completion of the first word" "$commands" "$(complete_words '' | grep -v '^-' | grep -vx help | sort -u)"

# Options of the tool itself, before any command.
tool_options=$("$pack" --help | long_options)
page_tool_options=$(echo "$roff" | awk '/^\.SH/ {inside = ($2 == "OPTIONS")} inside' | long_options)
same "the manual page's OPTIONS" "$tool_options" "$page_tool_options"
same "the completion of the first word's options" "$tool_options" "$(complete_words -- | long_options)"

for command in $commands; do
    help=$("$pack" "$command" --help) || fault "'glimmer-pack $command --help' failed"
    options=$(echo "$help" | long_options)
    section=$(echo "$roff" | awk -v c="$command" '/^\.S[HS]/ {inside = ($1 == ".SS" && $2 == c)} inside' |
              long_options)
    same "the manual page's $command section" "$options" "$section"
    offered=$(complete_words "$command" -- | long_options)
    same "the completion of '$command --'" "$options" "$offered"
done

if [ "$faults" -ne 0 ]; then
    echo "$faults faults"
    exit 1
fi
echo "manual page and completion in step with --help: $(echo $commands)"
