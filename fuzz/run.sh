#!/usr/bin/env bash
# Builds the site table fuzz target with clang's libFuzzer and runs it for a while.
#
#   fuzz/run.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build/fuzz, SECONDS to 20. The corpus stays in BUILD_DIR, and any
# crashing input goes to BUILD_DIR/artifacts. Needs clang++ and libclang-rt-14-dev.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/fuzz}"
seconds="${2:-20}"
mkdir -p "$build/seeds" "$build/corpus" "$build/artifacts"

"${CXX_FUZZ:-clang++}" -std=c++17 -g -O1 -Wall -Wextra -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I "$root/src/features" \
  "$root/fuzz/site_table_fuzz.cpp" "$root/src/features/location/site_table.cpp" -o "$build/site_table_fuzz"

# Seeds: a length byte and a site text, then a small table (see the target's input layout).
printf '\004KLSXkabc|A|1|2\r\nklsx|B|38.699|-90.683\r\n' > "$build/seeds/crlf"
printf '\003TLXa||1|1\rktlx||2|2\nktlx||3\r\n\r\nklsx| x | 4 | 5 |6' > "$build/seeds/mixed"
printf '\005\351KLSX\351klsx\377|\303\251|1\260|2\260' > "$build/seeds/high"
{ printf '\004KTLX'; cat "$root/data/radars.gis"; } > "$build/seeds/shipped"

echo "fuzz: site_table for ${seconds}s"
if ! "$build/site_table_fuzz" "$build/corpus" "$build/seeds" -dict="$root/fuzz/site_table.dict" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/site_table-" > "$build/site_table.log" 2>&1; then
  echo "fuzz: site_table FAILED; see $build/site_table.log and $build/artifacts/" >&2
  tail -n 40 "$build/site_table.log" >&2
  exit 1
fi
grep -E '^stat::(number_of_executed_units|new_units_added)' "$build/site_table.log" |
  sed 's/^/fuzz: site_table /'
