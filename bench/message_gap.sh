#!/usr/bin/env bash
# The longest time the widget leaves its window's messages unanswered while a request waits
# on a service that holds its answer back for 10 s (goal: at most 50 ms). The real
# stormtally.exe under Wine, in the end-to-end harness (tests/e2e/run.sh), with the scripted
# server; message_gap.exe sends WM_NULL to the window every 20 ms and times the answers.
#
# Usage: bench/message_gap.sh [WINDOWS_BUILD]   (default build/mingw32, or build/mingw64 on a
#        kernel that runs no 32-bit programs)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/wine-env.sh"
default=$top/build/mingw32
can_run_32bit || default=$top/build/mingw64  # the 64-bit build where 32-bit programs cannot run
build=${1:-$default}
[[ -f $build/CMakeCache.txt ]] && grep -q mingw "$build/CMakeCache.txt" || build=$default
cmake --build "$build" --target stormtally message_gap st_probe st_viewer_windows -j 2 >/dev/null
exec "$top/tests/e2e/run.sh" "$build" \
  --exec "python3 '$top/bench/message_gap.py' '$(cd "$build" && pwd)/bench/message_gap.exe'"
