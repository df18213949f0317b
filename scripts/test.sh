#!/usr/bin/env bash
# Sets up and passes every test: the formatting check, the plain build (all tests, the program in
# tmux and the recordings of a private sound server included), the Debian package made from it,
# the unit tests and a whole session of the program under AddressSanitizer, UBSan and
# LeakSanitizer, the audio-thread tests under ThreadSanitizer, and a short fuzzing run of the
# load path. Each sanitizer build compiles only the tests it runs. One line per step, with how
# long it took; a step that fails shows its tool's whole output.
#
# Most tests wait on real time (a track plays, a server restarts), so they run many at once, and
# beside the build that follows theirs; the tests of one build start once those of the build
# before have ended, so that no more than one build's tests run at once even where every build
# is made already. The steps started beside show their lines as they are waited for.
# doc/testing.md tells where the time goes. BREVALO_TEST_JOBS sets how many tests run at once
# (four for each core by default).
set -eu
source "$(dirname "$0")/setup.sh"
brevalo_install_packages "${BREVALO_RUN_PACKAGES[@]}" "${BREVALO_TEST_PACKAGES[@]}"

# Every prerequisite is installed above: a test that lacks one fails, naming it, rather than
# skip (tests/support/prerequisite.h).
export BREVALO_NO_SKIP=1
started=$SECONDS
# The media the tests make with ffmpeg is made once for every test program of the run.
brevalo_steps_folder
export BREVALO_MEDIA_CACHE=$BREVALO_BACKGROUND_DIR/media
mkdir "$BREVALO_MEDIA_CACHE"
tests_at_once=${BREVALO_TEST_JOBS:-$(($(nproc) * 4))}

brevalo_step --result brevalo_last_line "Checking the formatting" "$BREVALO_ROOT/scripts/check_format.sh"

# The sanitizer builds' configurations, which mostly wait on the compilers' checks, are made
# beside the plain build.
tsan_options=(-DCMAKE_BUILD_TYPE=Debug -DBREVALO_SANITIZE=thread -DBREVALO_BENCH=OFF)
brevalo_background configure-asan brevalo_configure_asan build-asan
CC=clang CXX=clang++ brevalo_background configure-tsan brevalo_configure build-tsan \
  "${tsan_options[@]}"

brevalo_build build "" -DCMAKE_BUILD_TYPE=RelWithDebInfo
brevalo_background tests brevalo_ctest "Running the tests" build -j "$tests_at_once"
brevalo_background package brevalo_step --result brevalo_last_line "Checking the Debian package" \
  "$BREVALO_ROOT/scripts/check_package.sh" "$BREVALO_ROOT/build"

failed=0
# The load-path fuzzer among its targets: the fuzz minute needs no build of its own.
brevalo_join configure-asan
brevalo_build_asan build-asan "tests_unit tests_leak load_fuzzer"
brevalo_join tests || failed=1
BREVALO_FUZZ_BUILD=build-asan brevalo_background fuzz "$BREVALO_ROOT/scripts/fuzz.sh" 60
brevalo_background asan brevalo_ctest "Running the unit tests under AddressSanitizer + UBSan" \
  build-asan -j "$tests_at_once" -L unit
brevalo_background leak brevalo_ctest "Running a session of the program under LeakSanitizer" \
  build-asan -L leak

# With clang too, which builds these in half the time GCC takes.
brevalo_join configure-tsan
CC=clang CXX=clang++ brevalo_build build-tsan tests_thread "${tsan_options[@]}"
brevalo_join asan || failed=1
brevalo_ctest "Running the audio-thread tests under ThreadSanitizer" build-tsan \
  -j "$tests_at_once" -L thread || failed=1

for step in package fuzz leak; do
  brevalo_join "$step" || failed=1
done
[ "$failed" -eq 0 ]

printf 'Every step done in %d s\n' "$((SECONDS - started))"
printf 'tests: %d passed, 0 failed, %d skipped\n' "$BREVALO_TESTS_PASSED" "$BREVALO_TESTS_SKIPPED"
