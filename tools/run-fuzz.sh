#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for FUZZ_SECONDS (default 60) each.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then echo "no fuzz targets built"; exit 0; fi
for t in "${targets[@]}"; do
  name=$(basename "$t")
  work="$build/corpus/$name"
  mkdir -p "$work"
  seeds="tests/fuzz-corpus/$name"
  echo "== $name for ${seconds}s =="
  "$t" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=512 "$work" ${seeds:+$( [ -d "$seeds" ] && echo "$seeds")}
done
