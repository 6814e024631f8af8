#!/usr/bin/env bash
# CPU seconds (user + system) of the whole velix process on the reference
# models, process start and listing included, with the minimum F it
# reaches: the nine-variable hs model, the 120-variable large model (306
# parameters), and the scale models of 240 and 480 variables (756 and 2088
# parameters) when their data are present.  Each model runs as given (with
# standard errors), with NOSTDERR and with MODIFICATION (the indices of
# every fixed cell).  The machine's load average is printed before and
# after: on a shared machine the times grow with it, so the runs are
# repeated and the mean and the least of them shown.
#
# Usage: bench/models.sh VELIX [REFERENCE_DIR]
#   VELIX          the command to time (an optimised build: `make bench`)
#   REFERENCE_DIR  the shared reference folder (default ../shared/reference)
set -euo pipefail
velix=$(realpath "$1")
ref=$(realpath "${2:-$(dirname "$0")/../../shared/reference}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cpu_seconds RUNS PROGRAM LIBDIR: mean and least CPU seconds of RUNS runs
# (the listing written, as a plain run writes it), then F from one more run
# that writes the JSON document too.
cpu_seconds() {
  local runs=$1 program=$2 lib=$3 times="" t
  for ((k = 0; k < runs; k++)); do
    t=$( { /usr/bin/env TIMEFORMAT='%U %S' bash -c "time '$velix' --lib '$lib' '$program' >/dev/null 2>&1"; } 2>&1 | tail -1)
    times="$times $(awk -v u="${t% *}" -v s="${t#* }" 'BEGIN { printf "%.6f", u + s }')"
  done
  "$velix" --lib "$lib" --json "$work/out.json" "$program" >/dev/null 2>&1 || true
  local f
  f=$(grep -o '"label":"Fit Function","labelMessage":{[^}]*},"value":[-0-9.eE+]*' "$work/out.json" | head -1 |
      sed 's/.*"value"://')
  echo "$times" | awk -v f="$f" '{ s = 0; m = $1; for (i = 1; i <= NF; i++) { s += $i; if ($i < m) m = $i }
                                  printf "%9.3f s %9.3f s   F = %s\n", s / NF, m, f }'
}

# variant PROGRAM OPTION: the program with OPTION added to its PROC statement.
variant() {
  local out="$work/$(basename "$1" .vx)_${2:-fit}.vx"
  sed "s/^\(proc velix [^;]*\);/\1 $2;/" "$1" > "$out"
  echo "$out"
}

# model LABEL RUNS PROGRAM LIBDIR: the three runs of one model.
model() {
  local label=$1 runs=$2 program=$3 lib=$4 option
  for option in "" nostderr modification; do
    printf '%-28s %-14s ' "$label" "${option:-(as given)}"
    cpu_seconds "$runs" "$(variant "$program" "$option")" "$lib"
  done
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-28s %-14s %11s %11s\n' "model" "run" "CPU mean" "least"
model "hs (9 variables)" 20 "$ref/hs_cfa_ml.vx" "$ref"
model "large (120, 306 parameters)" 5 "$ref/large/large_cfa_ml.vx" "$ref/large"
for p in p240 p480; do
  [ -f "$ref/scale/$p.csv.gz" ] || continue
  gunzip -c "$ref/scale/$p.csv.gz" > "$work/$p.csv"
  cp "$ref/scale/$p.vx" "$work/"
  model "scale $p" "$([ $p = p240 ] && echo 3 || echo 1)" "$work/$p.vx" "$work"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
grep -h '"fmin"' "$ref/scale/expected.json" 2>/dev/null | sed 's/^ */reference: /' || true
