#!/usr/bin/env bash
# Sourced by run.sh and test.sh: installs the missing Debian packages and builds when needed.

BREVALO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

BREVALO_RUN_PACKAGES=(build-essential cmake pkg-config libncurses-dev libavformat-dev
  libavcodec-dev libswresample-dev libavutil-dev libsdl2-dev libgtest-dev)
BREVALO_TEST_PACKAGES=(tmux ffmpeg clang libclang-rt-14-dev)

# Installs whichever of the given packages are missing; quiet and quick when none is.
brevalo_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq >&2 &&
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

# brevalo_build DIR TARGETS [cmake options...]: configures DIR once, then builds what changed
# among TARGETS (a space-separated list; "" for everything).
brevalo_build() {
  local dir=$1 targets=$2
  shift 2
  if [ ! -f "$BREVALO_ROOT/$dir/CMakeCache.txt" ]; then
    cmake -S "$BREVALO_ROOT" -B "$BREVALO_ROOT/$dir" "$@" >/dev/null || return 1
  fi
  local target_options=()
  local target
  for target in $targets; do
    target_options+=(--target "$target")
  done
  cmake --build "$BREVALO_ROOT/$dir" -j "$(nproc)" "${target_options[@]}" -- --no-print-directory \
    >/dev/null || cmake --build "$BREVALO_ROOT/$dir" -j 1 "${target_options[@]}"
}
