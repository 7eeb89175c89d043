#!/usr/bin/env bash
# What the idle widget costs in CPU: the real stormtally.exe under Wine on a private X server,
# beside a bare Win32 window as the yardstick, on a desktop with many other top-level windows.
#
# Usage: bench/idle_cpu.sh [--build DIR] [--prefix DIR] [--display N] [--windows N]
#                          [--baseline S] [--settle S] [--cpus LIST] [--widget EXE [ARG]...]
#                          [SECONDS]
#   SECONDS      how long the widget and the bare window idle while measured (default 600)
#   --build      Windows build folder with src/stormtally.exe, bench/many_windows.exe and
#                bench/st_bare_window.exe (default: build/mingw32 of this repository)
#   --prefix     Wine prefix, made when missing (default: build/winbench-wine); its wineserver
#                must not be running already, and every process in it ends with this run
#   --display    Xvfb display number (default 151); it must be free
#   --windows    top-level windows many_windows.exe opens (default 100)
#   --baseline   seconds of each baseline phase (default 60, at most SECONDS)
#   --settle     seconds left to a program after its start before measuring (default 10)
#   --cpus       run everything (Xvfb, wineserver, every Windows program) on these CPUs only,
#                as taskset -c takes them, e.g. 1. In a virtual machine the wake-ups between
#                the widget, the wineserver and Xvfb can cost far more when they cross CPUs,
#                and vary with the host's load; one CPU gives steadier figures.
#   --widget     run this program instead of src/stormtally.exe, with the --no-... switches
#                that follow it (bench/widget_variant.exe takes --no-topmost and --no-scan, to
#                tell the causes of the widget's CPU apart)
#
# One run goes through three phases on one desktop and one wineserver:
#   before    the other windows and the bare window idle; the widget is not running yet
#   idle      the widget runs too, once its start-up is over
#   after     the widget has been killed; the rest idles on, long settled by now
# Each phase samples utime + stime from /proc/<pid>/stat of every process of the prefix (each
# Windows program is one Linux process; the wineserver serves them all) and of Xvfb; the
# on-CPU nanoseconds of the live threads (/proc/<pid>/task/*/schedstat) are shown beside them
# as a finer check for short runs. A share of one core is CPU seconds over wall seconds.
#
# The wineserver, Xvfb and the program that owns the other windows can do work on the
# widget's behalf: under Wine every window check and title read of another process's window
# in the scan is a request to the wineserver (Windows itself would send WM_GETTEXTLENGTH to
# the windows' owner instead), and the always-on-top step can reach the X server. Nothing
# tells from outside which client a piece of their work was for, so the rise of their rate
# from the "after" phase to the idle phase is counted as caused by the widget. The "before"
# phase is shown too, but it can still hold the tail of the desktop's start-up (the wineserver
# then runs higher than later), which would hide part of the rise. The bare window, idle in
# every phase, causes next to nothing there. The report gives the widget's own process
# against the goal of under 0.1 % of one core, and the widget's own share plus what it
# causes elsewhere.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build/mingw32
prefix=$repo/build/winbench-wine
display=151
windows=100
baseline=
settle=10
seconds=600
widget_exe=
widget_args=()
cpus=
all_args=("$@")

usage() {
  sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}
die() {
  echo "idle_cpu: $*" >&2
  exit 1
}

while [[ $# -gt 0 ]]; do
  case $1 in
    --build) build=$2; shift ;;
    --prefix) prefix=$2; shift ;;
    --display) display=$2; shift ;;
    --windows) windows=$2; shift ;;
    --baseline) baseline=$2; shift ;;
    --settle) settle=$2; shift ;;
    --cpus) cpus=$2; shift ;;
    --widget)
      widget_exe=$2
      shift
      while [[ $# -gt 1 && $2 == --no-* ]]; do
        widget_args+=("$2")
        shift
      done
      ;;
    -h | --help) usage ;;
    [0-9]*) seconds=$1 ;;
    *) usage ;;
  esac
  shift
done
[[ -n $baseline ]] || baseline=$((seconds < 60 ? seconds : 60))
if [[ -n $cpus && -z ${STORMTALLY_IDLE_PINNED:-} ]]; then
  # Every process this run starts inherits the CPU set.
  export STORMTALLY_IDLE_PINNED=1
  exec taskset -c "$cpus" "$0" "${all_args[@]}"
fi

for tool in wine wineserver wineboot Xvfb python3; do
  command -v "$tool" >/dev/null || die "missing tool: $tool"
