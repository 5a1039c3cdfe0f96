#!/usr/bin/env bash
# Builds forkit and runs every test; then, where MinGW-w64 and Wine are
# installed, builds forkit.exe and runs the Windows suite under Wine.
#   FORKIT_BUILD=DIR           the native build folder (default: build)
#   FORKIT_WINDOWS_BUILD=DIR   the Windows build folder (default: build-win)
#   FORKIT_REQUIRE_WINDOWS=1   fail, rather than skip, without MinGW-w64 or Wine
set -euo pipefail
cd "$(dirname "$0")/.."
build=${FORKIT_BUILD:-build}
windows_build=${FORKIT_WINDOWS_BUILD:-build-win}

cmake -S . -B "$build" -DFORKIT_TESTS=ON -DFORKIT_WERROR=ON
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
  missing+=("MinGW-w64 (g++-mingw-w64-x86-64-posix)")
[ -x /usr/lib/wine/wine64 ] || command -v wine64 >/dev/null || missing+=("Wine (wine64)")
if [ ${#missing[@]} -gt 0 ]; then
  reason="$(printf '%s and ' "${missing[@]}")"
  reason="${reason% and } not installed"
  if [ "${FORKIT_REQUIRE_WINDOWS:-0}" = 1 ]; then
    echo "error: the Windows suite is required, but $reason" >&2
    exit 1
  fi
  echo "Skipped the Windows suite (forkit.exe under Wine): $reason."
  exit 0
fi

echo "== The Windows suite: forkit.exe built with MinGW-w64 and tested under Wine"
cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DFORKIT_TESTS=ON -DFORKIT_WERROR=ON
cmake --build "$windows_build" -j"$(nproc)"
ctest --test-dir "$windows_build" --output-on-failure
