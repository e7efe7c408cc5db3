#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Runs every job of the benchmark suite for every engine, interleaved, and
reports medians, ratios, peak memory for load and the scaling checks.

    run_suite.py --build BUILD_DIR --corpus CORPUS_DIR [--rounds N] [--results DIR] [--from-samples]

Each measurement is its own process (so peak memory belongs to one job).
Rounds interleave the engines: every round runs each job once per engine,
starting with a different engine each time. Writes DIR/latest.md (the table
that is also printed), DIR/ratios.png (bar chart, gnuplot) and DIR/samples.json
(every measurement; --from-samples reports again from it).
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ENGINES = ["xmlutil", "libxml2", "pugixml", "lxml"]
PEERS = ["libxml2", "pugixml", "lxml"]
# Jobs that also run the plain libxml2 baseline (engine libxml2-plain): what a
# libxml2 user writes, judged against beside the same-work libxml2 figure.
PLAIN = "libxml2-plain"
JOBS = [
    # name, description, targets: (engine, largest xmlutil/engine time ratio);
    # None: faster than every peer
    ("load", "load the 60 MB menu file", [(PLAIN, 1.0)]),
    ("select_all", "select all Item, read each id", [(PLAIN, 1.0), ("pugixml", 3.0)]),
    ("lookup", "1,000 lookups /Root/Menu/Item[@id='K']", None),
    ("children", "walk 1,000,000 children (list of handles)", [("pugixml", 3.0)]),
    ("attributes", "all attributes of 200,000 elements into name/value lists",
     [("pugixml", 1.5)]),
    ("build_save", "build 1,000,000 elements and save", [(PLAIN, 1.0)]),
    ("gb2312", "load and save the 5 MB GB2312 file", [("libxml2", 1.10)]),
]
PLAIN_JOBS = ("load", "select_all", "children", "attributes", "build_save")
SCALING = [
    ("children", "children: GetChildNodes 100,000 -> 1,000,000"),
    ("attributes", "attributes: GetNodeAttrs of 20,000 -> 200,000 elements"),
    ("matches", "matches: GetNodes of 31,000 -> 310,000 items"),
    ("removals", "removals: RemoveAllChild of 100,000 -> 1,000,000 children"),
]
LOOKUPS = 1000
# Every peer scans the whole file per lookup (seconds each): they run a sample
# of lookups spread through the file and the time is scaled to 1,000.
PEER_LOOKUPS = 10


def command(engine, build, job, corpus, out, extra):
    args = [f"--job={job}", f"--corpus={corpus}", f"--out={out}"] + extra
    if engine in ("xmlutil", "libxml2", PLAIN):
        return [os.path.join(build, "bench", "suite_bench"), f"--engine={engine}"] + args
    if engine == "pugixml":
        return [os.path.join(build, "pugixml_runner")] + args
    return ["/usr/bin/python3", os.path.join(HERE, "peers", "lxml_runner.py")] + args


def run_once(engine, build, job, corpus, out, extra=()):
    result = subprocess.run(command(engine, build, job, corpus, out, list(extra)),
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"{engine} {job} failed ({result.returncode}): {result.stderr.strip()}")
    return json.loads(result.stdout.strip().splitlines()[-1])


def lookups_of(engine):
    return LOOKUPS if engine == "xmlutil" else PEER_LOOKUPS


def measure(args, out):
    samples = {(job, engine): [] for job, _, _ in JOBS for engine in ENGINES + [PLAIN]}
    scaling = {(loop, size): [] for loop, _ in SCALING for size in ("small", "full")}
    for round_index in range(args.rounds):
        order = ENGINES[round_index % len(ENGINES):] + ENGINES[:round_index % len(ENGINES)]
        for job, _, _ in JOBS:
            for engine in order + ([PLAIN] if job in PLAIN_JOBS else []):
                extra = [f"--lookups={lookups_of(engine)}"] if job == "lookup" else []
                sample = run_once(engine, args.build, job, args.corpus, out, extra)
                if job == "lookup" and "seconds" in sample:
                    sample["seconds"] *= LOOKUPS / lookups_of(engine)
                    sample["check"] = sample["check"] * LOOKUPS // lookups_of(engine)
                samples[(job, engine)].append(sample)
                print(f"round {round_index + 1}/{args.rounds} {job:<11} {engine:<8} "
                      f"{sample.get('seconds', 'unsupported')}", flush=True)
        for loop, _ in SCALING:
            for size in ("small", "full"):
                sample = run_once("xmlutil", args.build, loop, args.corpus, out, [f"--size={size}"])
                scaling[(loop, size)].append(sample)
    return samples, scaling


