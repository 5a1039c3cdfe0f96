#!/usr/bin/env bash
# Forks a real source tree with forkit.exe under Wine, builds the three modules
# with the game's own compiler and assembler from the command files forkit
# wrote, and checks that qagame.qvm, cgame.qvm and ui.qvm land where
# "play it.bat" sends the game and the mod, and nowhere else.
#   scripts/check-game-tools.sh [FORKIT_EXE]
# Without FORKIT_EXE it builds forkit.exe alone. The game's tools come from
# ../shared/q3sdk; without it the check is skipped. Prints a line per case and
# exits 1 if any failed; the logs stay in /tmp/forkit-game-tools-*/logs.
set -euo pipefail
cd "$(dirname "$0")/.."

sdk=../shared/q3sdk
if [ ! -d "$sdk" ]; then
  echo "Skipped the check on the game's tools: no $sdk beside the repository."
  exit 0
fi
sdk=$(cd "$sdk" && pwd)
[ -d /usr/lib/locale/C.utf8 ] || { echo "error: Wine's code pages need /usr/lib/locale/C.utf8" >&2; exit 1; }

# /tmp, not $TMPDIR: a dot anywhere in the game folder would make every case
# a dotted one.
work=$(mktemp -d /tmp/forkit-game-tools-XXXXXX)
work=$(cd "$work" && pwd -P)
logs=$work/logs
tree=$work/q3tree
mkdir "$logs"
export WINE=${WINE:-/usr/lib/wine/wine64} WINEPREFIX=$work/tools/wineprefix WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and Wine would offer to fetch them.
export WINEDLLOVERRIDES='mscoree,mshtml='
echo "== forkit.exe's output built with the game's compiler and assembler, in $work"

# The Wine prefix alone is some 700 MB: it goes whatever happens (once Wine
# is done with it), and all but the logs go when every case passed.
status=0
# shellcheck disable=SC2317 # run by the trap
finish() {
  "$(dirname "$WINE")/wineserver" -w || true
  rm -rf "$work/tools"
  [ "$status" -ne 0 ] || find "$work" -mindepth 1 -maxdepth 1 ! -name logs -exec rm -rf {} +
  echo "Logs in $logs"
}
trap finish EXIT

