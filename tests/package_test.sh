#!/usr/bin/env bash
# Installs to a staging prefix, packs the .deb and the .rpm, checks them with
# the distributions' own checkers, unpacks the .deb and runs the packaged
# program on the packaged sample, end to end. A checker that is not installed
# is skipped with a message (.ci/run installs them all).
# Usage: package_test.sh BUILD_DIR SOURCE_DIR TOOL CONFIG VERSION OPTIMISED
set -euo pipefail
build=$1
source=$2
tool=$3
config=$4
version=$5
optimised=$6  # "no" where the build does not optimise (noopt): nothing is fortified then
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# rpm and rpmlint write into the home folder; outside a package build it may
# be the packager's own, or not writable at all.
export HOME=$work/home
mkdir "$HOME"

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

have() { command -v "$1" >/dev/null || { echo "-- SKIPPED: $1 is not installed"; false; }; }
# A build chroot may lack man: the pages are then not rendered.
if command -v man >/dev/null; then
  have_man=yes
else
  have_man=
  echo "-- SKIPPED: man is not installed: the pages are not rendered"
  man_renders_cleanly() { :; }
fi

echo "-- the man page's source"
if have mandoc; then
  mandoc -Tlint -W warning "$build"/man/*.1 || fail "mandoc finds faults"
fi
for page in "$build"/man/*.1; do
  [ -n "$have_man" ] || break
  wide=$(MANWIDTH=80 man -l "$page" 2>/dev/null | awk 'length > 80')
  [ -z "$wide" ] || fail "man page lines wider than 80 columns: $wide"
done

echo "-- cmake --install to a staging prefix"
cmake --install "$build" --config "$config" --prefix "$work/stage" >/dev/null
for f in bin/octetcensusmeter share/man/man1/octetcensusmeter.1.gz \
  share/doc/octetcensusmeter/README.md share/doc/octetcensusmeter/examples/passwords.txt \
  share/doc/octetcensusmeter/copyright share/doc/octetcensusmeter/changelog.gz \
  share/doc/octetcensusmeter/LICENSE share/doc/octetcensusmeter/docs/guarantees.md; do
  [ -f "$work/stage/$f" ] || fail "not installed: $f"
done
[ -x "$work/stage/bin/octetcensusmeter" ] || fail "installed program is not executable"
logged=$(gzip -dc "$work/stage/share/doc/octetcensusmeter/changelog.gz" | head -1)
[[ "$logged" == "octetcensusmeter ($version) "* ]] || fail "changelog's version: $logged"
# The chart program, where it was built (it needs Boost.Math).
if [ -x "$(dirname "$tool")/octetcensusmeter-chart" ]; then
  for f in bin/octetcensusmeter-chart share/man/man1/octetcensusmeter-chart.1.gz; do
    [ -f "$work/stage/$f" ] || fail "not installed: $f"
  done
  man_renders_cleanly "$work/stage/share/man/man1/octetcensusmeter-chart.1.gz"
else
  echo "-- SKIPPED: octetcensusmeter-chart was not built (libboost-dev is not installed)"
fi
man_renders_cleanly "$work/stage/share/man/man1/octetcensusmeter.1.gz"
if have hardening-check; then
  # Debian 12's C runtime objects carry no control-flow note, so the linker
  # drops the one the compiler adds. Stack clash protection leaves no trace
  # that the checker finds in a program this small, and is reported, not required.
  # Without the optimiser no call is checked (fortified).
  unfortified=$([ "$optimised" = no ] && echo --nofortify || true)
  for program in "$work"/stage/bin/*; do
    hardening-check --nocfprotection $unfortified "$program" || fail "$program is not hardened"
  done
fi

echo "-- cpack -G DEB"
# dpkg-shlibdeps, which finds the package's dependencies, needs file.
if ! command -v file >/dev/null; then
  echo "-- SKIPPED: file is not installed: no .deb can be made, and the packaged program is not run"
  debs=
else
  debs=yes
fi
if [ -n "$debs" ]; then
# A builder whose umask lets the group write still gets folders of 0755, and
# the same package as under 022: both made at one time.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1765000000}
(umask 002 && cpack -G DEB -C "$config" -B "$work/pack" --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/pack/octetcensusmeter_"$version"_*.deb) || fail "no package was made"
# Under another umask, the same package.
(umask 022 && cpack -G DEB -C "$config" -B "$work/pack022" --config "$build/CPackConfig.cmake" >/dev/null)
cmp "$deb" "$work"/pack022/octetcensusmeter_"$version"_*.deb || fail "the .deb differs by umask"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = octetcensusmeter ] || fail "package name: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version: $(field Version)"
[ "$(field Section)" = utils ] || fail "section: $(field Section)"
[[ "$(field Maintainer)" == *"<info@example.org>" ]] || fail "maintainer: $(field Maintainer)"
[[ "$(field Depends)" == *libc6* ]] || fail "dependencies not computed: $(field Depends)"
[ "$(field Description | wc -l)" -gt 2 ] || fail "no real description"
odd=$(dpkg-deb -c "$deb" | awk '$1 ~ /^d/ && $1 != "drwxr-xr-x"')
[ -z "$odd" ] || fail "folders not 0755: $odd"
members=$(dpkg-deb -c "$deb")
grep -q "/doc/octetcensusmeter/copyright$" <<<"$members" || fail "the .deb lacks its copyright file"
! grep -q "/doc/octetcensusmeter/LICENSE$" <<<"$members" || fail "the .deb has a second licence file"

if have lintian; then
  # An unoptimised build has no fortified calls, as hardening-check was told.
  unchecked=$([ "$optimised" = no ] && echo --suppress-tags=hardening-no-fortify-functions || true)
  tags=$(lintian -I -E --pedantic $unchecked "$deb" 2>&1 | grep -v 'running with root privileges' || true)
  [ -z "$tags" ] || fail "lintian: $tags"
fi
fi

echo "-- cpack -G RPM"
if have rpmbuild && have rpmlint; then
  cpack -G RPM -C "$config" -B "$work/rpm" --config "$build/CPackConfig.cmake" >/dev/null
  rpm=$(ls "$work"/rpm/octetcensusmeter-"$version"-1.*.rpm) || fail "no RPM package was made"
  [ "$(rpm -qp --qf '%{LICENSE}' "$rpm")" = MIT ] || fail "RPM licence"
  docs=$(rpm -qlp "$rpm" | grep /doc/)
  grep -q "/LICENSE$" <<<"$docs" || fail "the .rpm lacks LICENSE"
  ! grep -q -e "/copyright$" -e "/changelog.gz$" <<<"$docs" || fail "the .rpm has Debian's documents: $docs"
  # Left: the signature, which only a distribution adds, and rpmlint 2.4's
  # man page check, which looks for a page named after the section.
  found=$(rpmlint -c "$source/packaging/rpmlint.toml" "$rpm" 2>&1 | grep -E '^[^ ]+: [EW]: ' |
    grep -v -E ': E: no-signature$|: W: no-manual-page-for-binary ' || true)
  [ -z "$found" ] || fail "rpmlint: $found"
fi

[ -n "$debs" ] || { echo "package ok, without the .deb"; exit 0; }
echo "-- the packaged program on the packaged sample"
dpkg-deb -x "$deb" "$work/root"
man_renders_cleanly "$work/root/usr/share/man/man1/octetcensusmeter.1.gz"
sample="$work/root/usr/share/doc/octetcensusmeter/examples/passwords.txt"
analyse "$work/root/usr/bin/octetcensusmeter" "$sample" "$work/packaged"
analyse "$tool" "$sample" "$work/built"
cmp "$work/packaged/result.txt" "$work/built/result.txt" || fail "result files differ"
cmp "$work/packaged/console.txt" "$work/built/console.txt" || fail "console output differs"
[ "$(grep -c $'\r$' "$work/packaged/result.txt")" -eq 532 ] || fail "result file is not 532 CR LF lines"
grep -q "^length : $(stat -c %s "$sample")\$" "$work/packaged/console.txt" || fail "wrong length"
grep -q "^Analysis finished!" "$work/packaged/console.txt" || fail "run did not finish"
echo "package ok: $(basename "$deb")"
