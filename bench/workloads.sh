#!/usr/bin/env bash
# CPU seconds (user + system) of the whole velix process, process start and
# listing included, on the reference models and the benchmark workloads
# (REFERENCE_DIR/workloads), beside the peer packages on the same work, and
# the speed goals as ratios:
#   hs      the nine-variable model with standard errors (lavaan with them),
#           as a fresh process and as a further step in a running one (the
#           peer's figure is a further fit in a running R session)
#   large   120 variables, 306 parameters (lavaan with standard errors)
#   p240, p480, p720   the scale models (lavaan without standard errors at
#           480; the growth from 240 to 480; p720 under 20 s)
#   wls36   WLS, 36 variables, N = 3000 (lavaan WLS)
#   by200   200 BY groups of a 9-variable model (a loop of lavaan fits)
#   big1m   a 1,000,000 x 50 CSV to covariances, METHOD=NONE, with the
#           peak memory (data.table's fread and cov)
# with the F each model reaches.  The peers' seconds are measured inside R
# around the fit (bench/peers.R); each peer run sits between two halves of
# the Velix runs of its workload, so that both see the same load, and the
# load average is printed before and after.
#
# Usage: bench/workloads.sh VELIX [REFERENCE_DIR]
#   VELIX          the command to time (an optimised build: `make bench`)
#   REFERENCE_DIR  the shared reference folder (default ../shared/reference)
# Environment:
#   VELIX_BENCH_DATA   where the generated data go and stay (default
#                      bench-data beside VELIX; about 450 MB)
#   VELIX_BENCH_PEERS  0: no peer runs
# The scale models need REFERENCE_DIR/scale (p720 is generated with its
# gen_scale.R), the workloads REFERENCE_DIR/workloads and R with
# data.table and MASS to generate their data; what is missing is skipped.
set -euo pipefail
velix=$(realpath "$1")
ref=$(realpath "${2:-$(dirname "$0")/../../shared/reference}")
bench=$(realpath "$(dirname "$0")")
data=${VELIX_BENCH_DATA:-$(dirname "$velix")/bench-data}
mkdir -p "$data"
data=$(realpath "$data")
peers=${VELIX_BENCH_PEERS:-1}
command -v Rscript >/dev/null || peers=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 "$(dirname "$0")/rusage.c" -o "$work/rusage"

# measure COMMAND...: "CPU_SECONDS PEAK_KB" of the command's process, from
# its own resource usage (bench/rusage.c: to the microsecond, and nothing
# of a large parent's resident size is counted).
measure() { "$work/rusage" "$@" | cut -d' ' -f1-2; }

# The F of the last run's JSON document, empty when it has none.
fit_function() {
  grep -o '"label":"Fit Function","labelMessage":{[^}]*},"value":[-0-9.eE+]*' "$work/out.json" 2>/dev/null |
    head -1 | sed 's/.*"value"://' || true
}

# peer NAME: the peer's CPU seconds on workload NAME, or "-" (none for
# the growth and p720 goals).
peer() {
  local out
  case $1 in p240 | p720 | hs11) echo "-"; return ;; esac
  if [ "$peers" = 1 ] && out=$(Rscript "$bench/peers.R" "$1" "$data" "$ref" 2>/dev/null); then
    echo "${out#* }" | tr -d ' '
  else
    echo "-"
  fi
}

declare -A cpu mem fmin theirs
# run NAME RUNS PROGRAM LIBDIR: the mean CPU seconds of RUNS runs (the
# listing written, as a plain run writes it) in cpu[NAME], their peak
# memory in mem[NAME], the peer's seconds (run halfway) in theirs[NAME],
# then F from one more run that writes the JSON document too.
run() {
  local name=$1 runs=$2 program=$3 lib=$4 total=0 peak=0 k t m
  for ((k = 0; k < runs; k++)); do
    if ((k == runs / 2)); then theirs[$name]=$(peer "$name"); fi
    read -r t m < <(measure "$velix" --lib "$lib" "$program")
    total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
    ((m > peak)) && peak=$m
  done
  cpu[$name]=$(awk -v t="$total" -v n="$runs" 'BEGIN { printf "%.4f", t / n }')
  mem[$name]=$peak
  rm -f "$work/out.json"
  [ "$name" = big1m ] || "$velix" --lib "$lib" --json "$work/out.json" "$program" >/dev/null 2>&1 || true
  fmin[$name]=$(fit_function)
}

