#!/usr/bin/env bash
# Installs what the build needs, builds from scratch and runs every test, offscreen and
# without waiting on any message box.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/setup.sh
rm -rf build
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
cd build
QT_QPA_PLATFORM=offscreen VANTREL_NONINTERACTIVE=1 ctest --output-on-failure -j"$(nproc)"
