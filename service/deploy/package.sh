#!/usr/bin/env bash
# Builds strikecountd_<version>_<arch>.deb from a native build: the service and its GLM reader,
# a man page made from --help, the configuration, the systemd units and the GLM sync.
#
# Usage: service/deploy/package.sh BUILD_DIR OUT_DIR   (BUILD_DIR as from `cmake --preset native`)
set -euo pipefail
build=$(realpath "$1") out=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
bin=$build/service/strikecountd
version=$("$bin" --version | awk '{print $2}')
arch=$(dpkg --print-architecture)
stage=$(mktemp -d) && trap 'rm -rf "$stage"' EXIT
root=$stage/strikecountd

install -d -m 755 "$root"/{DEBIAN,usr/sbin,usr/libexec/strikecountd,usr/share/man/man8} \
  "$root"/{usr/share/doc/strikecountd,etc/strikecountd,lib/systemd/system}
# cmake --install drops the build tree's library search paths and strips.
cmake --install "$build/service" --prefix "$stage/install" --strip >/dev/null
install -m 755 "$stage"/install/bin/strikecountd{,-glm-reader} "$root/usr/libexec/strikecountd/"
install -m 755 "$here/glm-sync" "$root/usr/libexec/strikecountd/"
# strikecountd finds its reader beside the program the link leads to.
ln -s ../libexec/strikecountd/strikecountd "$root/usr/sbin/strikecountd"
install -m 644 "$here"/strikecountd{.service,-glm-sync.service,-glm-sync.timer} \
  "$root/lib/systemd/system/"
install -m 644 "$here/strikecountd.conf" "$here/rclone.conf" "$root/etc/strikecountd/"
install -m 644 "$here/copyright" "$root/usr/share/doc/strikecountd/"
gzip -9n <"$here/changelog" >"$root/usr/share/doc/strikecountd/changelog.gz"
help2man --no-info --section=8 --name="count lightning flashes near a place, over HTTPS" \
  --version-string="$version" "$bin" | gzip -9n >"$root/usr/share/man/man8/strikecountd.8.gz"
(cd "$root" && find etc -type f | sed 's|^|/|' >DEBIAN/conffiles &&
  find usr lib -type f -exec md5sum {} + | sort -k2 >DEBIAN/md5sums)

# Library dependencies as dpkg-shlibdeps finds them (it wants a debian/control to stand in).
mkdir -p "$stage/debian" && printf 'Source: strikecountd\n\nPackage: strikecountd\nArchitecture: any\n' >"$stage/debian/control"
shlibs=$(cd "$stage" && dpkg-shlibdeps -O -e"$root/usr/libexec/strikecountd/strikecountd" \
  -e"$root/usr/libexec/strikecountd/strikecountd-glm-reader" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
cat >"$root/DEBIAN/control" <<CONTROL
Package: strikecountd
Version: $version
Architecture: $arch
Maintainer: Stormtally <stormtally@example.org>
Section: net
Priority: optional
Depends: $shlibs, rclone, ssl-cert
Recommends: haproxy
Installed-Size: $(du -sk --exclude=DEBIAN "$root" | cut -f1)
Homepage: https://strikes.example.org/
Description: lightning strike counts near a place, over HTTPS
 strikecountd answers GET /counter/Strike_Counter.php?lat=..&lon=..&distance=..
 with the number of lightning flashes that began in the last minutes within
 that many statute miles. It reads GOES GLM L2 LCFA files that the included
 strikecountd-glm-sync timer copies every 20 s from NOAA's open-data bucket,
 reports its health on /healthz and its metrics on /metrics.
CONTROL
mkdir -p "$out"
fakeroot dpkg-deb --build -Zxz "$root" "$out/strikecountd_${version}_${arch}.deb" >/dev/null
echo "$out/strikecountd_${version}_${arch}.deb"
