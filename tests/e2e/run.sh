#!/usr/bin/env bash
# End-to-end tests of the widget: the real stormtally.exe under Wine on a private X server,
# driven with real keyboard and mouse input, against an HTTPS server on loopback.
#
# Usage: tests/e2e/run.sh BUILD_DIR [--group NAME]... [--case NAME]... [--list] [--keep]
#   BUILD_DIR  the Windows build folder that holds src/stormtally.exe (and radars.gis beside
#              it) and tests/e2e/st_*.exe. The Wine prefix is kept in BUILD_DIR/e2e-wineprefix
#              and screenshots go to BUILD_DIR/e2e-artifacts.
#   --group    run only these groups (default: every group, the slow refresh cycle included)
#   --skip-group  leave these groups out (e.g. --skip-group slow)
#   --case     run only these cases
#   --list     list the cases and exit
#   --keep     keep the run's temporary folder (certificates, server log) for a look afterwards
#   --exec CMD run the shell command CMD in the prepared environment instead of the tests
# Environment: E2E_HELPERS_DIR overrides where the st_*.exe helpers are found.
#
# Everything runs in private mount, network and PID namespaces: loopback is the only network,
# so port 48443 cannot clash with anything, the test authority is added to the certificate
# bundle only inside them, and every process started here dies with the run.
# The last line of the output is "e2e: N passed, M failed"; the exit status is non-zero on
# any failure.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
die() {
  echo "e2e: $*" >&2
  echo "e2e: 0 passed, 1 failed"
  exit 1
}
[[ $# -ge 1 && $1 != -* ]] || { sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
[[ " $* " != *" --list "* ]] || exec python3 "$here/e2e.py" --list

if [[ -z ${STORMTALLY_E2E_INSIDE:-} ]]; then
  [[ $(id -u) == 0 ]] || die "needs root, for the private namespaces and the bind mount"
  for tool in unshare ip wine wineserver Xvfb openbox xprop xdotool import openssl python3 flock; do
    command -v "$tool" >/dev/null || die "missing tool: $tool"
  done
  build=$(cd "$1" 2>/dev/null && pwd) || die "no build folder $1"
  # Wine runs a 32-bit program in a 32-bit Linux process, which a kernel booted with
  # ia32_emulation=off (or built without it) cannot start; `make e2e` then builds the same
  # sources for 64-bit Windows (build/mingw64), which run in Wine's 64-bit loader.
  # shellcheck source=../../tools/wine-env.sh
  source "$here/../../tools/wine-env.sh"
  use_wine_for "$build/src/stormtally.exe" "$build/e2e-bin"
  [[ $WINEARCH == win64 ]] || can_run_32bit || die "this kernel cannot run the 32-bit programs" \
    "Wine needs for a 32-bit build: run the cases on build/mingw64 (make e2e does)"
  # One run per build folder at a time: the Wine prefix lives there.
  exec 9>"$build/.e2e.lock"
  flock -n 9 || die "another run holds $build/.e2e.lock"
  STORMTALLY_E2E_INSIDE=1 exec unshare --mount --net --pid --fork --kill-child --mount-proc \
    "$0" "$build" "${@:2}"
fi

# ---- inside the namespaces from here on ----
build=$1
shift
exe=$build/src/stormtally.exe
helpers=${E2E_HELPERS_DIR:-$build/tests/e2e}
for f in "$exe" "$build/src/radars.gis" "$helpers"/st_{probe,viewer_windows}.exe; do
  [[ -f $f ]] || die "no $f"
done
keep=0 exec_cmd= args=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --keep) keep=1 ;;
    --exec) exec_cmd=$2 && shift ;;
    *) args+=("$1") ;;
  esac
  shift
done

ip link set lo up
# Private folders for the X server's and the wineserver's sockets, so nothing outside the run
# can meet them. Only those: the checkout itself may well lie under /tmp.
for dir in /tmp/.X11-unix:1777 "/tmp/.wine-$(id -u):700"; do
  mkdir -p "${dir%:*}"
  mount -t tmpfs -o "mode=${dir##*:}" tmpfs "${dir%:*}"
