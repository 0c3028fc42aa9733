#!/usr/bin/env bash
# The Windows build under Wine against the Linux build, case by case: complete
# runs and failure endings. The result file must be the same byte for byte,
# the console the same once its CR LF line ends are read as LF, the exit
# status the same, and the password file never changed.
# Usage: wine_test.sh LINUX_PROGRAM WINDOWS_PROGRAM
set -uo pipefail
linux=$(realpath "$1")
windows=$(realpath "$2")
work=$(mktemp -d)
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$(dirname "$windows")/wineprefix}
# The Wine server started once, so that each run does not wait for its own;
# stopped through the prefix at the end.
wineboot -i >/dev/null 2>&1
wineserver -p
trap 'wineserver -k 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT

passed=0
failed=0
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }

# One case: SETUP makes the files once, and each build gets a copy of them; the Linux build is
# typed LINUX_INPUT, the Windows build WINDOWS_INPUT (the same if not given).
check() {  # name setup linux_input [windows_input]
  local name=$1 setup=$2 lin_in=$3 win_in=${4:-$3}
  local l=$work/$name/linux w=$work/$name/windows
  mkdir -p "$l"
  (cd "$l" && eval "$setup")
  cp -a "$l" "$w"
  local l_status w_status
  (cd "$l" && printf '%s' "$lin_in" | "$linux" >"$work/$name/linux.out" 2>/dev/null)
  l_status=$?
  (cd "$w" && printf '%s' "$win_in" | wine "$windows" >"$work/$name/windows.out" 2>/dev/null)
  w_status=$?
  local ok=1
  [ $l_status = $w_status ] || { fail "$name" "exit status $w_status, Linux $l_status"; ok=0; }
  local expected=$work/$name/linux.out
  # Windows cannot open a folder for reading at all: it is not found, where
  # Linux opens it and then fails to read it.
  [ "$name" != input_is_a_folder ] ||
    sed -i 's/inputfile could not be read/inputfile could not be opened or not found/' "$expected"
  tr -d '\r' <"$work/$name/windows.out" | cmp -s - "$expected" ||
    { fail "$name" "console differs"; ok=0; }
  for f in $(cd "$l" && find . -type f); do
    cmp -s "$l/$f" "$w/$f" || { fail "$name" "$f differs"; ok=0; }
  done
  [ "$(cd "$l" && find . | sort)" = "$(cd "$w" && find . | sort)" ] || { fail "$name" "other files"; ok=0; }
  [ $ok = 0 ] || passed=$((passed + 1))
}

complete() {  # name bytes-generating command
  check "$1" "$2 >pw.txt" $'pw.txt\nresult.txt\n\n'
}

complete empty ": "
complete one_zero_byte "printf '\\0'"
complete ties_go_to_the_smaller_value "printf AAC"
complete widest_difference_both_ways "printf '\\0\\377\\0'"
complete all_values_twice "for r in 1 2; do for v in \$(seq 0 255); do printf \"\\\\\$(printf %o \$v)\"; done; done"
complete trailing_0xff_is_a_byte "printf 'A\\377'"
complete cr_lf_and_end_of_file_bytes "printf 'pass\\r\\nword\\032\\r\\n\\032\\032x'"
complete 767_bytes_averages "head -c 767 /dev/zero | tr '\\0' x"
complete 10000_bytes_jump_to_100 "head -c 10000 /dev/urandom"
complete 10001_bytes_count_up "head -c 10001 /dev/urandom"
complete 10099_bytes_stop_at_100 "head -c 10099 /dev/urandom"
complete 150000_bytes "head -c 150000 /dev/urandom"
complete 4999999_bytes_one_dot_at_the_end "head -c 4999999 /dev/zero | tr '\\0' a"
complete 5000000_bytes_one_dot "head -c 5000000 /dev/urandom"
complete 9999999_bytes_two_dots "head -c 9999999 /dev/urandom"

pw="printf 'hunter2\\n' >pw.txt"
check missing_input "$pw" $'nope.txt\nout.txt\n'
check input_ends_before_first_name "$pw" ""
check input_ends_before_second_name "$pw" $'pw.txt\n'
check result_in_missing_folder "$pw" $'pw.txt\nnodir/out.txt\n\n'
check input_is_a_folder "$pw; mkdir sub" $'sub\nout.txt\n'
check non_ascii_names "printf 'hunter2\\n' >p$'\xc3\xa4'ss.txt" \
  $'p\xc3\xa4ss.txt\nr\xc3\xa9sultat.txt\n\n'
