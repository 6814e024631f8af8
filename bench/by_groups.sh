#!/usr/bin/env bash
# Peak memory and CPU seconds (user + system) of the whole velix process on
# BY runs of a growing number of groups, so that what a step keeps of its
# groups can be seen not to grow with their number: groups of 20 rows of 5
# variables (`factor n=1`, METHOD=ML, default printing) at 10, 100, 1,000,
# 4,000 and 100,000 groups; METHOD=NONE NOPRINT at 10 and 40,000 groups of
# 10 rows; and 1,000 groups of 100 rows of 50 variables with a WEIGHT
# variable and 1% of the values missing (METHOD=ML).  Then the passes that
# read a group's observations again, each at 10 and 100,000 groups:
# OUTSTAT=, KURTOSIS and DWLS NOPRINT on groups of 10 rows of 5 variables,
# WLS NOPRINT with OUTWGT= on groups of 20 rows, and WLS with those weights
# as INWGT=, in the order of DATA=, reversed and shuffled; and OUTSTAT=, KURTOSIS and DWLS NOPRINT on 10 and 10,000 groups
# of the 50 weighted variables with missing values.  Listing, log and JSON
# document go to files, as a user's would.  The data are generated at run
# time into a scratch folder that is deleted at the end (the outputs of
# 100,000 groups take 3.5 GB while they last), and the load average is
# printed before and after.
#
# Usage: bench/by_groups.sh VELIX
#   VELIX  the command to time (an optimised build: `make bench`)
# Environment:
#   VELIX_BY_SCRATCH  where the scratch folder goes (default $TMPDIR or /tmp)
#   VELIX_BY_LARGE    0: leave out the runs of 100,000 groups and of 10,000
#                     groups of 50 variables (about 2 minutes)
set -euo pipefail
[ -x /usr/bin/time ] || { echo "no GNU time (/usr/bin/time): nothing to measure"; exit 0; }
velix=$(realpath "$1")
large=${VELIX_BY_LARGE:-1}
work=$(mktemp -d "${VELIX_BY_SCRATCH:-${TMPDIR:-/tmp}}/velix-by.XXXXXX")
trap 'rm -rf "$work"' EXIT

# gen GROUPS ROWS VARS WEIGHTED FILE: g, then (WEIGHTED) a weight w in
# [0.5, 1.5), then z1..zVARS of a one-factor model with 5 decimals; with
# WEIGHTED, 1% of the z values missing (empty fields).
cat > "$work/gen.c" <<'EOF'
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
static uint64_t s = 88172645463325252ull;
static double unif(void) { s ^= s << 13; s ^= s >> 7; s ^= s << 17; return ((s >> 11) + 0.5) * (1.0 / 9007199254740992.0); }
static double gauss(void) { return sqrt(-2 * log(unif())) * cos(6.283185307179586 * unif()); }
int main(int argc, char** argv) {
  long groups = atol(argv[1]), rows = atol(argv[2]); int p = atoi(argv[3]), w = atoi(argv[4]);
  FILE* f = fopen(argv[5], "w");
  static char buf[1 << 20]; setvbuf(f, buf, _IOFBF, sizeof buf);
  fputs(w ? "g,w" : "g", f);
  for (int j = 0; j < p; j++) fprintf(f, ",z%d", j + 1);
  fputc('\n', f);
  for (long g = 1; g <= groups; g++)
    for (long i = 0; i < rows; i++) {
      double c = gauss();
      fprintf(f, "%ld", g);
      if (w) fprintf(f, ",%.3f", 0.5 + unif());
      for (int j = 0; j < p; j++) {
        double x = 0.7 * c + 0.6 * gauss();
        if (w && unif() < 0.01) fputc(',', f); else fprintf(f, ",%.5f", x);
      }
      fputc('\n', f);
    }
  fclose(f);
}
EOF
cc -O2 "$work/gen.c" -o "$work/gen" -lm

