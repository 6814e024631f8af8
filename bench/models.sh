#!/usr/bin/env bash
# CPU seconds (user + system) of the whole velix process on the reference
# models, process start and listing included, with the minimum F it
# reaches: the nine-variable hs model with standard errors, the 120-variable
# large model (306 parameters), and the scale models of 240 and 480
# variables (756 and 2088 parameters) when their data are present.
#
# Usage: bench/models.sh VELIX [REFERENCE_DIR]
#   VELIX          the command to time (an optimised build: `make bench`)
#   REFERENCE_DIR  the shared reference folder (default ../shared/reference)
set -euo pipefail
velix=$(realpath "$1")
ref=$(realpath "${2:-$(dirname "$0")/../../shared/reference}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cpu_seconds RUNS PROGRAM LIBDIR: mean CPU seconds of RUNS runs, F of the last.
cpu_seconds() {
  local runs=$1 program=$2 lib=$3 total=0 t
  for ((k = 0; k < runs; k++)); do
    t=$( { /usr/bin/env TIMEFORMAT='%U %S' bash -c "time '$velix' --lib '$lib' --json '$work/out.json' '$program' >/dev/null 2>&1"; } 2>&1 | tail -1)
    total=$(awk -v a="$total" -v u="${t% *}" -v s="${t#* }" 'BEGIN { printf "%.6f", a + u + s }')
  done
  local f
  f=$(grep -o '"label":"Fit Function","labelMessage":{[^}]*},"value":[-0-9.eE+]*' "$work/out.json" | head -1 |
      sed 's/.*"value"://')
  awk -v t="$total" -v n="$runs" -v f="$f" 'BEGIN { printf "%10.3f s   F = %s\n", t / n, f }'
}

printf '%-28s %s\n' "model" "CPU per run"
printf '%-28s ' "hs (9 variables)"
cpu_seconds 20 "$ref/hs_cfa_ml.vx" "$ref"
printf '%-28s ' "large (120, 306 parameters)"
cpu_seconds 3 "$ref/large/large_cfa_ml.vx" "$ref/large"
for p in p240 p480; do
  [ -f "$ref/scale/$p.csv.gz" ] || continue
  gunzip -c "$ref/scale/$p.csv.gz" > "$work/$p.csv"
  cp "$ref/scale/$p.vx" "$work/"
  printf '%-28s ' "scale $p"
  cpu_seconds 1 "$work/$p.vx" "$work"
done
grep -h '"fmin"' "$ref/scale/expected.json" 2>/dev/null | sed 's/^ */reference: /' || true
