#!/usr/bin/env bash
# Checks the release that `make release` left in dist/ (make test runs this after it):
# - a second build from the same sources as a source archive would hold them (no .git; the
#   commit's time in release/source-date), in another folder (blanks and non-ASCII letters
#   in its path), later, in another time zone, gives byte-identical files; without any time to
#   stamp, the build stops at once with one line;
# - signed with a throw-away certificate, the exe, the installer and the uninstaller verify;
# - the README names the same version as the build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
fail() { echo "release check: FAIL: $*" >&2; exit 1; }
other=$(mktemp -d "/tmp/stormtally release ü.XXXXXX") && trap 'rm -rf "$other"' EXIT
(cd "$root" && git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf -) |
  tar -xf - -C "$other"
printf '$Format:%%ct$\n' >"$other/release/source-date"  # as in a checkout: no time here
why=$(cd "$other" && env -u SOURCE_DATE_EPOCH release/build.sh 2>&1) && fail "built without a time"
[[ $why == "release: no time to stamp"* && $why != *$'\n'* ]] || fail "no time gave: $why"
git -C "$root" archive HEAD release/source-date | tar -xf - -C "$other"
(cd "$other" && TZ=Pacific/Kiritimati SERVICE_URL= SIGN_KEY= SIGN_CERT= SOURCE_DATE_EPOCH= \
  release/build.sh >/dev/null)
paste "$root/dist/SHA256SUMS" "$other/dist/SHA256SUMS"
cmp "$root/dist/SHA256SUMS" "$other/dist/SHA256SUMS" || fail "the two builds differ"

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Stormtally test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$other/key.pem" -out "$other/cert.pem" 2>/dev/null
SIGN_KEY=$other/key.pem SIGN_CERT=$other/cert.pem SOURCE_DATE_EPOCH= "$other/release/build.sh" \
  "$other/sig" >/dev/null
for f in "$other"/build/release/{stage/stormtally.exe,uninstall.exe} "$other"/sig/*-setup.exe; do
  osslsigncode verify -CAfile "$other/cert.pem" -in "$f" >/dev/null || fail "$f does not verify"
done

version=$(sed -n 's/^project(Stormtally VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
named=$(grep -oE '(Stormtally[-/ ]|VERSION )[0-9]+\.[0-9]+\.[0-9]+' "$root/README.md" |
  grep -oE '[0-9.]+$' | sort -u | paste -sd' ')
[[ -f $root/dist/Stormtally-$version-setup.exe && $named == "$version" ]] ||
  fail "dist/ or README.md (release ${named:-none}) differs from $version"
echo "release check: passed (reproducible, signed files verify, README at $version)"
