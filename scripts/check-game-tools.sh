#!/usr/bin/env bash
# Forks the game's released source with forkit and builds the three modules
# the two ways the README gives a mod author, with the game's own compiler
# and assembler, and checks that qagame.qvm, cgame.qvm and ui.qvm land in the
# mod's vm folder, and nowhere else:
#   linux    forkit, its command files read by the Linux q3asm, the modules
#            compiled by examples/build-modules.sh with q3lcc;
#   windows  forkit.exe under Wine, then the game's own game.bat, cgame.bat
#            and ui.bat, copied along, run as `<module>.bat -I.` in Wine's cmd
#            with the Windows compiler and assembler; and "play it.bat" read
#            for the folder and the mod it starts.
#   scripts/check-game-tools.sh [FORKIT_EXE [FORKIT]]
# Without them it builds forkit.exe and forkit alone. The game's tools come
# from ../shared/q3sdk; without it the check is skipped. Prints a line per
# case and exits 1 if any failed; the logs stay in /tmp/forkit-game-tools-*/logs.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD

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
mkdir "$logs"
export WINE=${WINE:-/usr/lib/wine/wine64} WINEPREFIX=$work/tools/wineprefix WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and Wine would offer to fetch them.
export WINEDLLOVERRIDES='mscoree,mshtml='
echo "== forkit's output built with the game's compiler and assembler, in $work"

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