def linear_checks(build):
    """The scaling checks of bench/scaling_bench.cpp (LoadMenuXml, GetNodesCount,
    deep trees), run once; its lines as printed."""
    result = subprocess.run([os.path.join(build, "bench", "scaling_bench")],
                            capture_output=True, text=True, check=False)
    return result.stdout.strip().splitlines()


def median(samples, key):
    values = [s[key] for s in samples if key in s]
    return statistics.median(values) if values else None


def seconds_text(value):
    if value is None:
        return "unsupported"
    return f"{value * 1e3:.1f} ms" if value < 1 else f"{value:.2f} s"


def report(samples, scaling, corpus, rounds):
    with open(os.path.join(corpus, "manifest.json")) as f:
        manifest = json.load(f)
    menu_mb = manifest["menu.xml"]["bytes"] / 1e6
    lines = [f"Processor time (user + system) of the timed part, medians of {rounds} interleaved "
             f"runs, each in its own process. Lookups: xmlutil "
             f"runs all {LOOKUPS} (index built by the first); every peer scans the file per "
             f"lookup, so it runs {PEER_LOOKUPS} spread through the file, scaled to {LOOKUPS}.",
             "",
             "| job | xmlutil | libxml2 | plain libxml2 | pugixml | lxml | vs libxml2 "
             "| vs plain libxml2 | vs pugixml | vs lxml | target | ahead of lxml | checks |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    ratios = []
    for job, description, targets in JOBS:
        med = {e: median(samples.get((job, e), []), "seconds") for e in ENGINES + [PLAIN]}
        checks = {s["check"] for e in ENGINES for s in samples[(job, e)] if "check" in s}
        plain = (med["xmlutil"] / med[PLAIN] if med[PLAIN] and med["xmlutil"] else None)
        row_ratios = {p: (med["xmlutil"] / med[p] if med[p] and med["xmlutil"] else None)
                      for p in PEERS}
        ratios.append((job, dict(row_ratios, **{PLAIN: plain})))
        if targets is None:
            met = all(r is not None and r < 1 for r in row_ratios.values())
            target = f"< every peer: {'met' if met else '**missed**'}"
        else:
            parts = []
            for engine, limit in targets:
                ratio = plain if engine == PLAIN else row_ratios[engine]
                met = ratio is not None and ratio <= limit
                name = "plain libxml2" if engine == PLAIN else engine
                parts.append(f"<= {limit:.2f}x {name}: {'met' if met else '**missed**'}")
            target = "; ".join(parts)
        ahead = "-" if row_ratios["lxml"] is None else "yes" if row_ratios["lxml"] < 1 else "**no**"
        cells = [f"{job}: {description}"] + [seconds_text(med[e]) for e in ENGINES[:2]]
        cells += [seconds_text(med[PLAIN]) if med[PLAIN] else "-"]
        cells += [seconds_text(med[e]) for e in ENGINES[2:]]
        ratio_cells = [f"{row_ratios[p]:.3f}x" if row_ratios[p] is not None else "-"
                       for p in PEERS]
        cells += ratio_cells[:1] + [f"{plain:.3f}x" if plain is not None else "-"]
        cells += ratio_cells[1:]
        cells += [target, ahead, "agree" if len(checks) == 1 else f"DIFFER {sorted(checks)}"]
        lines.append("| " + " | ".join(cells) + " |")

    lines += ["", f"Peak memory for load ({menu_mb:.1f} MB file; VmHWM of a process that only "
              "loads; 'added' is VmHWM minus the resident size before loading):", "",
              "| engine | peak | added by load | added / file size | vs plain libxml2 |",
              "|---|---|---|---|---|"]
    loaders = ENGINES + [PLAIN]
    peaks = {e: median(samples[("load", e)], "peak_kb") / 1024 for e in loaders}
    added = {e: peaks[e] - median(samples[("load", e)], "base_kb") / 1024 for e in loaders}
    for engine in loaders:
        name = "plain libxml2" if engine == PLAIN else engine
        lines.append(f"| {name} | {peaks[engine]:.0f} MB | {added[engine]:.0f} MB | "
                     f"{added[engine] / menu_mb:.1f}x | {peaks[engine] / peaks[PLAIN]:.2f}x |")
    ratio = peaks["xmlutil"] / peaks[PLAIN]
    lines += ["", f"xmlutil / plain libxml2 peak memory for load: {ratio:.2f}x "
              f"(target <= 1.00x): {'met' if ratio <= 1.0 else '**missed**'}"]

    lines += ["", "Scaling of per-item loops (xmlutil, 10x the items; limit 12x the time):", "",
              "| loop | 1x | 10x | ratio | verdict |", "|---|---|---|---|---|"]
    for loop, description in SCALING:
        small = median(scaling[(loop, "small")], "seconds")
        full = median(scaling[(loop, "full")], "seconds")
        small_check = {s["check"] for s in scaling[(loop, "small")]}
        full_check = {s["check"] for s in scaling[(loop, "full")]}
        ratio = full / small if small else float("inf")
        lines.append(f"| {description} (check {sorted(small_check)} / {sorted(full_check)}) | "
                     f"{seconds_text(small)} | {seconds_text(full)} | {ratio:.1f}x | "
                     f"{'ok' if ratio <= 12 else '**over**'} |")
    return "\n".join(lines) + "\n", ratios


def linear_section(checks):
    return ("\nScaling checks of bench/scaling_bench (best of 5 at each size, one process, "
            "caches emptied before each timed run; "
            "limit 12x):\n\n" + "\n".join(f"    {line}" for line in checks) + "\n")


def chart(ratios, results):
    data = os.path.join(results, "ratios.dat")
    with open(data, "w") as f:
        f.write("# job libxml2 pugixml lxml plain-libxml2\n")
        for job, row in ratios:
            f.write(job + " " + " ".join(f"{row[p]:.5f}" if row[p] else "NaN"
                                         for p in PEERS + [PLAIN]) + "\n")
    script = f"""
set terminal pngcairo size 1000,520 font ",10" noenhanced
set output "{os.path.join(results, 'ratios.png')}"
set title "xmlutil time / peer time (below 1: xmlutil faster; log scale)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set logscale y
set yrange [0.0005:20]
set grid ytics
set ylabel "ratio"
set xtics rotate by -20
set arrow from graph 0, first 1 to graph 1, first 1 nohead lw 2 lc rgb "black"
plot "{data}" using 2:xtic(1) title "vs libxml2" lc rgb "#4472c4", \\
     "" using 3 title "vs pugixml" lc rgb "#ed7d31", \\
     "" using 4 title "vs lxml" lc rgb "#70ad47", \\
     "" using 5 title "vs plain libxml2" lc rgb "#7f7f7f"
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.remove(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--results", default=os.path.join(HERE, "results"))
    parser.add_argument("--from-samples", action="store_true",
                        help="report again from RESULTS/samples.json without measuring")
    args = parser.parse_args()
    os.makedirs(args.results, exist_ok=True)
    raw = os.path.join(args.results, "samples.json")
    if args.from_samples:
        with open(raw) as f:
            saved = json.load(f)
        samples = {tuple(k.split("/")): v for k, v in saved["samples"].items()}
        scaling = {tuple(k.split("/")): v for k, v in saved["scaling"].items()}
        checks = saved.get("linear_checks", [])
        args.rounds = saved["rounds"]
    else:
        with tempfile.TemporaryDirectory(prefix="xmlutil-bench-") as out:
            samples, scaling = measure(args, out)
        checks = linear_checks(args.build)
        with open(raw, "w") as f:
            json.dump({"rounds": args.rounds,
                       "samples": {"/".join(k): v for k, v in samples.items()},
                       "scaling": {"/".join(k): v for k, v in scaling.items()},
                       "linear_checks": checks}, f, indent=0)
    table, ratios = report(samples, scaling, args.corpus, args.rounds)
    table += linear_section(checks)
    with open(os.path.join(args.results, "latest.md"), "w") as f:
        f.write("# Benchmark results\n\n" + table)
    chart(ratios, args.results)
    print("\n" + table)


if __name__ == "__main__":
    main()
