#!/usr/bin/env bash
# `make run`: the strike-count service in demo mode on loopback, and the widget built against
# it, trusting the local certificate authority only inside its own mount namespace.
# On a machine without a display the widget runs on a virtual one; the script then starts the
# first query itself and keeps a screenshot up to date, printing its path.
set -euo pipefail
native=${1:?native build dir}
win=${2:?windows build dir}
top=$(cd "$(dirname "$0")/.." && pwd)
state=$top/build/run
mkdir -p "$state"
exe=$top/$win/src/stormtally.exe
service=$top/$native/service/strikecountd
port=48443

service/make-dev-cert.sh "$state/cert" >/dev/null
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [[ -z ${WINEPREFIX:-} ]] || wineserver -k 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [[ -x $service ]]; then
  if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then
    echo "Port $port on 127.0.0.1 is taken; stop whatever listens there and try again." >&2
    exit 1
  fi
  "$service" --demo 38.699,-90.683 --bind 127.0.0.1 --https-port $port \
    --cert "$state/cert/server.pem" --key "$state/cert/server.key" >"$state/service.log" 2>&1 &
  pids+=($!)
  echo "Strike-count service (simulated storms) on https://localhost:$port, log: $state/service.log"
else
  echo "No strike-count service built at $service; the widget will show \"--\"." >&2
fi

virtual=0
if [[ -z ${DISPLAY:-} ]]; then
  virtual=1
  for n in $(seq 90 120); do [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || break; done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

export WINEPREFIX=$state/wineprefix-$(basename "$win") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# shellcheck source=wine-env.sh
source "$top/tools/wine-env.sh"
use_wine_for "$exe" "$state"
[[ -d $WINEPREFIX ]] || { echo "Preparing Wine (once)..."; wineboot -i >/dev/null 2>&1; }

# The widget verifies the service's certificate; it trusts the local authority only here.
bundle=$state/ca-bundle.crt
cat /etc/ssl/certs/ca-certificates.crt "$state/cert/ca.pem" >"$bundle"
unshare_cmd=(unshare -m)
[[ $(id -u) -eq 0 ]] || unshare_cmd=(unshare -m -r)
"${unshare_cmd[@]}" -- bash -c '
  mount --bind "$1" /etc/ssl/certs/ca-certificates.crt
  exec wine "$2"' _ "$bundle" "$exe" >"$state/widget.log" 2>&1 &
pids+=($!)

wid=""
for _ in $(seq 100); do
  wid=$(xdotool search --name '^x$' 2>/dev/null | head -1 || true)
  [[ -n $wid ]] && break
  sleep 0.2
done
[[ -n $wid ]] || { echo "The widget did not open; see $state/widget.log" >&2; exit 1; }
echo "Stormtally is running on $DISPLAY. Press Enter in its site box for a first count."

if [[ $virtual -eq 1 ]]; then
  # Nobody can press Enter on a virtual display: do it, as a user would, in the site box.
  sleep 1
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool mousemove $((X + 150)) $((Y + 50)) click 1
  sleep 0.3
  xdotool key Return
  shot=$state/screenshot.png
  while kill -0 "${pids[-1]}" 2>/dev/null; do
    sleep 5
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    import -window root "$state/screen.png" 2>/dev/null &&
      convert "$state/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shot" || true
    [[ ${said:-} ]] || { echo "Screenshot (kept up to date): $shot"; said=1; }
    sleep 55
  done
else
  wait "${pids[-1]}"
fi
