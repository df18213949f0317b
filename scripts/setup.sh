#!/usr/bin/env bash
# Sourced by the scripts: installs the missing Debian packages, builds when needed, and shows
# each step on one line of its own. A step's tools write to a log, which is shown whole only
# when the step fails.

BREVALO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

BREVALO_RUN_PACKAGES=(build-essential cmake ninja-build pkg-config libncurses-dev libavformat-dev
  libavcodec-dev libswresample-dev libavutil-dev libsdl2-dev libpulse-dev libpipewire-0.3-dev
  libgtest-dev)
BREVALO_TEST_PACKAGES=(tmux ffmpeg clang clang-format libclang-rt-14-dev pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber
  fuse3 libfuse3-dev
  lintian)

# The last stage of a step's pipeline runs in this shell, so that the progress it saw is known.
shopt -s lastpipe

# Tests counted by brevalo_ctest_counts over the whole run, for a closing line.
BREVALO_TESTS_PASSED=0
BREVALO_TESTS_SKIPPED=0

# Reads a tool's output and adds how far it has got to the step's line: the percentage that
# make and ninja print, or the share of tests that ctest has run. On a terminal the figure is
# rewritten in place; in a log every tenth passed is added once.
brevalo_show_progress() {
  local text=$1 line percent tenth
  local make_pattern='^\[ *([0-9]+)%\]'
  local count_pattern='^\[([0-9]+)/([0-9]+)\]|^ *([0-9]+)/([0-9]+) Test +#'
  BREVALO_PROGRESS_SHOWN=-1
  while IFS= read -r line; do
    if [[ $line =~ $make_pattern ]]; then
      percent=${BASH_REMATCH[1]}
    elif [[ $line =~ $count_pattern ]]; then
      percent=$(((BASH_REMATCH[1] + BASH_REMATCH[3]) * 100 /
        (BASH_REMATCH[2] + BASH_REMATCH[4])))
    else
      continue
    fi
    if [ -t 1 ]; then
      printf '\r%s: %d%%\033[K' "$text" "$percent"
      BREVALO_PROGRESS_SHOWN=$percent
    else
      tenth=$((percent / 10 * 10))
      if ((tenth > 0 && tenth > BREVALO_PROGRESS_SHOWN)); then
        printf ' %d%%' "$tenth"
        BREVALO_PROGRESS_SHOWN=$tenth
      fi
    fi
  done
}

# brevalo_step [--result FUNCTION] TEXT COMMAND...: runs COMMAND and shows the step on one line:
# TEXT, the progress figure, then "done" or what FUNCTION, given the log, makes of the output
# (it sets BREVALO_STEP_RESULT, in this shell, so that it may also keep counts).
# On failure the line ends in "failed", the whole output follows, and COMMAND's status is
# returned.
brevalo_step() {
  local result_function=""
  if [ "$1" = --result ]; then
    result_function=$2
    shift 2
  fi
  local text=$1
  shift
  local log status result started=$SECONDS
  log=$(mktemp "${TMPDIR:-/tmp}/brevalo-step.XXXXXX")
  printf '%s:' "$text"
  "$@" </dev/null 2>&1 | tee "$log" | brevalo_show_progress "$text"
  status=${PIPESTATUS[0]}
  BREVALO_STEP_RESULT=done
  if [ "$status" -ne 0 ]; then
    BREVALO_STEP_RESULT=failed
  elif [ -n "$result_function" ]; then
    "$result_function" "$log"
  fi
  result="$BREVALO_STEP_RESULT ($((SECONDS - started)) s)"
  if [ -t 1 ]; then
    printf '\r%s: %s\033[K\n' "$text" "$result"
  elif [ "$BREVALO_PROGRESS_SHOWN" -ge 0 ]; then
    printf '; %s\n' "$result"
  else
    printf ' %s\n' "$result"
  fi
  if [ "$status" -ne 0 ]; then
    printf -- '--- output of: %s\n' "$*"
    cat "$log"
    printf -- '--- end of the output\n'
  fi
  rm -f "$log"
  return "$status"
}

# A result for brevalo_step: ctest's counts, added to the run's totals.
brevalo_ctest_counts() {
  local total skipped
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$1" | tail -n 1)
  skipped=$(grep -c '(Skipped)$' "$1" || true)
  BREVALO_TESTS_PASSED=$((BREVALO_TESTS_PASSED + ${total:-0} - skipped))
  BREVALO_TESTS_SKIPPED=$((BREVALO_TESTS_SKIPPED + skipped))
  BREVALO_STEP_RESULT="$((${total:-0} - skipped)) passed, 0 failed, $skipped skipped"
}

# A result for brevalo_step: the last line the command wrote, its own summary.
brevalo_last_line() { BREVALO_STEP_RESULT=$(tail -n 1 "$1"); }

# brevalo_ctest TEXT BUILD [ctest options...]: one test stage of the build folder BUILD.
brevalo_ctest() {
  local text=$1 dir=$2
  shift 2
  brevalo_step --result brevalo_ctest_counts "$text" \
    ctest --test-dir "$BREVALO_ROOT/$dir" --output-on-failure --no-tests=error "$@"
}

# Runs a command as root: directly when we are root, else through sudo.
brevalo_as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

# Installs whichever of the given packages are missing; says nothing when none is.
brevalo_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  # A password is asked for on the terminal before the step's output goes to a log.
  [ "$(id -u)" -eq 0 ] || sudo -v
  brevalo_step "Installing ${missing[*]}" brevalo_apt_get_install "${missing[@]}"
}

