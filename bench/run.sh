#!/usr/bin/env bash
# Times a whole run of the optimised tool side by side with a byte-at-a-time
# build of the two passes, `ent -c`, and two plain read(2) passes (the read
# limit), in turns, on a 512 MiB word list in the page cache. Prints the
# medians, the ratios and the peak memory.  Usage: bench/run.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=${BENCH_DIR:-/tmp/octetcensusmeter-bench}

need=()
[ -f /usr/share/dict/words ] || need+=(wamerican)
command -v ent >/dev/null || need+=(ent)
[ -x /usr/bin/time ] || need+=(time)
command -v bc >/dev/null || need+=(bc)
[ -f /usr/lib/x86_64-linux-gnu/cmake/benchmark/benchmarkConfig.cmake ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DOCTET_TESTS=OFF -DOCTET_BENCH=ON >/dev/null
cmake --build build/bench -j2 >/dev/null
tool=$PWD/build/bench/octetcensusmeter
bytewise=$PWD/build/bench/bench/octetcensusmeter_bytewise
readlimit=$PWD/build/bench/bench/read_limit

mkdir -p "$work"
cd "$work"
if [ "$(stat -c %s words512 2>/dev/null || echo 0)" != 536870912 ]; then
  : >words512.tmp
  while [ "$(stat -c %s words512.tmp)" -lt 536870912 ]; do cat /usr/share/dict/words >>words512.tmp; done
  truncate -s 536870912 words512.tmp
  mv words512.tmp words512
fi
head -c 1048576 words512 >words1
cat words512 >/dev/null  # into the page cache

seconds() {  # wall time of one command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
run_tool() { printf 'words512\nresult.txt\n\n' | "$tool"; }
run_bytewise() { "$bytewise" words512 result-bytewise.txt; }
run_ent() { ent -c words512; }
run_readlimit() { "$readlimit" words512; }

declare -A times
names=(tool bytewise ent readlimit)
for ((i = 0; i < runs; i++)); do
  for n in "${names[@]}"; do times[$n]+="$(seconds "run_$n") "; done
done
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

echo "median wall time of $runs runs each, 512 MiB word list in the page cache:"
declare -A med
for n in "${names[@]}"; do
  med[$n]=$(median "${times[$n]}")
  printf '  %-10s %8.3f s   (all: %s)\n' "$n" "${med[$n]}" "${times[$n]}"
done
printf 'bytewise / tool  = %6.1f   (goal: at least 15)\n' "$(echo "${med[bytewise]} / ${med[tool]}" | bc -l)"
printf 'ent / tool       = %6.1f   (goal: at least 12)\n' "$(echo "${med[ent]} / ${med[tool]}" | bc -l)"
printf 'tool / readlimit = %6.1f   (goal: at most 4)\n' "$(echo "${med[tool]} / ${med[readlimit]}" | bc -l)"
printf 'tool throughput  = %6.2f GB/s of input\n' "$(echo "536870912 / ${med[tool]} / 1000000000" | bc -l)"

for f in words1 words512; do
  kb=$(printf '%s\nresult.txt\n\n' "$f" | /usr/bin/time -v "$tool" 2>&1 >/dev/null |
    awk -F: '/Maximum resident set size/ {print $2}')
  printf 'peak resident set, %-8s input: %6d KiB\n' "$f" "$kb"
done
cmp -s <(grep -a '^Byte 0x' result.txt) <(grep -a '^Byte 0x' result-bytewise.txt) &&
  echo "byte counts of the tool and of the byte-at-a-time build agree" ||
  { echo "byte counts DIFFER"; exit 1; }