done
build=$(cd "$build" 2>/dev/null && pwd) || die "no build folder $build"
[[ -n $widget_exe ]] || widget_exe=$build/src/stormtally.exe
widget_name=$(basename "$widget_exe")
windows_exe=$build/bench/many_windows.exe
bare_exe=$build/bench/st_bare_window.exe
for f in "$widget_exe" "$windows_exe" "$bare_exe"; do
  [[ -f $f ]] || die "missing $f (build the Windows build folder first)"
done
if [[ -e /tmp/.X$display-lock || -e /tmp/.X11-unix/X$display ]]; then
  die "display :$display is in use; pick another with --display"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/stormtally-idle.XXXXXX")
mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
export WINEPREFIX=$prefix WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
export DISPLAY=:$display

xvfb_pid=
wine_started=0
cleanup() {
  local rc=$?
  set +e
  if ((wine_started)); then
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
  fi
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The processes of this run: every Wine process whose environment names this prefix (the
# Windows programs and the wineserver), and Xvfb. Prints one line per process:
#   pid start-time ticks schedstat-ns name
snapshot() {
  python3 - "$prefix" "$xvfb_pid" <<'EOF'
import os, sys
prefix, xvfb = sys.argv[1], sys.argv[2]
want = ("WINEPREFIX=" + prefix).encode()
for pid in os.listdir("/proc"):
    if not pid.isdigit():
        continue
    try:
        if pid != xvfb:
            # Wine's loader and the wineserver; not this script's own helpers, which carry
            # the prefix in their environment too.
            if not os.path.basename(os.readlink(f"/proc/{pid}/exe")).startswith("wine"):
                continue
            env = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
            if want not in env:
                continue
        stat = open(f"/proc/{pid}/stat").read()
        fields = stat[stat.rindex(")") + 2:].split()
        ticks = int(fields[11]) + int(fields[12])  # utime + stime, every thread, dead ones too
        start = fields[19]
        ns = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            try:
                ns += int(open(f"/proc/{pid}/task/{task}/schedstat").read().split()[0])
            except OSError:
                pass
        args = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")
        name = args[0].decode(errors="replace").replace("\\", "/").rsplit("/", 1)[-1] or "?"
        if name.startswith("wineserver"):
            name = "wineserver"
        if pid == xvfb:
            name = "Xvfb"
        print(pid, start, ticks, ns, name)
    except (OSError, ValueError, IndexError):
        continue
EOF
}

stamp() { date +%s.%N; }

echo "idle_cpu: build $build"
echo "idle_cpu: widget $widget_exe ${widget_args[*]}"
echo "idle_cpu: prefix $prefix, display :$display, $windows windows," \
  "baseline ${baseline}s, idle ${seconds}s, settle ${settle}s, CPUs ${cpus:-all}"

Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -S /tmp/.X11-unix/X$display ]] && break
  sleep 0.05
done
[[ -S /tmp/.X11-unix/X$display ]] || die "Xvfb did not start: $(cat "$work/xvfb.log")"

# A run ends every process of its prefix, so the prefix must be free when it starts.
if snapshot | grep -qv ' Xvfb$'; then
  die "something already runs in $prefix; pick another with --prefix"
fi
if [[ ! -f $prefix/system.reg ]]; then
  echo "idle_cpu: making the Wine prefix (once)"
  wineboot -i >"$work/wineboot.log" 2>&1 || die "wineboot failed: $(tail "$work/wineboot.log")"
  wineserver -w
fi
wine_started=1
wineserver -p
wineboot >/dev/null 2>&1 || true # the prefix's services start here, not during a phase

wine "$windows_exe" "$windows" >"$work/windows.out" 2>&1 &
for _ in $(seq 600); do
  grep -q ready "$work/windows.out" && break
  sleep 0.1
done
grep -q ready "$work/windows.out" || die "many_windows.exe did not get ready"
wine "$bare_exe" >/dev/null 2>&1 &
sleep "$settle"

snapshot >"$work/s0"
t0=$(stamp)
echo "idle_cpu: phase before the widget, ${baseline}s"
sleep "$baseline"
snapshot >"$work/s1"
t1=$(stamp)

