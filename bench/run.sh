#!/usr/bin/env bash
# Times whole runs of the optimised tool side by side, in turns, on two inputs
# in the page cache: 512 MiB of text (a word list) and 512 MiB of random bytes.
# Beside the tool: a byte-at-a-time build of the same two passes, two plain
# read(2) passes into a 256 KiB buffer (the read limit), and optionally the
# tool built from an older commit. Prints the medians of wall and CPU time
# (user + system) and the ratios. Notes on noise: bench/NOISE.md.
#
# Usage: bench/run.sh [RUNS] [COMMIT]     e.g. bench/run.sh 7 f6332e5
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
baseline=${2:-}
work=${BENCH_DIR:-/tmp/octetcensusmeter-bench}

need=()
[ -f /usr/share/dict/words ] || need+=(wamerican)
[ -x /usr/bin/time ] || need+=(time)  # for the peak memory
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DOCTET_TESTS=OFF -DBUILD_TESTING=OFF -DOCTET_BENCH=ON >/dev/null
cmake --build build/bench -j2 >/dev/null
tool=$PWD/build/bench/octetcensusmeter
bytewise=$PWD/build/bench/bench/octetcensusmeter_bytewise
readlimit=$PWD/build/bench/bench/read_limit
counters=$PWD/build/bench/bench/count_bench
names=(tool bytewise readlimit)
if [ -n "$baseline" ]; then
  # The older commit, built the same way from a clean checkout of it.
  old=$work/baseline-src
  rm -rf "$old"
  mkdir -p "$old"
  git archive "$baseline" | tar -x -C "$old"
  cmake -S "$old" -B "$old/build" -DCMAKE_BUILD_TYPE=Release -DOCTET_TESTS=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$old/build" -j2 --target octetcensusmeter >/dev/null
  names=(tool baseline bytewise readlimit)
fi

mkdir -p "$work"
cd "$work"
size=536870912
if [ "$(stat -c %s text 2>/dev/null || echo 0)" != $size ]; then
  : >text.tmp
  while [ "$(stat -c %s text.tmp)" -lt $size ]; do cat /usr/share/dict/words >>text.tmp; done
  truncate -s $size text.tmp
  mv text.tmp text
fi
[ "$(stat -c %s random 2>/dev/null || echo 0)" = $size ] ||
  head -c $size /dev/urandom >random
head -c 1048576 text >small

# The command line of each program on input $1; each runs under one bash.
command_of() {
  case $1 in
    tool) echo "printf '%s\\nresult-tool.txt\\n\\n' $2 | '$tool'" ;;
    baseline) echo "printf '%s\\nresult-baseline.txt\\n\\n' $2 | '$old/build/octetcensusmeter'" ;;
    bytewise) echo "'$bytewise' $2 result-bytewise.txt" ;;
    readlimit) echo "'$readlimit' $2" ;;
  esac
}

# One timed run: prints "wall cpu" in seconds, the CPU time (user + system)
# of all its processes, to the millisecond.
timed() {
  local TIMEFORMAT='%3R %3U %3S'
  { time bash -c "$1" >/dev/null 2>&1; } 2>time.out
  awk '{printf "%s %.3f\n", $1, $2 + $3}' time.out
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

echo "commit $(git -C "$OLDPWD" rev-parse --short HEAD)${baseline:+, baseline $baseline}; $runs runs each, in turns"
for input in text random; do
  cat "$input" >/dev/null  # into the page cache
  declare -A wall=() cpu=()
  paired=""  # tool / baseline in CPU time, one ratio per turn: they ran side by side
  for ((i = 0; i < runs; i++)); do
    for n in "${names[@]}"; do
      read -r w c < <(timed "$(command_of "$n" "$input")")
      wall[$n]+="$w "
      cpu[$n]+="$c "
      eval "this_$n=$c"
    done
    [ -z "$baseline" ] || paired+="$(awk -v a="$this_tool" -v b="$this_baseline" 'BEGIN {printf "%.4f", a / b}') "
  done
  echo "== 512 MiB of $input: medians (wall s, CPU s), and each over the read limit"
  lw=$(median "${wall[readlimit]}")
  lc=$(median "${cpu[readlimit]}")
  for n in "${names[@]}"; do
    mw=$(median "${wall[$n]}")
    mc=$(median "${cpu[$n]}")
    printf '  %-10s wall %7.3f  cpu %7.3f   /readlimit: wall %6s  cpu %6s   (cpu: %s)\n' \
      "$n" "$mw" "$mc" "$(ratio "$mw" "$lw")" "$(ratio "$mc" "$lc")" "${cpu[$n]}"
    eval "med_$n=$mc"
  done
  printf '  bytewise / tool, cpu: %s\n' "$(ratio "$med_bytewise" "$med_tool")"
  [ -z "$baseline" ] || printf '  tool / baseline, cpu: %s of the medians; %s the median of the turns (%s)\n' \
    "$(ratio "$med_tool" "$med_baseline")" "$(median "$paired")" "$paired"
  cmp -s <(grep -a '^Byte 0x' result-tool.txt) <(grep -a '^Byte 0x' result-bytewise.txt) ||
    { echo "byte counts of the tool and of the byte-at-a-time build DIFFER"; exit 1; }
  [ -z "$baseline" ] || cmp -s result-tool.txt result-baseline.txt ||
    { echo "result files of the tool and of the baseline DIFFER"; exit 1; }
  [ -z "$baseline" ] || cmp -s <(bash -c "$(command_of tool "$input")" 2>/dev/null) \
    <(bash -c "$(command_of baseline "$input")" 2>/dev/null) ||
    { echo "consoles of the tool and of the baseline DIFFER"; exit 1; }
  unset wall cpu
done

for f in small text; do
  kb=$(printf '%s\nresult-tool.txt\n\n' "$f" | /usr/bin/time -f '%M' "$tool" 2>&1 >/dev/null | tail -n1)
  printf 'peak resident set, %-6s input: %6d KiB\n' "$f" "$kb"
done

# ---------------------------------------------------------------- from the disk
# The same text read from the disk: its pages dropped (checked with fincore)
# before each run, then once more within a memory cgroup of 128 MiB, so that
# the file is four times what the run may keep in memory. Each run prints the
# MiB it read from the disk (getrusage's ru_inblock, as /usr/bin/time's %I
# gives it) and its wall and CPU time, against one plain cold read of the file.
drop_pages() {
  python3 -c 'import os, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
os.fsync(fd)  # dirty pages are not dropped
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)' "$1"
  local resident
  resident=$(fincore --bytes --noheadings --output RES "$1" | tr -d " ")
  [ "$resident" = 0 ] || { echo "the pages of $1 could not be dropped ($resident bytes stay)"; exit 1; }
}
cgroup=/sys/fs/cgroup/memory/octetcensusmeter-bench
in_cgroup=""
if [ -w /sys/fs/cgroup/memory ] && mkdir -p "$cgroup" 2>/dev/null &&
  echo $((128 << 20)) >"$cgroup/memory.limit_in_bytes" 2>/dev/null; then
  in_cgroup="echo \$\$ >$cgroup/cgroup.procs; "
