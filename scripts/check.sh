#!/usr/bin/env bash
# Builds forkit and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -DFORKIT_TESTS=ON
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure
