#!/usr/bin/env bash
# Builds the site table fuzz targets with clang's libFuzzer and runs each for a while.
#
#   fuzz/run.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build/fuzz (beside this script's repository), SECONDS to 20 per
# target. The seed corpus is generated into BUILD_DIR; what the fuzzer finds stays there
# too, with any crashing input under BUILD_DIR/artifacts. Needs clang++ and
# libclang-rt-14-dev (the sanitizer and fuzzer runtimes).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/fuzz}"
seconds="${2:-20}"
cxx="${CXX_FUZZ:-clang++}"

mkdir -p "$build/obj" "$build/artifacts"
build="$(cd "$build" && pwd)"

flags=(-std=c++17 -g -O1 -Wall -Wextra -fno-omit-frame-pointer
       -fsanitize=address,undefined -fno-sanitize-recover=all
       -I "$root/src" -I "$root/tests/unit" -I "$root/tools" -I "$root/fuzz")

# The widget's portable core, built once with the sanitizers for the lookup target.
core_objects=()
for source in "$root"/src/{app,query,location,viewer}/*.cpp; do
  case "$source" in *_win.cpp) continue ;; esac
  name="${source#"$root/src/"}"
  object="$build/obj/${name//\//_}.o"
  if [[ ! -f "$object" || "$source" -nt "$object" ]] || \
     find "$root/src" -name '*.h' -newer "$object" | grep -q .; then
    "$cxx" "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  core_objects+=("$object")
done

echo "fuzz: building targets in $build"
"$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/site_table_fuzz.cpp" \
  "$root/src/location/site_table.cpp" -o "$build/site_table_fuzz"
"$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/site_lookup_fuzz.cpp" \
  "${core_objects[@]}" -o "$build/site_lookup_fuzz"
"$cxx" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/station_report_fuzz.cpp" \
  "$root/tools/station_report.cpp" "$root/src/location/site_table.cpp" \
  -o "$build/station_report_fuzz"

# Seeds: a length byte and a site text in front of small tables (see each target's input
# layout), and a few lines of NOAA's station report.
seed() {  # seed TARGET NAME BYTES...
  mkdir -p "$build/seeds/$1"
  printf "${@:3}" > "$build/seeds/$1/$2"
}
for target in site_table site_lookup; do
  seed $target crlf '\004KLSXkabc|A|1|2\r\nklsx|B|38.699|-90.683\r\n'
  seed $target mixed '\003TLXa||1|1\rktlx||2|2\nktlx||3\r\n\r\nklsx| x | 4 | 5 |6'
  seed $target empty_site '\000kabc||1|2\r\n'
  seed $target high '\005\351KLSX\351klsx\377|\303\251|1\260|2\260'
done
seed site_lookup by_switch '\044KTLXktlx||35.3|-97.2\r\n'
seed site_lookup no_table '\024KLSX'
seed site_lookup other_key '\104\141\000KLSXklsx||1|2'
if [[ -f "$root/data/radars.gis" ]]; then
  { printf '\004KTLX'; cat "$root/data/radars.gis"; } > "$build/seeds/site_table/shipped"
  { printf '\004KTLX'; head -c 2000 "$root/data/radars.gis"; } > "$build/seeds/site_lookup/shipped"
fi
mkdir -p "$build/seeds/station_report"
seed station_report small 'ICAO NAME  LAT   LON\n---- ----- ----- ------\nKXYZ A B   1.5   -2.25\nPGUA G|U   13.4  144.8\n'
stations="$root/../shared/data/nexrad-stations.txt"
if [[ -f "$stations" ]]; then
  head -n 6 "$stations" > "$build/seeds/station_report/noaa"
fi

status=0
for target in site_table site_lookup station_report; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s"
  if ! "$build/${target}_fuzz" "$corpus" "$build/seeds/$target" \
      -dict="$root/fuzz/site_table.dict" -max_total_time="$seconds" -max_len=4096 \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/${target}-" > "$build/$target.log" 2>&1; then
    echo "fuzz: $target FAILED; see $build/$target.log and $build/artifacts/" >&2
    tail -n 40 "$build/$target.log" >&2
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$build/$target.log" |
      sed "s/^/fuzz: $target /"
  fi
done
exit $status
