#!/bin/sh
# Runs a client of the library on a new file in a fresh scratch folder, under valgrind's
# memcheck unless the build uses sanitizers (their leak checker then does the job).
#   run_memcheck.sh SCRATCH SANITIZERS CLIENT
# Exit status: the client's; 99 when memcheck found an error or a leak; 77 (skipped) when
# valgrind is missing.
set -eu
scratch=$1 sanitizers=$2 client=$3
rm -rf "$scratch"
mkdir -p "$scratch"
if [ -n "$sanitizers" ]; then
  exec "$client" "$scratch/file"
fi
if ! command -v valgrind >/dev/null; then
  echo "valgrind is not installed"
  exit 77
fi
exec valgrind --quiet --error-exitcode=99 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect \
  "$client" "$scratch/file"
