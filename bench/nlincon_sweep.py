#!/usr/bin/env python3
"""A sweep of NLINCON fits from the default start and RANDOM= starts.

Eleven models of the data sets in tests/fixtures (LINEQS, RAM, COSAN,
FACTOR; ML, GLS, DWLS; nonlinear equalities, active and inactive
inequalities), each from its default start and from RANDOM=1 to RANDOM=7,
at the default criteria.  Each run is classified from its JSON document (as
bench/claims_campaign.py reads it): a claim at the minimum (F within 1e-6
relative of the reference), a claim at another point, or no claim.  The
reference of a model is lavaan's lowest minimum under the same restriction
(bench/nlincon_sweep_reference.csv, written by bench/nlincon_sweep.R), or
the lowest F of the sweep's feasible runs where that is lower.  Every claim
above the reference is checked by two runs from its end point (GCONV=1e-12
and TECHNIQUE=TRUREG): when either goes lower, the claim was false.

With --free the models run without their restrictions (the default
technique, as a yardstick of what the same starts allow), against the
lowest F of their own runs.

The summary (runs, claims, share at the lowest minimum and share at a
local constrained minimum, i.e. the claims less the false ones, default
starts at the minimum, false claims, median iterations and seconds) goes
to stdout.  Run
from the repository, once on the code before a change and once after:

    python3 bench/nlincon_sweep.py build/velix
    python3 bench/nlincon_sweep.py build/velix --seeds 7 --keep /tmp/sweep

It is not part of `make test` or `make bench`.
"""

import argparse
import concurrent.futures
import csv
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import claims_campaign as cc  # noqa: E402  (its reading of a run's JSON document)

HS3 = """lineqs
   x1 = 1.0 Fvis + E1, x2 = $l2 Fvis + E2, x3 = $l3 Fvis + E3,
   x4 = 1.0 Ftxt + E4, x5 = $l5 Ftxt + E5, x6 = $l6 Ftxt + E6,
   x7 = 1.0 Fspd + E7, x8 = $l8 Fspd + E8, x9 = $l9 Fspd + E9;
std Fvis Ftxt Fspd = $vvis $vtxt $vspd, E1-E9 = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6 $ve7 $ve8 $ve9;
cov Fvis Ftxt = $cvt, Fvis Fspd = $cvs, Ftxt Fspd = $cts;
"""
HS_RAM = """ram
   1 1 10 1.0, 1 2 10 $l2, 1 3 10 $l3, 1 4 11 1.0, 1 5 11 $l5, 1 6 11 $l6,
   1 7 12 1.0, 1 8 12 $l8, 1 9 12 $l9,
   2 1 1 $ve1, 2 2 2 $ve2, 2 3 3 $ve3, 2 4 4 $ve4, 2 5 5 $ve5, 2 6 6 $ve6,
   2 7 7 $ve7, 2 8 8 $ve8, 2 9 9 $ve9, 2 10 10 $vvis, 2 11 11 $vtxt, 2 12 12 $vspd,
   2 11 10 $cvt, 2 12 10 $cvs, 2 12 11 $cts;
"""
HS_COSAN = """cosan F(3, GEN) * P(3, SYM) + U(9, SYM);
matrix F [ , 1] = 1.0 $l2 $l3, [ , 2] = 0 0 0 1.0 $l5 $l6, [ , 3] = 0 0 0 0 0 0 1.0 $l8 $l9;
matrix P [1, 1] = $vvis $vtxt $vspd, [2, 1] = $cvt $cts, [3, 1] = $cvs;
matrix U [1, 1] = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6 $ve7 $ve8 $ve9;
"""
HS_FACTOR = """factor n=3;
matrix _F_ [ , 1] = 1.0 $l2 $l3, [ , 2] = 0 0 0 1.0 $l5 $l6, [ , 3] = 0 0 0 0 0 0 1.0 $l8 $l9;
matrix _P_ [1, 1] = $vvis $vtxt $vspd, [2, 1] = $cvt $cts, [3, 1] = $cvs;
matrix _U_ [1, 1] = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6 $ve7 $ve8 $ve9;
"""
POLDEM = """lineqs
   x1 = 1.0 Find60 + E1, x2 = $l2 Find60 + E2, x3 = $l3 Find60 + E3,
   y1 = 1.0 Fdem60 + E4, y2 = $l5 Fdem60 + E5, y3 = $l6 Fdem60 + E6, y4 = $l7 Fdem60 + E7,
   y5 = 1.0 Fdem65 + E8, y6 = $l9 Fdem65 + E9, y7 = $l10 Fdem65 + E10, y8 = $l11 Fdem65 + E11,
   Fdem60 = $b1 Find60 + D1, Fdem65 = $b2 Find60 + $b3 Fdem60 + D2;
std Find60 = $vind60, E1-E11 = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6 $ve7 $ve8 $ve9 $ve10 $ve11, D1 D2 = $vd1 $vd2;
cov E4 E8 = $c15, E5 E7 = $c24, E5 E9 = $c26, E6 E10 = $c37, E7 E11 = $c48, E9 E11 = $c68;
"""
ABILITY = """lineqs
   general = 1.0 Fg + E1, picture = $l2 Fg + E2, blocks = $l3 Fg + E3, maze = $l4 Fg + E4,
   reading = 1.0 Fv + E5, vocab = $l6 Fv + E6;
std Fg Fv = $vg $vv, E1-E6 = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6;
cov Fg Fv = $cgv;
"""
WHEATON = """lineqs
   anomia67 = 1.0 Falien67 + E1, powerless67 = $l2 Falien67 + E2,
   anomia71 = 1.0 Falien71 + E3, powerless71 = $l4 Falien71 + E4,
   education = 1.0 Fses + E5, sei = $l6 Fses + E6,
   Falien67 = $b1 Fses + D1, Falien71 = $b2 Falien67 + $b3 Fses + D2;
std Fses = $vses, D1 D2 = $vd1 $vd2, E1-E6 = $ve1 $ve2 $ve3 $ve4 $ve5 $ve6;
cov E1 E3 = $c13, E2 E4 = $c24;
"""

