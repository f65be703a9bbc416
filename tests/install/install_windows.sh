#!/usr/bin/env bash
# Makes the Windows zip, checks what it holds, runs its quarrow2.exe under Wine, builds the
# README's C++ example against the unpacked zip alone and runs it, and registers and
# unregisters its DLL with its register.cmd, for the machine and for the user alone.
# Usage: install_windows.sh BUILD_DIR WINE_RUN POINTER_SIZE CXX (the build's MinGW compiler).
# Exits 77 when a tool is missing.
source "$(dirname "$0")/install_support.sh" "$1" cpack unzip wine
wine_run=$2
if [ "$3" = 8 ]; then arch=win64 view=64; else arch=win32 view=32; fi

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$scratch" >/dev/null
zip="$scratch/quarrow2-$version-$arch.zip"
[ -f "$zip" ] || { fail "no $(basename "$zip")"; exit 1; }
unzip -Z1 "$zip" | grep -v '/$' | sort > "$scratch/listed"
{
  printf '%s\n' LICENSE Quarrow2.dll Quarrow2.tlb Quarrow2_i.cpp README.md quarrow2.exe register.cmd \
    lib/libQuarrow2.dll.a
  headers
  docs
} | sort > "$scratch/expected"
diff -u "$scratch/expected" "$scratch/listed" || fail "the zip's files differ"

unpacked="$scratch/unpacked folder"
unzip -q "$zip" -d "$unpacked"
got=$("$wine_run" "$unpacked/quarrow2.exe" --version | tr -d '\r')
[ "$got" = "quarrow2 $version" ] || fail "quarrow2.exe --version printed '$got'"

# A client needs nothing but the zip: its headers, Quarrow2_i.cpp for the identifiers and its
# import library. Under Wine the volume reports no named streams.
"$4" -std=c++17 -I "$unpacked/include" -o "$scratch/hello.exe" "$source/examples/hello_metadata.cpp" \
  "$unpacked/Quarrow2_i.cpp" "$unpacked/lib/libQuarrow2.dll.a" -loleaut32 -lole32 -luuid -static ||
  fail "the example does not build"
touch "$scratch/tagged.txt" && cp "$unpacked/Quarrow2.dll" "$scratch/"
got=$(cd "$scratch" && "$wine_run" hello.exe tagged.txt | tr -d '\r') || true
[[ $got == "Author has 8 characters in 16 bytes" || $got == "the volume has no named streams" ]] ||
  fail "the example printed '$got'"

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

# register.cmd /user writes the current user's classes alone, and unregistering leaves them
# as they were. Wine differs from Windows twice: its RegisterTypeLibForUser registers the
# type library machine-wide (TypeLib and Interface keys), and its HKEY_CLASSES_ROOT is the
# machine's classes alone, so CreateObject finds a class registered for the user only where
# HKEY_CLASSES_ROOT shows the user's classes.
classes() { "$WINE_LOADER" reg export "$1" "$scratch/$2.reg" "/reg:$view" /y >/dev/null 2>&1 ||
              fail "reg export $1"; iconv -f UTF-16 -t UTF-8 "$scratch/$2.reg" > "$scratch/$2"; }
register_for_user() {
  (cd "$scratch" && "$WINE_LOADER" cmd /c 'unpacked folder\register.cmd' /user "$@" /s) ||
    fail "register.cmd /user $* /s exited with $?"
}
# Windows always has the user's classes key; a fresh Wine prefix may not, in the 32-bit view.
"$WINE_LOADER" reg add 'HKCU\Software\Classes' /f "/reg:$view" >/dev/null 2>&1
classes 'HKCU\Software\Classes' user-before && classes 'HKLM\Software\Classes' machine-before
register_for_user
classes 'HKLM\Software\Classes' machine-registered
added=$(diff "$scratch/machine-before" "$scratch/machine-registered" | grep '^> \[' |
  grep -viE '\\Classes\\(Wow6432Node\\)?(TypeLib|Interface)\\\{' || true)
[ -z "$added" ] || fail "register.cmd /user wrote the machine's classes: $added"
key='HKCU\Software\Classes\CLSID\{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}\InprocServer32'
[ "$(server)" = "$dll" ] || fail "the user's File server is '$(server)', expected '$dll'"
if "$WINE_LOADER" reg query 'HKCR\Quarrow2.File' "/reg:$view" >/dev/null 2>&1; then
  printf 'Set file = CreateObject("Quarrow2.File")\r\nfile.Close\r\nWScript.Echo "created"\r\n' \
    > "$scratch/create.vbs"
  got=$("$WINE_LOADER" cscript //nologo "$("$WINE_LOADER" winepath -w "$scratch/create.vbs" |
    tr -d '\r')" | tr -d '\r')
  [ "$got" = created ] || fail "VBScript did not create Quarrow2.File for the user: $got"
else
  echo "skipped: Quarrow2.File from VBScript, HKEY_CLASSES_ROOT here shows no user's classes"
fi
register_for_user /u
classes 'HKCU\Software\Classes' user-after && classes 'HKLM\Software\Classes' machine-after
diff "$scratch/user-before" "$scratch/user-after" || fail "register.cmd /user /u left user entries"
diff -q "$scratch/machine-before" "$scratch/machine-after" >/dev/null ||
  fail "register.cmd /user and /user /u changed the machine's classes"

finish
