#!/usr/bin/env bash
# Times whole forkit runs with hyperfine against cp (and unix2dos) doing the
# same work on generated source trees, and prints a table of medians, ratios
# and forkit's peak memory. A benchmark, not a test: run it by hand. See usage().
set -euo pipefail
export LC_ALL=C

usage() {
    cat <<'USAGE'
Usage: bench/run.sh [options] [FORKIT]

Generates source trees laid out as forkit expects and, for each, times with
hyperfine a whole forkit run against the same work done by a shell: mkdir for
the same folders, then one cp per part. On the large trees unix2dos is timed
too, run once per file as `unix2dos -q -n SOURCE COPY`: it makes the same CR LF
copies as forkit, so it shows forkit beside the tool one would otherwise use.
And so is dd, run once per file as `dd if=SOURCE of=COPY bs=128K`: a copy
through the program's memory in blocks as large as forkit's, translating
nothing, so it shows what any copy that must see the bytes pays beyond cp's.
Prints a Markdown table: the median wall time of each tool, forkit/cp against
its target, forkit/dd, forkit/unix2dos, and forkit's peak resident memory (from
/usr/bin/time -v). Before the timed runs forkit runs once on each tree, and
its console and copies are checked byte for byte (and unix2dos's copies
against forkit's); the exit status is 1 if forkit went wrong, never because of
a time.

  FORKIT, --forkit PATH  the forkit binary (default: build/forkit beside bench/).
                         This script builds nothing; build it first with
                         cmake -S . -B build -DFORKIT_TESTS=OFF && cmake --build build
  --baseline PATH        a second forkit binary, say one built before a change,
                         timed in the same rounds as FORKIT and checked the same
                         way; the table gains its times and forkit/baseline
  --tiny                 a few small files and 2 runs, in seconds: checks that
                         the benchmark works; its times mean nothing
  --runs N               timed runs of each tool per tree (default 7, tiny 2)
  --warmup N             untimed runs of each tool before each timed run
                         (default 1; unix2dos has none, see below)
  --trees LIST           comma-separated, from game, large-lf, large-crlf,
                         large-mixed, small, and large for all three large ones
                         (default: all five)
  --tmp DIR              where to make the temporary folder (default: $TMPDIR
                         or /tmp); /dev/shm keeps the disk out of the figures
  --json DIR             keep hyperfine's JSON files (and the trees' facts) in
                         DIR; bench/table.py DIR prints the table again
  -h, --help             this text

Trees at full size, in a root and the game, cgame and ui folders:
  game         330 files of 1 to 80 KB, 7.5 MiB in all, half CR LF, half LF
  large-lf     8 files of 128 MiB, two per part, LF line ends
  large-crlf   the same with CR LF line ends, which forkit copies as they are
  large-mixed  the same, CR LF and LF files alternating
  small        20,000 files of 200 bytes, half CR LF, half LF

Runs and rounds: hyperfine gives each command all its runs before the next
command starts, so one call per tree would time forkit and cp minutes apart
on a machine whose speed drifts. Instead a tree is timed in N rounds, each one
hyperfine call that gives every tool --warmup untimed runs and then one timed
run; odd rounds start with forkit, even ones end with it, and the medians
are taken over the rounds. Every run, warm-up or timed, gets a fresh destination
from hyperfine's --prepare. On a large tree a timed run thus follows a run of
the same tool: the copy before it is deleted, and on a virtual machine that
hands freed memory back to its host the next run pays for that, cp up to three
times over just after forkit. unix2dos, ten times slower than cp, gets a call
of its own in each round, without warm-up.

Copies of the game and small trees are moved aside and kept until the end,
and those of the large trees deleted before the next run: ext4 without a
journal passes over every inode freed in the last minute (six while its inode
table block is still to be written, as new files nearby keep it) each time it
creates a file, so deleting 20,000 copies before a run would slow the next
many times over. For the same reason, on such a file system let six minutes
pass after any mass deletion, this script's own clean-up included, before
running it again. On tmpfs (--tmp /dev/shm) the kept copies take memory: up
to 3.5 GiB for the small tree with a baseline.

Needs hyperfine, unix2dos (Debian: dos2unix), /usr/bin/time (Debian: time)
and python3.
USAGE
}

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
forkit="$here/../build/forkit"
baseline=
tiny=0
runs=
warmup=1
trees=game,large,small
tmp_parent=${TMPDIR:-/tmp}
keep_json=

