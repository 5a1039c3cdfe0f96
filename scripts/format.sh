#!/usr/bin/env bash
# Formats forkit's C++ sources with clang-format 14 and .clang-format: every
# *.cpp and *.h that git tracks, except the example tree's.
#
#   scripts/format.sh           rewrites the files that are not formatted
#   scripts/format.sh --check   changes nothing; lists each place that is not
#                               formatted and fails if there is one
#
# Needs clang-format 14 (Debian: clang-format-14): other versions lay out some
# code differently.
set -euo pipefail
cd "$(dirname "$0")/.."

case ${1:-} in
'') mode=(-i) ;;
--check) mode=(--dry-run --Werror) ;;
*)
    echo "usage: scripts/format.sh [--check]" >&2
    exit 2
    ;;
esac

format=
for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null &&
        [[ $("$candidate" --version) =~ version\ 14\. ]]; then
        format=$candidate
        break
    fi
done
if [[ -z $format ]]; then
    echo "scripts/format.sh: needs clang-format 14 (Debian: clang-format-14)" >&2
    exit 2
fi

mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h' ':!:examples/')
if ((${#files[@]} == 0)); then
    echo "scripts/format.sh: git tracks no *.cpp or *.h file here" >&2
    exit 2
fi
if "$format" "${mode[@]}" -- "${files[@]}"; then
    [[ ${1:-} == --check ]] && echo "All ${#files[@]} C++ files are formatted."
    exit 0
fi
echo "Some C++ files are not formatted: run scripts/format.sh" >&2
exit 1
