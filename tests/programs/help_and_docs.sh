#!/usr/bin/env bash
# Every help of each program, and of each qvr7130ctl command, fits 80 columns; every option it
# shows is in the program's manual page (the exporter's also in docs/exporter.md) and offered by
# its bash completion; every option a manual page documents is shown by one of the helps.
# Arguments: the source folder, the folder of the generated completions, then the programs.
set -euo pipefail

source_dir=$1
completions=$2
shift 2
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The options of a help's option column, or of a manual page's tagged paragraphs.
option_names() {
  grep -oE -- '(^|[^a-z0-9.-])--?[a-z][a-z0-9.-]*' | grep -oE -- '--?[a-z][a-z0-9.-]*' | sort -u
}

# Whether `text` names the option as a word of its own.
names() {
  grep -qE -- "(^|[^a-z0-9.-])$2([^a-z0-9.-]|$)" <<<"$1"
}

for program_path in "$@"; do
  program=$(basename "$program_path")
  # shellcheck source=/dev/null
  source "$completions/$program"
  mapfile -t commands < <("$program_path" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p')
  shown=()
  for command in "" "${commands[@]}"; do
    where="$program${command:+ $command} --help"
    help=$("$program_path" ${command:+"$command"} --help)
    while IFS= read -r line; do
      ((${#line} <= 80)) || fail "$where: ${#line} columns: $line"
    done <<<"$help"
    mapfile -t options < <(grep -E '^  -' <<<"$help" | sed -E 's/^  //; s/  .*//' | option_names)
    ((${#options[@]} > 0)) || fail "$where shows no option"
    shown+=("${options[@]}")
    COMP_WORDS=("$program" ${command:+"$command"} -)
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "_$program"
    for option in "${options[@]}"; do
      [[ " ${COMPREPLY[*]} " == *" $option "* ]] || fail "$where: completion lacks $option"
    done
  done
  if ((${#commands[@]} > 0)); then
    COMP_WORDS=("$program" "")
    COMP_CWORD=1
    "_$program"
    [[ ${COMPREPLY[*]} == "${commands[*]}" ]] || fail "$program: completion offers ${COMPREPLY[*]}"
  fi

  man=$source_dir/packaging/man/$program.1.in
  manual=$(sed 's/\\-/-/g' "$man")
  documents=("$man")
  [[ $program != qvr7130_exporter ]] || documents+=("$source_dir/docs/exporter.md")
  for option in $(printf '%s\n' "${shown[@]}" | sort -u); do
    for document in "${documents[@]}"; do
      names "$(sed 's/\\-/-/g' "$document")" "$option" || fail "$document lacks $option"
    done
  done
  for option in $(sed -n '/^\.TP/{n;p}' <<<"$manual" | option_names); do
    [[ " ${shown[*]} " == *" $option "* ]] || fail "$man documents $option, no help shows it"
  done
done
((failures == 0))
