#!/usr/bin/env bash
# Builds Brevalo's Debian package and installs it: scripts/install.sh. Only the program is built,
# in build-package/, where the package stays (brevalo_VERSION_amd64.deb); apt-get installs it
# with the libraries it depends on, and `apt-get remove brevalo` takes it away again.
set -eu
source "$(dirname "$0")/setup.sh"
# man-db reads the manual page; a minimal system may lack it.
brevalo_install_packages "${BREVALO_RUN_PACKAGES[@]}" man-db
brevalo_build build-package brevalo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVALO_TESTS=OFF \
  -DBREVALO_BENCH=OFF

build=$BREVALO_ROOT/build-package
rm -f "$build"/brevalo_*.deb
brevalo_step "Making the Debian package" cmake -E chdir "$build" cpack -G DEB
deb=$(echo "$build"/brevalo_*_amd64.deb)
[ "$(id -u)" -eq 0 ] || sudo -v
# --reinstall: a package rebuilt from changed sources may carry the version already installed.
brevalo_step "Installing $(basename "$deb")" brevalo_as_root env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -q --reinstall "$deb"
echo "Installed: $(command -v brevalo); see man brevalo"
