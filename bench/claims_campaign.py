#!/usr/bin/env python3
"""A campaign that counts false convergence claims of the velix command.

It runs about six thousand fits of five models (the three-factor hs model,
political democracy, Wheaton's alienation model, Klein's model I, the
two-factor ability model) and of the constrained models of
tests/e2e/constrained_corpus_test.cpp (bounds, linear rows, nonlinear
constraints), under every method (ULS, GLS, ML, WLS, DWLS; WLS and DWLS on
raw data only), the default technique and every one TECHNIQUE= selects,
from the default start and from extreme and random ones (ten times the
problem's solution, +-1000, uniform in (-2, 2)), with one variable in units
1e-6 to 1e6 of its own (the data rescaled), N from 10 to 1e7 (NOBS=),
under the default criteria and under user criteria stricter (GCONV=1e-12,
FCONV=1e-12, ABSGCONV=1e-9) and looser (FCONV=0.01, GCONV=1e-4) than them,
and with the limits MAXITER=0, MAXITER=1 and MAXFUNC=1.

Each run's JSON document is read and the run classified: a claim (a
"Convergence criterion ... satisfied" message, no "did not converge",
return code <= 4) or an honest stop.  A problem is a model with its
constraints, method, unit and N.  Its reference minimum is the lowest F of
its runs that kept their results (return code <= 4) inside the constraints
(checked on the estimates), and of runs from the end points of the claims
above it; where tests/fixtures/constrained_corpus.csv has lavaan's minimum
(the data's own unit and N) the two are compared, and lavaan's stands where
it is lower; for the unconstrained models under the scale-free methods the
minimum in other units is compared with that in the data's own.  Every
disagreement is listed.

A claim is suspect when its F is above the reference minimum by more than
1e-6 relative and 1e-9 absolute; under the looser criteria a claim there is
excused when it carries the WARNING that the gradient is large.  Two runs
from the end point of each suspect claim (the default technique under
GCONV=1e-12, and TRUREG) tell a false claim, at a point from which F still
decreases, from one at a local minimum above the lowest ("local"), which
no check at the point can refute.  The
claims above the minimum by more than 1e-6 relative but not 1e-9 absolute
(a problem whose F itself is tiny, as ULS with N=1e7) are counted apart.
Faults counted besides: a claim outside the constraints, a run stopped by
a limit that shows standard errors, a run at the minimum whose return code
is above 4, a run that hangs or writes no JSON document.

The summary goes to stdout; every false claim and fault, with its numbers,
its messages and its whole program, to the report file, so that a
developer can rerun it (the rescaled data sets stay in the work folder
given with --keep: hs_p6.csv is hs.csv with its first variable times 1e6,
hs_m3.csv times 1e-3).  With --runs every run is written as a JSON line.

Run from the repository (under a minute on 3 cores):

    python3 bench/claims_campaign.py build/velix
    python3 bench/claims_campaign.py build/velix --jobs 3 --seed 1 --report /tmp/claims.txt --keep /tmp/claims

It is not part of `make test` or `make bench`: it is a yardstick of the
convergence claims, run by hand before and after a change to them.
"""

import argparse
import concurrent.futures
import csv
import json
import math
import os
import random
import re
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "tests", "fixtures")

# ---- models ------------------------------------------------------------
# Each model: its data set, whether the data are raw rows, the variable put
# in other units (its column in the data set), and its statements with
# "$name" where each parameter first occurs (replaced by "name (start)" or
# by "name").

HS = """lineqs x1 = 1.0 Fvis + E1, x2 = $l2 Fvis + E2, x3 = $l3 Fvis + E3,
       x4 = 1.0 Ftxt + E4, x5 = $l5 Ftxt + E5, x6 = $l6 Ftxt + E6,
       x7 = 1.0 Fspd + E7, x8 = $l8 Fspd + E8, x9 = $l9 Fspd + E9;
std Fvis = $vvis, Ftxt = $vtxt, Fspd = $vspd, E1 = $ve1, E2 = $ve2, E3 = $ve3,
    E4 = $ve4, E5 = $ve5, E6 = $ve6, E7 = $ve7, E8 = $ve8, E9 = $ve9;
cov Fvis Ftxt = $cvt, Fvis Fspd = $cvs, Ftxt Fspd = $cts;
"""

