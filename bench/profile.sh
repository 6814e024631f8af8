#!/usr/bin/env bash
# CPU seconds (user + system) of the whole velix process for profile
# likelihood limits, with the count of limits found against those asked
# for: one loading of the four-factor model of Harman's 24 ability tests
# (114 parameters, the default levels 50, 90, 95 and 99 percent), three
# of its loadings, and four parameters of the political-democracy model
# with CONGRA.  Goal: the one-loading profile under 5 s.
#
# Usage: bench/profile.sh VELIX [FIXTURES_DIR]
#   VELIX         the command to time (an optimised build: `make bench`)
#   FIXTURES_DIR  the folder of harman74.csv and poldem_ml.vx (default
#                 tests/fixtures beside this script)
set -euo pipefail
velix=$(realpath "$1")
fixtures=$(realpath "${2:-$(dirname "$0")/../tests/fixtures}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$fixtures/harman74.csv" "$fixtures/poldem.csv" "$work/"

# profile NAME PROGRAM: CPU seconds of one run, the limits found of those
# the WaldPLLimits table asks for (two per row).
profile() {
  local name=$1 program=$2 t
  printf '%s' "$program" > "$work/p.vx"
  t=$( { /usr/bin/env TIMEFORMAT='%U %S' bash -c \
         "time '$velix' --lib '$work' --json '$work/out.json' '$work/p.vx' >/dev/null 2>&1"; } 2>&1 | tail -1)
  local counts
  counts=$(python3 - "$work/out.json" <<'PY'
import json, sys
def tables(node):
    if isinstance(node, dict):
        if node.get("name") == "WaldPLLimits":
            yield node
        for v in node.values():
            yield from tables(v)
    elif isinstance(node, list):
        for v in node:
            yield from tables(v)
found = asked = 0
for t in tables(json.load(open(sys.argv[1]))):
    names = [c["name"] for c in t["columns"]]
    for row in t["rows"]:
        for col in ("LowerPLI", "UpperPLI"):
            asked += 1
            v = row[names.index(col)]
            found += isinstance(v, (int, float))
print(f"{found}/{asked}")
PY
)
  awk -v n="$name" -v u="${t% *}" -v s="${t#* }" -v c="$counts" \
    'BEGIN { printf "%-40s %8.3f s   limits %s\n", n, u + s, c }'
}

printf '%-40s %10s\n' "profile" "CPU"
profile "24 tests, 4 factors, one loading" \
  $'proc velix data=harman74 method=ml;\nfactor n=4;\nprofile _F5;\nrun;\n'
profile "24 tests, 4 factors, three loadings" \
  $'proc velix data=harman74 method=ml;\nfactor n=4;\nprofile _F5 _F30 _F60;\nrun;\n'
profile "poldem, CONGRA, four parameters" \
  "$(sed 's/^run;/   profile l2 b1 b3 ve1;\n   nloptions tech=congra;\nrun;/' "$fixtures/poldem_ml.vx")"