# name: data, method, model text, restriction (programming statement and
# NLINCON statement).  The names say the form, the method and the kind of
# restriction (eq an equality, act an active inequality, ina one that does
# not bind).
MODELS = {
    "hs_lineqs_ml_act": ("hs", "ml", HS3, "c1 = l5*l6; nlincon c1 >= 1.5;"),
    "hs_ram_ml_eq": ("hs", "ml", HS_RAM, "c1 = l8 - l9*l9; nlincon c1 = 0;"),
    "hs_cosan_ml_act": ("hs", "ml", HS_COSAN, "c1 = l2/l3; nlincon c1 >= 0.9;"),
    "hs_factor_ml_ina": ("hs", "ml", HS_FACTOR, "c1 = vvis*vtxt; nlincon c1 >= 0.1;"),
    "hs_lineqs_gls_eq": ("hs", "gls", HS3, "c1 = l2*l2 + l3*l3; nlincon c1 = 1.0;"),
    "hs_lineqs_dwls_act": ("hs", "dwls", HS3, "c1 = l8*l9; nlincon c1 <= 1.0;"),
    "poldem_lineqs_ml_act": ("poldem", "ml", POLDEM, "c1 = b1*b3; nlincon c1 <= 1.0;"),
    "poldem_lineqs_gls_eq": ("poldem", "gls", POLDEM, "c1 = l6*l10; nlincon c1 = 1.2;"),
    "ability_lineqs_ml_eq": ("ability", "ml", ABILITY, "c1 = l2*l3 - l4; nlincon c1 = 0;"),
    "ability_lineqs_gls_ina": ("ability", "gls", ABILITY, "c1 = l2*l6; nlincon c1 <= 10;"),
    "wheaton_lineqs_ml_act": ("wheaton", "ml", WHEATON, "c1 = b2*b2; nlincon c1 <= 0.3;"),
}


FREE = False  # --free: the models without their restrictions (the default technique's runs)


def program(name, seed, starts=None, option=""):
    data, method, text, restriction = MODELS[name]
    if FREE:
        restriction = ""
    starts = starts or {}

    def put(m):
        p = m.group(1)
        return "%s (%.17g)" % (p, starts[p]) if p in starts else p
    head = "proc velix data=%s method=%s covariance%s;\n" % (data, method, " random=%d" % seed if seed else "")
    tail = "nloptions %s;\n" % option if option.startswith("gconv") else ""
    if option.startswith("technique"):
        head = head.replace(";\n", " %s;\n" % option, 1)
    return head + re.sub(r"\$(\w+)", put, text) + restriction + "\n" + tail + "run;\n"


