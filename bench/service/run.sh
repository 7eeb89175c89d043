#!/bin/bash
# The strike-count service benchmark, all figures from one run:
#   - count queries per second over HTTPS keep-alive (wrk), p50 and p99 latency, with 100,000
#     and 1,000,000 flashes in the window: random points over the contiguous US, radii 5-250 mi;
#   - the same queries against PostgreSQL + PostGIS (ST_DWithin on geography, GiST index, sphere),
#     run with pgbench; skipped with a message when PostGIS is not installed;
#   - a count agreement check: service, PostGIS and a brute-force count on 1,000 of the queries;
#   - the time to ingest one GLM file, and in-process count times (Google Benchmark).
#
#   bench/service/run.sh [BUILD_DIR]
#
# BUILD_DIR (argument or environment; default build/service) is configured and built here.
# Environment: DURATION seconds per load run (15),
# CONNECTIONS for wrk (16), PG_CLIENTS for pgbench (2), SIZES ("100000 1000000"), PORT (48743),
# POSTGIS=no to leave the reference out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-${BUILD_DIR:-$root/build/service}}
case $build in /*) ;; *) build=$PWD/$build ;; esac
duration=${DURATION:-15}
connections=${CONNECTIONS:-16}
pg_clients=${PG_CLIENTS:-2}
sizes=${SIZES:-"100000 1000000"}
port=${PORT:-48743}
pg_port=$((port + 1))
end_time=2025-04-07T13:00:00Z
window_start=2025-04-07T12:45:00Z
queries=10000
checked=1000

for tool in wrk curl cmake; do
  command -v $tool >/dev/null || { echo "run.sh: $tool is needed (apt-get install $tool)" >&2; exit 2; }
done

echo "== building strikecountd and the benchmark tools in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target strikecountd service_benchdata service_bench >/dev/null
bin=$build/service

work=$(mktemp -d /tmp/strikecount-bench.XXXXXX)
chmod 755 "$work"
svc_pid=""
pg_dir=""
as_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
cleanup() {
  if [ -n "$svc_pid" ]; then kill "$svc_pid" 2>/dev/null || true; wait "$svc_pid" 2>/dev/null || true; fi
  if [ -n "$pg_dir" ] && [ -f "$pg_dir/data/postmaster.pid" ]; then
    as_pg "$pg_bin/pg_ctl" -D "$pg_dir/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
  [ -n "$pg_dir" ] && rm -rf "$pg_dir"
  rm -rf "$work"
}
trap cleanup EXIT

"$root/service/make-dev-cert.sh" "$work/tls" >/dev/null
ca=$work/tls/ca.pem
"$bin/service_benchdata" queries $queries 7 > "$work/queries.csv"
head -n $checked "$work/queries.csv" |
  awk -F, -v p="$port" '{printf "url = \"https://localhost:%s/counter/Strike_Counter.php?lat=%s&lon=%s&distance=%s\"\n", p, $2, $3, $4}' \
  > "$work/check-urls.cfg"

# PostgreSQL + PostGIS, if installed: a private server on loopback in a temporary folder.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
have_postgis=no
if [ "${POSTGIS:-auto}" = no ]; then
  echo "== POSTGIS=no: leaving the PostGIS reference out"
elif [ -n "$pg_bin" ] && [ -x "$pg_bin/initdb" ] && ls /usr/share/postgresql/*/extension/postgis.control >/dev/null 2>&1; then
  have_postgis=yes
else
  echo "== PostGIS is not installed (apt-get install postgresql postgresql-15-postgis-3): skipping the PostGIS reference"
