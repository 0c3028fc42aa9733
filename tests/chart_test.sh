#!/usr/bin/env bash
# The chart program end to end: the README's chart up to date, the SVG
# well-formed and drawn by a real renderer, the figures against ent where it
# is installed, the command line, and the chart's file safety.
# Usage: chart_test.sh TOOL CHART SOURCE_DIR VERSION FAULT_LIBRARY
set -uo pipefail
tool=$(realpath "$1")
chart=$(realpath "$2")
source=$(realpath "$3")
version=$4
faults=$(realpath "$5")
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }
check() { if eval "$2"; then ok; else fail "$1" "$2"; fi; }  # name condition
skip() { echo "-- SKIPPED: $*"; }

# Waits until the condition holds, for at most a minute.
await() { for _ in $(seq 1200); do eval "$1" && return; sleep 0.05; done; }

# A result of the tool on the given file, under the given name.
analyse() { printf '%s\n%s\n\n' "$1" "$2" | "$tool" >/dev/null; }

echo "-- the sample's chart, as the README shows it"
cp "$source/examples/passwords.txt" .
analyse passwords.txt passwords-result.txt
"$chart" passwords-result.txt >words.txt
check sample_accepted '[ $? = 0 ] && grep -q "^Verdict: " words.txt'
check readme_chart_up_to_date 'cmp -s passwords-result.svg "$source/docs/passwords-chart.svg"'
check new_chart_is_private '[ "$(stat -c %a passwords-result.svg)" = 600 ]'

# The checks that read the SVG, the pixels or ent's words are written in Python.
python() { command -v python3 >/dev/null; }
python || skip "python3 is not installed: the SVG, the pixels and ent's figures are not checked"

echo "-- the SVG: well-formed, two panels, a tooltip on each of the 512 bars"
python && check well_formed_with_512_tooltips 'python3 - passwords-result.svg <<"EOF"
import sys, xml.etree.ElementTree as ET
ns = "{http://www.w3.org/2000/svg}"
root = ET.parse(sys.argv[1]).getroot()
bars = [r for r in root.iter(ns + "rect") if r.find(ns + "title") is not None]
assert len(bars) == 512, len(bars)
assert bars[0x61].find(ns + "title").text == "0x61 '"'"'a'"'"' = 20", bars[0x61].find(ns + "title").text
assert bars[256 + 1].find(ns + "title").text == "difference 0x1 = 21"
EOF'

if ! python; then
  :