fi
# One cold run: "MiB-read wall cpu".
cold() {  # command [cgroup]
  drop_pages text
  local prefix=${2:+$in_cgroup}
  /usr/bin/time -f '%I %e %U %S' -o cold.out bash -c "$prefix$1" >/dev/null 2>&1
  awk '{printf "%.0f %s %.2f\n", $1 * 512 / 1048576, $2, $3 + $4}' cold.out
}
cold_names=(tool)
[ -z "$baseline" ] || cold_names+=(baseline)
cold_names+=(coldread)
command_of_cold() {
  [ "$1" = coldread ] && echo "cat text >/dev/null" || command_of "$1" text
}
for place in memory cgroup; do
  if [ $place = cgroup ] && [ -z "$in_cgroup" ]; then
    echo "== beyond memory: SKIPPED, no memory cgroup can be made here (needs root and cgroup v1)"
    continue
  fi
  declare -A mib=() wall=() cpu=()
  for ((i = 0; i < runs; i++)); do
    for n in "${cold_names[@]}"; do
      read -r m w c < <(cold "$(command_of_cold "$n")" "$([ $place = cgroup ] && echo 1)")
      mib[$n]+="$m "
      wall[$n]+="$w "
      cpu[$n]+="$c "
    done
  done
  if [ $place = memory ]; then
    echo "== 512 MiB of text from a cold cache: medians, and each over one cold read"
  else
    echo "== 512 MiB of text beyond memory (a 128 MiB memory cgroup): medians, and each over one cold read"
  fi
  rm_=$(median "${mib[coldread]}")
  rw=$(median "${wall[coldread]}")
  rc=$(median "${cpu[coldread]}")
  for n in "${cold_names[@]}"; do
    mm=$(median "${mib[$n]}")
    mw=$(median "${wall[$n]}")
    mc=$(median "${cpu[$n]}")
    printf '  %-10s read %6s MiB (%s)  wall %6.2f (%s)  cpu %5.2f (%s)   (MiB: %s)\n' "$n" "$mm" \
      "$(ratio "$mm" "$rm_")" "$mw" "$(ratio "$mw" "$rw")" "$mc" "$(ratio "$mc" "$rc")" "${mib[$n]}"
  done
  unset mib wall cpu
done
[ -z "$in_cgroup" ] || rmdir "$cgroup" 2>/dev/null || true

# ---------------------------------------------------------------- the read limit
# One read(2) pass costs half as much from large folios (pages read ahead from
# the disk) as from a file just written by appends: the tool's ratio to the
# read limit moves with how its input sits in the page cache.
cat text >appended  # written by appends, its pages those of the writes
for state in appended folios; do
  if [ $state = folios ]; then
    drop_pages appended
    cat appended >/dev/null  # read ahead from the disk: large folios where the kernel makes them
  fi
  w=""
  c=""
  for ((i = 0; i < runs; i++)); do
    read -r a b < <(timed "'$readlimit' appended")
    w+="$a "
    c+="$b "
  done
  printf 'read limit (two read(2) passes of 512 MiB), %-8s wall %6.3f  cpu %6.3f   (cpu: %s)\n' \
    "$state" "$(median "$w")" "$(median "$c")" "$c"
done
rm -f appended

# ---------------------------------------------------------------- the counters
# Each block counter this processor runs on the same 256 KiB in the cache, the
# runs interleaved; the bit-sliced one is skipped, saying so, where it cannot run.
echo "== the block counters on 256 KiB in the cache: medians of $runs, interleaved"
"$counters" --benchmark_repetitions="$runs" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '_median|ERROR|error'
