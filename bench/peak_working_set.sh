#!/usr/bin/env bash
# The widget's peak working set after one request, beside that of a bare window on the same
# Wine desktop (the floor any window costs there), on the end-to-end test desktop.
#
# Usage: bench/peak_working_set.sh [WINDOWS_BUILD]   (default build/mingw32; needs root, as
#        tests/e2e/run.sh does). Prints the two figures in KiB and their difference.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
[[ -f $build/src/stormtally.exe ]] && build=$(cd "$build" && pwd) || build=$top/build/mingw32
[[ -f $build/bench/st_bare_window.exe ]] || { echo "no $build/bench/st_bare_window.exe" >&2; exit 1; }
exec flock /tmp/stormtally-wine.lock "$top/tests/e2e/run.sh" "$build" \
  --exec "python3 '$top/bench/peak_working_set.py' '$build/bench/st_bare_window.exe'"
