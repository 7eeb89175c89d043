"""The refresh cycle: after the first request the widget asks again on its own, through a
fresh site lookup, two 60-second waits after the previous request ended. Slow by nature."""

import time

from e2elib import SERVER, case, check, site_query

CYCLE_S = 120
SLACK_S = 6  # Wine's timers, the lookup and the TLS handshake


@case("slow")
def refresh_cycle_asks_again_after_two_minutes_for_the_viewers_site(s):
    SERVER.answer("5")
    w = s.start_widget()
    mark = SERVER.mark()
    w.press_command1()
    first = SERVER.wait_requests(mark, 1)[0]
    w.wait_count("5", 10)
    # A radar viewer opened during the wait changes the site box at once, and the count at the
    # end of the cycle.
    s.start_viewer("KTLX 0.5 Base Reflectivity - GRLevel3")
    SERVER.answer("6")
    second = SERVER.wait_requests(mark, 2, timeout=CYCLE_S + 30)[1]
    gap = second["t"] - first["t"]
    check(CYCLE_S - 1 <= gap <= CYCLE_S + SLACK_S,
          f"the second request came {gap:.1f} s after the first, expected about {CYCLE_S} s")
    # The cycle looks the site in the box up again: the viewer's, with the table's coordinates.
    check(second["path"] == site_query("KTLX"),
          f"the cycle's request was {second['path']!r}, expected {site_query('KTLX')!r}")
    w.wait_count("6", 10)
    check(not w.site_box()["visible"], "the cycle's lookup left the site box shown")
    time.sleep(2)
    check(len(SERVER.requests(mark)) == 2, "more than one request at the end of the cycle")
