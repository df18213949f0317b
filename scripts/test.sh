#!/usr/bin/env bash
# Sets up and passes every test: the plain build (all tests, the program in tmux included),
# the unit tests and a whole session of the program under AddressSanitizer, UBSan and
# LeakSanitizer, the audio-thread tests under ThreadSanitizer, and a short fuzzing run of the
# load path. Each sanitizer build compiles only the tests it runs.
set -eu
source "$(dirname "$0")/setup.sh"
brevalo_install_packages "${BREVALO_RUN_PACKAGES[@]}" "${BREVALO_TEST_PACKAGES[@]}"

jobs=$(nproc)
step() { printf '\n== %s\n' "$*"; }

step "build"
brevalo_build build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "tests"
ctest --test-dir "$BREVALO_ROOT/build" --output-on-failure -j "$jobs"

step "unit tests under AddressSanitizer + UBSan"
brevalo_build build-asan "tests_unit tests_leak" -DCMAKE_BUILD_TYPE=Debug \
  -DBREVALO_SANITIZE=address,undefined -DBREVALO_BENCH=OFF
ctest --test-dir "$BREVALO_ROOT/build-asan" --output-on-failure -j "$jobs" -L unit
step "a session of the program under LeakSanitizer"
ctest --test-dir "$BREVALO_ROOT/build-asan" --output-on-failure -L leak

step "audio-thread tests under ThreadSanitizer"
brevalo_build build-tsan tests_thread -DCMAKE_BUILD_TYPE=Debug -DBREVALO_SANITIZE=thread \
  -DBREVALO_BENCH=OFF
ctest --test-dir "$BREVALO_ROOT/build-tsan" --output-on-failure -j "$jobs" -L thread

step "a short fuzzing run of the load path"
"$BREVALO_ROOT/scripts/fuzz.sh" 60

step "all tests passed"