while (($#)); do
    case $1 in
    --tiny) tiny=1 ;;
    --runs) runs=${2:?--runs needs a number}; shift ;;
    --warmup) warmup=${2:?--warmup needs a number}; shift ;;
    --trees) trees=${2:?--trees needs a list}; shift ;;
    --tmp) tmp_parent=${2:?--tmp needs a folder}; shift ;;
    --json) keep_json=${2:?--json needs a folder}; shift ;;
    --forkit) forkit=${2:?--forkit needs a path}; shift ;;
    --baseline) baseline=${2:?--baseline needs a path}; shift ;;
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
[[ $warmup =~ ^[0-9]+$ ]] || usage_error "--warmup takes a number"
IFS=, read -ra listed <<<"$trees"
wanted=()
for key in "${listed[@]}"; do
    case $key in
    game | large-lf | large-crlf | large-mixed | small) wanted+=("$key") ;;
    large) wanted+=(large-lf large-crlf large-mixed) ;;
    *) usage_error "no tree called '$key'" ;;
    esac
done
((${#wanted[@]} > 0)) || usage_error "--trees names no tree"
absolute_binary() {
    [[ -x $1 ]] || usage_error "no forkit binary at $1; build it first:
  cmake -S . -B build -DFORKIT_TESTS=OFF && cmake --build build"
    echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}
forkit=$(absolute_binary "$forkit")
[[ -z $baseline ]] || baseline=$(absolute_binary "$baseline")
for tool in hyperfine unix2dos python3; do
    command -v "$tool" >/dev/null || usage_error "needs $tool (see --help)"
done
[[ -x /usr/bin/time ]] || usage_error "needs /usr/bin/time (Debian package time)"
if [[ -n $keep_json ]]; then
    [[ ! -e $keep_json || -z $(ls -A "$keep_json") ]] ||
        usage_error "--json takes a new or empty folder; $keep_json has files"
fi
work=$(mktemp -d "$tmp_parent/forkit-bench.XXXXXX")
trap 'cd /; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
results=${keep_json:-$work/results}
mkdir -p "$results" "$work/out"
results=$(cd "$results" && pwd)
printf 'key\tlabel\tfiles\tbytes\ttarget\tforkit_rss_kib\tbaseline_rss_kib\tscale\n' \
    >"$results/trees.tsv"

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
# bytes, skew (sizes spread as min + (max - min) * u^skew for u in [0, 1)),
# line ends (mixed: each file CR LF or LF at random).
generate_tree() {
    local tree=$1 counts=$2 min=$3 max=$4 skew=$5 endings=$6
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

# A large tree: files of `mib` MiB, `per_part` in each part, each made of
# copies of a 1 MiB block so that writing them takes seconds, not minutes.
# Mixed line ends alternate from file to file.
generate_large_tree() {
    local tree=$1 per_part=$2 mib=$3 endings=$4
    generate_tree "$tree" "0 0 0 0" 0 0 1 "$endings"
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
            0) folder='' list=copyproject.dat ;;
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

# Writes the lists of the files that the copy lists name, as paths from the
# tree's root, into $tree.lists/: root, game, cgame, ui and all.
write_path_lists() {
    local tree=$1 lists=$1.lists
    mkdir -p "$lists"
    local part list folder name
    for part in root game cgame ui; do
        case $part in
        root) list=copyproject.dat folder='' ;;
        *) list=copy$part.dat folder=$part/ ;;
        esac
        while IFS= read -r name || [[ -n $name ]]; do
            name=${name%$'\r'}
            [[ -z $name ]] || printf '%s\n' "$folder$name"
        done <"$tree/$list" >"$lists/$part"
    done
    cat "$lists"/{root,game,cgame,ui} >"$lists/all"
}

# ---------------------------------------------------------------------------
# The tools, as commands for bash run in the tree's root, writing under the
# destination folder OUT: the mod's folder OUT/quake3/benchmod and the code
# set OUT/benchmod-src.

modname=benchmod

# tool_command TOOL OUT LISTS
tool_command() {
    local tool=$1 out=$2 lists=$3
    local q3=$out/quake3 dst=$out/$modname-src
    local mkdirs
    printf -v mkdirs 'mkdir %q %q %q %q %q' "$q3/$modname" "$dst" "$dst/game" "$dst/cgame" "$dst/ui"
    case $tool in
    forkit) printf '%q %q %q %q' "$forkit" "$modname" "$dst" "$q3" ;;
    baseline) printf '%q %q %q %q' "$baseline" "$modname" "$dst" "$q3" ;;
    cp)
        # mapfile reads a list without starting a process, so the shell's
        # work is mkdir and one cp per part, as forkit's is one process.
        printf '%s' "$mkdirs"
        local part to
        for part in root game cgame ui; do
            to=$dst/
            [[ $part == root ]] || to=$dst/$part/
            [[ ! -s $lists/$part ]] ||
                printf ' && mapfile -t f <%q && cp -- "${f[@]}" %q' "$lists/$part" "$to"
        done
        ;;
    unix2dos)
        printf '%s && mapfile -t f <%q && for p in "${f[@]}"; do unix2dos -q -n "$p" %q/"$p" || exit; done' \
            "$mkdirs" "$lists/all" "$dst"
        ;;
    dd)
        printf '%s && mapfile -t f <%q && for p in "${f[@]}"; do dd if="$p" of=%q/"$p" bs=128K status=none || exit; done' \
            "$mkdirs" "$lists/all" "$dst"
        ;;
    esac
}

