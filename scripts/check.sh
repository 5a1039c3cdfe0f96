#!/usr/bin/env bash
# Builds forkit and runs every test (the default preset, in build); then,
# where MinGW-w64 and Wine are installed, builds forkit.exe and runs the
# Windows suite under Wine (the windows preset, in build-win). Warnings are
# errors in both.
#   FORKIT_REQUIRE_WINDOWS=1   fail, rather than skip, without MinGW-w64 or Wine
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default
cmake --build --preset default -j"$(nproc)"
ctest --preset default

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
cmake --preset windows
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows
