#!/usr/bin/env bash
# Times whole forkit runs with hyperfine against a plain copy through memory (plain_copy.c), cp and
# unix2dos doing the same work on generated trees, and prints the README's table. Not a test.
set -euo pipefail
usage="usage: [TMPDIR=/dev/shm] [RUNS=7] [TREES=game,large-lf,large-crlf,large-mixed,small] \\
           bench/run.sh [--tiny] [FORKIT]      (FORKIT: build/forkit; the plain copy: bench/ beside it)
Each round gives each tool a warm-up and a timed run, in turns. --tiny: 2 rounds of tiny trees, in seconds."
case ${1:-} in
-h | --help) echo "$usage" && exit 0 ;;
--tiny) tiny=1 && shift ;;
-*) echo "$usage" >&2 && exit 2 ;;
esac
here=$(cd "$(dirname "$0")" && pwd) tiny=${tiny:-0}
forkit=$(realpath "${1:-$here/../build/forkit}")
plain=$(dirname "$forkit")/bench/forkit_plain_copy runs=${RUNS:-$((tiny ? 2 : 7))}
work=$(mktemp -d -t forkit-bench.XXXXXX)
trap 'cd / && rm -rf "$work"' EXIT
mkdir "$work/results" "$work/check"

# A tool's command, run in the tree's root: the code set $out/src, the mod's folder in $out/q3.
command_of() {
    [[ $1 == forkit || $1 == plain ]] && printf '%q benchmod %q %q' "${!1}" "$out/src" "$out/q3" && return
    printf 'mkdir' && printf ' %q' "$out/q3/benchmod" "$out/src"{,/game,/cgame,/ui}
    for part in root game cgame ui; do # one call a part; mapfile reads its list without a process
        [[ $1 != cp ]] || printf ' && mapfile -t f <%q && cp -- "${f[@]}" %q' "$tree.$part" "$out/src/${part#root}"
        [[ $1 != unix2dos ]] || printf ' && mapfile -t f <%q && unix2dos -q -n "${f[@]}"' "$tree.$part.pairs"
    done
}

# Every run gets a fresh $out. Copies of small files are moved aside, not
# deleted, so that freeing thousands of files does not fall in the next run.
bench_tree() {
    local key=$1 tree=$work/$1 out=$work/$1.out order=(forkit plain cp unix2dos) tool round commands prepare measure
    [[ " game large-lf large-crlf large-mixed small " == *" $key "* ]] || { echo "no tree $key" >&2 && exit 2; }
    prepare="if [ -e ${out@Q} ]; then mv ${out@Q} \"\$(mktemp -d ${out@Q}.XXXX)\"; fi; mkdir -p ${out@Q}/q3"
    [[ $key != large-* ]] || prepare="rm -rf ${out@Q} && sync && mkdir -p ${out@Q}/q3"
    python3 "$here/trees.py" tree "$key" "$tiny" "$tree" "$out/src"
    sync && cd "$tree"
    for tool in "${order[@]}"; do # one run each to check before any timing, and forkit's peak memory
        [[ $tool == forkit ]] && measure="/usr/bin/time -f %M -o ${work@Q}/rss" || measure=
        bash -c "$prepare"
        bash -c "$measure $(command_of "$tool")" >"$work/console.$tool"
        mv "$out" "$work/check/$tool"
    done
    grep -qx 'Task complete' "$work/console.forkit" || { cat "$work/console.forkit" && exit 1; }
    python3 "$here/trees.py" check "$tree" "$work/check"
    rm -rf "$work/check/"*
    for ((round = 1; round <= runs; round++)); do
        commands=()
        for tool in "${order[@]}"; do commands+=(-n "$tool" "$(command_of "$tool")"); done
        hyperfine --shell bash --style none --runs 1 --warmup 1 --prepare "$prepare" "${commands[@]}" >/dev/null \
            --export-json "$work/results/$key.$round.json" 2>"$work/err" || { cat "$work/err" >&2 && exit 1; }
        order=("${order[3]}" "${order[2]}" "${order[1]}" "${order[0]}") # the next round backwards
        echo "$key: round $round of $runs done" >&2
    done
    echo "$(<"$tree.stats") $(<"$work/rss")" >>"$work/results/trees"
    cd "$work" && rm -rf "$tree" "$tree".*
}

IFS=, read -ra keys <<<"${TREES:-game,large-lf,large-crlf,large-mixed,small}"
for key in "${keys[@]}"; do bench_tree "$key"; done
machine="$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(nproc) cores, $(awk '/^MemTotal/ {
    printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) of memory, Linux $(uname -r), $(df --output=fstype "$work" |
    tail -n 1); $(hyperfine -V), $(unix2dos -V | head -n 1 | cut -d ' ' -f 1-2); $runs rounds"
python3 "$here/trees.py" table "$work/results" "$tiny" "$machine"
