#!/usr/bin/env bash
# The diary benchmarks still run and print their figures (small sizes; no targets checked).
set -euo pipefail
cd "$(dirname "$0")/../.."
for run in "build/bin/bench_diary_save 5 5" "build/bin/bench_diary_search 20000" \
  "build/bin/bench_vault 365 3650"; do
  out=$($run 2>/dev/null)
  echo "$out"
  # Every line: figure, value, unit, target, ratio, reference.
  echo "$out" | awk -F'\t' 'NF != 6 { bad = 1 } END { exit bad || NR == 0 }'
done
# The engines side by side: the table and its figures, the server columns where PostgreSQL 15
# is installed.
out=$(build/bin/bench_engines --smoke 2>/dev/null)
echo "$out"
grep -q '^| action | SQLite |' <<<"$out" && grep -qP '^([^\t]+\t){5}[^\t]+$' <<<"$out"
