"""For bench/run.sh: `tree` writes a tree, `check` checks every tool's copies, `table` prints the table."""
import json, random, statistics, sys
from pathlib import Path

TARGETS = {"game": {"cp": 1.2}, "large-lf": {"plain": 1.2}, "large-crlf": {"plain": 1.1},
           "large-mixed": {"plain": 1.2}, "small": {"cp": 1.3, "plain": 1.5}}  # the largest forkit/tool
LINES = ("", "\t}", "\tif ( client->ps.weaponTime > 0 ) {", "\t\tVectorCopy( ent->s.origin, origin );",
         "// where the player stands before the next frame", "static int G_Trace( gentity_t *ent ) {")
PARTS, TOOLS = ("root", "game", "cgame", "ui"), ("forkit", "plain", "cp", "unix2dos")

def joined(lines, end):  # as bytes, each line followed by `end`
    return "".join(line + end for line in lines).encode()

def code(rnd, size, eol):  # C-like lines ending in `eol`, as many as fit in `size` bytes
    text = joined(rnd.choices(LINES, k=size // 10), eol)
    return text[:text.rfind(eol.encode(), 0, size) + len(eol)]

def tree(key, tiny, root, dst):  # game: 330 files of 1 to 80 KB; large: 8 of 128 MiB; small: 20,000 of 200 B
    rnd, files, size, tiny = random.Random(20240611), 0, 0, tiny == "1"
    counts = {"game": (12, 130, 110, 78), "small": (500, 7000, 6500, 6000)}.get(key, (2, 2, 2, 2))
    blocks = {eol: code(rnd, 1 << 20, eol) for eol in ("\n", "\r\n")}
    for part, count in zip(PARTS, counts):
        folder, names = ("" if part == "root" else f"{part}/"), []
        Path(root, folder).mkdir(parents=True, exist_ok=True)
        for i in range(max(1, count // 64) if tiny else count):
            if key.startswith("large"):  # mixed: CR LF and LF files in turns
                crlf = key == "large-crlf" or (key == "large-mixed" and files % 2 == 0)
                name, data = f"level_{files}.txt", blocks["\r\n" if crlf else "\n"] * (2 if tiny else 128)
            else:
                ext = (".txt", ".bat")[i % 2] if part == "root" else (".h", ".c", ".c")[i % 3]
                name = f"{part}_entity_{i:05d}{ext}"
                length = 200 if key == "small" else int(1024 + 80896 * rnd.random() ** 2.4)
                data = code(rnd, length, rnd.choice(("\n", "\r\n")))
            Path(root, folder, name).write_bytes(data)
            names, files, size = names + [name], files + 1, size + len(data)
        Path(root, f"copy{part.replace('root', 'project')}.dat").write_bytes(joined(names, "\r\n"))
        if folder:  # the module's .c files without the extension
            Path(root, f"build{part}.dat").write_bytes(joined([n[:-2] for n in names if n[-2:] == ".c"], "\r\n"))
        Path(f"{root}.{part}").write_bytes(joined([folder + n for n in names], "\n"))  # for cp
        Path(f"{root}.{part}.pairs").write_bytes(joined([f"{folder}{n}\n{dst}/{folder}{n}" for n in names], "\n"))
    Path(f"{root}.stats").write_text(f"{key} {files} {size}")

def check(root, copies):  # forkit and unix2dos add a CR before each LF that has none
    for path in (path for part in PARTS for path in Path(f"{root}.{part}").read_text().split()):
        source = Path(root, path).read_bytes()
        crlf = source.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
        for tool, want in zip(TOOLS, (crlf, source, source, crlf)):
            if Path(copies, tool, "src", path).read_bytes() != want:
                sys.exit(f"run.sh: {tool}'s copy of {path} is not what it should be")

def table(results, tiny, machine):  # large trees: each tool's fastest run and median; elsewhere medians
    judged = lambda ok: "not judged" if tiny == "1" else "met" if ok else "missed"
    shown = lambda values, digits: " / ".join(f"{value:.{digits}f}" for value in values)
    print("| tree | files | size | forkit | plain copy | cp | unix2dos | forkit/plain | forkit/cp | forkit/unix2dos"
          " | forkit peak memory, under 4 MiB | targets: largest forkit/tool |\n|---|" + "---:|" * 10 + "---|")
    for key, files, size, rss in (line.split() for line in open(f"{results}/trees")):
        runs = [r for path in Path(results).glob(f"{key}.*.json") for r in json.loads(path.read_text())["results"]]
        stats = (min, statistics.median) if key.startswith("large") else (statistics.median,)
        of = {t: [stat([r["mean"] for r in runs if r["command"] == t]) for stat in stats] for t in TOOLS}
        ratio = {t: [f / x for f, x in zip(of["forkit"], of[t])] for t in TOOLS}
        targets = [f"{t} {x:.2f}: {judged(ratio[t][0] <= x)}" for t, x in TARGETS[key].items()]
        cells = [shown(of[t], 3) + " s" for t in TOOLS] + [shown(ratio[t], 2) for t in TOOLS[1:]]
        print(f"| {key} | {int(files):,} | {int(size) / 1048576:.1f} MiB | {' | '.join(cells)} | {rss} KiB: "
              f"{judged(int(rss) < 4096)} | {'; '.join(targets)} |")
    print(f"\nLarge trees: fastest / median run, the targets judging the fastest; elsewhere medians.\nMachine: {machine}.")

if __name__ == "__main__":
    {"tree": tree, "check": check, "table": table}[sys.argv[1]](*sys.argv[2:])