# The two names swapped: the password list is refused as not a result, on both.
check names_swapped "$pw; printf 'pw.txt\\nold.txt\\n\\n' | \"$linux\" >/dev/null" $'old.txt\npw.txt\n\n'
check earlier_report_rewritten "$pw; printf 'pw.txt\\nold.txt\\n\\n' | \"$linux\" >/dev/null" $'pw.txt\nold.txt\n\n'
# Every spelling of the password file as the result is refused.
check result_is_the_input_by_name "$pw" $'pw.txt\npw.txt\n'
check result_is_the_input_in_other_case "$pw" $'pw.txt\npw.txt\n' $'pw.txt\nPW.TXT\n'
check result_is_the_input_dot_backslash "$pw" $'pw.txt\n./pw.txt\n' $'pw.txt\n.\\pw.txt\n'
check result_is_the_input_dot_slash "$pw" $'pw.txt\n./pw.txt\n'
abs=$work/result_is_the_input_absolute
check result_is_the_input_absolute "$pw" "pw.txt"$'\n'"$abs/linux/pw.txt"$'\n' \
  "pw.txt"$'\n'"Z:${abs//\//\\}\\windows\\pw.txt"$'\n'
check result_is_a_hard_link_to_the_input "$pw; ln pw.txt hard" $'pw.txt\nhard\n'
# What else a result name may lead to.
check result_is_a_hard_link_to_an_own_file "$pw; printf mine >own.txt; ln own.txt out.txt" \
  $'pw.txt\nout.txt\n'
# One judge on both systems: where two refusals apply, the same one is said.
check result_is_a_folder "$pw; mkdir sub" $'pw.txt\nsub\n'
check result_is_a_hard_link_to_an_earlier_report \
  "$pw; printf 'pw.txt\\nold.txt\\n\\n' | \"$linux\" >/dev/null; ln old.txt out.txt" $'pw.txt\nout.txt\n'
# Not here: a symbolic link. Wine shows a Linux link as the file it leads to,
# never as a reparse point, and makes no Windows link (mklink does nothing).
check result_is_the_null_device "$pw" $'pw.txt\n/dev/null\n\n' $'pw.txt\nNUL\n\n'
check input_is_a_character_device "$pw" $'/dev/zero\nout.txt\n' $'NUL\nout.txt\n'

# What standard error says of a name that failed, in Windows' words and forms
# of names: the name, the system's reason, and the name it may have meant.
said() {  # name setup typed expected-lines
  local d=$work/said_$1
  mkdir -p "$d"
  (cd "$d" && eval "$2" && printf '%s' "$3" | wine "$windows" 2>err.txt >/dev/null)
  if tr -d '\r' <"$d/err.txt" | grep -v '^wine' | cmp -s - <(printf '%s' "$4"); then
    passed=$((passed + 1))
  else
    fail "said_$1" "standard error: $(cat "$d/err.txt")"
  fi
}
said copied_as_path "mkdir 'my dir'; printf 'x' >'my dir/my file.txt'" \
  $'"my dir\\my file.txt"\nout.txt\n' \
  $'octetcensusmeter: \'"my dir\\my file.txt"\': Invalid name.\noctetcensusmeter: did you mean \'my dir\\my file.txt\'?\n'
said result_is_a_folder "$pw; mkdir sub" $'pw.txt\nsub\n' $'octetcensusmeter: \'sub\': Access denied.\n'
said result_folder_missing "$pw" $'pw.txt\nnodir\\r.txt\n' \
  $'octetcensusmeter: \'nodir\\r.txt\': the folder does not exist, so the result cannot be created\n'

# Paths past Windows' old limit of 260 characters: the manifest declares them.
long=$(printf 'a%.0s' {1..120})/$(printf 'b%.0s' {1..120})
check paths_longer_than_260 "mkdir -p $long; printf 'hunter2\\n' >$long/pw.txt" \
  "$long/pw.txt"$'\n'"$long/$(printf 'r%.0s' {1..40}).txt"$'\n\n' \
  "${long//\//\\}\\pw.txt"$'\n'"${long//\//\\}\\$(printf 'r%.0s' {1..40}).txt"$'\n\n'
# The manifest is in the built file, as resource type 24.
if grep -q '<ws2:longPathAware>true</ws2:longPathAware>' "$windows"; then
  passed=$((passed + 1))
else
  fail manifest "no long-path manifest in $windows"
fi