POLDEM = """lineqs x1 = 1.0 Find60 + E1, x2 = $l2 Find60 + E2, x3 = $l3 Find60 + E3,
       y1 = 1.0 Fdem60 + E4, y2 = $l5 Fdem60 + E5, y3 = $l6 Fdem60 + E6, y4 = $l7 Fdem60 + E7,
       y5 = 1.0 Fdem65 + E8, y6 = $l9 Fdem65 + E9, y7 = $l10 Fdem65 + E10, y8 = $l11 Fdem65 + E11,
       Fdem60 = $b1 Find60 + D1, Fdem65 = $b2 Find60 + $b3 Fdem60 + D2;
std Find60 = $vind60, E1 = $ve1, E2 = $ve2, E3 = $ve3, E4 = $ve4, E5 = $ve5, E6 = $ve6,
    E7 = $ve7, E8 = $ve8, E9 = $ve9, E10 = $ve10, E11 = $ve11, D1 = $vd1, D2 = $vd2;
cov E4 E8 = $c15, E5 E7 = $c24, E5 E9 = $c26, E6 E10 = $c37, E7 E11 = $c48, E9 E11 = $c68;
"""

WHEATON = """lineqs anomia67 = 1.0 Falien67 + E1, powerless67 = $l2 Falien67 + E2,
       anomia71 = 1.0 Falien71 + E3, powerless71 = $l4 Falien71 + E4,
       education = 1.0 Fses + E5, sei = $l6 Fses + E6,
       Falien67 = $b1 Fses + D1, Falien71 = $b2 Falien67 + $b3 Fses + D2;
std Fses = $vses, E1 = $ve1, E2 = $ve2, E3 = $ve3, E4 = $ve4, E5 = $ve5, E6 = $ve6, D1 = $vd1, D2 = $vd2;
cov E1 E3 = $c13, E2 E4 = $c24;
"""


def klein_model():
    # Klein's model I: three behavioural equations with correlated errors,
    # two identities, the seven exogenous variables (G and T as the latent
    # FG and FT of the identities) free in their variances and covariances.
    exo = ["Plag", "Klag", "Xlag", "A", "Wg", "FG", "FT"]
    std = ", ".join("%s = $vx%d" % (v, i + 1) for i, v in enumerate(exo))
    pairs = [(exo[i], exo[j]) for i in range(len(exo)) for j in range(i)]
    cov = ", ".join("%s %s = $cx%d" % (a, b, k + 1) for k, (a, b) in enumerate(pairs))
    return ("var C I Wp X P Plag Klag Xlag A Wg;\n"
            "lineqs C = $a1 P + $a2 Plag + $a3 Wp + a3 Wg + E1, I = $b1 P + $b2 Plag + $b3 Klag + E2,\n"
            "  Wp = $c1 X + $c2 Xlag + $c3 A + E3, X = 1.0 C + 1.0 I + 1.0 FG, P = 1.0 X - 1.0 Wp - 1.0 FT;\n"
            "std " + std + ", E1 = $ve1, E2 = $ve2, E3 = $ve3;\n"
            "cov " + cov + ", E1 E2 = $ce1, E1 E3 = $ce2, E2 E3 = $ce3;\n")


ABILITY = """lineqs general = 1.0 Fg + E1, picture = $l2 Fg + E2, blocks = $l3 Fg + E3,
       maze = $l4 Fg + E4, reading = 1.0 Fv + E5, vocab = $l6 Fv + E6;
std Fg = $vg, Fv = $vv, E1 = $ve1, E2 = $ve2, E3 = $ve3, E4 = $ve4, E5 = $ve5, E6 = $ve6;
cov Fg Fv = $cgv;
"""

MODELS = {
    # name: (data set, raw rows, column in other units, statements, whether
    # the units of that column leave the minimum of a scale-free method as
    # it is: the column is a factor's reference indicator whose change of
    # units the free parameters absorb; Klein's identities fix it)
    "hs": ("hs", True, 0, HS, True),
    "poldem": ("poldem", True, 0, POLDEM, True),
    "wheaton": ("wheaton", False, 0, WHEATON, True),
    "klein": ("klein", True, 0, klein_model(), False),
    "ability": ("ability", False, 0, ABILITY, True),
}