# apt-get install, after an update of the package lists, asking nothing.
brevalo_apt_get_install() {
  brevalo_as_root apt-get update -q &&
    brevalo_as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "$@"
}

# brevalo_configure DIR [cmake options...]: configures the build folder DIR for Ninja when it is
# new, and again whenever a package has been installed or removed since (dpkg's database is
# newer than the folder's cache), so that cmake looks once more for what it did not find, such
# as libfuse3-dev, which the tests' slow-storage mirror needs and which scripts/run.sh does not
# install. A folder configured otherwise (another generator, compiler or options, as an older
# version of these scripts did) starts anew.
brevalo_configure() {
  local dir=$1
  shift
  local cache=$BREVALO_ROOT/$dir/CMakeCache.txt
  local settings=$BREVALO_ROOT/$dir/brevalo-configure.txt
  local wanted="Ninja ${CC:-cc} ${CXX:-c++} $*"
  if [ -f "$cache" ] && [ "$(cat "$settings" 2>/dev/null)" != "$wanted" ]; then
    rm -rf "$cache" "$BREVALO_ROOT/$dir/CMakeFiles"
  fi
  if [ ! -f "$cache" ] || [ /var/lib/dpkg/status -nt "$cache" ]; then
    brevalo_step "Configuring $dir/" cmake -G Ninja -S "$BREVALO_ROOT" -B "$BREVALO_ROOT/$dir" \
      "$@" || return 1
    printf '%s\n' "$wanted" >"$settings"
    touch "$cache"
  fi
}

# brevalo_build DIR TARGETS [cmake options...]: configures DIR (brevalo_configure), then builds
# what changed among TARGETS (a space-separated list; "" for everything).
brevalo_build() {
  local dir=$1 targets=$2
  shift 2
  brevalo_configure "$dir" "$@" || return 1
  local target_options=()
  local target
  for target in $targets; do
    target_options+=(--target "$target")
  done
  brevalo_step "Building $dir/ (${targets:-everything})" cmake --build "$BREVALO_ROOT/$dir" \
    -j "$(nproc)" "${target_options[@]}"
}

# brevalo_build_asan DIR TARGETS: the AddressSanitizer + UBSan build that scripts/test.sh and
# scripts/soak.sh share, with clang, whose fuzzer support builds the load-path fuzzer there too.
BREVALO_ASAN_OPTIONS=(-DCMAKE_BUILD_TYPE=Debug -DBREVALO_SANITIZE=address,undefined
  -DBREVALO_FUZZ=ON -DBREVALO_BENCH=OFF)
brevalo_build_asan() {
  CC=clang CXX=clang++ brevalo_build "$1" "$2" "${BREVALO_ASAN_OPTIONS[@]}"
}
brevalo_configure_asan() {
  CC=clang CXX=clang++ brevalo_configure "$1" "${BREVALO_ASAN_OPTIONS[@]}"
}

# Steps that run beside the ones after them, for steps that mostly wait (tests that play in
# real time) or use one core (the fuzzer): `brevalo_background NAME COMMAND...` starts one,
# with its line and output going to a file; `brevalo_join NAME` waits for it, shows what it
# wrote, adds its tests to the run's counts and returns its status.
BREVALO_BACKGROUND_DIR=""
# The folder of the run's steps, BREVALO_BACKGROUND_DIR, made at the first call and removed on
# the way out.
brevalo_steps_folder() {
  if [ -z "$BREVALO_BACKGROUND_DIR" ]; then
    BREVALO_BACKGROUND_DIR=$(mktemp -d "${TMPDIR:-/tmp}/brevalo-steps.XXXXXX")
    trap brevalo_end_background EXIT
  fi
}
declare -A BREVALO_BACKGROUND_PIDS=()
brevalo_background() {
  local name=$1
  shift
  brevalo_steps_folder
  local out=$BREVALO_BACKGROUND_DIR/$name
  (
    BREVALO_TESTS_PASSED=0
    BREVALO_TESTS_SKIPPED=0
    status=0
    "$@" >"$out.line" 2>&1 || status=$?
    echo "$BREVALO_TESTS_PASSED $BREVALO_TESTS_SKIPPED" >"$out.counts"
    exit "$status"
  ) &
  BREVALO_BACKGROUND_PIDS[$name]=$!
}

brevalo_join() {
  local name=$1 status=0 passed=0 skipped=0
  local out=$BREVALO_BACKGROUND_DIR/$name
  wait "${BREVALO_BACKGROUND_PIDS[$name]}" || status=$?
  unset "BREVALO_BACKGROUND_PIDS[$name]"
  cat "$out.line"
  if [ -f "$out.counts" ]; then
    read -r passed skipped <"$out.counts"
  fi
  BREVALO_TESTS_PASSED=$((BREVALO_TESTS_PASSED + passed))
  BREVALO_TESTS_SKIPPED=$((BREVALO_TESTS_SKIPPED + skipped))
  return "$status"
}

# On the way out (a step failed): the steps still running beside are ended, each with the
# commands it started, and waited for.
brevalo_end_background() {
  local pid
  for pid in "${BREVALO_BACKGROUND_PIDS[@]}"; do
    pkill -TERM -P "$pid" 2>/dev/null || true
    kill -TERM "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$BREVALO_BACKGROUND_DIR"
}
