#!/usr/bin/env bash
# The test command again and again while both cores are busy with other work:
# a test that depends on a quiet machine fails here.
# Usage: bench/under_load.sh [RUNS] [PRESET] [WORKERS]   (10, test and 4 unless told:
# four busy workers on two cores are two stress-ng --cpu 2 beside each other)
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
preset=${2:-test}
workers=${3:-4}
command -v stress-ng >/dev/null || { echo "stress-ng is not installed" >&2; exit 2; }
cmake --workflow --preset "$preset" >/dev/null 2>&1 || { echo "the suite does not pass alone" >&2; exit 1; }
stress-ng --cpu "$workers" --timeout 0 --quiet &
load=$!
trap 'kill $load 2>/dev/null; wait $load 2>/dev/null' EXIT
failed=0
for run in $(seq "$runs"); do
  log=$(mktemp)
  start=$(date +%s)
  (cd "build/$preset" && ctest -j2 --output-on-failure >"$log" 2>&1)
  status=$?
  load_now=$(cut -d' ' -f1 /proc/loadavg)
  echo "run $run: status $status, $(($(date +%s) - start)) s, load $load_now, $(grep -E '% tests passed' "$log")"
  if [ $status != 0 ]; then
    failed=$((failed + 1))
    grep -E '\(Failed\)|\(Timeout\)|\*\*\*' "$log" | sed 's/^/    /'
  fi
  rm -f "$log"
done
echo "$((runs - failed)) passed, $failed failed"
[ $failed = 0 ]
