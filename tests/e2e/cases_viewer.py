"""The viewer scan: a radar viewer's window title sets the site box once a second, without a
request, until the user presses Enter."""

import time

from e2elib import SERVER, case, check, site_query, wait_for

GRLEVEL3_KTLX = "KTLX 0.5 Base Reflectivity - GRLevel3"
GR2ANALYST_KFWS = "KFWS - GR2Analyst"

# The scan runs every second; the probe and Wine add some time on top.
SCAN_SEEN_WITHIN = 2.5


def wait_site(w, site, what):
    return wait_for(lambda: w.site_text() == site, SCAN_SEEN_WITHIN, what)


@case("viewer")
def viewer_window_sets_the_site_box_without_a_request(s):
    w = s.start_widget()
    mark = SERVER.mark()
    viewer = s.start_viewer(GRLEVEL3_KTLX)
    wait_site(w, "KTLX", f"the site box to follow a window titled {GRLEVEL3_KTLX!r}")
    check(w.site_box()["visible"], "the scan hid the site box")

    # Typed text gives way to the viewer's site at the next scan.
    w.type_in_site_box("kfws", enter=False)
    check(w.site_text() in ("kfws", "KTLX"), f"the site box holds {w.site_text()!r}")
    wait_site(w, "KTLX", "the viewer's site to replace the typed text")

    # With the viewer gone, the last site stays.
    viewer.kill()
    viewer.wait(timeout=10)
    time.sleep(2.5)
    check(w.site_text() == "KTLX", f"after the viewer closed the site box shows {w.site_text()!r}")
    check(SERVER.requests(mark) == [], "the viewer scan sent a request on its own")

    # Enter asks for the site the viewer left.
    w.type_in_site_box("KTLX")
    reqs = SERVER.wait_requests(mark, 1)
    check(reqs[0]["path"] == site_query("KTLX"), f"the server got {reqs[0]['path']!r}")


# Titles of stand-in viewer windows, and the site the box must show: hidden and minimised
# windows count like shown ones, and a title is read whole, however long. Which titles qualify
# is title_rule_test's.
TITLES = [
    ("hidden:" + GR2ANALYST_KFWS, "KFWS"),
    ("minimised:KICT Storm Relative Velocity - GRLevel2", "KICT"),
    ("KAMA " + "x" * 300 + " - GRLevel2", "KAMA"),  # the marker only past byte 255
    ("KDDC - GR2Analyst " + "y" * 300, "KDDC"),  # a long tail after the marker
]


@case("viewer")
def viewer_titles_that_count(s):
    w = s.start_widget()
    problems = []
    for title, site in TITLES:
        viewer = s.start_viewer(title)
        try:
            wait_site(w, site, f"{site} from {title!r}")
        except AssertionError:
            problems.append(f"{title!r}: the site box shows {w.site_text()!r}, not {site!r}")
        viewer.kill()
        viewer.wait(timeout=10)
    check(not problems, "; ".join(problems))