if [ $# -gt 0 ]; then
  forkit=$(realpath "$1")
else
  forkit=$work/forkit/forkit.exe
  { cmake -S . -B "$work/forkit" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DFORKIT_TESTS=OFF &&
    cmake --build "$work/forkit" -j"$(nproc)"; } >"$logs/forkit-build.log" 2>&1 ||
    { echo "error: building forkit.exe failed, see $logs/forkit-build.log" >&2; exit 1; }
fi
[ -f "$forkit" ] || { echo "error: no $forkit" >&2; exit 1; }

"$sdk/build.sh" "$sdk" "$work/tools" "$tree" >"$logs/tools.log" 2>&1 ||
  { echo "error: building the game's tools failed, see $logs/tools.log" >&2; exit 1; }

# Wine takes its ANSI code page (1252) and OEM one (437) from the locale's
# name; C.UTF-8's data under that name gives them on any system.
mkdir "$work/locales"
ln -s /usr/lib/locale/C.utf8 "$work/locales/en_US.UTF-8"
in_1252=(env LOCPATH="$work/locales" LC_ALL=en_US.UTF-8)

winpath() { printf 'Z:%s' "${1//\//\\}"; }
# decode CODEPAGE <FILE: the file's text in UTF-8, without CRs.
decode() { iconv -c -f "$1" -t UTF-8 | tr -d '\r' || true; }

# check_case NAME Q3PATH GAME_FOLDER MOD: forks the tree into a new code set
# with Q3PATH as forkit's game folder, which is GAME_FOLDER on this machine.
check_case() {
  local name=$1 q3path=$2 game=$3 mod=$4
  local dir=$work/cases/$name log=$logs/$name.log
  local set=$dir/set bat=$dir/set/play\ it.bat
  local reasons=() launcher drive folder where launched_mod out qvm magic found expected=() missing=()
  mkdir -p "$dir" "$game" "$logs/$name"
  touch "$dir/start"
  # forkit's exit status is always 0: its console tells.
  (cd "$tree" && "${in_1252[@]}" "$WINE" "$forkit" "$mod" "$(winpath "$set")" "$q3path") >"$log" 2>&1 || true
  if ! grep -q '^Task complete' "$log" || grep -qE '^  Error|error was encountered' "$log"; then
    reasons+=("forkit.exe reported an error")
  fi
  # Built the game's scripts' way. Where the modules land is checked below, so
  # only its reports of sources that did not compile count here.
  "${in_1252[@]}" LOGDIR="$logs/$name" Q3TOOLS="$work/tools" \
    "$sdk/check-codeset.sh" "$set" "$(winpath "$game")" "$mod" >"$logs/$name/modules.log" 2>&1 || true
  if grep -qE '^  (compile failed|no source|missing|no command file)' "$logs/$name/modules.log"; then
    reasons+=("not every source compiled, see logs/$name/modules.log")
  fi

  # The launcher is in the OEM code page; '^' escapes and '%%' are the
  # command interpreter's.
  if [ -f "$bat" ]; then
    launcher=$(decode CP437 <"$bat")
    drive=$(sed -n 2p <<<"$launcher")
    folder=$(sed -n 's/^cd //p' <<<"$launcher" | sed 's/\^\(.\)/\1/g; s/%%/%/g')
    launched_mod=$(sed -n 's/^quake3\.exe .*fs_game "\([^"]*\)"$/\1/p' <<<"$launcher" | sed 's/%%/%/g')
    where=${folder:2}
    where=${where//\\//} # on Wine's Z:, which is /
    if [[ ! $folder =~ ^[A-Za-z]:\\ ]]; then
      reasons+=("the launcher's cd names '$folder', not an absolute folder")
    elif [ "$drive" != "${folder:0:2}" ]; then
      reasons+=("the launcher's drive line '$drive' is not the drive of '$folder'")
    elif [ "${drive^^}" != Z: ] || [ ! "$where" -ef "$game" ]; then
      reasons+=("the launcher's cd names '$folder', not the game folder")
    fi
    [ "$launched_mod" = "$mod" ] || reasons+=("the launcher starts mod '$launched_mod', not '$mod'")
  else
    reasons+=("no play it.bat")
  fi

  for out in qagame cgame ui; do
    qvm=$game/$mod/vm/$out.qvm
    expected+=(-e "$qvm")
    magic=$(od -An -tx4 -N4 "$qvm" 2>/dev/null | tr -d ' ') || true
    [ -f "$qvm" ] || { missing+=("$out.qvm"); continue; }
    [ "$magic" = 12721444 ] || reasons+=("$out.qvm starts with 0x$magic, not the qvm magic")
  done
  [ ${#missing[@]} -eq 0 ] || reasons+=("no ${missing[*]} in ${game#"$work/"}/$mod/vm")
  # Anything the assembler wrote elsewhere, such as a name cut at a dot.
  found=$(find "$work" -name '*.qvm' -newer "$dir/start" | grep -vxF "${expected[@]}") || true
  [ -z "$found" ] || reasons+=("modules written elsewhere: $(paste -sd ' ' <<<"${found//"$work/"/}")")
  # The command files are in the ANSI code page.
  if [ ${#reasons[@]} -gt 0 ] && [ -f "$set/game/game.q3asm" ]; then
    reasons+=("-o line: $(head -n 1 "$set/game/game.q3asm" | decode CP1252)")
  fi

  if [ ${#reasons[@]} -eq 0 ]; then
    echo "OK    $name: '$q3path' + mod '$mod': the three .qvm files where play it.bat sends the game"
  else
    echo "FAIL  $name: '$q3path' + mod '$mod': $(printf '%s; ' "${reasons[@]}")see ${log#"$work/"}"
    status=1
  fi
}

cases=$work/cases
check_case plain "$(winpath "$cases/plain/Quake3")" "$cases/plain/Quake3" mymod
check_case dot "$(winpath "$cases/dot/Quake3 1.32")" "$cases/dot/Quake3 1.32" mymod
check_case accents "$(winpath "$cases/accents/Aréna")" "$cases/accents/Aréna" modé
# A relative or driveless game folder is taken from the folder forkit runs in.
check_case relative '..\q3game' "$work/q3game" mymod
driveless=$(winpath "$cases/driveless/q3game")
check_case driveless "${driveless#Z:}" "$cases/driveless/q3game" mymod
exit "$status"
