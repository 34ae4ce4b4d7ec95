#!/usr/bin/env bash
# A minute of fuzzing the skin reader, where clang is installed.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not installed; skipped"
  exit 0
fi
bash fuzz/skin_reader/run.sh "${FUZZ_SECONDS:-60}"
