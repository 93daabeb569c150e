#!/usr/bin/env bash
# Builds the Debian packages from a clean release build:
#   dist/orvel-middleware_<version>_amd64.deb
#   dist/orvel-cardsim_<version>_amd64.deb
#   scripts/package.sh
# The build directory build-pkg/ is made afresh with the release flags (and
# the /usr prefix); ccache hands it the release build's objects. Only what
# the packages hold is built; CPack installs it with `cmake --install`
# (stripped) and dpkg-shlibdeps computes the library dependencies.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

build=build-pkg
rm -rf "$build" dist
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=ON \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target orvel_packaged
(cd "$build" && cpack -G DEB -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
ls -l dist/*.deb