fi
pg() { as_pg "$pg_bin/psql" -h 127.0.0.1 -p "$pg_port" -U postgres -X -q -v ON_ERROR_STOP=1 "$@"; }
if [ $have_postgis = yes ]; then
  pg_dir=$(mktemp -d /tmp/strikecount-pg.XXXXXX)
  chmod 755 "$pg_dir"
  [ "$(id -u)" = 0 ] && chown postgres "$pg_dir"
  echo "== starting PostgreSQL ($pg_bin) on 127.0.0.1:$pg_port"
  as_pg "$pg_bin/initdb" -D "$pg_dir/data" -U postgres -A trust --no-sync >/dev/null
  # Durability off only speeds the load; JIT off spares each count a compile.
  as_pg "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w \
    -o "-c listen_addresses=127.0.0.1 -p $pg_port -k $pg_dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c shared_buffers=512MB -c jit=off" \
    start >/dev/null
  # The sphere PostGIS measures on with use_spheroid=false: one degree of the equator, in metres.
  pg_radius=$(pg -d postgres -At -c "CREATE EXTENSION IF NOT EXISTS postgis" \
    -c "SELECT ST_Distance('SRID=4326;POINT(0 0)'::geography, 'SRID=4326;POINT(1 0)'::geography, false) * 180 / pi()")
  echo "   PostGIS sphere radius ${pg_radius} m; the service's is 3958.8 mi = $(awk 'BEGIN{printf "%.1f", 3958.8*1609.344}') m:"
  echo "   each query's distance is scaled by the ratio, so both count the same angle"
fi

declare -A result
now() { date +%s.%N; }

for n in $sizes; do
  echo
  echo "== $n flashes in the 15-minute window ending $end_time"
  "$bin/service_benchdata" flashes "$n" 11 "$end_time" 15 > "$work/flashes-$n.csv"

  t0=$(now)
  "$bin/strikecountd" --feed "$work/flashes-$n.csv" --clock "fixed:$end_time" --stale-after 0 \
    --https-port "$port" --cert "$work/tls/server.pem" --key "$work/tls/server.key" \
    --max-flashes 3000000 2> "$work/service-$n.log" &
  svc_pid=$!
  until curl -sf --cacert "$ca" "https://localhost:$port/healthz" | grep -q "\"flashes_held\":$n[,}]"; do
    kill -0 "$svc_pid" 2>/dev/null || { cat "$work/service-$n.log"; exit 1; }
    sleep 0.05
  done
  load=$(awk -v a="$t0" -v b="$(now)" 'BEGIN{printf "%.2f", b-a}')
  echo "   service took in $n feed lines in ${load} s"

  curl -s --cacert "$ca" -K "$work/check-urls.cfg" -w '\n' > "$work/service-counts-$n.txt"
  echo "   wrk: ${duration} s, 2 threads, $connections keep-alive connections over HTTPS"
  wrk -t2 -c"$connections" -d"${duration}s" --latency -s "$here/service_queries.lua" \
    "https://localhost:$port" -- "$work/queries.csv" > "$work/wrk-$n.txt"
  sed 's/^/   | /' "$work/wrk-$n.txt"
  if grep -q "Non-2xx" "$work/wrk-$n.txt"; then echo "run.sh: the service answered errors" >&2; exit 1; fi
  rps=$(awk '/^Requests\/sec/ {print $2}' "$work/wrk-$n.txt")
  p50=$(awk '$1=="50%" {print $2}' "$work/wrk-$n.txt")
  p99=$(awk '$1=="99%" {print $2}' "$work/wrk-$n.txt")
  rss=$(curl -s --cacert "$ca" "https://localhost:$port/metrics" | awk '/^process_resident_memory_bytes/ {printf "%.0f", $2/1048576}')
  kill "$svc_pid"; wait "$svc_pid" 2>/dev/null || true; svc_pid=""
  result[$n,svc]="$rps req/s, p50 $p50, p99 $p99 (RSS ${rss} MiB, load ${load} s)"
  result[$n,svc_rps]=$rps

  if [ $have_postgis = yes ]; then
    echo "   loading PostGIS"
    pg -d postgres -c "DROP DATABASE IF EXISTS bench" -c "CREATE DATABASE bench"
    t0=$(now)
    pg -d bench <<SQL
