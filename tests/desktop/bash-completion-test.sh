#!/bin/bash
# bash-completion-test.sh COMPLETION_FILE
#
# Loads the completion of tarvelo the way an interactive shell does (bash-completion's helpers
# first) and completes a few command lines, checking what is offered. Exits with 77 (skipped)
# when bash-completion is not installed.
set -u
helpers=/usr/share/bash-completion/bash_completion
if [[ ! -r $helpers ]]; then
  echo "bash-completion is not installed; skipped" >&2
  exit 77
fi
# shellcheck source=/dev/null
source "$helpers"
# shellcheck source=/dev/null
source "$1"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
mkdir "$folder/skins"
touch "$folder/skin.xml" "$folder/shot.png"
cd "$folder" || exit 1

failures=0

# Completes the words given (the last one is the word being completed) and leaves the offers in
# COMPREPLY.
complete_line() {
  COMP_WORDS=("$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tarvelo tarvelo "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
}

# expect "OFFERS" WORD...: the offers, sorted and joined by spaces, must be exactly OFFERS.
expect() {
  local wanted=$1
  shift
  complete_line "$@"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//')
  if [[ $got != "$wanted" ]]; then
    echo "FAILED: [$*] offers [$got], expected [$wanted]" >&2
    failures=$((failures + 1))
  fi
}

expect "--search" tarvelo --se
expect "--check-layout --help --log --render-layout --search --version" tarvelo -
expect "--events --help --json --log --parsable --passes --seconds" tarvelo --search --
expect "--events --help --log --passes --seconds" tarvelo --search --json --
expect "--events --help --json --log --parsable --passes" tarvelo --search --seconds 5 --
expect "" tarvelo --search --seconds ""
expect "" tarvelo --search --passes=""
expect "--dialog --help --skin-dir --variant" tarvelo --check-layout skin.xml --
expect "--dialog --help --out --skin-dir --variant" tarvelo --render-layout skin.xml --
expect "shot.png skins" tarvelo --render-layout skin.xml --out ""
expect "skins" tarvelo --check-layout skin.xml --skin-dir ""
expect "skins" tarvelo --check-layout skin.xml --skin-dir=""
expect "shot.png skin.xml skins" tarvelo --check-layout ""
expect "shot.png skin.xml skins" tarvelo --search --log ""
expect "" tarvelo --log file ""

exit $((failures > 0))
