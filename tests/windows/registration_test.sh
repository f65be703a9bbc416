#!/usr/bin/env bash
# Registers Quarrow2.dll with Wine's regsvr32 and reads every entry back with reg query:
# the entries and their values, registering twice, foreign subkeys, unregistering.
# Usage: registration_test.sh WINE_RUN DLL VIEW, VIEW being 64 or 32, the registry view in
# which the DLL's class entries live. Leaves the DLL registered. The exit code is the
# number of failed checks.
set -u
wine_run=$1
dll=$2
view=$3
source "$(dirname "$0")/wine_view.sh"
wine_for_view "$wine_run" "$view"

LIBID='{80ABC801-2A25-4A88-9AAF-5B89790248DB}'
declare -A CLSIDS=(
  [File]='{A89DAC1F-6D90-4460-90D4-B50DA2C488F8}'
  [MetaData]='{8DC736BC-D6E2-4F9E-8731-78559DB35411}'
  [Strings]='{71C1BDF9-FEE8-4784-B45D-6E5E2D66C430}'
)
declare -A IIDS=(
  [IFile]='{A53C8434-138A-47A3-8D97-CAEDF4569123}'
  [IMetaData]='{E08F2318-2FB2-44FF-B85D-8BA90EABC765}'
  [IStrings]='{1DFD9E14-C102-4EDB-A134-041B95DFFAD5}'
)
CLASSES=(File MetaData Strings)
# Both DLLs carry a type library for 32-bit Windows.
typelib_platform=win32

passed=0
failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAILED: $*"
}

wine() { "$WINE_LOADER" "$@" 2>/dev/null | tr -d '\r'; }
reg_query() { wine reg query "$@" "/reg:$view"; }
exists() { "$WINE_LOADER" reg query "$1" "/reg:$view" >/dev/null 2>&1; }
# The data of a key's default value (no name) or of a named value.
value_of() {
  local key=$1 name=${2:-}
  if [ -z "$name" ]; then
    reg_query "$key" /ve
  else
    reg_query "$key" /v "$name"
  fi | sed -n 's/^    .*REG_SZ    //p'
}
# The subkeys directly under a key, by name, sorted.
subkeys_of() { reg_query "$1" | grep '^HKEY_' | tail -n +2 | sed 's/.*\\//' | LC_ALL=C sort; }

expect_value() {
  local key=$1 name=$2 want=$3 got
  got=$(value_of "$key" "$name")
  if [ "$got" = "$want" ]; then pass; else fail "$key [${name:-default}] is '$got', expected '$want'"; fi
}
expect_present() { if exists "$1"; then pass; else fail "$1 is missing"; fi; }
expect_absent() { if exists "$1"; then fail "$1 is still there"; else pass; fi; }
expect_rc() {
  local want=$1 what=$2
  shift 2
  "$WINE_LOADER" "$@" >/dev/null 2>&1
  local rc=$?
  if [ "$rc" = "$want" ]; then pass; else fail "$what exited with $rc"; fi
}

register() { expect_rc 0 "regsvr32 /s" regsvr32 /s "$dll"; }
unregister() { expect_rc 0 "regsvr32 /u /s" regsvr32 /u /s "$dll"; }

dll_path=$(wine winepath -w "$dll")