CREATE EXTENSION postgis;
CREATE TABLE flashes (t timestamptz NOT NULL, g geography(Point, 4326) NOT NULL);
CREATE TEMP TABLE raw (t float8, lat float8, lon float8);
\copy raw FROM '$work/flashes-$n.csv' CSV
INSERT INTO flashes SELECT to_timestamp(t), ST_SetSRID(ST_MakePoint(lon, lat), 4326)::geography FROM raw;
CREATE INDEX flashes_g ON flashes USING gist (g);
CREATE TABLE q (id int PRIMARY KEY, lat float8, lon float8, miles float8, g geography(Point, 4326), d_m float8);
\copy q (id, lat, lon, miles) FROM '$work/queries.csv' CSV
UPDATE q SET g = ST_SetSRID(ST_MakePoint(lon, lat), 4326)::geography, d_m = miles / 3958.8 * $pg_radius;
VACUUM ANALYZE flashes;
VACUUM ANALYZE q;
SQL
    pg_load=$(awk -v a="$t0" -v b="$(now)" 'BEGIN{printf "%.1f", b-a}')
    count_sql="SELECT count(*) FROM flashes f, q WHERE q.id = :id AND ST_DWithin(f.g, q.g, q.d_m, false) AND f.t BETWEEN '$window_start' AND '$end_time'"
    plan=$(pg -d bench -At -c "EXPLAIN ${count_sql/:id/1}" | grep -oE '(Bitmap )?Index Scan (using|on) flashes_g' | head -n 1 || true)
    echo "   plan: ${plan:-NO INDEX SCAN}"
    pg -d bench -At -c "SELECT (SELECT count(*) FROM flashes f WHERE ST_DWithin(f.g, q.g, q.d_m, false) AND f.t BETWEEN '$window_start' AND '$end_time') FROM q WHERE id <= $checked ORDER BY id" \
      > "$work/pg-counts-$n.txt"
    printf '\\set id random(1, %d)\n%s;\n' $queries "$count_sql" > "$pg_dir/count.sql"
    chmod 644 "$pg_dir/count.sql"
    echo "   pgbench: ${duration} s, $pg_clients clients, prepared statements"
    (cd "$pg_dir" && as_pg "$pg_bin/pgbench" -h 127.0.0.1 -p "$pg_port" -U postgres -n -M prepared \
      -c "$pg_clients" -j "$pg_clients" -T "$duration" -f "$pg_dir/count.sql" -l --log-prefix="$pg_dir/pgbench-$n" bench) \
      > "$work/pgbench-$n.txt" 2>&1
    grep -E '^(tps|latency average|number of transactions actually)' "$work/pgbench-$n.txt" | sed 's/^/   | /'
    tps=$(awk '/^tps/ {print $3}' "$work/pgbench-$n.txt")
    read -r pg_p50 pg_p99 < <(cat "$pg_dir"/pgbench-"$n".* | awk '{print $3}' | sort -n |
      awk '{v[NR]=$1} END {printf "%.2fms %.2fms\n", v[int(NR*0.5)]/1000, v[int(NR*0.99)]/1000}')
    rm -f "$pg_dir"/pgbench-"$n".*
    result[$n,pg]="$tps q/s, p50 $pg_p50, p99 $pg_p99 (load+index ${pg_load} s)"
    result[$n,ratio]=$(awk -v a="${result[$n,svc_rps]}" -v b="$tps" 'BEGIN{printf "%.0fx", a/b}')
    result[$n,check]=$("$bin/service_benchdata" check "$work/flashes-$n.csv" "$work/queries.csv" \
      "$work/service-counts-$n.txt" "$work/pg-counts-$n.txt" 2>&1 | tail -n 1) || true
  else
    result[$n,pg]="skipped"
    result[$n,ratio]="-"
    result[$n,check]=$("$bin/service_benchdata" check "$work/flashes-$n.csv" "$work/queries.csv" \
      "$work/service-counts-$n.txt" 2>&1 | tail -n 1) || true
  fi
  echo "   check: ${result[$n,check]}"
done

echo
echo "== in-process: ingesting one GLM file, and counting without the network"
"$bin/service_bench" --benchmark_min_time=0.5 2>/dev/null | sed 's/^/   | /'

echo
echo "== summary (machine: $(nproc) cores; wrk and the server share them)"
for n in $sizes; do
  printf '%9s flashes  strikecountd HTTPS: %s\n' "$n" "${result[$n,svc]}"
  printf '%9s          PostGIS:            %s\n' "" "${result[$n,pg]}"
  printf '%9s          ratio:              %s;  %s\n' "" "${result[$n,ratio]}" "${result[$n,check]}"
done