# Not a job of this shell, so that killing it later prints nothing.
(wine "$widget_exe" "${widget_args[@]}" >/dev/null 2>&1 &)
sleep "$settle"
snapshot >"$work/s2"
t2=$(stamp)
grep -qF " $widget_name" "$work/s2" || die "the widget is not running"
echo "idle_cpu: idle phase, ${seconds}s"
sleep "$seconds"
snapshot >"$work/s3"
t3=$(stamp)
grep -qF " $widget_name" "$work/s3" || die "the widget ended during the idle phase"

kill -KILL $(awk -v name="$widget_name" '$5 == name { print $1 }' "$work/s3")
sleep "$settle"
snapshot >"$work/s4"
t4=$(stamp)
echo "idle_cpu: phase after the widget, ${baseline}s"
sleep "$baseline"
snapshot >"$work/s5"
t5=$(stamp)

python3 - "$work" "$t0" "$t1" "$t2" "$t3" "$t4" "$t5" "$windows" "$widget_name" \
  "${widget_args[*]}" <<'EOF'
import sys
work, t0, t1, t2, t3, t4, t5 = sys.argv[1], *map(float, sys.argv[2:8])
nwin, widget_name, widget_args = sys.argv[8:11]
HZ = 100  # USER_HZ: the unit of utime and stime

def load(name):
    out = {}
    for line in open(f"{work}/{name}"):
        pid, start, ticks, ns, pname = line.split(None, 4)
        out[(pid, start)] = (int(ticks), int(ns), pname.strip())
    return out

s0, s1, s2, s3, s4, s5 = (load(f"s{i}") for i in range(6))
before_wall, idle_wall, after_wall = t1 - t0, t3 - t2, t5 - t4

def rates(a, b, wall):
    """CPU seconds (ticks, schedstat) and share of one core, per process present in both."""
    r = {}
    for key in a.keys() & b.keys():
        ticks = (b[key][0] - a[key][0]) / HZ
        ns = (b[key][1] - a[key][1]) / 1e9
        r[key] = (b[key][2], ticks, ns, 100 * ticks / wall)
    return r

before, idle = rates(s0, s1, before_wall), rates(s2, s3, idle_wall)
after = rates(s4, s5, after_wall)
order = [widget_name, "st_bare_window.exe", "many_windows.exe", "wineserver", "Xvfb"]
rows = sorted(idle.items(), key=lambda kv: (order.index(kv[1][0]) if kv[1][0] in order
                                            else len(order), kv[1][0], kv[0][0]))
print()
print(f"CPU time per process in the idle phase, {idle_wall:.1f} s with the widget, and its "
      f"share of one core before ({before_wall:.1f} s) and after ({after_wall:.1f} s) it; "
      f"{nwin} other windows on the desktop")
head = (f"{'process':<22}{'pid':>8}{'idle cpu s':>12}{'(schedstat)':>13}{'% of core':>11}"
        f"{'before %':>10}{'after %':>10}{'rise %':>10}")
print(head)
print("-" * len(head))
rise_total = 0.0
for key, (name, ticks, ns, pct) in rows:
    b, a = before.get(key), after.get(key)
    rise = pct - a[3] if a else None
    if name != widget_name and name != "st_bare_window.exe" and rise is not None:
        rise_total += rise
    bpct = f"{b[3]:.4f}" if b else "-"
    apct = f"{a[3]:.4f}" if a else "-"
    rise_s = f"{rise:+.4f}" if rise is not None else "-"
    print(f"{name:<22}{key[0]:>8}{ticks:>12.2f}{ns:>13.3f}{pct:>11.4f}{bpct:>10}{apct:>10}"
          f"{rise_s:>10}")
print("-" * len(head))

def share(name):
    return sum(v[3] for v in idle.values() if v[0] == name)

widget, bare = share(widget_name), share("st_bare_window.exe")
goal = 0.1
if widget_args:
    print(f"widget: {widget_name} {widget_args}")
print(f"widget process alone:                 {widget:.4f} % of one core"
      f"  -> goal under {goal} %: {'met' if widget < goal else 'MISSED'}")
print(f"bare window process (the yardstick):  {bare:.4f} % of one core")
print(f"rise elsewhere over the phase after it (wineserver, the other windows' owner, "
      f"Wine services, Xvfb): "
      f"{rise_total:+.4f} %")
total = widget + rise_total
print(f"widget with what it causes elsewhere: {total:.4f} % of one core"
      f"  -> goal under {goal} %: {'met' if total < goal else 'MISSED'}")
print(f"note: /proc counts CPU in 1/{HZ} s ticks; over {idle_wall:.0f} s one tick is "
      f"{100 / HZ / idle_wall:.4f} % of one core")
EOF
