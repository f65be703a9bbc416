#!/usr/bin/env bash
# Installs the build as users would (cmake --install with DESTDIR, the Debian packages checked
# by lintian and unpacked into one root) and uses it: the tool, its man pages and its bash
# completion, the example built against it through find_package and pkg-config, the Python
# module. Items go on files of the build tree (tmpfs may refuse them).
# Usage: install_linux.sh BUILD_DIR.
source "$(dirname "$0")/install_support.sh" "$1" \
  cpack dpkg-deb dpkg-shlibdeps lintian man zsh fish pkg-config readelf nm c++
lib=$(cached CMAKE_INSTALL_LIBDIR) config=$(cached CMAKE_BUILD_TYPE | tr '[:upper:]' '[:lower:]')
python=$(cached Python3_EXECUTABLE) pydir=$(cached QUARROW2_PYTHON_INSTALL_DIR)
extension=$pydir/quarrow2/_quarrow2$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')
expect_eq() { [ "$1" = "$2" ] || fail "$3: got '$1', expected '$2'"; }
commands=(list get set rm length dump restore cp find convert shares)

# The files every install holds, relative to the prefix, man pages and completions included.
expected_files() {
  headers
  docs | sed 's|^|share/doc/quarrow2/|'
  printf 'share/man/man1/quarrow2-%s.1.gz\n' "${commands[@]}"
  printf '%s\n' bin/quarrow2 share/bash-completion/completions/quarrow2 \
    share/zsh/vendor-completions/_quarrow2 share/fish/vendor_completions.d/quarrow2.fish \
    "$lib/libquarrow2.so" "$lib/libquarrow2.so.2" "$lib/libquarrow2.so.$version" \
    "$lib/cmake/Quarrow2/Quarrow2Config.cmake" "$lib/cmake/Quarrow2/Quarrow2ConfigVersion.cmake" \
    "$lib/cmake/Quarrow2/Quarrow2Targets.cmake" "$lib/cmake/Quarrow2/Quarrow2Targets-$config.cmake" \
    "$lib/pkgconfig/quarrow2.pc" lib/tmpfiles.d/quarrow2.conf lib/sysusers.d/quarrow2.conf \
    share/doc/quarrow2/LICENSE share/doc/quarrow2/README.md share/man/man1/quarrow2.1.gz \
    "$extension" "$pydir/quarrow2/__init__.py" "$pydir/quarrow2/_errors.py" \
    "$pydir/quarrow2/_version.py" "$pydir/quarrow2/_quarrow2.pyi" "$pydir/quarrow2/py.typed"
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
  # Every export carries the library's version, and the library calls none of its own
  # through the procedure linkage table, where another object's definition could stand in.
  local exports
  exports=$(nm -D --defined-only --with-symbol-versions "$so.$version" | awk '$2 != "A" {print $3}')
  expect_eq "$(grep -v '@@QUARROW2_2$' <<<"$exports")" "" "exports without the version QUARROW2_2"
  expect_eq "$(readelf -rW "$so.$version" | awk '/JUMP_SLOT/ {sub(/@.*/, "", $5); print $5}' |
    grep -xF -f <(sed 's/@.*//' <<<"$exports"))" "" "the library's calls of its own exports through the PLT"
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