# The models with constraints (those of the constrained corpus): name ->
# (model, statements, the constraints as (expression, relation, value) to
# check a run's estimates against).  Each holds at the minimum of the
# data's own unit.
CONSTRAINED = {
    "hs_B2": ("hs", "bounds 0.7 <= l2, 0.5 <= vspd;\n", [("l2", ">=", 0.7), ("vspd", ">=", 0.5)]),
    "hs_L1": ("hs", "lincon l5 = l6;\n", [("l5 - l6", "=", 0.0)]),
    "hs_L3": ("hs", "lincon l2 + l3 >= 1.5;\n", [("l2 + l3", ">=", 1.5)]),
    "hs_N1": ("hs", "c1 = l2 * l3;\nnlincon c1 >= 0.6;\n", [("l2 * l3", ">=", 0.6)]),
    "hs_N4": ("hs", "r = cvt / sqrt(vvis * vtxt);\nnlincon r <= 0.4;\n", [("cvt / sqrt(vvis * vtxt)", "<=", 0.4)]),
    "hs_X1": ("hs", "bounds l9 <= 0.9;\nlincon l5 = l6;\nc1 = l2 * l3;\nnlincon c1 >= 0.6;\n",
              [("l9", "<=", 0.9), ("l5 - l6", "=", 0.0), ("l2 * l3", ">=", 0.6)]),
    "poldem_X": ("poldem", "bounds 0.3 <= vd2;\nlincon l5 = l9, l6 = l10, l7 = l11;\nind = b1 * b3;\nnlincon ind <= 1;\n",
                 [("vd2", ">=", 0.3), ("l5 - l9", "=", 0.0), ("l6 - l10", "=", 0.0), ("l7 - l11", "=", 0.0),
                  ("b1 * b3", "<=", 1.0)]),
    "ability_N": ("ability", "r = cgv / sqrt(vg * vv);\nnlincon r >= 0.7;\n", [("cgv / sqrt(vg * vv)", ">=", 0.7)]),
}
CONFIGS = {name: (name, "") for name in MODELS}
CONFIGS.update({name: c[:2] for name, c in CONSTRAINED.items()})

METHODS = ["uls", "gls", "ml", "wls", "dwls"]
TECHNIQUES = ["", "trureg", "newrap", "nrridg", "levmar", "dbldog", "quanew", "congra"]
STRICTER = ["gconv=1e-12", "fconv=1e-12", "absgconv=1e-9"]
LOOSER = ["fconv=0.01", "gconv=1e-4"]
LIMITS = ["maxiter=0", "maxiter=1", "maxfunc=1"]
# (units of the variable, N): N None is the data's own.
UNITS_N = [(1.0, None), (1.0, 10), (1.0, 10000000), (1e-6, None), (1e-3, None), (1e3, None), (1e6, None)]
SCALE_FREE = {"gls", "ml", "wls", "dwls"}  # methods whose minimum no unit changes

REL, ABS = 1e-6, 1e-9  # a claim above the minimum by more than both is false
FEASIBLE = 1e-6  # largest constraint violation (times max(1, |value|)) of a run that counts


def parameters(model):
    return re.findall(r"\$(\w+)", MODELS[model][3])


def statements(model, starts):
    """The model's statements with the start values `starts` (name -> value;
    none given: the program's own)."""
    def put(m):
        name = m.group(1)
        return "%s (%.17g)" % (name, starts[name]) if name in starts else name
    return re.sub(r"\$(\w+)", put, MODELS[model][3])


# ---- data ----------------------------------------------------------------

def scaled_data(work, model, factor):
    """The model's data set with its chosen variable in units `factor`
    times its own (raw rows: the column; moments: its row and column), as a
    data set of the work folder; its name."""
    data, raw, column = MODELS[model][:3]
    k = round(math.log10(factor))
    name = data if factor == 1.0 else "%s_%s%d" % (data, "m" if k < 0 else "p", abs(k))
    path = os.path.join(work, name + ".csv")
    if os.path.exists(path):
        return name
    with open(os.path.join(FIXTURES, data + ".csv")) as f:
        lines = f.read().splitlines()
    out = []
    header = None
    for line in lines:
        if line.startswith("#") or factor == 1.0:
            out.append(line)
            continue
        cells = line.split(",")
        if header is None:
            header = cells
            out.append(line)
            continue
        if raw:
            cells[column] = repr(float(cells[column]) * factor)
        else:
            # TYPE=COV: _TYPE_, _NAME_, then the variables.
            var = header[2 + column]
            if cells[0] == "COV":
                for j in range(2, len(cells)):
                    if cells[j] not in ("", "."):
                        f = (factor if header[j] == var else 1.0) * (factor if cells[1] == var else 1.0)
                        cells[j] = repr(float(cells[j]) * f)
            elif cells[0] in ("STD", "MEAN"):
                j = 2 + column
                cells[j] = repr(float(cells[j]) * factor)
        out.append(",".join(cells))
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")
    return name


