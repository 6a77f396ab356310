#!/usr/bin/env python3
"""How well `ketch learn` gets the rules back from a generated game.

For each preset and fault rate: vdgen writes a game from the supplied rule
base; ketch learns it with --fresh from a KETCH.MDB whose rule listing was
emptied; then `init all` analyses it with the learned rules. Printed per run:
the share of entries whose learned rule equals the source rule (fixed count,
multi-line, repeating value, every position's type), recall and precision of
the planted faults (file, line and code as in the manifest), the times of
learn and of init all measured in the same round, and learn's peak memory.

    bench/learn/learn_bench.py BUILD_DIR [--presets small,large]
        [--every 500,100,20] [--rounds 3] [--seeds 1] [--work DIR] [--keep]
        [--thresholds break=0.1,...]
"""
import argparse
import json
import os
import shutil
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import time


def run(cmd, **kw):
    """Runs cmd; returns (status, seconds, peak RSS in MB)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code not in (0, 5):
        sys.exit(f"{' '.join(cmd)} ended with {code}: {err}")
    return code, seconds, usage.ru_maxrss / 1024.0


def listing(db):
    """Upper-cased (section, entry) -> (fixed, multi, var, ((idx, type, multi), ...))."""
    con = sqlite3.connect(db)
    rules = {}
    for s, e, fixed, ml, var, typ, idx, multi in con.execute(
            'SELECT SectionName, EntryName, FixedArgsNo, IsMultiLine, HasVarArgs, Type, "_bc_values.IDX", IsMulti '
            "FROM _bc_ListSections"):
        key = (s.upper(), e.upper())
        head, values = rules.get(key, ((fixed, ml, var), []))
        values.append((idx, typ, multi))
        rules[key] = (head, values)
    con.close()
    return {k: (h, tuple(sorted(v))) for k, (h, v) in rules.items()}


def empty_listing(db):
    con = sqlite3.connect(db)
    con.executescript("DELETE FROM _bc_values; DELETE FROM _bc_entries; DELETE FROM _bc_sections;")
    con.commit()
    con.execute("VACUUM")
    con.close()


def norm(path):
    return path.replace("/", "\\").lower()


def faults(manifest):
    out = set()
    with open(manifest, encoding="latin-1") as f:
        for line in f:
            if line.startswith("#"):
                continue
            file, ln, code = line.rstrip("\n").split("\t")[:3]
            if code.isdigit():
                out.add((norm(file), int(ln), int(code)))
    return out


def findings(jsonl):
    out = set()
    with open(jsonl, encoding="utf-8") as f:
        for line in f:
            r = json.loads(line)
            # A missing file is planted at the line that names it.
            at = r.get("namedAt", r)
            out.add((norm(at["file"]), int(at["line"]), int(r["code"])))
    return out


def game_for(build, work, preset, every, seed):
    """The game of a preset, rate and seed, written once for all rounds."""
    game = os.path.join(work, f"game-{preset}-{every}-{seed}")
    if not os.path.isdir(game):
        subprocess.run([os.path.join(build, "tools", "vdgen"), "--preset", preset, "--seed", str(seed),
                        "--fault-every", str(every), "--rules", os.path.join(build, "bin", "KETCH.MDB"), game],
                       check=True, stdout=subprocess.DEVNULL)
    return game


def one(build, work, preset, every, seed, thresholds):
    folder = tempfile.mkdtemp(prefix=f"learn-{preset}-{every}-", dir=work)
    bindir = os.path.join(folder, "bin")
    shutil.copytree(os.path.join(build, "bin"), bindir)
    source = os.path.join(build, "bin", "KETCH.MDB")
    db = os.path.join(bindir, "KETCH.MDB")
    empty_listing(db)
    game, log = game_for(build, work, preset, every, seed), os.path.join(folder, "log")
    os.makedirs(log)
    ketch = os.path.join(bindir, "ketch")
    env = dict(os.environ)
    if thresholds:
        env["KETCH_LEARN_THRESHOLDS"] = thresholds
    subprocess.run(["sync"])
    _, learn_s, learn_mb = run([ketch, "--game", game, "--log", log, "--overwrite", "1", "learn", "--fresh"],
                               env=env)
    subprocess.run(["sync"])
    jsonl = os.path.join(folder, "findings.jsonl")
    _, all_s, all_mb = run([ketch, "--game", game, "--log", log, "--overwrite", "1", "--findings", jsonl,
                            "init", "all"])
    want, got = listing(source), listing(db)
    exact = sum(1 for k, v in want.items() if got.get(k) == v)
    planted, found = faults(os.path.join(game, "manifest.tsv")), findings(jsonl)
    hits = planted & found
    misses = {}
    for f in planted - found:
        misses[f[2]] = misses.get(f[2], 0) + 1
    extra = {}
    for f in found - planted:
        extra[f[2]] = extra.get(f[2], 0) + 1
    return {
        "exact": exact / len(want), "entries": len(want), "recall": len(hits) / len(planted),
        "precision": len(hits) / len(found) if found else 1.0, "planted": len(planted), "found": len(found),
        "learn_s": learn_s, "all_s": all_s, "ratio": learn_s / all_s, "learn_mb": learn_mb, "all_mb": all_mb,
        "missed": misses, "extra": extra, "folder": folder,
    }


def fmt(values, pct=False):
    med = statistics.median(values)
    lo, hi = min(values), max(values)
    if pct:
        return f"{100 * med:6.2f}% ({100 * lo:.2f}-{100 * hi:.2f})"
    return f"{med:7.2f} ({lo:.2f}-{hi:.2f})"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("--presets", default="small,large")
    ap.add_argument("--every", default="500,100,20", help="entry lines per planted line fault")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--seeds", default="1")
    ap.add_argument("--work", default=None)
    ap.add_argument("--keep", action="store_true")
    ap.add_argument("--thresholds", default="", help="KETCH_LEARN_THRESHOLDS for learn, e.g. break=0.2")
    a = ap.parse_args()
    work = a.work or tempfile.mkdtemp(prefix="ketch-learn-bench-")
    os.makedirs(work, exist_ok=True)
    print(f"work folder: {work}", file=sys.stderr)
    print("| preset | fault rate | seed | rules exact | recall | precision | learn s | init all s | learn/all "
          "| learn peak MB | missed by code | extra by code |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|---|")
    for preset in a.presets.split(","):
        for every in [int(x) for x in a.every.split(",")]:
            for seed in [int(x) for x in a.seeds.split(",")]:
                rs = []
                for _ in range(a.rounds):
                    r = one(a.build, work, preset, every, seed, a.thresholds)
                    rs.append(r)
                    if not a.keep:
                        shutil.rmtree(r["folder"])
                last = rs[-1]
                print(f"| {preset} | {100 / every:.1f}% | {seed} | {fmt([r['exact'] for r in rs], True)} "
                      f"| {fmt([r['recall'] for r in rs], True)} | {fmt([r['precision'] for r in rs], True)} "
                      f"| {fmt([r['learn_s'] for r in rs])} | {fmt([r['all_s'] for r in rs])} "
                      f"| {fmt([r['ratio'] for r in rs])} | {fmt([r['learn_mb'] for r in rs])} "
                      f"| {json.dumps(last['missed'], sort_keys=True)} | {json.dumps(last['extra'], sort_keys=True)} |",
                      flush=True)
    if not a.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
