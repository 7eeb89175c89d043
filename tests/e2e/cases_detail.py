"""The extras of a count in the tooltip, against the real service: the nearest flash and the
trend as the service's JSON gives them, and the all-clear of a place in thunder range, which
counts down each second without a new request and starts over when a newer flash comes in."""

import json
import math
import os
import re
import ssl
import time
import urllib.request
from datetime import datetime, timedelta, timezone

from cases_custom import toggle_custom_place
from cases_request import shoot_tooltip, tooltip
from cases_site import STRIKECOUNTD, service_ready
from e2elib import (SERVICE, TEST_CA, WORK, CaseSkipped, case, check, start_stub,
                    stop_stub, wait_for)

def fetch(path):
    with urllib.request.urlopen(SERVICE + path, timeout=5, context=ssl.create_default_context(
            cafile=TEST_CA)) as answer:
        return answer.read().decode()


def area(lat, lon, miles):
    return json.loads(fetch(f"/v1/area?lat={lat}&lon={lon}&distance={miles}"))


def nearest_words(doc):
    """The start of the status's nearest-flash line for the service's answer: tenths of a mile
    close by, whole miles beyond, and the compass point the service gives."""
    d = doc["nearest"]["distance_miles"]
    miles = str(math.floor(d + 0.5)) if d >= 9.95 else f"{d:.1f}".removesuffix(".0")
    return f"Nearest flash {miles} mi {doc['nearest']['compass']}, "


def trend_words(doc):
    return (f"Activity {doc['trend']}: {doc['count']} in the last 15 min, "
            f"{doc['previous_count']} in the 15 min before")


def answered():
    """Requests the service has answered so far, by its metrics."""
    text = fetch("/metrics")
    return sum(int(n) for n in re.findall(r'^strikecount_requests_total\{[^}]*\} (\d+)$', text,
                                          re.M))


def seconds_left(text):
    found = re.search(r"all clear in (\d+) min(?: (\d+) s)?", text)
    check(found, f"the tooltip counts no all-clear down: {text!r}")
    return int(found[1]) * 60 + int(found[2] or 0)


def iso(t):
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


PLACE = ("35.2", "-97.44", "8")


@case("service")
def tooltip_gives_nearest_flash_trend_and_an_all_clear_that_counts_down(s):
    if not os.path.exists(STRIKECOUNTD):
        raise CaseSkipped(f"{os.path.normpath(STRIKECOUNTD)} is missing")
    now = datetime.now(timezone.utc).replace(microsecond=0)
    feed = os.path.join(WORK, "strikes.csv")
    lat, lon = float(PLACE[0]), float(PLACE[1])
    with open(feed, "w", encoding="ascii") as f:
        # Ten minutes ago 3.5 miles north, and one beyond the radius 20 minutes ago (the window
        # before); the trend of the 128 miles around holds both.
        f.write(f"{iso(now - timedelta(minutes=10))},{lat + 0.05},{lon}\n")
        f.write(f"{iso(now - timedelta(minutes=20))},{lat},{lon + 0.5}\n")
    stop_stub()
    try:
        s.start(STRIKECOUNTD, "--feed", feed, "--clock", "fixed:" + iso(now), "--bind", "::",
                "--cert", f"{WORK}/server.crt", "--key", f"{WORK}/server.key", wine=False)
        wait_for(service_ready, 20, "strikecountd to take the feed in")
        w = s.start_widget()
        toggle_custom_place(w, PLACE)
        w.wait_count("1", 10)
        doc = area(*PLACE)
        check(doc["last_flash_age_seconds"] == 600, f"the service says {doc}")
        text = tooltip(w, nearest_words(doc), trend_words(doc),
                       "Last flash within 8 mi 10 min ago: all clear in ")["text"]
        before, first = answered(), seconds_left(text)
        time.sleep(3)
        text = tooltip(w, "all clear in ")["text"]
        later = seconds_left(text)
        check(2 <= first - later <= 6, f"the all-clear went from {first} s to {later} s in 3 s")
        check(answered() == before + 1, "the widget asked again to count down")

        # A newer flash a minute old, 2.8 miles west: the next count starts the clock over.
        with open(feed, "a", encoding="ascii") as f:
            f.write(f"{iso(now - timedelta(minutes=1))},{lat},{lon - 0.05}\n")
        wait_for(lambda: area(*PLACE)["count"] == 2, 10, "the service to take the new flash")
        w.press_command1()
        w.wait_count("2", 10)
        doc = area(*PLACE)
        tip = tooltip(w, nearest_words(doc), trend_words(doc),
                      "Last flash within 8 mi 1 min ago: all clear in 2")
        check(seconds_left(tip["text"]) > first, f"the all-clear did not start over: {tip}")
        shoot_tooltip(w, tip, "all-clear")
    finally:
        s.close()
        start_stub()
