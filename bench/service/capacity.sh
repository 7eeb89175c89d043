#!/bin/bash
# Capacity of strikecountd the way widgets connect, beside nginx answering the same path with a
# fixed "17" (what an HTTPS answer costs on this machine and no less), in one run:
#   - keep-alive, and a new connection per query with a full and with a resumed TLS handshake,
#     at 2 and 16 connections; each side's best round, its p99 and the ratio (service_load);
#   - the counts of the first 1,000 queries against a brute-force count;
#   - the plain count beside the count with its extras (Strikes-Detail: 1), keep-alive;
#   - the service's resident memory with the flashes held.
# FLASHES lie in the window; as many again in the 44 minutes before it, the rest of the hour the
# service keeps for the extras (the previous window, the age of the last flash).
# Both servers get the same certificate, the same queries and the same client, alternately.
#
#   bench/service/capacity.sh [BUILD_DIR]
#
# BUILD_DIR (argument or environment; default build/native) is configured and built here.
# Environment: FLASHES in the window (1000000), DURATION of a round in seconds (4), ROUNDS (3), THREADS of
# the client (2), SERVER_THREADS of both servers (nproc), CONNECTIONS ("2 16"), MODES
# ("keep-alive full resumed"), KEY (ec: ECDSA P-256; rsa: RSA 2048), PORT (48843; nginx
# PORT+1). A whole run with the defaults takes about 4 to 5 minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-${BUILD_DIR:-$root/build/native}}
case $build in /*) ;; *) build=$PWD/$build ;; esac
flashes=${FLASHES:-1000000}
server_threads=${SERVER_THREADS:-$(nproc)}
key=${KEY:-ec}
port=${PORT:-48843}
nginx_port=$((port + 1))
end_time=2025-04-07T13:00:00Z
checked=1000

for tool in nginx curl cmake; do
  command -v $tool >/dev/null ||
    { echo "capacity.sh: $tool is needed (tools/install-deps.sh bench)" >&2; exit 2; }
done

echo "== building strikecountd and the benchmark tools in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target strikecountd service_benchdata service_load >/dev/null
bin=$build/service

work=$(mktemp -d /tmp/strikecount-capacity.XXXXXX)
chmod 755 "$work"
svc_pid=""
cleanup() {
  if [ -n "$svc_pid" ]; then kill "$svc_pid" 2>/dev/null || true; wait "$svc_pid" 2>/dev/null || true; fi
  if [ -s "$work/nginx.pid" ]; then kill "$(cat "$work/nginx.pid")" 2>/dev/null || true; fi
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT

"$root/service/make-dev-cert.sh" "$work/tls" 825 "$key" >/dev/null
ca=$work/tls/ca.pem
"$bin/service_benchdata" queries 10000 7 > "$work/queries.csv"
"$bin/service_benchdata" flashes "$flashes" 12 "$(date -u -d "$end_time 901 seconds ago" +%FT%TZ)" 44 \
  > "$work/flashes.csv"
"$bin/service_benchdata" flashes "$flashes" 11 "$end_time" 15 > "$work/window.csv"
cat "$work/window.csv" >> "$work/flashes.csv"
held=$((flashes * 2))

# The service's resident memory with no flashes, to tell what the flashes take.
: > "$work/empty.csv"
"$bin/strikecountd" --feed "$work/empty.csv" --clock "fixed:$end_time" --stale-after 0 \
  --https-port "$port" --cert "$work/tls/server.pem" --key "$work/tls/server.key" \
  --threads "$server_threads" 2> "$work/empty.log" &
svc_pid=$!
# Waits until the service's /healthz matches $1; stops with its log $2 if it ends first.
await_service() {
  until curl -s --cacert "$ca" "https://localhost:$port/healthz" | grep -q "$1"; do
    kill -0 "$svc_pid" 2>/dev/null || { cat "$2" >&2; exit 1; }
    sleep 0.05
  done
}
await_service flashes_held "$work/empty.log"
rss_empty=$(awk '/^VmRSS/ {print $2 * 1024}' "/proc/$svc_pid/status")
kill "$svc_pid"; wait "$svc_pid" 2>/dev/null || true; svc_pid=""

echo "== strikecountd on 127.0.0.1:$port, $server_threads network threads, $flashes flashes in the window," \
  "$flashes in the 44 minutes before"
"$bin/strikecountd" --feed "$work/flashes.csv" --clock "fixed:$end_time" --stale-after 0 \
  --https-port "$port" --cert "$work/tls/server.pem" --key "$work/tls/server.key" \
  --threads "$server_threads" --max-flashes $((held * 2)) 2> "$work/service.log" &
svc_pid=$!
await_service "\"flashes_held\":${held}[,}]" "$work/service.log"
rss=$(awk '/^VmRSS/ {print $2 * 1024}' "/proc/$svc_pid/status")

mkdir -p "$work/nginx"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes $server_threads;
pid $work/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx;
  keepalive_requests 100000000;
  keepalive_timeout 30s;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/tls/server.pem;
    ssl_certificate_key $work/tls/server.key;
    ssl_protocols TLSv1.2 TLSv1.3;
    ssl_session_cache shared:SSL:10m;
    ssl_session_tickets on;
    location = /counter/Strike_Counter.php { default_type text/plain; return 200 "17"; }
  }
}
CONF
echo "== nginx $(nginx -v 2>&1 | sed 's/.*\///') on 127.0.0.1:$nginx_port, $server_threads workers, fixed answer"
nginx -e "$work/nginx/error.log" -p "$work/nginx" -c "$work/nginx/nginx.conf"
until curl -sf --cacert "$ca" "https://localhost:$nginx_port/counter/Strike_Counter.php" >/dev/null; do sleep 0.05; done
nginx_pids=$(pgrep -d, -P "$(cat "$work/nginx.pid")")

echo "== counts of the first $checked queries against a brute-force count"
"$bin/service_load" counts "$work/queries.csv" "$port" $checked > "$work/counts.txt"
check=$("$bin/service_benchdata" check "$work/window.csv" "$work/queries.csv" "$work/counts.txt" 2>&1) ||
  { echo "$check" >&2; echo "capacity.sh: the counts are wrong; a rate of wrong answers means nothing" >&2; exit 1; }
check=$(tail -n 1 <<< "$check")
echo "   $check"

echo "== load: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the run"
"$bin/service_load" table "$work/queries.csv" "strikecountd:$port:$svc_pid" \
  "nginx fixed 17:$nginx_port:$nginx_pids"
echo "== the plain count beside the count with its extras (Strikes-Detail: 1), keep-alive"
"$bin/service_load" detail "$work/queries.csv" "strikecountd:$port:$svc_pid"
echo "load average after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "certificate: $(openssl x509 -in "$work/tls/server.pem" -noout -text | grep -m1 'Public Key Algorithm' | sed 's/.*: //')," \
  "TLS $(curl -sv --cacert "$ca" "https://localhost:$port/healthz" -o /dev/null 2>&1 | grep -m1 -oE 'TLSv1\.[23] / [A-Z0-9_-]+')"
echo "strikecountd resident memory: $((rss / 1048576)) MiB with $held flashes," \
  "$((rss_empty / 1048576)) MiB with none: $(((rss - rss_empty) / held)) bytes per flash"
echo "counts: $check"