done
work=$(mktemp -d /tmp/stormtally-e2e.XXXXXX)
artifacts=$build/e2e-artifacts
mkdir -p "$artifacts"

# shellcheck disable=SC2317  # runs from the EXIT trap
cleanup() {
  local rc=$?
  set +e
  [[ -z ${WINEPREFIX:-} ]] || { wineserver -k; wineserver -w; } >/dev/null 2>&1
  if ((keep)); then
    rm -rf "$artifacts/last-run"
    cp -r "$work" "$artifacts/last-run"
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- certificates: a test authority and a certificate for localhost that it signs, and a
# second authority that no bundle holds, for the case where the certificate is not trusted.
for ca in test rogue; do
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 7 -subj "/CN=Stormtally E2E $ca $$" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$work/$ca-ca.key" -out "$work/$ca-ca.crt" 2>/dev/null
  name=$([[ $ca == test ]] && echo server || echo rogue-server)
  openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=localhost" \
    -keyout "$work/$name.key" -out "$work/$name.csr" 2>/dev/null
  printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
    "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" \
    >"$work/$name.ext"
  openssl x509 -req -sha256 -days 7 -in "$work/$name.csr" -CA "$work/$ca-ca.crt" \
    -CAkey "$work/$ca-ca.key" -CAcreateserial -extfile "$work/$name.ext" \
    -out "$work/$name.crt" 2>/dev/null
done
system_bundle=/etc/ssl/certs/ca-certificates.crt
cp "$system_bundle" "$work/system-bundle.crt" || die "no $system_bundle (ca-certificates)"
cat "$work/system-bundle.crt" "$work/test-ca.crt" >"$work/bundle.crt"
# Only this mount namespace sees the test authority; the machine's bundle is untouched.
mount --bind "$work/bundle.crt" "$system_bundle"

# ---- X server
display=99
while [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
export DISPLAY=:$display
for _ in $(seq 100); do [[ -S /tmp/.X11-unix/X$display ]] && break || sleep 0.05; done
[[ -S /tmp/.X11-unix/X$display ]] || die "Xvfb did not start (see $work/xvfb.log)"
# A real window manager, as on a user's desktop: it stacks, focuses and decorates windows.
# It manages the screen once the root window names its check window.
openbox --config-file /etc/xdg/openbox/rc.xml --sm-disable >"$work/openbox.log" 2>&1 &
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break || sleep 0.05
done
xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' ||
  die "openbox did not take the screen (see $work/openbox.log)"

# ---- Wine: one prefix per build folder, made once; one wineserver for the whole run.
export WINEPREFIX=$build/e2e-wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
[[ $WINEARCH == win32 ]] || export E2E_WINE64=1  # the 32-bit release cannot run here
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "e2e: making the Wine prefix $WINEPREFIX (once)"
  wineboot -i >"$work/wineboot.log" 2>&1 || die "wineboot failed (see $work/wineboot.log)"
  wineserver -w
fi
wineserver -p || die "could not start a persistent wineserver"
wineboot >/dev/null 2>&1 || true # starts the prefix's services before the first test

export PYTHONDONTWRITEBYTECODE=1 PYTHONPATH=$here # nothing written into the source tree
export E2E_EXE=$exe E2E_HELPERS=$helpers E2E_WORK=$work E2E_ARTIFACTS=$artifacts
export E2E_CONTROL=$work/server-control.json E2E_SERVER_LOG=$work/server-log.jsonl
export E2E_BUNDLE=$work/bundle.crt E2E_SYSTEM_BUNDLE=$work/system-bundle.crt
export E2E_TEST_CA=$work/test-ca.crt E2E_XVFB_LOG=$work/xvfb.log
export E2E_DIST=${E2E_DIST:-$(cd "$here/../.." && pwd)/dist} # what `make release` wrote
# The scripted strike-count service (server.py) on the widget's port.
: >"$E2E_SERVER_LOG"
python3 -c 'import e2elib; e2elib.start_stub()' || die "the test server did not start"
if [[ -n $exec_cmd ]]; then
  bash -c "$exec_cmd"
else
  python3 "$here/e2e.py" "${args[@]}"
fi
