#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and runs
# the whole test suite there. Any report of either sanitizer fails the test that produced it;
# leaks are checked too, with tests/lsan.supp hiding only leaks inside system libraries.
# Extra arguments go to ctest, e.g.: bash scripts/sanitizers.sh -R contatore
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
radice=$(pwd)
cartella=${QVR_BUILD_ASAN:-build-asan}

source scripts/comune.sh
installa_mancanti

cmake -S . -B "$cartella" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ \
    -DQVR_SANITIZERS=ON -DQVR_BENCH=OFF
cmake --build "$cartella"

# halt_on_error with exitcode: the first report ends the program with a failing status.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
export LSAN_OPTIONS="suppressions=$radice/tests/lsan.supp:print_suppressions=0:exitcode=88"

stato=0
if [ -z "${DISPLAY:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir "$cartella" --output-on-failure "$@" || stato=$?
else
    ctest --test-dir "$cartella" --output-on-failure "$@" || stato=$?
fi
exit "$stato"
