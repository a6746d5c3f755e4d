#!/usr/bin/env bash
# Installs what the build needs and builds both programs and the simulator into build/bin.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
