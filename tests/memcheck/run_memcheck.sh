#!/bin/sh
# Runs a client of the library in a fresh scratch folder, on a new file there, under valgrind's
# memcheck unless the build uses sanitizers (their leak checker then does the job).
# Usage: run_memcheck.sh SCRATCH SANITIZERS CLIENT. Exits with the client's status; 99 when
# memcheck found an error or a leak; 77 (skipped) without valgrind.
set -eu
rm -rf "$1" && mkdir -p "$1" && cd "$1"
[ -z "$2" ] || exec "$3" "$1/file"
command -v valgrind >/dev/null || { echo "valgrind is not installed"; exit 77; }
exec valgrind --quiet --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect "$3" "$1/file"
