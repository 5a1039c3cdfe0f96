#!/usr/bin/env bash
# Runs the test suite under valgrind's memcheck: the unit tests and the
# end-to-end test program themselves, and every forkit that the end-to-end
# tests start. Fails on any memory error or leak, of any kind.
#
#   scripts/memcheck.sh     builds the memcheck preset, in build-memcheck
#
# A forkit that memcheck finds at fault exits with 99, which its test reports
# (forkit itself always exits with 0); memcheck's own report goes to the
# standard error of the test program.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$PWD/build-memcheck # the memcheck preset's binaryDir

cmake --preset memcheck
cmake --build --preset memcheck -j"$(nproc)"

# No gdb server: it writes a file, which fails where a test limits file sizes.
memcheck="valgrind --vgdb=no --quiet --error-exitcode=99 --leak-check=full \
--show-leak-kinds=all --errors-for-leak-kinds=all"

status=0
for program in forkit_unit_tests forkit_run_tests; do
  echo "== $program under memcheck"
  if ! FORKIT_COMMAND="$memcheck '$build/forkit'" $memcheck "$build/tests/$program"; then
    echo "$program: failed under memcheck"
    status=1
  fi
done
exit $status
