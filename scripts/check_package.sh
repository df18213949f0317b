#!/usr/bin/env bash
# scripts/check_package.sh BUILD: makes the Debian package in the build folder BUILD, where the
# program is already built, and checks it as Debian's tools and a user meet it: the files it
# holds, the sound server's client libraries among its dependencies, its manual page rendering
# without a warning, the packaged program starting, and lintian finding no error. Prints one
# line of figures; on a fault, what went wrong.
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/brevalo-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() {
  echo "check_package: $*" >&2
  exit 1
}

# A failed cpack may leave the package of an earlier run behind: it must not be checked.
rm -f "$build"/brevalo_*.deb
(cd "$build" && cpack -G DEB) || fail "cpack failed"
debs=("$build"/brevalo_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single brevalo_*_amd64.deb"
deb=${debs[0]}

expected="./usr/bin/brevalo
./usr/share/doc/brevalo/changelog.gz
./usr/share/doc/brevalo/copyright
./usr/share/man/man1/brevalo.1.gz"
files=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
[ "$files" = "$expected" ] || fail "the package holds:
$files
instead of:
$expected"

# The sound server's clients are libraries the package depends on: PipeWire's own, PulseAudio's
# and SDL2's, found by dpkg-shlibdeps from the program's links.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libpipewire-0.3-0 libpulse0 libsdl2-2.0-0; do
  grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "the package does not depend on $library:
$depends"
done

dpkg-deb -x "$deb" "$work/root"
page=$work/root/usr/share/man/man1/brevalo.1.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >"$work/page.txt")
[ -z "$warnings" ] || fail "the manual page renders with warnings:
$warnings"
grep -q "^brevalo $(dpkg-deb -f "$deb" Version) " "$work/page.txt" ||
  fail "the manual page does not name the package's version"

# Stripped and with its libraries found from the package's dependencies, the program must still
# start: without a terminal it refuses with its own line and status 1.
status=0
refusal=$("$work/root/usr/bin/brevalo" </dev/null 2>&1 >/dev/null) || status=$?
[ "$status" -eq 1 ] && [ "$refusal" = \
  "brevalo: a full-screen interface needs a terminal on standard input and output" ] ||
  fail "the packaged program, without a terminal, exited with $status and wrote: $refusal"

lintian_output=$(lintian --fail-on error "$deb" 2>&1) ||
  fail "lintian reports errors:
$lintian_output"
lintian_warnings=$(grep -c '^W: ' <<<"$lintian_output" || true)

echo "$(basename "$deb"): $(wc -l <<<"$files") files, manual page clean," \
  "lintian: no error, $lintian_warnings warnings"
