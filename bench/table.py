#!/usr/bin/env python3
"""Prints bench/run.sh's results as a Markdown table.

usage: bench/table.py RESULTS

RESULTS is the folder that bench/run.sh --json RESULTS kept: trees.tsv, a line
per tree, and hyperfine's JSON files, KEY.ROUND.json and, on the large trees,
KEY.ROUND.unix2dos.json. Each tool's time on a tree is the median of its
timed runs over all rounds; ratios are of medians.
"""

import csv
import glob
import json
import os
import statistics
import sys

MEMORY_TARGET_KIB = 4096


def seconds(value):
    return "-" if value is None else f"{value:.3f} s"


def ratio(numerator, denominator):
    if numerator is None or not denominator:
        return None
    return numerator / denominator


def shown(value):
    return "-" if value is None else f"{value:.2f}"


def size(num_bytes):
    mib = num_bytes / 1048576
    if mib >= 1024:
        return f"{mib / 1024:.1f} GiB"
    return f"{mib:.1f} MiB" if mib >= 1 else f"{num_bytes / 1024:.1f} KiB"


def times_of(results, key):
    """Every timed run of each tool on a tree, in the order of the rounds."""
    times = {}
    for path in sorted(glob.glob(os.path.join(results, glob.escape(key) + ".*.json"))):
        with open(path, encoding="utf-8") as file:
            for result in json.load(file)["results"]:
                times.setdefault(result["command"], []).extend(result["times"])
    return times


def main(argv):
    if len(argv) != 2 or argv[1].startswith("-"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    results = argv[1]
    with open(os.path.join(results, "trees.tsv"), encoding="utf-8", newline="") as file:
        trees = list(csv.DictReader(file, delimiter="\t"))
    if not trees:
        print(f"table.py: no tree in {results}/trees.tsv", file=sys.stderr)
        return 1
    tiny = any(tree["scale"] == "tiny" for tree in trees)
    with_baseline = any(tree["baseline_rss_kib"] != "-" for tree in trees)

    header = ["tree", "files", "size", "forkit", "cp", "forkit/cp", "target", "dd", "forkit/dd"]
    align = ["---", "---:", "---:", "---:", "---:", "---:", "---", "---:", "---:"]
    if with_baseline:
        header += ["baseline", "forkit/baseline"]
        align += ["---:", "---:"]
    header += ["unix2dos", "forkit/unix2dos", "forkit peak memory"]
    align += ["---:", "---:", "---:"]
    if with_baseline:
        header += ["baseline peak memory"]
        align += ["---:"]
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join(align) + "|")

    all_times = []
    missed = []
    runs = set()
    peaks = []
    for tree in trees:
        times = times_of(results, tree["key"])
        medians = {tool: statistics.median(values) for tool, values in times.items()}
        runs.update(len(values) for values in times.values())
        all_times.append((tree["label"], times))
        forkit_cp = ratio(medians.get("forkit"), medians.get("cp"))
        target = float(tree["target"])
        if tiny or forkit_cp is None:
            verdict = f"{target:.2f}"
        elif forkit_cp <= target:
            verdict = f"{target:.2f}: met"
        else:
            verdict = f"{target:.2f}: missed"
            missed.append(tree["label"])
        row = [
            tree["label"],
            f"{int(tree['files']):,}",
            size(int(tree["bytes"])),
            seconds(medians.get("forkit")),
            seconds(medians.get("cp")),
            shown(forkit_cp),
            verdict,
            seconds(medians.get("dd")),
            shown(ratio(medians.get("forkit"), medians.get("dd"))),
        ]
        if with_baseline:
            row += [
                seconds(medians.get("baseline")),
                shown(ratio(medians.get("forkit"), medians.get("baseline"))),
            ]
        row += [
            seconds(medians.get("unix2dos")),
            shown(ratio(medians.get("forkit"), medians.get("unix2dos"))),
            f"{tree['forkit_rss_kib']} KiB",
        ]
        peaks.append(int(tree["forkit_rss_kib"]))
        if with_baseline:
            rss = tree["baseline_rss_kib"]
            row += ["-" if rss == "-" else f"{rss} KiB"]
        print("| " + " | ".join(row) + " |")

    print()
    counts = " or ".join(str(count) for count in sorted(runs))
    print(f"Medians of {counts} timed runs of each tool, taken in rounds that alternate")
    print("which tool goes first; forkit/cp is to be at most its target.")
    peak = max(peaks)
    memory = "met" if peak < MEMORY_TARGET_KIB else "missed"
    if tiny:
        print("A tiny run: its times mean nothing, and no target is judged.")
    else:
        print(f"forkit's peak memory is to stay under {MEMORY_TARGET_KIB} KiB: {peak} KiB, {memory}.")
        if missed:
            print("Missed the time target: " + "; ".join(missed) + ".")
    print()
    print("Every timed run, in seconds, in the order of the rounds:")
    for label, times in all_times:
        for tool, values in times.items():
            print(f"  {label}, {tool}: " + " ".join(f"{value:.4f}" for value in values))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
