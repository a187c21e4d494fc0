#!/usr/bin/env bash
# Installs dedupe from build/ into a scratch root, checks the man page, builds
# the .deb, and runs the binary from inside the package on a small input.
# Uses build/ as built by .ci/run (DEDUPE_BUILD_DIR overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="$(realpath "${DEDUPE_BUILD_DIR:-build}")"

fail() {
  echo "package.sh: $*" >&2
  exit 1
}

# A fresh machine may lack the man page and package tools.
missing=()
command -v groff >/dev/null || missing+=(groff)
command -v man >/dev/null || missing+=(man-db)
command -v dpkg-shlibdeps >/dev/null || missing+=(dpkg-dev)
if ((${#missing[@]})); then
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi
[[ -x "$build_dir/dedupe" ]] || fail "$build_dir/dedupe is missing: build first"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

echo "== install"
DESTDIR="$scratch/root" cmake --install "$build_dir" --prefix /usr --config Release
[[ -x "$scratch/root/usr/bin/dedupe" ]] || fail "bin/dedupe was not installed"
[[ -f "$scratch/root/usr/share/man/man1/dedupe.1" ]] || fail "the man page was not installed"
installed=$(cd "$scratch/root" && find . -type f | sort)
[[ "$installed" == $'./usr/bin/dedupe\n./usr/share/man/man1/dedupe.1' ]] ||
  fail "unexpected files installed: $installed"

echo "== man page"
warnings=$(groff -man -ww -z man/dedupe.1 2>&1)
[[ -z "$warnings" ]] || fail "groff warns about man/dedupe.1: $warnings"
page=$(MANWIDTH=80 man -l man/dedupe.1 2>"$scratch/man.err")
[[ ! -s "$scratch/man.err" ]] || fail "man -l: $(cat "$scratch/man.err")"
for section in NAME SYNOPSIS DESCRIPTION FILES 'EXIT STATUS' DIAGNOSTICS EXAMPLES NOTES; do
  grep -q "^$section\$" <<<"$page" || fail "the man page has no $section section"
done

echo "== deb"
rm -f "$build_dir"/dedupe_*.deb
(cd "$build_dir" && cpack -G DEB >"$scratch/cpack.log") ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
debs=("$build_dir"/dedupe_*.deb)
if ((${#debs[@]} != 1)) || [[ ! -f "${debs[0]}" ]]; then
  fail "cpack made no single .deb"
fi
deb="${debs[0]}"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

info=$(dpkg-deb --info "$deb")
echo "$info"
field() { dpkg-deb --field "$deb" "$1"; }
[[ "$(field Package)" == dedupe ]] || fail "Package is not dedupe"
[[ "$(field Section)" == utils ]] || fail "Section is not utils"
[[ -n "$(field Maintainer)" ]] || fail "no Maintainer"
[[ -n "$(field Description)" ]] || fail "no Description"
depends=$(field Depends)
for library in libc6 libstdc++6 libgcc-s1; do
  # Each entry is a package name, maybe followed by a version in brackets.
  sed -e 's/ *([^)]*)//g' -e 's/, */\n/g' <<<"$depends" | grep -q -x -F "$library" ||
    fail "Depends lacks $library: $depends"
done

contents=$(dpkg-deb --contents "$deb")
echo "$contents"
for path in ./usr/bin/dedupe ./usr/share/man/man1/dedupe.1; do
  grep -q " $path\$" <<<"$contents" || fail "the package lacks $path"
done
grep -q -E '^-rwxr-xr-x root/root .* \./usr/bin/dedupe$' <<<"$contents" ||
  fail "usr/bin/dedupe is not an executable owned by root"

echo "== packaged binary"
dpkg-deb -x "$deb" "$scratch/unpacked"
cmp -s "$scratch/unpacked/usr/share/man/man1/dedupe.1" man/dedupe.1 ||
  fail "the packaged man page differs from man/dedupe.1"
work="$scratch/work"
mkdir "$work"
printf 'pear\r\napple\r\npear\r\n \r\nfig\r\npear' >"$work/infile.euc"
(cd "$work" && "$scratch/unpacked/usr/bin/dedupe" >stdout 2>stderr) ||
  fail "the packaged dedupe failed: $(cat "$work/stderr")"
check() {
  cmp -s "$work/$1" <(printf '%b' "$2") || fail "$1 differs: $(od -c "$work/$1")"
}
check stdout '\r\nLines In: 5\r\nLines Out: 3\r\n\r\n'
check stderr ''
check duplicates.euc 'pear\r\npear\r\n'
check outfile.euc 'apple\r\nfig\r\npear\r\n'
echo "package.sh: all checks passed"
