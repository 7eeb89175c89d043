#!/usr/bin/env python3
"""Runs the widget's end-to-end cases on the desktop that run.sh prepared.

Usage (inside run.sh): e2e.py [--group NAME]... [--skip-group NAME]... [--case NAME]... [--list]
The last line of the output is "e2e: N passed, M failed"; the exit status is 1 on any failure.
"""

import argparse
import os
import subprocess
import sys
import time
import traceback

import e2elib
from e2elib import ARTIFACTS, CASES, SERVER, Session, grab, park_pointer

# Each module registers its cases with @case; the order here is the order they run in.
import cases_env  # noqa: F401,E402
import cases_window  # noqa: F401,E402
import cases_request  # noqa: F401,E402
import cases_site  # noqa: F401,E402
import cases_viewer  # noqa: F401,E402
import cases_custom  # noqa: F401,E402
import cases_refresh  # noqa: F401,E402


def x_server_alive():
    return subprocess.run(["xdotool", "getmouselocation"], capture_output=True).returncode == 0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--group", action="append", default=[])
    p.add_argument("--skip-group", action="append", default=[])
    p.add_argument("--case", action="append", default=[])
    p.add_argument("--list", action="store_true")
    args = p.parse_args()

    chosen = [(g, n, fn) for g, n, fn in CASES
              if (not args.group or g in args.group or "all" in args.group)
              and g not in args.skip_group and (not args.case or n in args.case)]
    if args.list:
        for g, n, _ in CASES:
            print(f"{g:10} {n}")
        return 0
    unknown = set(args.case) - {n for _, n, _ in CASES}
    if unknown or not chosen:
        print(f"e2e: no such case: {', '.join(sorted(unknown))}" if unknown
              else "e2e: no case in the chosen groups")
        print("e2e: 0 passed, 1 failed")
        return 1

    for old in os.listdir(ARTIFACTS):  # screens of cases that failed in an earlier run
        if old.startswith("failed-") and old.endswith(".png"):
            os.remove(os.path.join(ARTIFACTS, old))
    e2elib.reset_trust()  # drops authorities that earlier runs left in the Wine prefix
    passed, failed = 0, []
    started = time.monotonic()
    for group, name, fn in chosen:
        print(f"[{group}] {name}", flush=True)
        SERVER.answer("0")
        park_pointer()
        session = Session(name)
        t0 = time.monotonic()
        ok = False
        try:
            fn(session)
            ok = True
        except Exception as e:  # a failed check or a broken step: either fails the case
            detail = str(e) if isinstance(e, e2elib.CaseFailed) else traceback.format_exc()
            print(f"    FAIL: {detail.rstrip()}", flush=True)
            try:
                shot = os.path.join(ARTIFACTS, f"failed-{name}.png")
                grab(0, 0, 1024, 768).save_png(shot)
                print(f"    screen saved: {shot}")
            except Exception:
                pass
        finally:
            try:
                session.close()
            except Exception as e:
                print(f"    cleanup: {e}")
        took = time.monotonic() - t0
        if not ok and not x_server_alive():
            failed.append(name)
            rest = [n for _, n, _ in chosen[chosen.index((group, name, fn)) + 1:]]
            failed.extend(rest)
            print(f"    the X server is gone (see {os.environ.get('E2E_XVFB_LOG')}); "
                  f"{len(rest)} cases not run", flush=True)
            break
        if ok:
            passed += 1
            print(f"    ok ({took:.1f} s)", flush=True)
        else:
            failed.append(name)
            print(f"    failed ({took:.1f} s)", flush=True)

    print(f"e2e: took {time.monotonic() - started:.0f} s", flush=True)
    if failed:
        print(f"e2e: failed cases: {' '.join(failed)}")
    print(f"e2e: {passed} passed, {len(failed)} failed", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
