#!/usr/bin/env bash
# Builds the skin reader fuzz target with clang and runs it for SECONDS (default 60) over a
# fresh copy of the seed corpus. Extra arguments go to libFuzzer.
#   fuzz/skin_reader/run.sh [SECONDS] [libFuzzer options...]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
secs="${1:-60}"
shift || true
out="${FUZZ_BUILD:-$root/build-fuzz}"

CXX=clang++ cmake -S "$here" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" -j2 >/dev/null

corpus="$out/corpus"
rm -rf "$corpus"
mkdir -p "$corpus" "$out/artifacts"
cp "$here"/seeds/* "$corpus"/

# Pictures are capped at 4 Mpx (16 MB decoded); nothing else may come near that.
"$out/skin_reader" "$corpus" -max_total_time="$secs" -max_len=16384 -timeout=10 \
    -rss_limit_mb=1024 -malloc_limit_mb=64 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/" "$@" 2>&1 | tee "$out/fuzz.log" | grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|==[0-9]+==ERROR|SUMMARY)' || true
status=${PIPESTATUS[0]}
runs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$out/fuzz.log" | grep -Eo '[0-9]+$' || echo 0)
echo "fuzz: skin_reader ran $runs inputs in ${secs}s (exit $status)"
exit "$status"
