#!/usr/bin/env bash
# Installs the build as its users would and uses what was installed: cmake --install with
# DESTDIR, the example built against it through find_package and through pkg-config, and
# the .deb unpacked into a throwaway root. Items go on real files of the build tree's file
# system (tmpfs may refuse user attributes).
# Usage: install_linux.sh BUILD_DIR SOURCE_DIR. Exits 77 when a tool it needs is missing.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps pkg-config readelf c++; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION)
config=$(cached CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
scratch=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
expect_eq() { [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"; }

# The files every install holds, relative to the prefix, the man page included.
expected_files() {
  local lib=$1
  printf '%s\n' bin/quarrow2 include/quarrow2/automation.h include/quarrow2/quarrow2.h \
    "$lib/libquarrow2.so" "$lib/libquarrow2.so.2" "$lib/libquarrow2.so.$version" \
    "$lib/cmake/Quarrow2/Quarrow2Config.cmake" "$lib/cmake/Quarrow2/Quarrow2ConfigVersion.cmake" \
    "$lib/cmake/Quarrow2/Quarrow2Targets.cmake" "$lib/cmake/Quarrow2/Quarrow2Targets-$config.cmake" \
    "$lib/pkgconfig/quarrow2.pc" \
    share/doc/quarrow2/LICENSE share/doc/quarrow2/README.md share/man/man1/quarrow2.1.gz
}

# The library by its soname, the tool through it, and neither with a search path of its own.
check_binaries() {
  local prefix=$1 lib=$2
  expect_eq "$(readlink "$prefix/$lib/libquarrow2.so")" libquarrow2.so.2 "the development link"
  expect_eq "$(readlink "$prefix/$lib/libquarrow2.so.2")" "libquarrow2.so.$version" "the soname link"
  readelf -d "$prefix/$lib/libquarrow2.so.$version" | grep -q 'SONAME.*\[libquarrow2\.so\.2\]' ||
    fail "the library's soname is not libquarrow2.so.2"
  readelf -d "$prefix/bin/quarrow2" | grep -q 'NEEDED.*\[libquarrow2\.so\.2\]' ||
    fail "the tool does not link libquarrow2.so.2"
  if readelf -d "$prefix/bin/quarrow2" "$prefix/$lib/libquarrow2.so.$version" | grep -E 'RPATH|RUNPATH'; then
    fail "an installed binary carries a library search path"
  fi
}

# Tags a real file with the example and reads the tag back with the installed tool.
check_example() {
  local program=$1 prefix=$2 lib=$3 file="$scratch/example-$RANDOM.txt"
  : > "$file"
  local out
  out=$(LD_LIBRARY_PATH="$prefix/$lib" "$program" "$file") || fail "$program exited with $?"
  expect_eq "$out" "Author has 8 characters in 16 bytes" "$program"
  expect_eq "$(LD_LIBRARY_PATH="$prefix/$lib" "$prefix/bin/quarrow2" get "$file" Author)" \
    "Jane Doe" "the installed tool reading the example's item"
}

echo "== cmake --install with DESTDIR"
prefix=/opt/quarrow2-install-test
root="$scratch/destdir"
DESTDIR="$root" cmake --install "$build" --prefix "$prefix" >/dev/null
[ ! -e "$prefix" ] || fail "$prefix was written outside DESTDIR"
staged="$root$prefix"
lib=lib
(cd "$staged" && find . ! -type d | sed 's|^\./||' | sort) > "$scratch/installed"
expected_files "$lib" | sort > "$scratch/expected"
diff -u "$scratch/expected" "$scratch/installed" || fail "the installed files differ"
check_binaries "$staged" "$lib"
if grep -rlF -e "$build" -e "$source" "$staged"; then
  fail "installed files name the build or source tree"
fi
expect_eq "$(PKG_CONFIG_PATH="$staged/$lib/pkgconfig" pkg-config --variable=prefix quarrow2)" \
  "$prefix" "quarrow2.pc's prefix"
expect_eq "$(LD_LIBRARY_PATH="$staged/$lib" "$staged/bin/quarrow2" --version)" \
  "quarrow2 $version" "the installed tool's version"

echo "== the example through find_package(Quarrow2 CONFIG)"
cmake -S "$source/examples" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$staged" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/consumer" >/dev/null
check_example "$scratch/consumer/hello_metadata" "$staged" "$lib"

echo "== the example through pkg-config"
flags=$(PKG_CONFIG_PATH="$staged/$lib/pkgconfig" pkg-config --define-variable=prefix="$staged" \
  --cflags --libs quarrow2)
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++17 -o "$scratch/hello_pc" "$source/examples/hello_metadata.cpp" $flags
check_example "$scratch/hello_pc" "$staged" "$lib"

echo "== the .deb"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >/dev/null
deb="$scratch/deb/quarrow2_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { fail "no $(basename "$deb")"; exit 1; }
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort > "$scratch/packaged"
expected_files "$lib" | sort > "$scratch/expected"
diff -u "$scratch/expected" "$scratch/packaged" || fail "the .deb's files differ"
# Its dependencies are the system's libraries the binaries use, never itself.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libc6 libstdc++6 libgcc-s1; do
  [[ ", $depends," == *", $package ("* ]] || fail "Depends lacks $package"
done
[[ $depends != *quarrow2* ]] || fail "the package depends on itself"
dpkg -x "$deb" "$scratch/debroot"
check_binaries "$scratch/debroot/usr" "$lib"
expect_eq "$(LD_LIBRARY_PATH="$scratch/debroot/usr/$lib" "$scratch/debroot/usr/bin/quarrow2" --version)" \
  "quarrow2 $version" "the packaged tool's version"
tagged="$scratch/tagged.txt"
: > "$tagged"
LD_LIBRARY_PATH="$scratch/debroot/usr/$lib" "$scratch/debroot/usr/bin/quarrow2" set "$tagged" Author "Jane Doe"
expect_eq "$(LD_LIBRARY_PATH="$scratch/debroot/usr/$lib" "$scratch/debroot/usr/bin/quarrow2" list "$tagged")" \
  "$tagged
  16  Author" "the packaged tool's list"

echo "$failed failed"
exit $((failed > 0))