# fresh_destination OUT KEEP: an empty OUT/quake3 and nothing else in OUT. A
# copy left there is moved aside when KEEP is 1 (see usage() for why), or
# deleted and synced away so that no writeback of it lands in a timed run.
cat >"$work/fresh-destination" <<'FRESH'
#!/usr/bin/env bash
set -eu
out=$1 keep=$2
if [[ -e $out ]]; then
    if ((keep)); then
        mv "$out" "$(mktemp -d "$out.kept.XXXXXX")/"
    else
        rm -rf "$out"
        sync
    fi
fi
mkdir -p "$out/quake3"
FRESH
chmod +x "$work/fresh-destination"

fail() {
    echo "run.sh: $*" >&2
    exit 1
}

# forkit must have said "Copied" for every listed file, reported no error and
# finished.
check_console() {
    local name=$1 console=$2 files=$3 copied
    copied=$(grep -c ' Copied$' "$console" || true)
    ((copied == files)) ||
        fail "$name copied $copied of $files files; besides, it printed:
$(grep -v ' Copied$' "$console")"
    ! grep -q 'Error' "$console" || fail "$name reported an error: $(grep -m1 Error "$console")"
    grep -q '^Task complete$' "$console" || fail "$name did not finish"
}

# Every copy must be its source with a CR put before each LF that has none.
# Checked for all files at once: every copy has its expected size, and the
# copies one after another equal the converted sources one after another.
check_copies() {
    local name=$1 dst=$2 lists=$3
    local sources=() copies=()
    mapfile -t sources <"$lists/all"
    copies=("${sources[@]/#/$dst/}")
    [[ -z $(find "$dst" -name '*.forkit-new' -print -quit) ]] ||
        fail "$name left temporary files in $dst"
    printf '%s\0' "${sources[@]}" | xargs -0 awk '
        FNR == 1 && NR > 1 { print size; size = 0 }
        { sub(/\r$/, ""); size += length($0) + 2 }
        END { if (NR) print size }' >"$work/expected.sizes"
    printf '%s\0' "${copies[@]}" | xargs -0 stat -c %s >"$work/actual.sizes"
    cmp -s "$work/expected.sizes" "$work/actual.sizes" || fail "a copy of $name has the wrong size"
    cmp -s <(printf '%s\0' "${sources[@]}" | xargs -0 sed 's/\r$//; s/$/\r/') \
        <(printf '%s\0' "${copies[@]}" | xargs -0 cat 2>/dev/null) ||
        fail "a copy of $name differs from its source"
}

# Runs forkit (or the baseline) BINARY once into a folder of its own under
# /usr/bin/time, checks its console and copies, and prints its peak resident
# memory in KiB.
check_forkit() {
    local tool=$1 binary=$2 out=$3 lists=$4 files=$5
    "$work/fresh-destination" "$out" 0
    /usr/bin/time -v -o "$work/time.out" "$binary" "$modname" "$out/$modname-src" \
        "$out/quake3" >"$work/console.out"
    check_console "$tool" "$work/console.out" "$files"
    check_copies "$tool" "$out/$modname-src" "$lists"
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.out"
}

# ---------------------------------------------------------------------------

