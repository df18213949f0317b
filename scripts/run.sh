#!/usr/bin/env bash
# Sets up and runs Brevalo: scripts/run.sh [PATH]. Says on one line per step what it installs
# and builds, and nothing more once the player has started.
set -eu
source "$(dirname "$0")/setup.sh"
brevalo_install_packages "${BREVALO_RUN_PACKAGES[@]}"
brevalo_build build brevalo -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec "$BREVALO_ROOT/build/brevalo" "$@"