# The data the workloads need, generated once into $data.
prepare() {
  for p in p240 p480; do
    [ -f "$data/$p.csv" ] || { [ -f "$ref/scale/$p.csv.gz" ] && gunzip -c "$ref/scale/$p.csv.gz" > "$data/$p.csv"; } || true
    [ -f "$ref/scale/$p.vx" ] && cp "$ref/scale/$p.vx" "$data/"
  done
  if command -v Rscript >/dev/null; then
    [ -f "$data/p720.csv" ] || [ ! -f "$ref/scale/gen_scale.R" ] ||
      (cd "$data" && Rscript "$ref/scale/gen_scale.R" 720 >/dev/null 2>&1) || true
    [ -f "$data/big1m.csv" ] || [ ! -f "$ref/workloads/gen_workloads.R" ] ||
      Rscript "$ref/workloads/gen_workloads.R" "$data" >/dev/null 2>&1 || true
  fi
  [ -d "$ref/workloads" ] && cp "$ref"/workloads/*.vx "$data/"
  return 0
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

prepare
echo "load average before: $(load)"
run hs 40 "$ref/hs_cfa_ml.vx" "$ref"
# The peer's hs figure is a fit in an R session that has fitted once
# already; the like figure here is a further step in a running process:
# a program of eleven hs steps less the program of one, over ten.  Each
# step still reads the CSV file and writes the whole listing, which the
# peer's figure leaves out.
for ((k = 0; k < 11; k++)); do cat "$ref/hs_cfa_ml.vx"; done > "$work/hs11.vx"
run hs11 20 "$work/hs11.vx" "$ref"
cpu[hswarm]=$(awk -v a="${cpu[hs11]}" -v b="${cpu[hs]}" 'BEGIN { printf "%.5f", (a - b) / 10 }')
theirs[hswarm]=${theirs[hs]}
fmin[hswarm]=${fmin[hs]}
mem[hswarm]=${mem[hs11]}
run large 6 "$ref/large/large_cfa_ml.vx" "$ref/large"
for w in p240 p480 p720 wls36 by200 big1m; do
  [ -f "$data/$w.csv" ] && [ -f "$data/$w.vx" ] || continue
  case $w in
    p240) run p240 4 "$data/p240.vx" "$data" ;;
    p480) run p480 3 "$data/p480.vx" "$data" ;;
    p720) run p720 1 "$data/p720.vx" "$data" ;;
    *) run "$w" 4 "$data/$w.vx" "$data" ;;
  esac
done
echo "load average after: $(load)"

# row NAME LABEL GOAL_TEXT GOAL_RATIO: one line of the table; the ratio is
# the peer's seconds over Velix's.
row() {
  local name=$1 label=$2 goal=$3 need=$4
  [ -n "${cpu[$name]:-}" ] || return 0
  awk -v l="$label" -v v="${cpu[$name]}" -v p="${theirs[$name]:--}" -v g="$goal" -v need="$need" \
      -v f="${fmin[$name]:-}" -v m="${mem[$name]}" 'BEGIN {
    ratio = (p == "-" || v <= 0) ? "-" : sprintf("%.1fx", p / v)
    met = (ratio == "-" || need == "") ? "" : ((p / v >= need) ? "met" : "NOT MET")
    printf "%-34s %9.5f s %9s %8s   %-30s %-7s %s\n", l, v, (p == "-" ? "-" : p " s"), ratio, g, met,
           (f != "" ? "F = " f : sprintf("peak %.0f MB", m / 1024))
  }'
}
printf '%-34s %11s %9s %8s   %-30s %s\n' "workload" "Velix CPU" "peer" "ratio" "goal" ""
row hs "hs, a fresh process" "(process start included)" ""
row hswarm "hs, a further fit in one process" "15x lavaan with std errors" 15
row large "large, 120 variables" "300x lavaan with std errors" 300
row p240 "scale p240, 756 parameters" "" ""
row p480 "scale p480, 2088 parameters" "15x lavaan without std errors" 15
row p720 "scale p720, 3996 parameters" "under 20 s" ""
row wls36 "WLS, 36 variables, N = 3000" "8x lavaan WLS" 8
row by200 "200 BY groups, 9 variables" "" ""
row big1m "1,000,000 x 50 CSV, covariances" "fread + cov, under 1 GB" 1
if [ -n "${cpu[p240]:-}" ] && [ -n "${cpu[p480]:-}" ]; then
  awk -v a="${cpu[p240]}" -v b="${cpu[p480]}" 'BEGIN {
    printf "growth from p240 to p480: %.1fx (p^%.2f; goal at most 8.6x, p^3.1)\n", b / a, log(b / a) / log(2) }'
fi
if [ -n "${cpu[p720]:-}" ]; then
  awk -v t="${cpu[p720]}" 'BEGIN { printf "p720: %.1f s (goal under 20 s): %s\n", t, t < 20 ? "met" : "NOT MET" }'
fi
if [ -n "${mem[big1m]:-}" ]; then
  awk -v m="${mem[big1m]}" 'BEGIN { printf "big1m peak memory: %.0f MB (goal under 1 GB): %s\n", m / 1024, m < 1048576 ? "met" : "NOT MET" }'
fi
grep -h '"fmin"' "$ref/scale/expected.json" 2>/dev/null | sed 's/^ */reference: /' || true
