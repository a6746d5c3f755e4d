#!/usr/bin/env bash
# Builds the Debian package vantrel-pc_<version>-1_<arch>.deb: installs what the build and
# the packaging need, builds into a folder of its own (build-package, or the one given) and
# runs CPack there. Prints the package's path last.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
build=${1:-build-package}
scripts/setup.sh --package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/vantrel-pc_*.deb
(cd "$build" && cpack -G DEB)
readlink -f "$build"/vantrel-pc_*.deb