expect_all_entries() {
  local class clsid k
  for class in "${CLASSES[@]}"; do
    clsid=${CLSIDS[$class]}
    expect_value "HKCR\\Quarrow2.$class.1" "" "$class Class"
    expect_value "HKCR\\Quarrow2.$class.1\\CLSID" "" "$clsid"
    expect_value "HKCR\\Quarrow2.$class" "" "$class Class"
    expect_value "HKCR\\Quarrow2.$class\\CLSID" "" "$clsid"
    expect_value "HKCR\\Quarrow2.$class\\CurVer" "" "Quarrow2.$class.1"
    k="HKCR\\CLSID\\$clsid"
    expect_value "$k" "" "$class Class"
    expect_value "$k\\ProgID" "" "Quarrow2.$class.1"
    expect_value "$k\\VersionIndependentProgID" "" "Quarrow2.$class"
    expect_present "$k\\Programmable"
    expect_value "$k\\InprocServer32" "" "$dll_path"
    expect_value "$k\\InprocServer32" ThreadingModel "Both"
    expect_value "$k\\TypeLib" "" "$LIBID"
    local subkeys
    subkeys=$(subkeys_of "$k" | tr '\n' ' ')
    if [ "$subkeys" = "InprocServer32 ProgID Programmable TypeLib VersionIndependentProgID " ]; then
      pass
    else
      fail "$k has the subkeys '$subkeys'"
    fi
  done
  expect_value "HKCR\\TypeLib\\$LIBID\\1.0" "" "Quarrow 2.0 Library"
  expect_value "HKCR\\TypeLib\\$LIBID\\1.0\\0\\$typelib_platform" "" "$dll_path"
  for iface in "${!IIDS[@]}"; do
    expect_value "HKCR\\Interface\\${IIDS[$iface]}" "" "$iface"
    expect_value "HKCR\\Interface\\${IIDS[$iface]}\\TypeLib" "" "$LIBID"
  done
}

# Everything the three classes and the type library registered, as text.
snapshot() {
  local class
  for class in "${CLASSES[@]}"; do
    reg_query "HKCR\\Quarrow2.$class.1" /s
    reg_query "HKCR\\Quarrow2.$class" /s
    reg_query "HKCR\\CLSID\\${CLSIDS[$class]}" /s
  done
  reg_query "HKCR\\TypeLib\\$LIBID" /s
}

# Every key the DLL registers is gone, but the one named (held by a foreign subkey).
expect_nothing_registered() {
  local class key
  for class in "${CLASSES[@]}"; do
    for key in "HKCR\\Quarrow2.$class.1" "HKCR\\Quarrow2.$class" "HKCR\\CLSID\\${CLSIDS[$class]}"; do
      [ "$key" = "${1:-}" ] || expect_absent "$key"
    done
  done
  expect_absent "HKCR\\TypeLib\\$LIBID"
  expect_present "HKCR\\CLSID"
}

file_key="HKCR\\CLSID\\${CLSIDS[File]}"

echo "== from nothing registered"
unregister
"$WINE_LOADER" reg delete "$file_key" /f "/reg:$view" >/dev/null 2>&1
unregister
expect_nothing_registered
register
expect_all_entries

echo "== registering twice"
first=$(snapshot)
register
second=$(snapshot)
if [ -n "$first" ] && [ "$first" = "$second" ]; then pass; else fail "a second registration changed the entries"; fi

echo "== foreign subkeys and re-registration"
wine reg add "$file_key\\Foreign" /ve /d stale /f "/reg:$view" >/dev/null
wine reg add "HKCR\\Quarrow2.File\\Foreign" /ve /d kept /f "/reg:$view" >/dev/null
register
expect_absent "$file_key\\Foreign"
expect_value "HKCR\\Quarrow2.File\\Foreign" "" "kept"
expect_all_entries

echo "== unregistering"
unregister
expect_present "HKCR\\Quarrow2.File\\Foreign"
expect_absent "HKCR\\Quarrow2.File\\CLSID"
expect_absent "HKCR\\Quarrow2.File\\CurVer"
wine reg delete "HKCR\\Quarrow2.File" /f "/reg:$view" >/dev/null
unregister
expect_nothing_registered

echo "== a foreign subkey under a class key holds that key"
register
wine reg add "$file_key\\Foreign" /ve /d foreign /f "/reg:$view" >/dev/null
unregister
expect_value "$file_key\\Foreign" "" "foreign"
subkeys=$(subkeys_of "$file_key" | tr '\n' ' ')
if [ "$subkeys" = "Foreign " ]; then pass; else fail "$file_key kept the subkeys '$subkeys'"; fi
expect_nothing_registered "$file_key"
wine reg delete "$file_key" /f "/reg:$view" >/dev/null

echo "== left registered for the tests that follow"
register
expect_all_entries

echo "$passed passed, $failed failed"
exit "$failed"