# ---- runs ----------------------------------------------------------------

class Run:
    def __init__(self, config, method, units, nobs, start="default", technique="", criteria="default",
                 option="", seed=0):
        self.config, self.method, self.units, self.nobs = config, method, units, nobs
        self.start, self.technique, self.criteria, self.option, self.seed = start, technique, criteria, option, seed
        self.program = ""
        self.result = None

    def problem(self):
        return (self.config, self.method, self.units, self.nobs)

    def describe(self):
        return "%s %s units=%g N=%s start=%s technique=%s %s %s" % (
            self.config, self.method, self.units, self.nobs or "data", self.start, self.technique or "default",
            self.criteria, self.option)


def starts_of(run, solutions):
    model = CONFIGS[run.config][0]
    names = parameters(model)
    rng = random.Random(run.seed)
    if run.start == "default":
        return {}
    if run.start == "at":
        return {n: run.at[n] for n in names if n in run.at}
    if run.start == "ten":
        sol = solutions.get(run.problem(), {})
        return {n: 10.0 * sol[n] for n in names if n in sol}
    if run.start == "far":
        return {n: rng.choice((1000.0, -1000.0)) for n in names}
    return {n: rng.uniform(-2.0, 2.0) for n in names}


def program_of(run, work, solutions):
    model, constraints = CONFIGS[run.config]
    data = scaled_data(work, model, run.units)
    options = "method=%s covariance" % run.method
    if run.nobs is not None:
        options += " nobs=%d" % run.nobs
    if run.technique:
        options += " technique=%s" % run.technique
    text = "proc velix data=%s %s;\n" % (data, options)
    text += statements(model, starts_of(run, solutions)) + constraints
    if run.option:
        text += "nloptions %s;\n" % run.option
    return text + "run;\n"


def parse(doc):
    """What the campaign reads of a run's JSON document."""
    step = doc["steps"][0]
    texts = [m.get("text", "") for m in step.get("messages", [])]
    out = {"rc": step.get("returnCode"), "messages": texts, "f": None, "violation": 0.0,
           "se": False, "estimates": {}}
    for item in step.get("output", []):
        if item.get("type") == "factoid" and item.get("name") == "IterStop":
            for e in item.get("entries", []):
                if e.get("label") == "Objective Function":
                    out["f"] = e.get("value")
                if e.get("label") == "Maximum Constraint Violation" and e.get("value") is not None:
                    out["violation"] = e["value"]
        if item.get("type") == "table" and item.get("name") == "ParameterEstimates" \
                and item.get("title") == "Optimization Results":
            cols = [c["name"] for c in item["columns"]]
            p, est = cols.index("Parameter"), cols.index("Estimate")
            se = cols.index("AppStdErr") if "AppStdErr" in cols else None
            out["estimates"] = {row[p]: row[est] for row in item["rows"] if isinstance(row[est], (int, float))}
            out["se"] = se is not None and any(isinstance(row[se], (int, float)) and math.isfinite(row[se])
                                               for row in item["rows"])
    joined = "\n".join(texts)
    out["claim"] = (re.search(r"Convergence criterion \w+ satisfied", joined) is not None
                    and "did not converge" not in joined and out["rc"] is not None and out["rc"] <= 4)
    out["large_gradient"] = "gradient at the solution is large" in joined
    out["limit"] = "stopped at its limit" in joined
    return out


def violation(config, estimates):
    """How far the estimates are outside the constraints of `config`,
    relative to max(1, |value|); NaN when a constraint cannot be evaluated
    there."""
    worst = 0.0
    for expr, rel, value in CONSTRAINED.get(config, ("", "", []))[2]:
        try:
            v = eval(expr, {"sqrt": math.sqrt, "__builtins__": {}}, dict(estimates))
        except (KeyError, NameError, ValueError, ZeroDivisionError, TypeError):
            return math.nan
        gap = value - v if rel == ">=" else v - value if rel == "<=" else abs(v - value)
        worst = max(worst, gap / max(1.0, abs(value)))
    return worst