# measure COMMAND...: "CPU_SECONDS PEAK_KB EXIT_STATUS" of the command's
# process from GNU time, its standard output to the file $listing and its
# standard error to the file $log.  (A process spawned by python3, as in
# bench/stream.sh, starts from python's own resident size, about 13 MB,
# which would hide the smaller peaks.)
measure() {
  local rc=0
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" > "$listing" 2> "$log" || rc=$?
  # (after a line of its own on a non-zero exit status)
  awk -v rc="$rc" 'END { printf "%.4f %d %d\n", $1 + $2, $3, rc }' "$work/time"
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

declare -A cpu peak
names=()
# data NAME GROUPS ROWS VARS WEIGHTED: generates the data set NAME.
data() { "$work/gen" "$2" "$3" "$4" "$5" "$work/$1.csv"; }
# run NAME DATA OPTIONS STATEMENTS: runs the step on the data set DATA once
# with its outputs to files, then deletes them but an output data set
# named `keep`.
run() {
  local name=$1 t kb rc
  printf 'proc velix data=%s %s;\n   by g;\n%s   factor n=1;\nrun;\n' "$2" "$3" "$4" > "$work/$name.vx"
  listing="$work/$name.lst" log="$work/$name.log"
  read -r t kb rc < <(measure "$velix" --lib "$work" --json "$work/$name.json" "$work/$name.vx")
  [ "$rc" -le 1 ] || echo "$name: exit status $rc"
  cpu[$name]=$t peak[$name]=$kb
  names+=("$name")
  rm -f "$work/$name".vx "$work/$name".lst "$work/$name".log "$work/$name".json "$work/out.csv"
}
# case NAME GROUPS ROWS VARS WEIGHTED OPTIONS STATEMENTS: the step on data
# of its own, deleted after it.
case_of() {
  data "$1" "$2" "$3" "$4" "$5"
  run "$1" "$1" "$6" "$7"
  rm -f "$work/$1.csv"
}

echo "load average before: $(load)"
for g in 10 100 1000 4000; do case_of "ml$g" "$g" 20 5 0 "method=ml" ""; done
[ "$large" = 0 ] || case_of ml100000 100000 20 5 0 "method=ml" ""
case_of none10 10 10 5 0 "method=none noprint" ""
case_of none40000 40000 10 5 0 "method=none noprint" ""
case_of weighted1000 1000 100 50 1 "method=ml" $'   weight w;\n'
sizes=(10)
[ "$large" = 0 ] || sizes+=(100000)
for g in "${sizes[@]}"; do
  data "d$g" "$g" 10 5 0
  run "outstat$g" "d$g" "method=none covariance outstat=out" ""
  run "kurtosis$g" "d$g" "method=none covariance kurtosis" ""
  run "dwls$g" "d$g" "method=dwls covariance noprint" ""
  data "e$g" "$g" 20 5 0
  run "wls$g" "e$g" "method=wls covariance noprint outwgt=keep" ""
  run "inwgt$g" "e$g" "method=wls covariance noprint inwgt=keep" ""
  # The same weights with their groups in reverse and in a shuffled order
  # (the rows of a group kept in theirs), found by value.
  head -n 4 "$work/keep.csv" > "$work/reversed.csv"
  tail -n +5 "$work/keep.csv" | sort -s -t, -k1,1nr >> "$work/reversed.csv"
  head -n 4 "$work/keep.csv" > "$work/shuffled.csv"
  tail -n +5 "$work/keep.csv" | awk -F, '{ print ($1 * 2654435761) % 1000003 "," $0 }' |
    sort -s -t, -k1,1n | cut -d, -f2- >> "$work/shuffled.csv"
  run "inwgtrev$g" "e$g" "method=wls covariance noprint inwgt=reversed" ""
  run "inwgtshuf$g" "e$g" "method=wls covariance noprint inwgt=shuffled" ""
  rm -f "$work/reversed.csv" "$work/shuffled.csv"
  rm -f "$work/d$g.csv" "$work/e$g.csv" "$work/keep.csv"
done
weighted=(10)
[ "$large" = 0 ] || weighted+=(10000)
for g in "${weighted[@]}"; do
  data "w$g" "$g" 100 50 1
  run "w50outstat$g" "w$g" "method=none covariance outstat=out" $'   weight w;\n'
  run "w50kurtosis$g" "w$g" "method=none covariance kurtosis" $'   weight w;\n'
  run "w50dwls$g" "w$g" "method=dwls covariance noprint" $'   weight w;\n'
  rm -f "$work/w$g.csv"
done
echo "load average after: $(load)"

printf '%-18s %10s %10s\n' case CPU peak
for n in "${names[@]}"; do
  awk -v n="$n" -v t="${cpu[$n]}" -v kb="${peak[$n]}" 'BEGIN { printf "%-18s %8.2f s %7.1f MB\n", n, t, kb / 1024 }'
done
# The goals: 4,000 groups (and 40,000 under METHOD=NONE) within 16 MB of
# the peak of 10; the weighted 50 variables under 64 MB; 100,000 groups
# under 32 MB; each pass that reads the groups again within 16 MB of its
# peak of 10 groups at 100,000 groups (10,000 of 50 variables).
goal() {  # WHAT KB LIMIT_KB
  awk -v what="$1" -v kb="$2" -v limit="$3" \
    'BEGIN { printf "%s: %.1f MB (goal under %.0f MB): %s\n", what, kb / 1024, limit / 1024, kb < limit ? "met" : "NOT MET" }'
}
goal "4,000 groups, ML, above 10 groups" $((peak[ml4000] - peak[ml10])) $((16 * 1024))
goal "40,000 groups, NONE, above 10 groups" $((peak[none40000] - peak[none10])) $((16 * 1024))
goal "1,000 groups of 50 variables, WEIGHT and missing values" "${peak[weighted1000]}" $((64 * 1024))
[ -z "${peak[ml100000]:-}" ] || goal "100,000 groups of 5 variables" "${peak[ml100000]}" $((32 * 1024))
for n in outstat kurtosis dwls wls inwgt inwgtrev inwgtshuf; do
  [ -z "${peak[${n}100000]:-}" ] ||
    goal "100,000 groups, $n, above 10 groups" $((peak[${n}100000] - peak[${n}10])) $((16 * 1024))
done
for n in outstat kurtosis dwls; do
  [ -z "${peak[w50${n}10000]:-}" ] ||
    goal "10,000 groups of 50 variables, $n, above 10 groups" \
      $((peak[w50${n}10000] - peak[w50${n}10])) $((16 * 1024))
done
