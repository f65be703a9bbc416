#!/usr/bin/env bash
# Registers Quarrow2.dll and runs one VBScript with Wine's cscript of the DLL's bitness.
# The script's exit code is the number of its failed checks; a script that stops on an
# unexpected error exits with 0 as well, so it must also have reached its last line,
# which reports "N failed".
# Usage: run_script.sh WINE_RUN DLL VIEW SCRIPT, VIEW being 64 or 32.
set -eu
set +e
output=$(bash "$(dirname "$0")/run_example.sh" "$@")
rc=$?
set -e
printf '%s\n' "$output"
if ! printf '%s\n' "$output" | grep -qE '^[0-9]+ failed$'; then
  echo "the script stopped before its end"
  exit 100
fi
exit "$rc"