# bench_tree KEY LABEL TARGET: generates the tree, checks the tools on it,
# times them in rounds and adds a line to trees.tsv.
bench_tree() {
    local key=$1 label=$2 target=$3
    local tree=$work/trees/$key lists=$work/trees/$key.lists
    local large=0 keep=1
    [[ $key != large-* ]] || large=1 keep=0

    local started=$SECONDS
    if ((tiny)); then
        case $key in
        game) generate_tree "$tree" "2 4 3 3" 1024 81920 2.4 mixed ;;
        large-*) generate_large_tree "$tree" 1 2 "${key#large-}" ;;
        small) generate_tree "$tree" "5 20 20 15" 200 200 1 mixed ;;
        esac
    else
        case $key in
        game) generate_tree "$tree" "12 130 110 78" 1024 81920 2.4 mixed ;;
        large-*) generate_large_tree "$tree" 2 128 "${key#large-}" ;;
        small) generate_tree "$tree" "500 7000 6500 6000" 200 200 1 mixed ;;
        esac
    fi
    write_path_lists "$tree"
    local files bytes
    read -r files bytes <"$tree/tree.stats"
    # The tree is written out now rather than in the middle of a timed run.
    sync
    cd "$tree"

    local forkit_rss baseline_rss=-
    forkit_rss=$(check_forkit forkit "$forkit" "$work/check/forkit" "$lists" "$files")
    if [[ -n $baseline ]]; then
        baseline_rss=$(check_forkit baseline "$baseline" "$work/check/baseline" "$lists" "$files")
    fi
    if ((large)); then
        "$work/fresh-destination" "$work/check/unix2dos" 0
        bash -c "$(tool_command unix2dos "$work/check/unix2dos" "$lists")"
        local path
        while IFS= read -r path; do
            cmp -s "$work/check/forkit/$modname-src/$path" "$work/check/unix2dos/$modname-src/$path" ||
                fail "unix2dos's copy of $path differs from forkit's"
        done <"$lists/all"
    fi
    if ((keep)); then
        mv "$work/check" "$work/out/$key.check"
    else
        rm -rf "$work/check"
    fi
    echo "$label: $files files generated and checked in $((SECONDS - started)) s" >&2

    local out=$work/out/$key
    local prepare
    prepare=$(printf '%q %q %d' "$work/fresh-destination" "$out" "$keep")
    local tools=(forkit cp)
    [[ -z $baseline ]] || tools+=(baseline)
    ((!large)) || tools+=(dd)
    local round order tool json i
    for ((round = 1; round <= runs; round++)); do
        order=("${tools[@]}")
        if ((round % 2 == 0)); then
            order=()
            for ((i = ${#tools[@]} - 1; i >= 0; i--)); do
                order+=("${tools[i]}")
            done
        fi
        printf -v json '%s/%s.%02d.json' "$results" "$key" "$round"
        hyperfine_round "$json" "$warmup" "$prepare" "$out" "$lists" "${order[@]}"
        if ((large)); then
            printf -v json '%s/%s.%02d.unix2dos.json' "$results" "$key" "$round"
            hyperfine_round "$json" 0 "$prepare" "$out" "$lists" unix2dos
        fi
        echo "$label: round $round of $runs done" >&2
    done
    cd "$work"
    rm -rf "$out"
    if ((large)); then
        rm -rf "$tree" "$lists"
    fi
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$key" "$label" "$files" "$bytes" "$target" \
        "$forkit_rss" "$baseline_rss" "$( ((tiny)) && echo tiny || echo full)" >>"$results/trees.tsv"
}

# hyperfine_round JSON WARMUP PREPARE OUT LISTS TOOL...: one hyperfine call
# that gives each tool WARMUP untimed runs and one timed run.
hyperfine_round() {
    local json=$1 warm=$2 prepare=$3 out=$4 lists=$5
    shift 5
    local commands=() tool
    for tool; do
        commands+=(--command-name "$tool" "$(tool_command "$tool" "$out" "$lists")")
    done
    if ! hyperfine --shell bash --style none --runs 1 --warmup "$warm" \
        --prepare "$prepare" --export-json "$json" "${commands[@]}" 2>"$work/hyperfine.err"; then
        cat "$work/hyperfine.err" >&2
        fail "hyperfine failed"
    fi
}

describe_machine() {
    local cpu mem fs
    cpu=$(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: *//')
    mem=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
    fs=$(df --output=fstype "$work" | tail -n 1)
    echo "machine:  $(nproc) cores, $cpu, $mem memory, kernel $(uname -r)"
    echo "temp:     $work on $fs"
    echo "forkit:   $forkit"
    [[ -z $baseline ]] || echo "baseline: $baseline"
    echo "tools:    $(hyperfine --version), $(unix2dos --version | head -n 1)"
    echo "scale:    $( ((tiny)) && echo tiny || echo full ), $runs rounds per tree," \
        "each $warmup warm-up run(s) and 1 timed run of each tool"
}

describe_machine
echo
started=$SECONDS
for key in "${wanted[@]}"; do
    case $key in
    game) bench_tree game game-sized 1.20 ;;
    large-lf) bench_tree large-lf 'large files, LF' 1.40 ;;
    large-crlf) bench_tree large-crlf 'large files, CR LF' 1.15 ;;
    large-mixed) bench_tree large-mixed 'large files, mixed' 1.40 ;;
    small) bench_tree small 'many small' 1.30 ;;
    esac
done
echo
python3 "$here/table.py" "$results"

cleanup_started=$SECONDS
cd /
rm -rf "$work"
echo
echo "Benchmark took $((cleanup_started - started)) s, and removing its files $((SECONDS - cleanup_started)) s."
