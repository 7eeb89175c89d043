#!/usr/bin/env bash
# Builds the strikecountd Debian package from debian/, the Debian way, over a copy of the working
# tree (tracked and new files, as git sees them): the source package with dpkg-source, then the
# binary packages with dpkg-buildpackage, which builds only the service and its GLM reader.
# OUT_DIR receives strikecountd_<version>.dsc and .tar.xz, strikecountd_<version>_<arch>.deb,
# its -dbgsym package, .buildinfo, .changes and build.log.
#
# Usage: service/deploy/package.sh OUT_DIR [JOBS]
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(realpath -m "$1") jobs=${2:-2}
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
rm -rf "$out" && mkdir -p "$out/strikecountd-$version"
git ls-files -z --cached --others --exclude-standard |
  tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$out/strikecountd-$version"
start=$(date +%s)
if ! (cd "$out" && dpkg-source -b "strikecountd-$version" && cd "strikecountd-$version" &&
  dpkg-buildpackage -us -uc -b -j"$jobs") >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  exit 1
fi
rm -rf "${out:?}/strikecountd-$version"
echo "$out/strikecountd_${version}_$(dpkg --print-architecture).deb, built in $(($(date +%s) - start)) s"
