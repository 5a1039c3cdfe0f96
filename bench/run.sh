#!/usr/bin/env bash
# Times whole forkit runs against cp doing the same copying, on three
# generated source trees, and reports medians, the ratio and forkit's peak
# resident memory. A benchmark, not a test: run it by hand. See usage().
set -euo pipefail
export LC_ALL=C

usage() {
    cat <<'USAGE'
Usage: bench/run.sh [options] [FORKIT]

Generates three source trees laid out as forkit expects and, for each, times
a whole forkit run against the same work done by a shell: mkdir for the same
folders, then one cp per part. The two alternate, each run into a fresh
destination, after one warm-up run of each; on the large tree each timed run
also follows an untimed run of the same tool (see measure()). Prints the
median wall time of each, forkit/cp, and forkit's peak resident memory (from
/usr/bin/time -v, in the warm-up). forkit's copies are checked byte for byte
after the warm-up and its console after every run; the exit status is 1 if
forkit went wrong, never because of a time.

  FORKIT, --forkit PATH  the forkit binary (default: build/forkit beside bench/).
                         This script builds nothing; build it first with
                         cmake -S . -B build -DFORKIT_TESTS=OFF && cmake --build build
  --tiny                 a few small files and 2 runs, in a few seconds: checks
                         that the benchmark works; its times mean nothing
  --runs N               timed runs of each tool per tree (default 7, tiny 2)
  --trees LIST           comma-separated, from game,large,small (default: all three)
  --endings KIND         line endings of the sources: mixed (default: half CR LF,
                         half LF), crlf or lf
  --tmp DIR              where to make the temporary folder (default: $TMPDIR or /tmp)
  -h, --help             this text

Trees at full size, in a root and the game, cgame and ui folders:
  game   330 files of 1 to 80 KB, 7.5 MiB in all
  large  8 files of 128 MiB, two per part
  small  20,000 files of 200 bytes

Copies of the game and small trees are kept until the end, and those of the
large tree deleted after each run: ext4 without a journal passes over every
inode freed in the last minute (six while its inode table block is still to
be written, as new files nearby keep it) each time it creates a file, so
deleting 20,000 copies before a run would slow the next many times over. For
the same reason, on such a file system let six minutes pass after any mass
deletion, this script's own clean-up included, before running it again.
USAGE
}

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
forkit="$here/../build/forkit"
tiny=0
runs=
trees=game,large,small
endings=mixed
tmp_parent=${TMPDIR:-/tmp}

while (($#)); do
    case $1 in
    --tiny) tiny=1 ;;
    --runs) runs=${2:?--runs needs a number}; shift ;;
    --trees) trees=${2:?--trees needs a list}; shift ;;
    --endings) endings=${2:?--endings needs mixed, crlf or lf}; shift ;;
    --tmp) tmp_parent=${2:?--tmp needs a folder}; shift ;;
    --forkit) forkit=${2:?--forkit needs a path}; shift ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) forkit=$1 ;;
    esac
    shift
done

