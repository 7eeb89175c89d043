#!/usr/bin/env python3
"""Runs the widget's end-to-end cases on the desktop that run.sh prepared.

Usage (inside run.sh): e2e.py [--group NAME]... [--skip-group NAME]... [--case NAME]... [--list]
The last line of the output is "e2e: N passed, M failed"; the exit status is 1 on any failure.
"""

import argparse
import glob
import os
import sys
import time
import traceback

import e2elib
from e2elib import ARTIFACTS, CASES, SERVER, Session, park_pointer, shoot

# Each module registers its cases with @case; the order here is the order they run in.
for module in ["cases_window", "cases_request", "cases_site", "cases_viewer", "cases_custom",
               "cases_release", "cases_refresh", "cases_detail"]:
    __import__(module)


def main():
    p = argparse.ArgumentParser()
    for option in ["--group", "--skip-group", "--case"]:
        p.add_argument(option, action="append", default=[])
    p.add_argument("--list", action="store_true")
    args = p.parse_args()
    if args.list:
        for g, n, _ in CASES:
            print(f"{g:10} {n}")
        return 0
    chosen = [(g, n, fn) for g, n, fn in CASES
              if (not args.group or g in args.group) and g not in args.skip_group
              and (not args.case or n in args.case)]
    unknown = set(args.case) - {n for _, n, _ in CASES}
    if unknown or not chosen:
        print(f"e2e: no such case: {' '.join(sorted(unknown))}" if unknown
              else "e2e: no case in the chosen groups")
        print("e2e: 0 passed, 1 failed")
        return 1

    for old in glob.glob(os.path.join(ARTIFACTS, "failed-*.png")):  # from an earlier run
        os.remove(old)
    e2elib.trust()  # drops authorities that earlier runs left in the Wine prefix
    failed, skipped, started = [], [], time.monotonic()
    for group, name, fn in chosen:
        print(f"[{group}] {name}", flush=True)
        SERVER.answer("0")
        park_pointer()
        session, t0, ok = Session(name), time.monotonic(), True
        try:
            fn(session)
        except e2elib.CaseSkipped as e:
            skipped.append(name)
            print(f"    skipped: {e}", flush=True)
        except Exception as e:  # a failed check or a broken step: either fails the case
            ok = False
            detail = str(e) if isinstance(e, e2elib.CaseFailed) else traceback.format_exc()
            print(f"    FAIL: {detail.rstrip()}", flush=True)
            shot = os.path.join(ARTIFACTS, f"failed-{name}.png")
            try:
                shoot(shot)
                print(f"    screen saved: {shot}")
            except Exception:
                print(f"    no screen: the X server is gone? (see {os.environ['E2E_XVFB_LOG']})")
        try:
            session.close()
        except Exception as e:
            print(f"    cleanup: {e}")
        print(f"    {'ok' if ok else 'failed'} ({time.monotonic() - t0:.1f} s)", flush=True)
        failed += [] if ok else [name]

    print(f"e2e: took {time.monotonic() - started:.0f} s", flush=True)
    if failed:
        print(f"e2e: failed cases: {' '.join(failed)}")
    print(f"e2e: {len(chosen) - len(failed) - len(skipped)} passed, {len(failed)} failed, "
          f"{len(skipped)} skipped", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
