# Sourced by the install tests: `source install_support.sh BUILD_DIR TOOL...` exits 77
# (skipped) when a tool is missing; then the build's cached settings, the headers every package
# holds, a scratch folder inside the build, and failures counted for finish's exit status.
set -euo pipefail
build=$(cd "$1" && pwd)
for tool in "${@:2}"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
version=$(cached CMAKE_PROJECT_VERSION) source=$(cached CMAKE_HOME_DIRECTORY)
headers() { (cd "$source/include" && find quarrow2 -name '*.h' | sed 's|^|include/|'); }
docs() { (cd "$source" && find docs -name '*.md'); }  # the pages the README links to
scratch=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }
finish() { echo "$failed failed"; exit $((failed > 0)); }