usage_error() {
    echo "run.sh: $*" >&2
    exit 2
}
[[ -n $runs ]] || runs=$((tiny ? 2 : 7))
[[ $runs =~ ^[1-9][0-9]*$ ]] || usage_error "--runs takes a positive number"
[[ $endings =~ ^(mixed|crlf|lf)$ ]] || usage_error "--endings takes mixed, crlf or lf"
IFS=, read -ra wanted <<<"$trees"
((${#wanted[@]} > 0)) || usage_error "--trees names no tree"
for key in "${wanted[@]}"; do
    [[ $key =~ ^(game|large|small)$ ]] || usage_error "no tree called '$key'"
done
if [[ ! -x $forkit ]]; then
    usage_error "no forkit binary at $forkit; build it first:
  cmake -S . -B build -DFORKIT_TESTS=OFF && cmake --build build"
fi
forkit=$(cd "$(dirname "$forkit")" && pwd)/$(basename "$forkit")
[[ -x /usr/bin/time ]] || usage_error "needs /usr/bin/time (Debian package time)"

work=$(mktemp -d "$tmp_parent/forkit-bench.XXXXXX")
trap 'cd /; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# ---------------------------------------------------------------------------
# Tree generation: C-like lines of 0 to about 60 characters, as in the game's
# own source.
awk_text_functions='
    function pick(n) { return int(rand() * n) }
    function code_line(   r, name) {
        name = words[1 + pick(nwords)] "_" words[1 + pick(nwords)]
        r = pick(8)
        if (r == 0) return ""
        if (r == 1) return "\tif ( " name " > " pick(1000) " ) {"
        if (r == 2) return "\t\t" name " = " words[1 + pick(nwords)] "( ent, " pick(64) " );"
        if (r == 3) return "// " words[1 + pick(nwords)] " the " name " before the next frame"
        if (r == 4) return "\t}"
        if (r == 5) return "static int " name "( gentity_t *ent, vec3_t origin ) {"
        if (r == 6) return "\tVectorCopy( " name ", ent->s.origin );"
        return "#define " toupper(name) "\t" pick(4096)
    }
    # Exactly `size` bytes of lines, each ending in `eol`.
    function write_file(path, size, eol,   left, line, room) {
        left = size
        while (left >= length(eol)) {
            line = code_line()
            room = left - length(eol)
            if (length(line) > room) line = substr(line, 1, room)
            printf "%s%s", line, eol > path
            left -= length(line) + length(eol)
        }
        close(path)
    }
    function start_words() {
        nwords = split("player client weapon entity trace origin angles health " \
                       "score team item mover target trigger sound model", words)
    }
'

# One awk program writes every file of a tree, its copy lists and build
# lists, and a line "files bytes" of what the lists name. Arguments: tree
# folder, files per part (root game cgame ui), smallest and largest size in
# bytes, skew (sizes spread as min + (max - min) * u^skew for u in [0, 1)).
generate_tree() {
    local tree=$1 counts=$2 min=$3 max=$4 skew=$5
    mkdir -p "$tree/game" "$tree/cgame" "$tree/ui"
    (cd "$tree" && awk -v counts="$counts" -v min="$min" -v max="$max" -v skew="$skew" \
        -v endings="$endings" "
        $awk_text_functions"'
        BEGIN {
            srand(20240611)
            start_words()
            split(counts, count)
            split("root game cgame ui", part)
            split("copyproject.dat copygame.dat copycgame.dat copyui.dat", copy_list)
            split("- buildgame.dat buildcgame.dat buildui.dat", build_list)
            split("q g cg ui", prefix)
            files = 0; bytes = 0
            for (p = 1; p <= 4; p++) {
                folder = p == 1 ? "" : part[p] "/"
                list = copy_list[p]
                printf "" > list
                for (i = 0; i < count[p]; i++) {
                    ext = p == 1 ? (i % 2 ? ".txt" : ".bat") : (i % 3 ? ".c" : ".h")
                    base = sprintf("%s_%s_%05d", prefix[p], words[1 + i % nwords], i)
                    size = int(min + (max - min) * rand() ^ skew)
                    crlf = endings == "mixed" ? rand() < 0.5 : endings == "crlf"
                    write_file(folder base ext, size, crlf ? "\r\n" : "\n")
                    printf "%s%s\r\n", base, ext > list
                    if (p > 1 && ext == ".c") printf "%s\r\n", base > build_list[p]
                    files++; bytes += size
                }
                close(list)
                # A module with no .c file still has its build list.
                if (p > 1) { printf "" > build_list[p]; close(build_list[p]) }
            }
            printf "%d %d\n", files, bytes > "tree.stats"
        }')
}

# The large tree: files of `mib` MiB, `per_part` in each part, each made of
# copies of a 1 MiB block so that writing them takes seconds, not minutes.
# Mixed endings alternate from file to file.
generate_large_tree() {
    local tree=$1 per_part=$2 mib=$3
    generate_tree "$tree" "0 0 0 0" 0 0 1
    (cd "$tree" && awk "$awk_text_functions"'
        BEGIN {
            srand(7)
            start_words()
            write_file("block.crlf", 1048576, "\r\n")
            write_file("block.lf", 1048576, "\n")
        }'
        local kind i j p folder list name
        for kind in crlf lf; do
            for ((i = 0; i < 16; i++)); do cat "block.$kind"; done >"block16.$kind"
        done
        : >copyproject.dat
        local n=0
        for p in 0 1 2 3; do
            case $p in
            0) folder= list=copyproject.dat ;;
            1) folder=game/ list=copygame.dat ;;
            2) folder=cgame/ list=copycgame.dat ;;
            3) folder=ui/ list=copyui.dat ;;
            esac
            for ((i = 0; i < per_part; i++)); do
                kind=$endings
                if [[ $endings == mixed ]]; then
                    kind=$( ((n % 2 == 0)) && echo crlf || echo lf)
                fi
                name=level_dump_$n.txt
                if ((mib >= 16)); then
                    for ((j = 0; j < mib / 16; j++)); do cat "block16.$kind"; done
                else
                    for ((j = 0; j < mib; j++)); do cat "block.$kind"; done
                fi >"$folder$name"
                printf '%s\r\n' "$name" >>"$list"
                n=$((n + 1))
            done
        done
        rm -f block.* block16.*
        echo "$n $((n * mib * 1048576))" >tree.stats)
}

# ---------------------------------------------------------------------------
# The two contenders. Both run in the tree's root, into the same paths.