# Windows' own names for devices swallow a report: refused, and no file appears.
for name in aux.txt nul.txt com1.txt AUX; do
  d=$work/device_$name
  mkdir -p "$d"
  printf 'hunter2\n' >"$d/pw.txt"
  (cd "$d" && printf 'pw.txt\n%s\n' "$name" | wine "$windows" >out.txt 2>/dev/null)
  status=$?
  sed -i 's/\r$//' "$d/out.txt"
  if [ "$status" = 1 ] && grep -q "^ error message: outputfile is a device$" "$d/out.txt" &&
    [ "$(ls "$d")" = "$(printf 'out.txt\npw.txt')" ]; then
    passed=$((passed + 1))
  else
    fail "device_$name" "status $status: $(grep 'error message\|finished' "$d/out.txt")"
  fi
done

# A new result's access list, read back through the Windows calls: the user's
# alone. Wine keeps no access list of its own: it shows one made from the
# file's Unix mode, always with SYSTEM, and with Everyone for a file others
# may read, as for a file made by another program.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  d=$work/access_list
  mkdir -p "$d"
  x86_64-w64-mingw32-g++-posix -municode -O1 -static -o "$d/acl_of.exe" "$(dirname "$0")/acl_of.cpp"
  printf 'hunter2\n' >"$d/pw.txt"
  (cd "$d" && printf 'pw.txt\nresult.txt\n\n' | wine "$windows" >/dev/null 2>&1)
  (cd "$d" && wine ./acl_of.exe result.txt 2>/dev/null | tr -d '\r' >acl.txt)
  (cd "$d" && wine ./acl_of.exe pw.txt 2>/dev/null | tr -d '\r' >plain.txt)
  user=$(sed -n 2p "$d/acl.txt")
  if [ -n "$user" ] && grep -q "(A;;FA;;;$user)" "$d/acl.txt" && ! grep -q ';WD)' "$d/acl.txt" &&
    grep -q ';WD)' "$d/plain.txt"; then
    passed=$((passed + 1))
  else
    fail new_result_access_list "$(head -1 "$d/acl.txt") (a plain file: $(head -1 "$d/plain.txt"))"
  fi
else
  echo "-- SKIPPED: no MinGW compiler for the access-list reader"
fi

# The chart program beside each: the same figures and the same chart from one result file.
linux_chart=$(dirname "$linux")/octetcensusmeter-chart
windows_chart=$(dirname "$windows")/octetcensusmeter-chart.exe
if [ -x "$linux_chart" ] && [ -f "$windows_chart" ]; then
  c=$work/chart
  mkdir -p "$c/linux" "$c/windows"
  cp "$(dirname "$0")/../examples/passwords.txt" "$c/linux/"
  (cd "$c/linux" && printf 'passwords.txt\nresult.txt\n\n' | "$linux" >/dev/null)
  cp "$c/linux/result.txt" "$c/windows/"
  (cd "$c/linux" && "$linux_chart" --json result.txt chart.svg >figures.json)
  (cd "$c/windows" && wine "$windows_chart" --json result.txt chart.svg 2>/dev/null | tr -d '\r' >figures.json)
  if cmp -s "$c/linux/chart.svg" "$c/windows/chart.svg" && cmp -s "$c/linux/figures.json" "$c/windows/figures.json"; then
    passed=$((passed + 1))
  else
    fail chart "the chart or the figures differ"
  fi
  # Its own chart replaced whole, from the start; the password list not at all.
  cp "$c/linux/passwords.txt" "$c/windows/"
  (cd "$c/windows" && wine "$windows_chart" result.txt chart.svg >/dev/null 2>&1)
  (cd "$c/windows" && wine "$windows_chart" result.txt passwords.txt >/dev/null 2>err.txt)
  refused=$?
  if [ $refused = 1 ] && cmp -s "$c/linux/chart.svg" "$c/windows/chart.svg" &&
    cmp -s "$c/linux/passwords.txt" "$c/windows/passwords.txt" &&
    grep -q "passwords.txt: exists and is not a chart of octetcensusmeter" "$c/windows/err.txt"; then
    passed=$((passed + 1))
  else
    fail chart_replaces_only_a_chart "status $refused: $(cat "$c/windows/err.txt")"
  fi
  # A chart in a folder that does not exist: the reason Windows gives.
  (cd "$c/windows" && wine "$windows_chart" result.txt missing/chart.svg >/dev/null 2>err.txt)
  if grep -q "missing/chart.svg: cannot be created: " "$c/windows/err.txt" &&
    ! grep -q "Success" "$c/windows/err.txt"; then
    passed=$((passed + 1))
  else
    fail chart_tells_windows_reason "$(cat "$c/windows/err.txt")"
  fi
else
  echo "-- SKIPPED: no chart program beside the two builds"
fi

echo "$passed passed, $failed failed"
[ $failed = 0 ]
