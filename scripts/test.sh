#!/usr/bin/env bash
# Sets up and passes every test: the formatting check, the plain build (all tests, the program in
# tmux and the recordings of a private sound server included), the Debian package made from it,
# the unit tests and a whole session of the program under AddressSanitizer, UBSan and
# LeakSanitizer, the audio-thread tests under ThreadSanitizer, and a short fuzzing run of the
# load path. Each sanitizer build compiles only the tests it runs. One
# line per step; a step that fails shows its tool's whole output.
set -eu
source "$(dirname "$0")/setup.sh"
brevalo_install_packages "${BREVALO_RUN_PACKAGES[@]}" "${BREVALO_TEST_PACKAGES[@]}"

jobs=$(nproc)

brevalo_step --result brevalo_last_line "Checking the formatting" "$BREVALO_ROOT/scripts/check_format.sh"

brevalo_build build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
brevalo_ctest "Running the tests" build -j "$jobs"
brevalo_step --result brevalo_last_line "Checking the Debian package" \
  "$BREVALO_ROOT/scripts/check_package.sh" "$BREVALO_ROOT/build"

brevalo_build build-asan "tests_unit tests_leak" -DCMAKE_BUILD_TYPE=Debug \
  -DBREVALO_SANITIZE=address,undefined -DBREVALO_BENCH=OFF
brevalo_ctest "Running the unit tests under AddressSanitizer + UBSan" build-asan -j "$jobs" -L unit
brevalo_ctest "Running a session of the program under LeakSanitizer" build-asan -L leak

brevalo_build build-tsan tests_thread -DCMAKE_BUILD_TYPE=Debug -DBREVALO_SANITIZE=thread \
  -DBREVALO_BENCH=OFF
brevalo_ctest "Running the audio-thread tests under ThreadSanitizer" build-tsan -j "$jobs" -L thread

"$BREVALO_ROOT/scripts/fuzz.sh" 60

printf 'tests: %d passed, 0 failed, %d skipped\n' "$BREVALO_TESTS_PASSED" "$BREVALO_TESTS_SKIPPED"