# The files a copy list names, as paths from the tree's root.
listed_paths() {
    local list=$1 folder=$2 name
    while IFS= read -r name || [[ -n $name ]]; do
        name=${name%$'\r'}
        [[ -z $name ]] || printf '%s\n' "$folder$name"
    done <"$list"
}

load_lists() {
    mapfile -t root_files < <(listed_paths copyproject.dat "")
    mapfile -t game_files < <(listed_paths copygame.dat game/)
    mapfile -t cgame_files < <(listed_paths copycgame.dat cgame/)
    mapfile -t ui_files < <(listed_paths copyui.dat ui/)
    all_files=("${root_files[@]}" "${game_files[@]}" "${cgame_files[@]}" "${ui_files[@]}")
}

modname=benchmod

run_forkit() {
    "$forkit" "$modname" "$dst" "$q3" >"$work/forkit.out"
}

# What forkit does, as a shell would: the same folders, then one cp per part.
run_cp() {
    mkdir "$q3/$modname" "$dst" "$dst/game" "$dst/cgame" "$dst/ui"
    ((${#root_files[@]} == 0)) || cp -- "${root_files[@]}" "$dst/"
    ((${#game_files[@]} == 0)) || cp -- "${game_files[@]}" "$dst/game/"
    ((${#cgame_files[@]} == 0)) || cp -- "${cgame_files[@]}" "$dst/cgame/"
    ((${#ui_files[@]} == 0)) || cp -- "${ui_files[@]}" "$dst/ui/"
}

# Every run writes into a folder of its own, where q3path exists and neither
# q3path/modname nor sourcepath does (see usage() for why they are kept). A
# large copy goes before the next run, and is synced away so that no
# writeback of it lands in a timed run.
run_number=0
out=
discard_copies=0
fresh_destination() {
    if ((discard_copies)) && [[ -n $out ]]; then
        rm -rf "$out"
        sync
    fi
    run_number=$((run_number + 1))
    printf -v out '%s/out/%04d' "$work" "$run_number"
    q3=$out/quake3
    dst=$out/$modname-src
    mkdir -p "$q3"
}

# Runs "$@" and sets `elapsed` to its wall time in microseconds.
timed() {
    local start=$EPOCHREALTIME
    "$@"
    local end=$EPOCHREALTIME
    elapsed=$((${end/./} - ${start/./}))
}

fail() {
    echo "run.sh: $*" >&2
    exit 1
}

# One timed run of `tool` (run_forkit or run_cp) into a fresh destination,
# with its time left in `elapsed`. A large copy is deleted before the next
# run, and the memory that frees is not alike for the two tools: on a
# virtual machine that hands freed memory back to its host, cp ran up to
# three times slower just after forkit than just after cp. So there each
# timed run comes after an untimed one of the same tool.
measure() {
    local tool=$1
    if ((discard_copies)); then
        fresh_destination
        "$tool"
    fi
    fresh_destination
    timed "$tool"
    if [[ $tool == run_forkit ]]; then
        check_forkit_console
    fi
}

# forkit must have said "Copied" for every listed file, reported no error and
# finished.
check_forkit_console() {
    local copied
    copied=$(grep -c ' Copied$' "$work/forkit.out" || true)
    ((copied == ${#all_files[@]})) ||
        fail "forkit copied $copied of ${#all_files[@]} files; besides, it printed:
$(grep -v ' Copied$' "$work/forkit.out")"
    ! grep -q 'Error' "$work/forkit.out" ||
        fail "forkit reported an error: $(grep -m1 Error "$work/forkit.out")"
    grep -q '^Task complete$' "$work/forkit.out" || fail "forkit did not finish"
}

# Every copy must be its source with a CR put before each LF that has none.
# Checked for all files at once: every copy has its expected size, and the
# copies one after another equal the converted sources one after another.
check_forkit_copies() {
    local copies=("${all_files[@]/#/$dst/}")
    [[ -z $(find "$dst" -name '*.forkit-new' -print -quit) ]] ||
        fail "forkit left temporary files in $dst"
    printf '%s\0' "${all_files[@]}" | xargs -0 awk '
        FNR == 1 && NR > 1 { print size; size = 0 }
        { sub(/\r$/, ""); size += length($0) + 2 }
        END { if (NR) print size }' >"$work/expected.sizes"
    printf '%s\0' "${copies[@]}" | xargs -0 stat -c %s >"$work/actual.sizes"
    cmp -s "$work/expected.sizes" "$work/actual.sizes" || fail "a copy has the wrong size"
    cmp -s <(printf '%s\0' "${all_files[@]}" | xargs -0 sed 's/\r$//; s/$/\r/') \
        <(printf '%s\0' "${copies[@]}" | xargs -0 cat 2>/dev/null) || fail "a copy differs from its source"
}

median() {
    sort -n | awk '{ v[NR] = $1 }
        END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Prints one row of the results: medians, ratio, memory.
bench_tree() {
    local key=$1 label=$2 target=$3 tree=$work/trees/$1
    local files bytes rss i
    read -r files bytes <"$tree/tree.stats"
    discard_copies=$([[ $key == large ]] && echo 1 || echo 0)
    cd "$tree"
    load_lists

    # Warm-up: each tool once, forkit under /usr/bin/time for its peak
    # memory, and its copies checked.
    fresh_destination
    /usr/bin/time -v -o "$work/time.out" "$forkit" "$modname" "$dst" "$q3" >"$work/forkit.out"
    check_forkit_console
    check_forkit_copies
    rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.out")
    fresh_destination
    run_cp

    local forkit_times=() cp_times=()
    for ((i = 0; i < runs; i++)); do
        # Alternate which goes first, so that neither always follows the other.
        if ((i % 2 == 0)); then
            measure run_forkit; forkit_times+=("$elapsed")
            measure run_cp; cp_times+=("$elapsed")
        else
            measure run_cp; cp_times+=("$elapsed")
            measure run_forkit; forkit_times+=("$elapsed")
        fi
    done
    if ((discard_copies)); then
        rm -rf "$out"
    fi
    out=
    cd "$work"

    local forkit_median cp_median forkit_best cp_best
    forkit_median=$(printf '%s\n' "${forkit_times[@]}" | median)
    cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
    forkit_best=$(printf '%s\n' "${forkit_times[@]}" | sort -n | head -n 1)
    cp_best=$(printf '%s\n' "${cp_times[@]}" | sort -n | head -n 1)
    awk -v label="$label" -v files="$files" -v bytes="$bytes" -v f="$forkit_median" \
        -v c="$cp_median" -v fb="$forkit_best" -v cb="$cp_best" -v target="$target" \
        -v rss="$rss" -v tiny="$tiny" 'BEGIN {
        ratio = f / c
        verdict = tiny ? "-" : ratio <= target ? "ok" : "MISSED"
        printf "%-12s %6d %9.1f %10.3f %8.3f %9.2f %6s %6.2f %9.2f %9d\n", label, files,
               bytes / 1048576, f / 1e6, c / 1e6, ratio, verdict, target, fb / cb, rss }'
    echo "$key forkit ${forkit_times[*]}" >>"$work/all.times"
    echo "$key cp ${cp_times[*]}" >>"$work/all.times"
    echo "$rss" >>"$work/all.rss"
}

# ---------------------------------------------------------------------------

describe_machine() {
    local cpu mem fs
    cpu=$(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: *//')
    mem=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
    fs=$(df --output=fstype "$work" | tail -n 1)
    echo "machine: $(nproc) cores, $cpu, $mem memory, kernel $(uname -r)"
    echo "temp:    $work on $fs"
    echo "forkit:  $forkit"
}

describe_machine
echo "scale:   $( ((tiny)) && echo tiny || echo full ), $endings line endings," \
    "$runs timed runs of each tool per tree after a warm-up"

started=$SECONDS
for key in "${wanted[@]}"; do
    tree=$work/trees/$key
    if ((tiny)); then
        case $key in
        game) generate_tree "$tree" "2 4 3 3" 1024 81920 2.4 ;;
        large) generate_large_tree "$tree" 1 2 ;;
        small) generate_tree "$tree" "5 20 20 15" 200 200 1 ;;
        esac
    else
        case $key in
        game) generate_tree "$tree" "12 130 110 78" 1024 81920 2.4 ;;
        large) generate_large_tree "$tree" 2 128 ;;
        small) generate_tree "$tree" "500 7000 6500 6000" 200 200 1 ;;
        esac
    fi
done
# The trees are written out now rather than in the middle of a timed run.
sync
echo "trees:   generated in $((SECONDS - started)) s"
echo

printf '%-12s %6s %9s %10s %8s %9s %6s %6s %9s %9s\n' tree files MiB 'forkit s' 'cp s' \
    forkit/cp '' target 'best/best' 'peak KiB'
for key in "${wanted[@]}"; do
    case $key in
    game) bench_tree game game-sized 1.20 ;;
    large) bench_tree large 'large files' 1.25 ;;
    small) bench_tree small 'many small' 1.30 ;;
    esac
done
echo
echo "Times and forkit/cp are medians of $runs runs; best/best is the fastest forkit run"
echo "over the fastest cp run. forkit's peak memory is to stay under 4096 KiB."
echo "All times, in microseconds, in the order run:"
sed 's/^/  /' "$work/all.times"

cleanup_started=$SECONDS
cd /
rm -rf "$work"
echo "Benchmark took $((cleanup_started - started)) s, and removing its files $((SECONDS - cleanup_started)) s."
