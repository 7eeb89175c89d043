#!/usr/bin/env bash
# Installs what building, running and testing Stormtally needs on Debian 12, and nothing
# when it is all there already. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(
  # native build, unit tests, benchmarks, fuzzing
  cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang-format python3 locales cloc
  # the Windows widget
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  # its release: the installer, Authenticode signatures
  nsis osslsigncode
  # running it: Wine (32-bit), a virtual display, input and screenshots; the 64-bit build
  # and Wine's 64-bit loader for kernels that run no 32-bit programs
  wine wine32:i386 xvfb xdotool imagemagick x11-utils
  wine64 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  # a window manager for the end-to-end tests' desktop
  openbox
  # end-to-end tests: private namespaces, certificates
  iproute2 util-linux openssl ca-certificates
  # the strike-count service
  libboost-dev nlohmann-json3-dev libcli11-dev libnetcdf-dev libssl-dev netcdf-bin curl
  # its Debian package, GLM sync and load balancer (the sync test also takes s3rver from npm),
  # and a throw-away Debian booted with systemd-nspawn to install, upgrade and purge it in
  libsystemd-dev pkg-config debhelper lintian dpkg-dev systemd rclone haproxy
  systemd-container debootstrap
)
# `tools/install-deps.sh bench` adds what the benchmarks compare against and load with.
if [[ ${1:-} == bench ]]; then
  packages+=(wrk hyperfine nginx-light postgresql postgresql-15-postgis-3)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[[ $(id -u) -eq 0 ]] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
