#!/usr/bin/env bash
# Installs to a staging prefix, packs the .deb, unpacks it and runs the
# packaged program on the packaged sample, end to end.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

man_renders_cleanly() {
  local warnings
  warnings=$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null) || fail "man could not render $1"
  [ -z "$warnings" ] || fail "man warns about $1: $warnings"
}

# The run a user makes: the two names and the empty line for the last prompt.
analyse() {  # program sample folder
  mkdir -p "$3"
  cp "$2" "$3/passwords.txt"
  (cd "$3" && printf 'passwords.txt\nresult.txt\n\n' | "$1" >console.txt) ||
    fail "$1 ended with status $?"
}

echo "-- cmake --install to a staging prefix"
cmake --install "$build" --prefix "$work/stage" >/dev/null
for f in bin/octetcensusmeter share/man/man1/octetcensusmeter.1 \
  share/doc/octetcensusmeter/README.md share/doc/octetcensusmeter/passwords.txt; do
  [ -f "$work/stage/$f" ] || fail "not installed: $f"
done
[ -x "$work/stage/bin/octetcensusmeter" ] || fail "installed program is not executable"
man_renders_cleanly "$work/stage/share/man/man1/octetcensusmeter.1"

echo "-- cpack -G DEB"
cpack -G DEB -B "$work/pack" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/pack/octetcensusmeter_1.0.0_*.deb) || fail "no package was made"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = octetcensusmeter ] || fail "package name: $(field Package)"
[ "$(field Version)" = 1.0.0 ] || fail "version: $(field Version)"
[ "$(field Section)" = utils ] || fail "section: $(field Section)"
[[ "$(field Maintainer)" == *"<info@example.org>" ]] || fail "maintainer: $(field Maintainer)"
[[ "$(field Depends)" == *libc6* ]] || fail "dependencies not computed: $(field Depends)"
[ "$(field Description | wc -l)" -gt 2 ] || fail "no real description"

echo "-- the packaged program on the packaged sample"
dpkg-deb -x "$deb" "$work/root"
man_renders_cleanly "$work/root/usr/share/man/man1/octetcensusmeter.1"
sample="$work/root/usr/share/doc/octetcensusmeter/passwords.txt"
analyse "$work/root/usr/bin/octetcensusmeter" "$sample" "$work/packaged"
analyse "$build/octetcensusmeter" "$sample" "$work/built"
cmp "$work/packaged/result.txt" "$work/built/result.txt" || fail "result files differ"
cmp "$work/packaged/console.txt" "$work/built/console.txt" || fail "console output differs"
[ "$(grep -c $'\r$' "$work/packaged/result.txt")" -eq 532 ] || fail "result file is not 532 CR LF lines"
grep -q "^length : $(stat -c %s "$sample")\$" "$work/packaged/console.txt" || fail "wrong length"
grep -q "^Analysis finished!" "$work/packaged/console.txt" || fail "run did not finish"
echo "package ok: $(basename "$deb")"
