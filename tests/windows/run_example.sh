#!/usr/bin/env bash
# Registers Quarrow2.dll and runs one example script with Wine's cscript of the DLL's
# bitness, printing what it prints and ending with its exit code; the caller checks the
# output.
# Usage: run_example.sh WINE_RUN DLL VIEW SCRIPT, VIEW being 64 or 32.
set -eu
wine_run=$1
dll=$2
view=$3
script=$4
source "$(dirname "$0")/wine_view.sh"
wine_for_view "$wine_run" "$view"
"$WINE_LOADER" regsvr32 /s "$dll"
"$WINE_LOADER" cscript //nologo "$("$WINE_LOADER" winepath -w "$script" | tr -d '\r')" | tr -d '\r'
