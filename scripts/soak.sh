#!/usr/bin/env bash
# The long sessions by hand: scripts/soak.sh [TRACKS] [ROUNDS].
# TRACKS short tracks (3000 by default) played through by the automatic advance in the plain
# build, with the open order, every track heard whole and resident memory checked; then ROUNDS
# rounds (1000 by default) of play, pause, resume, tag preview and switch in the AddressSanitizer
# build with LeakSanitizer on. These are the tests that scripts/test.sh runs at 300 tracks and
# 100 rounds. BREVALO_SOAK_BUILD and BREVALO_SOAK_ASAN_BUILD name other build folders.
set -eu
source "$(dirname "$0")/setup.sh"
brevalo_install_packages "${BREVALO_RUN_PACKAGES[@]}" "${BREVALO_TEST_PACKAGES[@]}"

tracks=${1:-3000}
rounds=${2:-1000}
build=${BREVALO_SOAK_BUILD:-build}
asan_build=${BREVALO_SOAK_ASAN_BUILD:-build-asan}
step() { printf '\n== %s\n' "$*"; }

step "build ($build)"
brevalo_build "$build" long_session_tests -DCMAKE_BUILD_TYPE=RelWithDebInfo
step "$tracks tracks by the automatic advance"
BREVALO_SOAK_TRACKS=$tracks "$BREVALO_ROOT/$build/tests/e2e/long_session_tests" \
  --gtest_filter='LongSessionTest.HundredsOfTracks*'

step "AddressSanitizer build ($asan_build)"
brevalo_build_asan "$asan_build" leak_session_tests
step "$rounds rounds under LeakSanitizer"
BREVALO_SOAK_ROUNDS=$rounds "$BREVALO_ROOT/$asan_build/tests/e2e/leak_session_tests"

step "soak passed"