elif command -v rsvg-convert >/dev/null; then
  rsvg-convert passwords-result.svg -o chart.png
  "$chart" --log passwords-result.txt log.svg >/dev/null && rsvg-convert log.svg -o log.png
  # Each panel's plot area holds coloured pixels: the bars were drawn.
  for png in chart.png log.png; do
    check "rendered_$png" 'python3 "$source/tests/png_check.py" bars $png'
  done
  check list_chart_inside_its_edges 'python3 "$source/tests/png_check.py" edges chart.png'
  # A list of 999 words, not drawn fairly from the small letters.
  cat "$source/README.md" "$source"/docs/*.md | tr -cs 'A-Za-z' '\n' | tr A-Z a-z | sort -u | head -999 >words.txt
  analyse words.txt words-result.txt
  "$chart" words-result.txt >/dev/null && rsvg-convert words-result.svg -o words.png
  check unfair_list_chart_inside_its_edges 'python3 "$source/tests/png_check.py" edges words.png'

  # Counts no file here reaches, on the last value: every label stays inside
  # the chart, on either axis.
  for counts in "15000000000 14999999999" "630000000000 629999999999" \
    "18446744073709551615 18446744073709551614"; do
    set -- $counts
    python3 "$source/tests/result_of.py" huge.txt "ff=$1" "0=$2"
    for log in "" --log; do
      "$chart" $log huge.txt huge.svg >/dev/null && rsvg-convert huge.svg -o huge.png
      check "labels_inside_at_$1${log:+_log}" 'python3 "$source/tests/png_check.py" edges huge.png'
    done
  done
else
  skip "rsvg-convert is not installed (librsvg2-bin): the chart is not rendered"
fi
if command -v chromium >/dev/null; then
  # A browser window of 1280 x 800, and a printout that takes one page.
  browse() {
    timeout 40 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync \
      --user-data-dir="$work/browser" "$@" "file://$work/passwords-result.svg" >/dev/null 2>&1
  }
  browse --screenshot="$work/shot.png" --window-size=1280,800
  check opens_in_a_browser '[ -s shot.png ]'
  browse --print-to-pdf="$work/print.pdf"
  check prints_on_one_page '[ "$(grep -a -c "/Type /Page\b\|/Type/Page[^s]" print.pdf)" = 1 ]'
else
  skip "chromium is not installed: the chart is not opened in a browser"
fi

echo "-- the figures against ent"
if ! python; then
  :
elif command -v ent >/dev/null; then
  head -c 100000 /dev/urandom >random.bin
  analyse random.bin random-result.txt
  for input in passwords.txt random.bin; do
    result=$([ $input = passwords.txt ] && echo passwords-result.txt || echo random-result.txt)
    check "ent_agrees_on_$input" 'python3 - "$(ent $input)" "$("$chart" --json $result ent.svg)" <<"EOF"
import json, re, sys
ent, mine = sys.argv[1], json.loads(sys.argv[2])
entropy = float(re.search(r"Entropy = ([0-9.]+) bits per byte", ent).group(1))
chi = float(re.search(r"Chi square distribution for \d+ samples is ([0-9.]+)", ent).group(1))
assert abs(entropy - mine["entropy"]) < 1e-5, (entropy, mine["entropy"])
assert abs(chi - mine["chi_square"]) <= 0.006 * max(1, chi / 1000), (chi, mine["chi_square"])
EOF'
  done
else
  skip "ent is not installed: the figures are not compared with it"
fi

echo "-- the JSON of lists the tests cannot judge, read by a strict reader"
printf 'aaa\n%.0s' 1 2 3 4 5 6 7 8 9 10 >one-value.txt
printf '\303\251t\303\251\n%.0s' 1 2 3 4 5 6 7 8 9 10 >utf8.txt
printf 'Password1\n' >one.txt
for list in one-value utf8 one; do
  analyse $list.txt $list-result.txt
  python && check "json_of_${list}_list_parsed" '"$chart" --json $list-result.txt $list.svg | python3 -c "
import json, sys
json.loads(sys.stdin.read(), parse_constant=lambda c: sys.exit(c + \" is not JSON\"))"'
done

echo "-- the command line"
"$chart" --help >help.txt
check help '[ $? = 0 ] && grep -q "^usage: octetcensusmeter-chart" help.txt'
check version '"$chart" --version >version.txt && [ "$(head -1 version.txt)" = "octetcensusmeter-chart $version" ] && grep -q "^Copyright (c) 2026 " version.txt && grep -q "^License MIT" version.txt'
"$chart" 2>err.txt >/dev/null
check no_result '[ $? = 2 ] && grep -q "^usage:" err.txt'
"$chart" --bogus passwords-result.txt 2>err.txt >/dev/null
check unknown_option '[ $? = 2 ] && grep -q "unknown option .--bogus." err.txt'
"$chart" missing.txt 2>err.txt >/dev/null
check missing_result '[ $? = 1 ] && grep -q "^octetcensusmeter-chart: missing.txt: cannot be opened" err.txt'
head -c 3000 passwords-result.txt >short.txt
"$chart" short.txt 2>err.txt >/dev/null
check truncated_result '[ $? = 1 ] && grep -q "^octetcensusmeter-chart: short.txt:[0-9]*: expected" err.txt && [ ! -e short.svg ]'
cp passwords-result.txt .hidden
check chart_named_after_a_dot_name '"$chart" .hidden >/dev/null && [ -f .hidden.svg ]'
mkdir -p runs.d x/runs.d
cp passwords-result.txt runs.d/result
cp passwords-result.txt runs.d/r.2.txt
cp passwords-result.txt x/runs.d/result
"$chart" runs.d/result >/dev/null && "$chart" runs.d/r.2.txt >/dev/null && "$chart" x/runs.d/result >/dev/null
check chart_named_after_the_file_not_its_folder '[ -f runs.d/result.svg ] && [ -f runs.d/r.2.svg ] && [ ! -e runs.svg ] && [ -f x/runs.d/result.svg ] && [ ! -e x/runs.svg ]'
check json_names_the_file_not_its_folder '"$chart" --json x/runs.d/result x/c.svg | grep -q "^{\"file\": \"result\", "'
"$chart" passwords-result.txt a.svg b.svg 2>err.txt >/dev/null
check third_name_refused '[ $? = 2 ] && grep -q "more than RESULT and CHART given" err.txt && [ ! -e a.svg ]'
cp passwords-result.txt ./-r.txt
check name_after_double_dash '"$chart" --json -- -r.txt | grep -q "\"file\": \"-r.txt\"" && [ -f ./-r.svg ]'
tr -d '\r' <passwords-result.txt >lf.txt
check lf_alone_accepted '"$chart" --json lf.txt | grep -q "\"bytes\": 365"'
"$chart" passwords.txt 2>err.txt >/dev/null
{ printf '\357\273\277'; cat passwords-result.txt; } >marked.txt
head -c 20 passwords-result.txt >damaged.txt
for damaged in marked damaged; do
  "$chart" $damaged.txt 2>$damaged.err >/dev/null
  check "no_list_hint_for_a_${damaged}_result" '[ $? = 1 ] && ! grep -q "looks like a password list" $damaged.err'
done
check byte_order_mark_told 'grep -q "marked.txt begins with a byte-order mark" marked.err'
"$chart" passwords.txt 2>err.txt >/dev/null
check password_list_instead_of_a_result '[ $? = 1 ] && grep -qx "octetcensusmeter-chart: passwords.txt: not a result file of octetcensusmeter (line 1: expected \"\")" err.txt && grep -q "give the result file, not the password file" err.txt && [ ! -e passwords.svg ]'
check result_from_standard_input '"$chart" --json - stdin.svg <passwords-result.txt | grep -q "\"bytes\": 365" && grep -qF "<title>0x61 '"'"'a'"'"' = 20</title>" stdin.svg'
check result_from_a_pipe 'cat passwords-result.txt | "$chart" --json - pipe.svg | grep -q "\"file\": \"-\""'
mkfifo fifo.txt
(sleep 0.3; cat passwords-result.txt >fifo.txt) &
check result_from_a_named_pipe_with_a_late_writer '"$chart" --json fifo.txt | grep -q "\"bytes\": 365" && [ -f fifo.svg ]'
wait
"$chart" - <passwords-result.txt 2>err.txt >/dev/null
check standard_input_needs_a_chart_name '[ $? = 2 ] && grep -q "give CHART when RESULT is -" err.txt'
for args in "passwords-result.txt full.svg" "--json passwords-result.txt full.svg" --help --version; do
  "$chart" $args >/dev/full 2>err.txt
  check "standard_output_full_${args// /_}" '[ $? = 1 ] && grep -q "^octetcensusmeter-chart: standard output: cannot be written: No space left on device" err.txt'
done
esc=$(printf '\033')
"$chart" $'esc\e]2;owned\a.txt' 2>err.txt >/dev/null
check escape_sequence_in_a_name_escaped '[ $? = 1 ] && grep -qF "esc\x1b]2;owned\x07.txt: cannot be opened" err.txt && ! grep -qF "$esc" err.txt'

echo "-- the chart is made as privately as the result"
printf 'mine' >own.txt
ln -s own.txt link.svg
"$chart" passwords-result.txt link.svg 2>err.txt >/dev/null
check symbolic_link_refused '[ $? = 1 ] && grep -q "link.svg: is a symbolic link" err.txt && [ "$(cat own.txt)" = mine ]'
cp passwords-result.txt before.txt
"$chart" passwords-result.txt passwords-result.txt 2>err.txt >/dev/null
check result_itself_refused '[ $? = 1 ] && grep -q "is the result file itself" err.txt && cmp -s before.txt passwords-result.txt'
ln own.txt hard.svg
"$chart" passwords-result.txt hard.svg 2>err.txt >/dev/null
check hard_link_refused '[ $? = 1 ] && grep -q "more than one name" err.txt && [ "$(cat own.txt)" = mine ]'
printf 'theirs' >theirs.svg
if [ "$(id -u)" = 0 ] && chown 65534 theirs.svg 2>/dev/null; then
  "$chart" passwords-result.txt theirs.svg 2>err.txt >/dev/null
  check other_users_chart_refused '[ $? = 1 ] && grep -q "belongs to another user" err.txt && [ "$(cat theirs.svg)" = theirs ]'
  mkdir charts
  ln -s charts via
  chown -h 1 via
  "$chart" passwords-result.txt via/c.svg 2>err.txt >/dev/null
  check chart_through_another_users_link_refused '[ $? = 1 ] && grep -q "via/c.svg: is reached through another user.s link" err.txt && [ ! -e charts/c.svg ]'
  # Another user's sticky folder: its owner may rename anything in it.
  mkdir -m 1777 sticky
  chown 65534 sticky
  cp passwords-result.svg sticky/c.svg
  chmod 644 sticky/c.svg
  "$chart" passwords-result.txt sticky/c.svg >/dev/null 2>err.txt
  check chart_in_another_users_sticky_folder_made_private '[ $? = 0 ] && [ "$(stat -c %a sticky/c.svg)" = 600 ]'
else
  skip "no file of another user can be made here (not root, or root of a user namespace)"
fi

echo "-- a chart that cannot be written whole is an error"
size=$(wc -c <passwords-result.svg)
# One byte short fails the last write, at the flush; 4096 bytes the first, in the fwrite.
for limit in $((size - 1)) 4096; do
  prlimit --fsize=$limit "$chart" passwords-result.txt - >cut.svg 2>err.txt
  check "standard_output_limited_to_$limit" '[ $? = 1 ] && grep -q "^octetcensusmeter-chart: -: cannot be written" err.txt'
done
# The tests' fault library makes the kernel fail a call on the chart file.
for call in write close; do
  OCTET_FAIL_RESULT=$call LD_PRELOAD=$faults ASAN_OPTIONS=verify_asan_link_order=0 \
    "$chart" passwords-result.txt failed.svg 2>err.txt >/dev/null
  check "failing_${call}_of_the_chart" '[ $? = 1 ] && grep -q "failed.svg: could not be written completely" err.txt'
done
{ cat passwords-result.svg; head -c 100000 /dev/zero | tr '\0' x; } >longer.svg
"$chart" passwords-result.txt longer.svg >/dev/null
check longer_chart_emptied_first 'cmp -s longer.svg passwords-result.svg'

echo "-- a FIFO as the chart: written while read, refused at once without a reader"
mkfifo unread.svg read.svg early.svg
timeout 20 "$chart" passwords-result.txt unread.svg >/dev/null 2>err.txt
check fifo_without_a_reader_refused '[ $? = 1 ] && grep -qx "octetcensusmeter-chart: unread.svg: is a FIFO that no program reads; start its reader first" err.txt'
# The chart written into a FIFO that COMMAND reads, its output to OUT; status
# is the chart's. The reader's open waits for a writer: the chart must find it reading.
into_fifo() {  # fifo out command...
  "${@:3}" "$1" >"$2" &
  local reader=$!
  await "grep -qs partner /proc/$reader/wchan"  # its open waits for a writer
  timeout 20 "$chart" passwords-result.txt "$1" >/dev/null 2>err.txt
  status=$?
  wait $reader
}
into_fifo read.svg read.out cat
check fifo_with_a_reader_written '[ $status = 0 ] && cmp -s read.out passwords-result.svg'

# A reader that leaves after the first bytes: the reason is the broken pipe.
into_fifo early.svg /dev/null head -c 1
check fifo_whose_reader_leaves_early '[ $status = 1 ] && grep -qx "octetcensusmeter-chart: early.svg: could not be written completely: Broken pipe" err.txt'
# A socket is no FIFO: it cannot be opened at all.
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' sock.svg
"$chart" passwords-result.txt sock.svg >/dev/null 2>err.txt
check socket_as_the_chart '[ $? = 1 ] && grep -qx "octetcensusmeter-chart: sock.svg: cannot be created: No such device or address" err.txt'

# A result without its first heading is a damaged result, not a password list.
tail -n +4 passwords-result.txt >tail.txt
"$chart" tail.txt tail.svg >/dev/null 2>err.txt
check result_tail_not_a_list '[ $? = 1 ] && ! grep -q "looks like a password list" err.txt'

echo "-- another program's lock on the chart is told, and waited for"
cp passwords-result.svg held.svg
# -o: the lock is flock's own, and goes when it is killed, not when sleep ends.
flock -o -s held.svg sleep 120 &
holder=$!
# The run starts only once the lock is held: an exclusive try fails from then on.
await '! flock -n -x held.svg true'
"$chart" passwords-result.txt held.svg >/dev/null 2>held.err &
run=$!
await 'grep -q "another program holds" held.err'
pkill -P $holder
wait $holder
wait $run
status=$?
check lock_told_and_waited_for '[ $status = 0 ] && grep -qx "octetcensusmeter-chart: held.svg: another program holds this file; the run waits until it lets go (Ctrl-C stops it)" held.err'

echo "-- only a chart is replaced"
cp passwords.txt list.txt
chmod 644 list.txt
"$chart" passwords-result.txt list.txt 2>err.txt >/dev/null
check password_list_not_replaced '[ $? = 1 ] && grep -qx "octetcensusmeter-chart: list.txt: exists and is not a chart of octetcensusmeter; give another name" err.txt && cmp -s list.txt passwords.txt && [ "$(stat -c %a list.txt)" = 644 ]'
# The same where others may write to the folder: the check comes before the
# file is made private.
mkdir -m 0777 shared
cp -p list.txt shared/list.txt
"$chart" passwords-result.txt shared/list.txt 2>err.txt >/dev/null
check list_in_a_shared_folder_keeps_its_mode '[ $? = 1 ] && cmp -s shared/list.txt passwords.txt && [ "$(stat -c %a shared/list.txt)" = 644 ]'
head -c 30 passwords-result.svg >cut.svg
"$chart" passwords-result.txt cut.svg 2>err.txt >/dev/null
check beginning_of_a_chart_alone_not_replaced '[ $? = 1 ] && grep -q "cut.svg: exists and is not a chart" err.txt && [ "$(wc -c <cut.svg)" = 30 ]'
: >empty.svg
check empty_file_replaced '"$chart" passwords-result.txt empty.svg >/dev/null && cmp -s empty.svg passwords-result.svg'
check own_chart_replaced '"$chart" passwords-result.txt passwords-result.svg >/dev/null && cmp -s passwords-result.svg "$source/docs/passwords-chart.svg"'

echo "$passed passed, $failed failed"
[ $failed = 0 ]
