#!/usr/bin/env bash
# Builds the Windows release: dist/Stormtally-VERSION-setup.exe (the installer),
# dist/Stormtally-VERSION-portable.zip and dist/SHA256SUMS over both.
#
# Usage: release/build.sh [OUT_DIR]        (`make release` runs it; OUT_DIR defaults to dist)
# Environment:
#   SERVICE_URL          the service the widget asks (https://host[:port]); unset, the
#                        default of CMakeLists.txt
#   SIGN_KEY, SIGN_CERT  a private key and its certificate (PEM): the exe, the installer and
#                        the uninstaller are Authenticode-signed with them; unset, nothing is
#   SOURCE_DATE_EPOCH    the time stamped into the zip; unset, the time of the last commit,
#                        or in a source archive (git archive) the time it carries in
#                        release/source-date
# The same commit gives the same bytes in any folder at any time (unsigned: a signature holds
# the signing time).
set -euo pipefail

sign() {  # signs the PE file $1 in place
  osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -n Stormtally -h sha256 \
    -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# makensis calls back with --sign FILE for the installer and for the uninstaller it packs; a
# copy of the signed uninstaller stays in the build folder, where it can be checked.
if [[ ${1:-} == --sign ]]; then
  sign "$2"
  [[ $2 == *-setup.exe ]] || cp "$2" "$root/build/release/uninstall.exe"
  exit
fi
out=$(mkdir -p "${1:-$root/dist}" && cd "${1:-$root/dist}" && pwd)
build=$root/build/release
stage=$build/stage
epoch=${SOURCE_DATE_EPOCH:-}
if [[ -z $epoch && $(git -C "$root" rev-parse --show-toplevel 2>/dev/null) == "$root" ]]; then
  epoch=$(git -C "$root" log -1 --format=%ct)
fi
[[ -n $epoch ]] || epoch=$(cat "$root/release/source-date" 2>/dev/null || true)
if [[ ! $epoch =~ ^[0-9]+$ ]]; then
  echo "release: no time to stamp the release with: these sources are neither a git checkout" \
    "nor a git archive; set SOURCE_DATE_EPOCH (seconds since 1970)" >&2
  exit 2
fi
export SOURCE_DATE_EPOCH=$epoch
if [[ -n ${SIGN_KEY:-}${SIGN_CERT:-} && ( -z ${SIGN_KEY:-} || -z ${SIGN_CERT:-} ) ]]; then
  echo "release: SIGN_KEY and SIGN_CERT go together" >&2
  exit 2
fi

url=(-USTORMTALLY_SERVICE_URL)
[[ -z ${SERVICE_URL:-} ]] || url=("-DSTORMTALLY_SERVICE_URL=$SERVICE_URL")
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release "${url[@]}" >/dev/null
cmake --build "$build" --target stormtally -j "${JOBS:-2}" >/dev/null
version=$(sed -n 's/^#define STORMTALLY_VERSION "\(.*\)"$/\1/p' "$build/src/version.h")
service=$(sed -n 's/^#define STORMTALLY_SERVICE_URL "\(.*\)"$/\1/p' "$build/src/version.h")
name=Stormtally-$version

# What both the installer and the zip hold.
rm -rf "$stage" "$build/uninstall.exe" && mkdir -p "$stage/licenses"
cp "$build/src/stormtally.exe" "$build/src/radars.gis" "$stage/"
sed -e "s|@VERSION@|$version|; s|@SERVICE_URL@|$service|" "$root/release/README.txt.in" |
  sed 's/$/\r/' >"$stage/README.txt"
# The licence texts of what is linked into the exe, from the Debian packages it was built with.
cp /usr/share/doc/mingw-w64-i686-dev/copyright "$stage/licenses/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-i686-win32-runtime/copyright "$stage/licenses/gcc-runtime.txt"
cp /usr/share/common-licenses/GPL-3 "$stage/licenses/GPL-3.txt"
signer=()
if [[ -n ${SIGN_KEY:-} ]]; then
  sign "$stage/stormtally.exe"
  export SIGN_KEY SIGN_CERT
  signer=("-DSIGN=\"$root/release/build.sh\" --sign")
fi

rm -f "$out"/Stormtally-*-setup.exe "$out"/Stormtally-*-portable.zip "$out/SHA256SUMS"
makensis -V2 -NOCD "-DVERSION=$version" "-DSTAGE=$stage" "-DOUTFILE=$out/$name-setup.exe" \
  "${signer[@]}" "$root/release/stormtally.nsi" >/dev/null
python3 "$root/release/zip.py" "$out/$name-portable.zip" "$stage" "$name"
(cd "$out" && sha256sum "$name-setup.exe" "$name-portable.zip" >SHA256SUMS)
ls -l "$out"
