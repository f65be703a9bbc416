#!/usr/bin/env bash
# Makes the Windows zip, checks what it holds, runs its quarrow2.exe under Wine and registers
# and unregisters its DLL with its register.cmd.
# Usage: install_windows.sh BUILD_DIR WINE_RUN POINTER_SIZE. Exits 77 when a tool is missing.
source "$(dirname "$0")/install_support.sh" "$1" cpack unzip wine
wine_run=$2
if [ "$3" = 8 ]; then arch=win64 view=64; else arch=win32 view=32; fi

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
zip="$scratch/quarrow2-$version-$arch.zip"
[ -f "$zip" ] || { fail "no $(basename "$zip")"; exit 1; }
unzip -Z1 "$zip" | grep -v '/$' | sort > "$scratch/listed"
{
  printf '%s\n' LICENSE Quarrow2.dll Quarrow2.tlb README.md quarrow2.exe register.cmd
  headers
} | sort > "$scratch/expected"
diff -u "$scratch/expected" "$scratch/listed" || fail "the zip's files differ"

unpacked="$scratch/unpacked folder"
unzip -q "$zip" -d "$unpacked"
got=$("$wine_run" "$unpacked/quarrow2.exe" --version | tr -d '\r')
[ "$got" = "quarrow2 $version" ] || fail "quarrow2.exe --version printed '$got'"

# register.cmd registers the DLL beside it wherever the zip was unpacked (here a folder with
# a space in its name) whatever the current folder, passing its options on to regsvr32.
source "$(dirname "$0")/../windows/wine_view.sh"
wine_for_view "$wine_run" "$view"
key='HKCR\CLSID\{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}\InprocServer32'
server() { "$WINE_LOADER" reg query "$key" /ve "/reg:$view" 2>/dev/null | tr -d '\r' |
             sed -n 's/^    .*REG_SZ    //p'; }
dll=$("$WINE_LOADER" winepath -w "$unpacked/Quarrow2.dll" 2>/dev/null | tr -d '\r')
(cd "$scratch" && "$WINE_LOADER" cmd /c 'unpacked folder\register.cmd' /s) ||
  fail "register.cmd /s exited with $?"
[ "$(server)" = "$dll" ] || fail "File's server is '$(server)', expected '$dll'"
(cd "$scratch" && "$WINE_LOADER" cmd /c 'unpacked folder\register.cmd' /u /s) ||
  fail "register.cmd /u /s exited with $?"
[ -z "$(server)" ] || fail "File's server is still registered after register.cmd /u"

finish
