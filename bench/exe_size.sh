#!/usr/bin/env bash
# The size of stormtally.exe and what takes the room: the five largest objects or archive
# members in the exe, from the link map that the build writes beside it, and the share of
# each library.
#
# Usage: bench/exe_size.sh [WINDOWS_BUILD]   (default build/mingw32, configured with the
#        mingw32 preset when missing). Builds the stormtally target only.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
if [[ -z $build || ! -f $build/CMakeCache.txt ]] || ! grep -q mingw "$build/CMakeCache.txt"; then
  build=$top/build/mingw32
  [[ -f $build/CMakeCache.txt ]] || (cd "$top" && cmake --preset mingw32 >/dev/null)
fi
cmake --build "$build" --target stormtally -j 2 >/dev/null
exe=$build/src/stormtally.exe
map=$build/src/stormtally.map
echo "stormtally.exe: $(stat -c %s "$exe") bytes ($(( ($(stat -c %s "$exe") + 1023) / 1024 )) KiB)"

# A map line names an input section, its address, its size and the file it came from; a long
# section name stands alone on its line and the rest follows on the next. Sections that take
# no room in the file (.bss, debug information that -s strips, discarded ones) do not count.
python3 - "$map" <<'EOF'
import collections, os, re, sys

sizes = collections.Counter()
counted, pending = False, None
started = False
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    if not started:
        started = line.startswith("Linker script and memory map")
        continue
    line = line.rstrip("\n")
    out = re.match(r"^(\S+)", line)
    if out:  # an output section
        name = out.group(1)
        counted = not (name.startswith((".debug", ".zdebug", "/DISCARD/", ".bss")))
        pending = None
        continue
    m = re.match(r"^ (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
    if m is None and pending is not None:
        m2 = re.match(r"^\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m2:
            m = (None, m2.group(1), m2.group(2))
    elif m is not None:
        m = (None, m.group(2), m.group(3))
    pending = None
    if m is None:
        name_only = re.match(r"^ (\.\S+|COMMON)$", line)
        if name_only:
            pending = name_only.group(1)
        continue
    if counted and m[1] != "0":
        sizes[m[2]] += int(m[1], 16)

def short(path):
    archive = re.match(r"^(.*?)\((.*)\)$", path)
    if archive:
        return f"{os.path.basename(archive.group(1))}({archive.group(2)})"
    return os.path.basename(path)

print("five largest contributors:")
for path, size in sizes.most_common(5):
    print(f"  {size:8d}  {short(path)}")
libs = collections.Counter()
for path, size in sizes.items():
    libs[os.path.basename(re.sub(r"\(.*\)$", "", path))] += size
print("by library or object: " + ", ".join(f"{n} {s}" for n, s in libs.most_common(6)))
EOF