def execute(velix, work, tag, text):
    path = os.path.join(work, tag)
    with open(path + ".vx", "w") as f:
        f.write(text)
    began = time.time()
    subprocess.run([velix, "--lib", work, "--json", path + ".json", path + ".vx"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    seconds = time.time() - began
    with open(path + ".json") as f:
        doc = json.load(f)
    out = cc.parse(doc)
    out["seconds"] = seconds
    out["iterations"] = None
    for item in doc["steps"][0].get("output", []):
        if item.get("type") == "factoid" and item.get("name") == "IterStop":
            for e in item.get("entries", []):
                if e.get("label") == "Iterations":
                    out["iterations"] = e.get("value")
    return out


def reference():
    path = os.path.join(HERE, "nlincon_sweep_reference.csv")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        return {r["model"]: float(r["F"]) for r in csv.DictReader(f)}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("velix", help="the velix command")
    ap.add_argument("--seeds", type=int, default=7, help="RANDOM= seeds 1 to this (7)")
    ap.add_argument("--jobs", type=int, default=3, help="fits at a time (3)")
    ap.add_argument("--keep", help="work folder to keep (default: a temporary one, removed)")
    ap.add_argument("--free", action="store_true",
                    help="the models without their restrictions, against the lowest F of their own runs")
    args = ap.parse_args()
    global FREE
    FREE = args.free
    velix = os.path.abspath(args.velix)
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="nlincon-")
    os.makedirs(work, exist_ok=True)
    for data in {m[0] for m in MODELS.values()}:
        shutil.copy(os.path.join(cc.FIXTURES, data + ".csv"), work)
    runs = [(name, seed) for name in MODELS for seed in range(args.seeds + 1)]
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        results = list(pool.map(lambda r: execute(velix, work, "%s_%d" % r, program(r[0], r[1])), runs))
    ref = {} if FREE else reference()
    for (name, _), res in zip(runs, results):
        if cc.counts_for_minimum(res) and res["violation"] <= cc.FEASIBLE:
            ref[name] = min(ref.get(name, float("inf")), res["f"])
    # The claims above the reference, each checked from its end point.
    checks = []
    for i, ((name, seed), res) in enumerate(zip(runs, results)):
        if res["claim"] and cc.above(res["f"], ref[name]):
            for option in ("gconv=1e-12", "technique=trureg"):
                checks.append((i, name, seed, option))
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        polished = list(pool.map(lambda c: execute(velix, work, "%s_%d_%s" % (c[1], c[2], c[3][:5]),
                                                   program(c[1], 0, results[c[0]]["estimates"], c[3])), checks))
    false_claims = set()
    for (i, name, _, _), res in zip(checks, polished):
        if res["f"] is not None and cc.above(results[i]["f"], res["f"]) and res["violation"] <= cc.FEASIBLE:
            false_claims.add(i)
    print("%-24s %5s %6s %7s %7s %5s %6s %8s" % ("model", "runs", "claims", "at min", "default", "false",
                                                 "iter", "seconds"))
    total = {"runs": 0, "claims": 0, "atmin": 0, "default": 0, "false": 0}
    iters, secs = [], []
    for name in MODELS:
        mine = [(i, seed, results[i]) for i, (n, seed) in enumerate(runs) if n == name]
        claims = [r for _, _, r in mine if r["claim"]]
        atmin = [r for r in claims if not cc.above(r["f"], ref[name])]
        default = [r for _, seed, r in mine if seed == 0 and r["claim"] and not cc.above(r["f"], ref[name])]
        false = [i for i, _, _ in mine if i in false_claims]
        it = [r["iterations"] for _, _, r in mine if r["iterations"] is not None]
        sec = [r["seconds"] for _, _, r in mine]
        iters += it
        secs += sec
        print("%-24s %5d %6d %7d %7d %5d %6g %8.3f" % (name, len(mine), len(claims), len(atmin), len(default),
                                                      len(false), statistics.median(it) if it else 0,
                                                      statistics.median(sec)))
        for key, v in (("runs", len(mine)), ("claims", len(claims)), ("atmin", len(atmin)),
                       ("default", len(default)), ("false", len(false))):
            total[key] += v
    print("%-24s %5d %6d %7d %7d %5d %6g %8.3f" % ("all", total["runs"], total["claims"], total["atmin"],
                                                  total["default"], total["false"], statistics.median(iters),
                                                  statistics.median(secs)))
    print("claims at the lowest minimum: %.1f%% of the runs; at a local constrained minimum (claims less the false"
          " ones): %.1f%%; mean iterations %.1f; total seconds %.1f" % (
              100.0 * total["atmin"] / total["runs"], 100.0 * (total["claims"] - total["false"]) / total["runs"],
              statistics.mean(iters), sum(secs)))
    for i, ((name, seed), res) in enumerate(zip(runs, results)):
        if not (res["claim"] and not cc.above(res["f"], ref[name])):
            print("  %s random=%d: rc %s F %s%s%s" % (name, seed, res["rc"], res["f"],
                                                   " claim" if res["claim"] else "",
                                                   " FALSE" if i in false_claims else ""))
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
