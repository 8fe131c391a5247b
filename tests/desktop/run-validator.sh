#!/bin/sh
# run-validator.sh [--fail-on PATTERN] [--stderr-only] PROGRAM [ARGUMENT...]
#
# Runs a validator and fails when it exits with an error or when its output has a line that
# matches the extended regular expression PATTERN (by default any line at all, so that warnings
# and hints count as failures too). With --stderr-only, standard output is thrown away and only
# standard error is judged. Exits with 77, which CTest counts as skipped, when PROGRAM is not
# installed.
set -u
pattern='.'
streams=both
while [ $# -gt 0 ]; do
  case $1 in
    --fail-on) pattern=$2; shift 2 ;;
    --stderr-only) streams=stderr; shift ;;
    *) break ;;
  esac
done
if ! command -v "$1" >/dev/null 2>&1; then
  echo "$1 is not installed; skipped" >&2
  exit 77
fi
output=$(mktemp)
trap 'rm -f "$output"' EXIT
if [ "$streams" = stderr ]; then
  "$@" 2>"$output" >/dev/null
else
  "$@" >"$output" 2>&1
fi
status=$?
cat "$output"
if [ "$status" -ne 0 ]; then
  echo "FAILED: $1 exited with status $status" >&2
  exit 1
fi
if grep -Eq -- "$pattern" "$output"; then
  echo "FAILED: $1 reported the lines above" >&2
  exit 1
fi
exit 0