def execute(velix, run, work, index, timeout):
    path = os.path.join(work, "run%05d" % index)
    with open(path + ".vx", "w") as f:
        f.write(run.program)
    began = time.time()
    try:
        status = subprocess.run([velix, "--lib", work, "--json", path + ".json", path + ".vx"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return {"hang": True, "seconds": time.time() - began}
    result = {"hang": False, "status": status, "seconds": time.time() - began}
    try:
        with open(path + ".json") as f:
            result.update(parse(json.load(f)))
        gap = violation(run.config, result["estimates"]) if result["estimates"] else \
            (math.nan if run.config in CONSTRAINED else 0.0)
        result["violation"] = gap if math.isnan(gap) else max(result["violation"], gap)
    except (OSError, ValueError, KeyError, IndexError):
        result["nojson"] = True
    for ext in (".vx", ".json"):
        if os.path.exists(path + ext):
            os.remove(path + ext)
    return result


def run_all(velix, runs, work, jobs, timeout, solutions, first_index):
    for r in runs:
        r.program = program_of(r, work, solutions)
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        futures = {pool.submit(execute, velix, r, work, first_index + i, timeout): r for i, r in enumerate(runs)}
        for fut in concurrent.futures.as_completed(futures):
            futures[fut].result = fut.result()


# ---- the plan ----------------------------------------------------------------

def methods_of(config):
    model = CONFIGS[config][0]
    return METHODS if MODELS[model][1] else [m for m in METHODS if m not in ("wls", "dwls")]


def plan(rng):
    """First the user's run of each problem (default start, technique and
    criteria), whose estimates are the solution the `ten` starts of the
    problem multiply, then the rest."""
    first, rest = [], []
    for config in CONFIGS:
        for method in methods_of(config):
            for units, nobs in UNITS_N:
                home = units == 1.0 and nobs is None
                def add(**kw):
                    rest.append(Run(config, method, units, nobs, seed=rng.randrange(1 << 30), **kw))
                first.append(Run(config, method, units, nobs))
                for _ in range(2):
                    add(technique=rng.choice(TECHNIQUES[1:]))
                for _ in range(8 if home else 4):
                    add(start=rng.choice(["ten", "far", "random"]), technique=rng.choice(TECHNIQUES))
                for _ in range(4 if home else 3):
                    add(start=rng.choice(["default", "ten", "random"]), technique=rng.choice(TECHNIQUES),
                        criteria="stricter", option=rng.choice(STRICTER))
                for _ in range(3 if home else 2):
                    add(start=rng.choice(["default", "ten", "random"]), technique=rng.choice(TECHNIQUES),
                        criteria="looser", option=rng.choice(LOOSER))
                add(start=rng.choice(["default", "ten", "random"]), technique=rng.choice(TECHNIQUES),
                    criteria="limit", option=rng.choice(LIMITS))
                if home:
                    for limit in LIMITS:
                        add(technique=rng.choice(TECHNIQUES), criteria="limit", option=limit)
    return first, rest


# ---- the verdicts ----------------------------------------------------------------

def lavaan_minima():
    """lavaan's minima by campaign problem (model with its constraints and
    method, in the data's own units and N)."""
    case_of = {"hs": "hs", "poldem": "poldem", "ability": "ability", "wheaton": "wheaton"}
    for name in CONSTRAINED:
        model, tag = name.split("_")
        case_of[name] = (model, tag)
    out = {}
    path = os.path.join(FIXTURES, "constrained_corpus.csv")
    with open(path) as f:
        rows = {(r["case"], r["key"]): float(r["value"]) for r in csv.DictReader(f)}
    for config, case in case_of.items():
        for method in METHODS:
            key = "%s_%s" % (config, method) if isinstance(case, str) else "%s_%s_%s" % (case[0], method, case[1])
            if (key, "F") in rows:
                out[(config, method)] = rows[(key, "F")]
    return out


def above(f, fmin):
    return f - fmin > max(REL * abs(fmin), ABS)


def counts_for_minimum(res):
    """A run whose F may stand for its problem's minimum: it kept its
    results and meets its constraints."""
    return (not res.get("hang") and res.get("f") is not None and res.get("rc") is not None and res["rc"] <= 4
            and math.isfinite(res["f"]) and res["violation"] <= FEASIBLE)


def lowest(runs, into):
    for r in runs:
        if counts_for_minimum(r.result):
            into[r.problem()] = min(into.get(r.problem(), math.inf), r.result["f"])
    return into


def claimed_above(r, fmin):
    """A claim above the minimum that its criteria do not excuse."""
    res = r.result
    return (res.get("claim") and res.get("f") is not None and fmin is not None and above(res["f"], fmin)
            and not (r.criteria == "looser" and res["large_gradient"]))


def polish_runs(claims):
    """For each false claim, two runs from its end point (the default
    technique under GCONV=1e-12, and TRUREG): when either goes lower, the
    claim was not at a minimum; when neither can, it was at a local minimum
    above the lowest one."""
    out = []
    for r in claims:
        for technique, option in (("", "gconv=1e-12"), ("trureg", "")):
            p = Run(r.config, r.method, r.units, r.nobs, start="at", technique=technique, criteria="polish",
                    option=option)
            p.at = r.result["estimates"]
            p.of = r
            out.append(p)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("velix", help="the velix command")
    ap.add_argument("--jobs", type=int, default=3, help="fits at a time (3)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the plan and the random starts (1)")
    ap.add_argument("--report", default="claims_campaign_report.txt", help="file of the false claims and faults")
    ap.add_argument("--keep", help="work folder to keep (default: a temporary one, removed)")
    ap.add_argument("--timeout", type=float, default=300.0, help="seconds a run may take (300)")
    ap.add_argument("--runs", help="file to write every run to, one JSON object a line")
    args = ap.parse_args()
    velix = os.path.abspath(args.velix)
    work = os.path.abspath(args.keep) if args.keep else tempfile.mkdtemp(prefix="claims-")
    os.makedirs(work, exist_ok=True)
    began = time.time()
    rng = random.Random(args.seed)
    first, rest = plan(rng)
    solutions = {}
    run_all(velix, first, work, args.jobs, args.timeout, solutions, 0)
    for r in first:
        if r.result and r.result.get("estimates"):
            solutions[r.problem()] = r.result["estimates"]
    run_all(velix, rest, work, args.jobs, args.timeout, solutions, len(first))
    runs = first + rest

    # The reference minimum of each problem: the lowest F of its runs and of
    # the runs from the end points of the claims above it; lavaan's where
    # no run reached it.
    minimum = lowest(runs, {})
    polish = polish_runs([r for r in runs if claimed_above(r, minimum.get(r.problem())) and r.result["estimates"]])
    run_all(velix, polish, work, args.jobs, args.timeout, solutions, len(runs))
    lowest(polish, minimum)
    notes = []
    for (config, method), f in sorted(lavaan_minima().items()):
        key = (config, method, 1.0, None)
        got = minimum.get(key)
        if got is None or above(got, f) or above(f, got):
            notes.append("%s %s: lowest F %s, lavaan %.12g" % (config, method, got, f))
        if got is None or above(got, f):
            minimum[key] = f
    for (config, method, units, nobs), f in sorted(minimum.items(), key=str):
        own = minimum.get((config, method, 1.0, nobs))
        if CONFIGS[config][1] == "" and MODELS[config][4] and method in SCALE_FREE and units != 1.0 and own is not None:
            if above(f, own) or above(own, f):
                notes.append("%s %s units %g: lowest F %.12g, in the data's own units %.12g"
                             % (config, method, units, f, own))
    seconds = time.time() - began

    below = {}  # claim -> the lowest F of the runs from its end point
    for p in polish:
        if counts_for_minimum(p.result):
            below[id(p.of)] = min(below.get(id(p.of), math.inf), p.result["f"])

    cats = ["default", "stricter", "looser", "limit"]
    count = {c: {"runs": 0, "claims": 0, "above": 0, "excused": 0, "local": 0, "false": 0, "warned": 0,
                 "floor": 0, "honest": 0, "honest_at_min": 0} for c in cats}
    faults = {"limit_se": 0, "rc_at_min": 0, "infeasible": 0, "hang": 0, "nojson": 0}
    limit_se_by = {}
    by_config = {}
    report = []

    def put(kind, r, fmin):
        res = r.result
        rel = "" if fmin is None or res.get("f") is None or fmin == 0 else " (relative %.3g)" % ((res["f"] - fmin) / abs(fmin))
        report.append("== %s: %s\nF %s, reference minimum %s%s, return code %s, exit status %s\n%s\n%s" % (
            kind, r.describe(), res.get("f"), fmin, rel, res.get("rc"), res.get("status"),
            "\n".join(res.get("messages", [])), r.program))

    for r in runs:
        res, c = r.result, count[r.criteria]
        c["runs"] += 1
        if res.get("hang") or res.get("nojson"):
            faults["hang" if res.get("hang") else "nojson"] += 1
            put("hang" if res.get("hang") else "no JSON document", r, None)
            continue
        fmin = minimum.get(r.problem())
        f = res.get("f")
        at_min = f is not None and fmin is not None and math.isfinite(f) and not above(f, fmin) \
            and res["violation"] <= FEASIBLE
        if res["claim"] and res["violation"] > FEASIBLE:
            faults["infeasible"] += 1
            put("claim outside the constraints (by %.3g)" % res["violation"], r, fmin)
        if res["claim"]:
            c["claims"] += 1
            if f is not None and fmin is not None and above(f, fmin):
                c["above"] += 1
            if claimed_above(r, fmin):
                descent = id(r) in below and above(f, below[id(r)])
                c["false" if descent else "local"] += 1
                c["warned"] += res["large_gradient"]
                k = (r.config, r.method, r.criteria)
                by_config[k] = by_config.get(k, 0) + 1
                put("false claim, %s" % ("a run from its end point reaches %.12g" % below[id(r)] if descent
                                         else "no run from its end point goes lower"), r, fmin)
            elif f is not None and fmin is not None and above(f, fmin):
                c["excused"] += 1
            elif f is not None and fmin is not None and f - fmin > REL * abs(fmin):
                c["floor"] += 1
                put("claim beyond 1e-6 relative within the 1e-9 floor", r, fmin)
        else:
            c["honest"] += 1
            c["honest_at_min"] += at_min
        if res["limit"] and res["se"]:
            faults["limit_se"] += 1
            limit_se_by[r.option] = limit_se_by.get(r.option, 0) + 1
            put("standard errors after a limit stop", r, fmin)
        if at_min and not above(fmin, f) and res["rc"] is not None and res["rc"] > 4:
            faults["rc_at_min"] += 1
            put("return code above 4 at the minimum", r, fmin)

    print("Claims campaign: %d runs of %d problems (and %d runs from the end points of suspect claims)"
          " in %.0f s, %d at a time, seed %d"
          % (len(runs), len(set(r.problem() for r in runs)), len(polish), seconds, args.jobs, args.seed))
    print()
    columns = ["runs", "claims", "above", "excused", "local", "false", "warned", "floor", "honest", "at min"]
    print("%-9s" % "criteria" + "".join("%8s" % c for c in columns))
    for name in cats:
        c = count[name]
        print("%-9s" % name + "".join("%8d" % c[k] for k in ["runs", "claims", "above", "excused", "local", "false",
                                                               "warned", "floor", "honest", "honest_at_min"]))
    print("""
above    claims whose F is above the reference minimum by more than 1e-6 relative and 1e-9 absolute
excused  of them, under the looser criteria, those with the WARNING that the gradient is large
local    the others at a local minimum above the lowest: no run from the end point goes lower
false    the others from whose end point a run goes lower: false claims, at a point that is no minimum
warned   of local and false, those with the WARNING all the same
floor    claims above it by more than 1e-6 relative, not 1e-9 absolute (F itself below about 1e-3)
honest   stops without a claim; at min: of them those at the minimum all the same""")
    print()
    print("faults: standard errors after a limit stop %d %s; return code above 4 at the minimum %d;\n"
          "        claims outside the constraints %d; runs over %.0f s %d; runs without a JSON document %d"
          % (faults["limit_se"], limit_se_by or "", faults["rc_at_min"], faults["infeasible"], args.timeout,
             faults["hang"], faults["nojson"]))
    if by_config:
        print()
        print("local and false claims by model, method and criteria:")
        for k, n in sorted(by_config.items()):
            print("  %-10s %-5s %-9s %d" % (k + (n,)))
    print()
    print("reference minima against lavaan and across units (%d disagreements):" % len(notes))
    for n in notes:
        print("  " + n)
    with open(args.report, "w") as f:
        f.write("\n".join(report) + "\n")
    if args.runs:
        with open(args.runs, "w") as f:
            for r in runs + polish:
                res = {k: v for k, v in r.result.items() if k != "estimates"}
                f.write(json.dumps({"run": r.describe(), "problem": list(r.problem()), "criteria": r.criteria,
                                    "minimum": minimum.get(r.problem()), **res}) + "\n")
    print()
    print("%d false claims and faults with their programs in %s%s" % (
        len(report), args.report, "; data sets in " + work if args.keep else ""))
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
