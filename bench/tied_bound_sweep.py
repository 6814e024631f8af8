#!/usr/bin/env python3
"""A sweep of fits with a bound on a parameter tied to another.

Each case of bench/tied_bound_sweep_reference.csv (written by
bench/tied_bound_sweep.R) is a model of the data sets in tests/fixtures
(LINEQS or RAM; ML, GLS or WLS) with `BOUNDS a <= u` (or `>=`) and the tie
`LINCON a - b = 0` or `c = a - b; NLINCON c = 0`, the bound active at the
minimum, with lavaan's F there.  Each runs from the default start at the
default criteria, or with the PROC options of --option (a technique, a
criterion).  A case passes when the run ends with return code 0 on a
convergence criterion, F within 1e-9 relative of lavaan's, and both
parameters at the bound within 1e-6.  A table of the cases (return code,
criterion, relative gap in F, largest distance of a or b from the bound)
and a summary go to stdout; the exit status is 1 when a case failed.  Run
from the repository:

    python3 bench/tied_bound_sweep.py build/velix
    python3 bench/tied_bound_sweep.py build/velix --option "technique=quanew gconv=1e-12"

It is not part of `make test` or `make bench`.
"""

import argparse
import concurrent.futures
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import claims_campaign as cc  # noqa: E402  (its reading of a run's JSON document)
import nlincon_sweep as ns  # noqa: E402  (the model statements, $-named parameters)

TEXTS = {("hs", "lineqs"): ns.HS3, ("hs", "ram"): ns.HS_RAM, ("poldem", "lineqs"): ns.POLDEM,
         ("ability", "lineqs"): ns.ABILITY, ("wheaton", "lineqs"): ns.WHEATON}
F_REL = 1e-9     # relative gap in F that passes
X_ABS = 1e-6     # distance of a tied parameter from the bound that passes


def program(case, option):
    tie = ("lincon %(a)s - %(b)s = 0;" if case["tie"] == "lincon" else "c = %(a)s - %(b)s; nlincon c = 0;") % case
    return ("proc velix data=%s method=%s covariance %s;\n" % (case["model"], case["method"], option) +
            re.sub(r"\$(\w+)", r"\1", TEXTS[(case["model"], case["form"])]) +
            "bounds %s %s %s;\n%s\nrun;\n" % (case["a"], case["side"], case["bound"], tie))


def execute(velix, work, case, option):
    path = os.path.join(work, case["case"])
    with open(path + ".vx", "w") as f:
        f.write(program(case, option))
    subprocess.run([velix, "--lib", work, "--json", path + ".json", path + ".vx"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    with open(path + ".json") as f:
        out = cc.parse(json.load(f))
    joined = "\n".join(out["messages"])
    found = re.search(r"Convergence criterion (\w+) satisfied", joined)
    out["criterion"] = found.group(1) if found else "-"
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("velix", help="the velix command")
    ap.add_argument("--option", default="", help="PROC options of every run (none)")
    ap.add_argument("--jobs", type=int, default=3, help="fits at a time (3)")
    ap.add_argument("--keep", help="work folder to keep (default: a temporary one, removed)")
    args = ap.parse_args()
    velix = os.path.abspath(args.velix)
    with open(os.path.join(HERE, "tied_bound_sweep_reference.csv")) as f:
        cases = list(csv.DictReader(f))
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="tied-bound-")
    os.makedirs(work, exist_ok=True)
    for data in {c["model"] for c in cases}:
        shutil.copy(os.path.join(cc.FIXTURES, data + ".csv"), work)
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        results = list(pool.map(lambda c: execute(velix, work, c, args.option), cases))
    print("%-26s %-7s %-4s %-9s %-7s %2s %-9s %10s %10s  %s" % ("case", "tie", "side", "a", "b", "rc", "criterion",
                                                             "F gap", "x gap", "verdict"))
    failed, worst_f, worst_x = 0, 0.0, 0.0
    for case, res in zip(cases, results):
        ref, bound = float(case["F"]), float(case["bound"])
        f_gap = abs(res["f"] - ref) / ref if res["f"] is not None else float("inf")
        est = res["estimates"]
        x_gap = max(abs(est.get(case["a"], float("inf")) - bound), abs(est.get(case["b"], float("inf")) - bound))
        ok = res["rc"] == 0 and res["claim"] and f_gap <= F_REL and x_gap <= X_ABS
        failed += 0 if ok else 1
        worst_f, worst_x = max(worst_f, f_gap), max(worst_x, x_gap)
        print("%-26s %-7s %-4s %-9s %-7s %2s %-9s %10.2e %10.2e  %s" % (
            case["case"], case["tie"], case["side"], case["a"], case["b"], res["rc"], res["criterion"], f_gap, x_gap,
            "ok" if ok else "FAILED"))
    print("%d cases, %d passed, %d failed; largest relative gap in F %.2e, largest distance from the bound %.2e" % (
        len(cases), len(cases) - failed, failed, worst_f, worst_x))
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
