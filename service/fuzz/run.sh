#!/bin/sh
# Builds the count-query fuzz target with clang (libFuzzer, ASan, UBSan) into OUTDIR and runs it.
#
#   service/fuzz/run.sh [OUTDIR] [SECONDS]     defaults: build/service-fuzz, 20
#
# A crash leaves its input in OUTDIR/crash-*; the corpus grows in OUTDIR/corpus.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$here/../src
out=${1:-$here/../../build/service-fuzz}
seconds=${2:-20}
mkdir -p "$out/corpus"

flags="-std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined"
# shellcheck disable=SC2086
${CXX:-clang++} $flags -I"$src" -I"$here/../.." "$here/count_query_fuzz.cpp" \
  "$here/../../protocol/wire_contract.cpp" "$here/../../protocol/decimal_text.cpp" \
  "$here/../../protocol/area_detail.cpp" \
  "$src/count_query.cpp" "$src/feed_line.cpp" "$src/flash_index.cpp" "$src/strike_service.cpp" \
  "$src/metrics.cpp" "$src/time_util.cpp" "$src/log.cpp" -lpthread \
  -o "$out/count_query_fuzz"
# Seeds: what the widget sends, and a few near misses.
printf 'lat=38.699&lon=-90.683&distance=128' > "$out/corpus/seed-widget"
printf 'lat=%%33%%38&lon=-90.683&distance=5&lat=1' > "$out/corpus/seed-duplicate"
printf 'lat=89.99&lon=180&distance=1000' > "$out/corpus/seed-edge"
printf 'lat=5E-05&lon=-1.5e%%2B2&distance=.5' > "$out/corpus/seed-exponent"
printf '2025-04-07T13:00:21.512Z,31.25,-84.10' > "$out/corpus/seed-feed"
printf 'Strikes-Window: 900\r\nStrikes-Previous-Count: 3\r\nStrikes-Lookback: 3600\r\nStrikes-Nearest-Miles: 2.5\r\nStrikes-Nearest-Bearing: 45\r\nStrikes-Nearest-Age: 60\r\n' > "$out/corpus/seed-fields"
cd "$out"
echo "fuzz: count_query for ${seconds}s"  # libFuzzer's own lines stay in its log
./count_query_fuzz -max_total_time="$seconds" -max_len=512 -timeout=5 -print_funcs=0 \
  -print_final_stats=1 corpus >log 2>&1 || { tail -n 40 log; echo "fuzz: FAILED, see $out"; exit 1; }
sed -n 's/^stat::\(number_of_executed_units\|new_units_added\)/fuzz: count_query &/p' log
