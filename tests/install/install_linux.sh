#!/usr/bin/env bash
# Installs the build as users would (cmake --install with DESTDIR, the .deb unpacked) and uses
# it, the example built against it through find_package and pkg-config. Items go on files of
# the build tree (tmpfs may refuse them). Usage: install_linux.sh BUILD_DIR.
source "$(dirname "$0")/install_support.sh" "$1" \
  cpack dpkg-deb dpkg-shlibdeps pkg-config readelf c++
lib=$(cached CMAKE_INSTALL_LIBDIR) config=$(cached CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
python=$(cached Python3_EXECUTABLE) pydir=$(cached QUARROW2_PYTHON_INSTALL_DIR)
extension=$pydir/quarrow2/_quarrow2$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
expect_eq() { [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"; }

# The files every install holds, relative to the prefix, the man page included.
expected_files() {
  headers
  printf '%s\n' bin/quarrow2 \
    "$lib/libquarrow2.so" "$lib/libquarrow2.so.2" "$lib/libquarrow2.so.$version" \
    "$lib/cmake/Quarrow2/Quarrow2Config.cmake" "$lib/cmake/Quarrow2/Quarrow2ConfigVersion.cmake" \
    "$lib/cmake/Quarrow2/Quarrow2Targets.cmake" "$lib/cmake/Quarrow2/Quarrow2Targets-$config.cmake" \
    "$lib/pkgconfig/quarrow2.pc" \
    share/doc/quarrow2/LICENSE share/doc/quarrow2/README.md share/man/man1/quarrow2.1.gz \
    "$extension" "$pydir/quarrow2/__init__.py" "$pydir/quarrow2/_quarrow2.pyi" "$pydir/quarrow2/py.typed"
}

with_prefix() { LD_LIBRARY_PATH="$1/$lib" "${@:2}"; }  # run against the library under a prefix

# The library by its soname, the tool through it, neither with a search path of its own;
# then the tool on a real file.
check_installed() {
  local prefix=$1 so="$1/$lib/libquarrow2.so" file
  expect_eq "$(readlink "$so"):$(readlink "$so.2")" "libquarrow2.so.2:libquarrow2.so.$version" \
    "the development and soname links"
  readelf -d "$so.$version" | grep -q 'SONAME.*\[libquarrow2\.so\.2\]' || fail "soname is not .so.2"
  readelf -d "$prefix/bin/quarrow2" | grep -q 'NEEDED.*\[libquarrow2\.so\.2\]' ||
    fail "the tool does not link libquarrow2.so.2"
  ! readelf -d "$prefix/bin/quarrow2" "$so.$version" "$prefix/$extension" | grep -E 'RPATH|RUNPATH' ||
    fail "an installed binary carries a library search path"
  file=$(mktemp "$scratch/tagged.XXXXXX")
  with_prefix "$prefix" "$prefix/bin/quarrow2" set "$file" Author "Jane Doe" || fail "set exited with $?"
  expect_eq "$(with_prefix "$prefix" "$prefix/bin/quarrow2" --version; \
    with_prefix "$prefix" "$prefix/bin/quarrow2" list "$file")" "quarrow2 $version"$'\n'"$file"$'\n'"  16  Author" \
    "$prefix/bin/quarrow2 --version and list"
  expect_eq "$(PYTHONPATH="$prefix/$pydir" with_prefix "$prefix" "$python" -c \
    'import quarrow2, sys; print(quarrow2.__file__, quarrow2.File(sys.argv[1]).texts["Author"])' "$file")" \
    "$prefix/$pydir/quarrow2/__init__.py Jane Doe" "the installed module reading the tool's item"
}

# Tags a real file with the example and reads the tag back with the installed tool.
check_example() {
  local file
  file=$(mktemp "$scratch/example.XXXXXX")
  expect_eq "$(with_prefix "$2" "$1" "$file"; with_prefix "$2" "$2/bin/quarrow2" get "$file" Author)" \
    "Author has 8 characters in 16 bytes"$'\n'"Jane Doe" "$1, then the installed tool reading its item"
}

echo "== cmake --install with DESTDIR"
prefix=/opt/quarrow2-install-test staged="$scratch/destdir/opt/quarrow2-install-test"
DESTDIR="$scratch/destdir" cmake --install "$build" --prefix "$prefix" >/dev/null
[ ! -e "$prefix" ] || fail "$prefix was written outside DESTDIR"
(cd "$staged" && find . ! -type d | sed 's|^\./||' | sort) > "$scratch/installed"
expected_files | sort > "$scratch/expected"
diff -u "$scratch/expected" "$scratch/installed" || fail "the installed files differ"
! grep -rlF -e "$build" -e "$source" "$staged" || fail "installed files name the build or source tree"
expect_eq "$(PKG_CONFIG_PATH="$staged/$lib/pkgconfig" pkg-config --variable=prefix quarrow2)" \
  "$prefix" "quarrow2.pc's prefix"
check_installed "$staged"

echo "== the example through find_package(Quarrow2 CONFIG)"
cmake -S "$source/examples" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$staged" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$scratch/consumer" >/dev/null
check_example "$scratch/consumer/hello_metadata" "$staged"

echo "== the example through pkg-config"
flags=$(PKG_CONFIG_PATH="$staged/$lib/pkgconfig" pkg-config --define-variable=prefix="$staged" \
  --cflags --libs quarrow2)
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++17 -o "$scratch/hello_pc" "$source/examples/hello_metadata.cpp" $flags
check_example "$scratch/hello_pc" "$staged"

echo "== the .deb"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >/dev/null
deb="$scratch/deb/quarrow2_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { fail "no $(basename "$deb")"; exit 1; }
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort > "$scratch/packaged"
diff -u "$scratch/expected" "$scratch/packaged" || fail "the .deb's files differ"
# Its dependencies are the system's libraries the binaries use, never itself.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libstdc++6 libgcc-s1; do
  [[ ", $depends," == *", $package ("* ]] || fail "Depends lacks $package"
done
[[ $depends != *quarrow2* ]] || fail "the package depends on itself"
dpkg -x "$deb" "$scratch/debroot"
check_installed "$scratch/debroot/usr"

finish