# The example built against the files under PREFIX, through find_package(Quarrow2 CONFIG)
# and through pkg-config, then run. Usage: check_examples PREFIX NAME.
check_examples() {
  cmake -S "$source/examples" -B "$scratch/$2-cmake" -DCMAKE_PREFIX_PATH="$1" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$scratch/$2-cmake" >/dev/null
  check_example "$scratch/$2-cmake/hello_metadata" "$1"
  flags=$(PKG_CONFIG_PATH="$1/$lib/pkgconfig" pkg-config --define-variable=prefix="$1" \
    --cflags --libs quarrow2)
  # shellcheck disable=SC2086 # the flags are words
  c++ -std=c++17 -o "$scratch/$2-pc" "$source/examples/hello_metadata.cpp" $flags
  check_example "$scratch/$2-pc" "$1"
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

check_examples "$staged" installed

# Every man page renders without a warning from man or groff.
check_pages() {
  local page warnings
  for page in "$1"/share/man/man1/*.1.gz; do
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
  done
}

# bash's completion function, driven as bash drives it: the words of the line with the word
# under the cursor last, and what it offers, sorted.
check_completion() {
  local words expected got
  mkdir -p "$scratch/completing/notes.d" && touch "$scratch/completing/notes.txt"
  while IFS='|' read -r words expected; do
    got=$(cd "$scratch/completing" && bash -c 'source "$1"; eval "COMP_WORDS=($2)"
      COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _quarrow2; printf "%s\n" "${COMPREPLY[@]}" | sort' \
      _ "$1/share/bash-completion/completions/quarrow2" "$words" | paste -sd' ')
    expect_eq "$got" "$expected" "bash completion of '$words'"
  done <<'EOF'
quarrow2 d|dump
quarrow2 --v|--version
quarrow2 restore --|--absolute-paths --create --directory --dry-run --help
quarrow2 list -r no|notes.d notes.txt
quarrow2 dump -o notes.t|notes.txt
quarrow2 set --file notes.t|notes.txt
quarrow2 set notes.txt Author no|
quarrow2 cp -t Author notes.t|notes.txt
EOF
}

# zsh's script parses; fish completes a command from its script.
check_other_shells() {
  zsh -n "$1/share/zsh/vendor-completions/_quarrow2" || fail "zsh cannot read its completion"
  expect_eq "$(fish -c "source '$1/share/fish/vendor_completions.d/quarrow2.fish'
    complete -C 'quarrow2 d'" | cut -f1)" dump "fish completion of 'quarrow2 d'"
}

# Every page the installed README links to is installed beside it.
check_links() {
  local page
  for page in $(grep -o '](docs/[^)#]*' "$1/share/doc/quarrow2/README.md" | cut -c3- | sort -u); do
    [ -f "$1/share/doc/quarrow2/$page" ] || fail "the installed README links to $page, not installed"
  done
}

echo "== man pages, completion and the README's links, installed"
check_pages "$staged"
check_links "$staged"
check_completion "$staged"
check_other_shells "$staged"

echo "== the Debian packages"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >/dev/null
arch=$(dpkg --print-architecture) release=$(sed -n '1s/.*(\(.*\)).*/\1/p' "$source/cmake/debian/changelog")
packages=(libquarrow2-2 libquarrow2-dev quarrow2)
python_package=$(grep -c '^set(CPACK_COMPONENTS_ALL .*python' "$build/CPackConfig.cmake" || true)
[ "$python_package" = 0 ] || packages+=(python3-quarrow2)
for package in "${packages[@]}"; do
  deb="$scratch/deb/${package}_${release}_$arch.deb"
  [ -f "$deb" ] || { fail "no $(basename "$deb")"; continue; }
  lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian finds errors in $package"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' > "$scratch/$package"
  for doc in copyright changelog.Debian.gz; do
    grep -qx "share/doc/$package/$doc" "$scratch/$package" || fail "$package lacks $doc"
  done
  grep -vE "^share/doc/$package/(copyright|changelog.Debian.gz)$" "$scratch/$package" >> "$scratch/packaged"
  depends=$(dpkg-deb -f "$deb" Depends)
  [ "$package" = libquarrow2-2 ] || [[ ", $depends," == *", libquarrow2-2 (= $release),"* ]] ||
    fail "$package does not depend on libquarrow2-2 (= $release): $depends"
  dpkg-deb -x "$deb" "$scratch/debroot"
done
[ "$python_package" != 0 ] || echo "skipped: python3-quarrow2, the build installs no Python module"
expect_eq "$(dpkg-deb -I "$scratch/deb/libquarrow2-2_${release}_$arch.deb" shlibs)" \
  "libquarrow2 2 libquarrow2-2 (>= $release)" "the shlibs file"
# The packages hold the install's files between them, the library's link in -dev alone.
expected_files | grep -v '/LICENSE$' | sort > "$scratch/expected-packaged"
sort "$scratch/packaged" | diff -u "$scratch/expected-packaged" - ||
  fail "the packages' files differ"
grep -qx "$lib/libquarrow2.so" "$scratch/libquarrow2-dev" || fail "libquarrow2-dev lacks libquarrow2.so"
check_installed "$scratch/debroot/usr"
check_pages "$scratch/debroot/usr"
check_examples "$scratch/debroot/usr" packaged
if [ "$python_package" != 0 ]; then
  PYTHONPATH="$scratch/debroot/usr/lib/python3/dist-packages" \
    with_prefix "$scratch/debroot/usr" "$python" -c 'import quarrow2' || fail "import quarrow2"
fi

finish
