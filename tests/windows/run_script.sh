#!/usr/bin/env bash
# Registers Quarrow2.dll and runs one VBScript with the cscript of its bitness; CTest judges.
# Usage: run_script.sh WINE_RUN DLL VIEW SCRIPT, VIEW being 64 or 32.
set -eu
source "$(dirname "$0")/wine_view.sh"
wine_for_view "$1" "$3"
"$WINE_LOADER" regsvr32 /s "$2"
"$WINE_LOADER" cscript //nologo "$("$WINE_LOADER" winepath -w "$4" | tr -d '\r')" | tr -d '\r'