# build_forkit PRESET_ARGS... OUTPUT: forkit built alone into $work/PRESET.
build_forkit() {
  local folder=$work/forkit-$1
  shift
  { cmake -S . -B "$folder" -DFORKIT_TESTS=OFF "$@" && cmake --build "$folder" -j"$(nproc)"; } \
    >>"$logs/forkit-build.log" 2>&1 || { echo "error: building forkit failed, see $logs/forkit-build.log" >&2; exit 1; }
}
if [ $# -gt 0 ]; then forkit_exe=$(realpath "$1"); else
  build_forkit windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
  forkit_exe=$work/forkit-windows/forkit.exe
fi
if [ $# -gt 1 ]; then forkit=$(realpath "$2"); else
  build_forkit posix
  forkit=$work/forkit-posix/forkit
fi
[ -f "$forkit_exe" ] && [ -f "$forkit" ] || { echo "error: no $forkit_exe or $forkit" >&2; exit 1; }

tree=$work/q3tree
"$sdk/build.sh" "$sdk" "$work/tools" "$tree" >"$logs/tools.log" 2>&1 ||
  { echo "error: building the game's tools failed, see $logs/tools.log" >&2; exit 1; }
# Done with setting up its new prefix before the first case starts.
"$(dirname "$WINE")/wineserver" -w
# The game's own build scripts go along with each module, as the README
# tells; for Linux the build lists name their files with '/', as the
# README's command makes them.
for module in game cgame ui; do
  cp "$sdk/code/$module/$module.bat" "$tree/$module/"
  printf '%s.bat\r\n' "$module" >>"$tree/copy$module.dat"
done
cp -R "$tree" "$work/q3tree-linux"
for module in game cgame ui; do
  tr '\\' / <"$tree/build$module.dat" >"$work/q3tree-linux/build$module.dat"
done

# Wine takes its ANSI code page (1252) and OEM one (437) from the locale's
# name; C.UTF-8's data under that name gives them on any system.
mkdir "$work/locales"
ln -s /usr/lib/locale/C.utf8 "$work/locales/en_US.UTF-8"
in_1252=(env LOCPATH="$work/locales" LC_ALL=en_US.UTF-8)

winpath() { printf 'Z:%s' "${1//\//\\}"; }
# decode CODEPAGE <FILE: the file's text in UTF-8, without CRs.
decode() { iconv -c -f "$1" -t UTF-8 | tr -d '\r' || true; }

# build_linux SET: the README's Linux route, in the code set SET.
build_linux() {
  (cd "$1" && PATH=$work/tools/bin:$PATH sh "$here/examples/build-modules.sh")
}

# build_windows SET GAME MOD: the README's Windows route, in the code set
# SET, for MOD in GAME. Wine now and then fails to start one of the
# compiler's programs ("q3rcc: Invalid argument"): a module whose .qvm did
# not come is built again, three times at most.
build_windows() {
  local module out tries
  for module in game cgame ui; do
    out=$module
    [ "$module" = game ] && out=qagame
    for tries in 1 2 3; do
      (cd "$1/$module" && "${in_1252[@]}" "$WINE" cmd /c \
        "set PATH=$(winpath "$work/tools/winbin");%PATH%&& $module.bat -I.") || return 1
      [ -f "$2/$3/vm/$out.qvm" ] && break
      echo "== $module built again, try $((tries + 1))"
    done
  done
}

# launcher_reasons SET GAME MOD: why "play it.bat" in SET does not start MOD
# in GAME, a line each. It is in the OEM code page; '^' escapes and '%%' are
# the command interpreter's.
launcher_reasons() {
  local bat=$1/play\ it.bat game=$2 mod=$3 launcher drive folder where launched_mod
  [ -f "$bat" ] || { echo "no play it.bat"; return; }
  launcher=$(decode CP437 <"$bat")
  drive=$(sed -n 2p <<<"$launcher")
  folder=$(sed -n 's/^cd //p' <<<"$launcher" | sed 's/\^\(.\)/\1/g; s/%%/%/g')
  launched_mod=$(sed -n 's/^quake3\.exe .*fs_game "\([^"]*\)"$/\1/p' <<<"$launcher" | sed 's/%%/%/g')
  where=${folder:2}
  where=${where//\\//} # on Wine's Z:, which is /
  if [[ ! $folder =~ ^[A-Za-z]:\\ ]]; then
    echo "the launcher's cd names '$folder', not an absolute folder"
  elif [ "$drive" != "${folder:0:2}" ]; then
    echo "the launcher's drive line '$drive' is not the drive of '$folder'"
  elif [ "${drive^^}" != Z: ] || [ ! "$where" -ef "$game" ]; then
    echo "the launcher's cd names '$folder', not the game folder"
  fi
  [ "$launched_mod" = "$mod" ] || echo "the launcher starts mod '$launched_mod', not '$mod'"
}

# check_case ROUTE NAME Q3PATH GAME_FOLDER MOD: forks the route's tree into a
# new code set with Q3PATH as forkit's game folder, which is GAME_FOLDER on
# this machine, and builds the modules the route's way.
check_case() {
  local route=$1 name=$1-$2 q3path=$3 game=$4 mod=$5
  local dir=$work/cases/$name log=$logs/$name.log
  local set=$dir/set reasons=() out qvm magic found expected=() missing=() line
  mkdir -p "$dir" "$game"
  touch "$dir/start"
  # forkit's exit status is always 0: its console tells.
  if [ "$route" = linux ]; then
    (cd "$work/q3tree-linux" && "$forkit" "$mod" "$set" "$q3path") >"$log" 2>&1 || true
  else
    (cd "$tree" && "${in_1252[@]}" "$WINE" "$forkit_exe" "$mod" "$(winpath "$set")" "$q3path") >"$log" 2>&1 || true
  fi
  if ! grep -q '^Task complete' "$log" || grep -qE '^  Error|error was encountered' "$log"; then
    reasons+=("forkit reported an error")
  fi
  "build_$route" "$set" "$game" "$mod" >"$logs/$name-modules.log" 2>&1 ||
    reasons+=("the build stopped, see logs/$name-modules.log")
  if [ "$route" = windows ]; then
    while IFS= read -r line; do reasons+=("$line"); done < <(launcher_reasons "$set" "$game" "$mod")
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
  if [ ${#reasons[@]} -gt 0 ] && [ -f "$set/game/game.q3asm" ]; then
    reasons+=("-o line: $(head -n 1 "$set/game/game.q3asm" | decode "$([ "$route" = linux ] && echo UTF-8 || echo CP1252)")")
  fi
  if [ ${#reasons[@]} -eq 0 ]; then
    echo "OK    $name: '$q3path' + mod '$mod': the three .qvm files in the mod's vm folder"
  else
    echo "FAIL  $name: '$q3path' + mod '$mod': $(printf '%s; ' "${reasons[@]}")see ${log#"$work/"}"
    status=1
  fi
}

cases=$work/cases
for folder in Quake3 "Quake3 1.32" Aréna; do
  mod=mymod
  [ "$folder" = Aréna ] && mod=modé
  case=${folder%% *}
  [ "$folder" = "Quake3 1.32" ] && case=dot
  check_case linux "$case" "$cases/linux-$case/$folder" "$cases/linux-$case/$folder" "$mod"
  check_case windows "$case" "$(winpath "$cases/windows-$case/$folder")" "$cases/windows-$case/$folder" "$mod"
done
# A relative or driveless game folder is taken from the folder forkit runs in.
check_case windows relative '..\q3game' "$work/q3game" mymod
driveless=$(winpath "$cases/windows-driveless/q3game")
check_case windows driveless "${driveless#Z:}" "$cases/windows-driveless/q3game" mymod
exit "$status"
