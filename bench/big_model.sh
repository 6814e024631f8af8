#!/usr/bin/env bash
# The largest model of the scale study: P indicators of P/10 correlated
# factors (1,000 by default: 6,950 parameters, N = 5,000), its data
# simulated at run time by the reference folder's gen_scale.R into a
# scratch folder that is removed afterwards (the CSV file of 1,000
# variables is 47 MB).  For each run: CPU seconds (user + system) and
# elapsed seconds of the whole velix process, its peak resident memory
# (GNU time), and the F it reaches; the machine's load average before and
# after, since the times on a shared machine grow with it (the peak memory
# does not).  The model runs as given (with standard errors) and, with
# NOSTDERR, without them.
#
# Usage: bench/big_model.sh VELIX [REFERENCE_DIR] [P]
#   VELIX          the command to time (an optimised build: `make run`'s)
#   REFERENCE_DIR  the shared reference folder (default ../shared/reference)
#   P              indicators, a multiple of 10 (default 1000)
# Needs R with MASS (gen_scale.R) and GNU time (/usr/bin/time); without
# them, or without REFERENCE_DIR/scale, it says so and runs nothing.
set -euo pipefail
velix=$(realpath "$1")
ref=$(realpath -m "${2:-$(dirname "$0")/../../shared/reference}")
p=${3:-1000}
skip() { echo "big_model.sh: $1: skipped"; exit 0; }
[ -x /usr/bin/time ] || skip "no GNU time (/usr/bin/time)"
command -v Rscript >/dev/null || skip "no R (Rscript) to simulate the data"
[ -f "$ref/scale/gen_scale.R" ] || skip "no $ref/scale/gen_scale.R"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }

(cd "$work" && Rscript "$ref/scale/gen_scale.R" "$p" >/dev/null)
program="$work/p$p.vx"
echo "load average before: $(load)"
printf '%-14s %10s %10s %12s   %s\n' "run" "CPU" "elapsed" "peak memory" "F"
for option in "" nostderr; do
  variant="$work/run_${option:-fit}.vx"
  sed "s/^\(proc velix [^;]*\);/\1 $option;/" "$program" > "$variant"
  /usr/bin/time -v "$velix" --lib "$work" --json "$work/out.json" "$variant" > /dev/null 2> "$work/time.txt" || true
  cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.2f", u + s }' "$work/time.txt")
  elapsed=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0
                         for (i = 1; i <= n; i++) s = s * 60 + t[i]; printf "%.2f", s }' "$work/time.txt")
  peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f MiB", $2 / 1024 }' "$work/time.txt")
  f=$(grep -o '"label":"Fit Function","labelMessage":{[^}]*},"value":[-0-9.eE+]*' "$work/out.json" 2>/dev/null |
      head -1 | sed 's/.*"value"://' || true)
  printf '%-14s %8s s %8s s %12s   %s\n' "${option:-(as given)}" "$cpu" "$elapsed" "$peak" "${f:-}"
done
echo "load average after: $(load)"
