#!/usr/bin/env bash
# Peak memory and CPU seconds (user + system) of the whole velix process on
# raw data sets of growing size, so that what a step keeps can be seen not
# to grow with the observations: 10^6 and 10^7 rows of 5 and of 50
# variables (gencsv.c of the reference workloads: one-factor data with 5
# decimals), each with METHOD=NONE (the covariances) and with METHOD=ML,
# both with `factor n=1`.  The data are generated at run time into a
# scratch folder that is deleted at the end (the 10^7 x 50 file takes
# 4.3 GB and about 80 s to write), and the load average is printed before
# and after.
#
# Usage: bench/stream.sh VELIX [REFERENCE_DIR]
#   VELIX          the command to time (an optimised build: `make bench`)
#   REFERENCE_DIR  the shared reference folder (default ../shared/reference)
# Environment:
#   VELIX_STREAM_SCRATCH  where the scratch folder goes (default $TMPDIR or /tmp)
#   VELIX_STREAM_WIDE     0: leave out the 50-variable data sets
#   VELIX_STREAM_RUNS     runs of each 10^6-row case (default 3; 10^7 rows run once)
set -euo pipefail
velix=$(realpath "$1")
ref=$(realpath "${2:-$(dirname "$0")/../../shared/reference}")
wide=${VELIX_STREAM_WIDE:-1}
runs=${VELIX_STREAM_RUNS:-3}
gen="$ref/workloads/gencsv.c"
[ -f "$gen" ] || { echo "no $gen: nothing to measure"; exit 0; }
work=$(mktemp -d "${VELIX_STREAM_SCRATCH:-${TMPDIR:-/tmp}}/velix-stream.XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 "$gen" -o "$work/gencsv" -lm
cc -O2 "$(dirname "$0")/rusage.c" -o "$work/rusage"

# measure COMMAND...: "CPU_SECONDS PEAK_KB EXIT_STATUS" of the command's
# process from its own resource usage (bench/rusage.c).
measure() { "$work/rusage" "$@"; }

load() { cut -d' ' -f1-3 /proc/loadavg; }

declare -A cpu peak
# case ROWS VARS: generates the data set, times both methods on it, then
# deletes it.
case_of() {
  local n=$1 p=$2 name="r${1}p${2}" m k t kb rc total most reps
  "$work/gencsv" "$n" "$p" "$work/$name.csv"
  for m in none ml; do
    printf 'proc velix data=%s method=%s covariance;\n   factor n=1;\nrun;\n' "$name" "$m" > "$work/$name.$m.vx"
    total=0 most=0 reps=$runs
    ((n >= 10000000)) && reps=1
    for ((k = 0; k < reps; k++)); do
      read -r t kb rc < <(measure "$velix" --lib "$work" "$work/$name.$m.vx")
      [ "$rc" = 0 ] || echo "$name $m: exit status $rc"
      total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
      ((kb > most)) && most=$kb
    done
    cpu[$name.$m]=$(awk -v t="$total" -v r="$reps" 'BEGIN { printf "%.3f", t / r }')
    peak[$name.$m]=$most
  done
  rm -f "$work/$name.csv"
}

echo "load average before: $(load)"
for p in 5 50; do
  [ "$p" = 50 ] && [ "$wide" = 0 ] && continue
  for n in 1000000 10000000; do case_of "$n" "$p"; done
done
echo "load average after: $(load)"

printf '%-10s %-5s %-6s %10s %10s\n' rows vars method "CPU" "peak"
for p in 5 50; do
  for n in 1000000 10000000; do
    for m in none ml; do
      [ -n "${cpu[r${n}p${p}.$m]:-}" ] || continue
      awk -v n="$n" -v p="$p" -v m="$m" -v t="${cpu[r${n}p${p}.$m]}" -v kb="${peak[r${n}p${p}.$m]}" \
        'BEGIN { printf "%-10d %-5d %-6s %8.3f s %7.1f MB\n", n, p, m, t, kb / 1024 }'
    done
  done
done
# The goals: under 64 MB, and the peak of 10^7 rows within 10% of that of 10^6.
for p in 5 50; do
  for m in none ml; do
    small=${peak[r1000000p${p}.$m]:-} large=${peak[r10000000p${p}.$m]:-}
    [ -n "$small" ] && [ -n "$large" ] || continue
    awk -v p="$p" -v m="$m" -v a="$small" -v b="$large" -v ta="${cpu[r1000000p${p}.$m]}" \
        -v tb="${cpu[r10000000p${p}.$m]}" 'BEGIN {
      ok = (b < 65536 && b <= 1.1 * a && a <= 1.1 * b) ? "met" : "NOT MET"
      printf "%d variables, %s: peak %.1f MB at 10^7 rows, %.1f MB at 10^6 (goal under 64 MB, within 10%%): %s; time x%.1f\n",
             p, m, b / 1024, a / 1024, ok, tb / ta }'
  done
done
