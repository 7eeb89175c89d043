"""A site typed into the site box and Enter: the lookup in radars.gis beside the exe, the
hidden site box and the request for the site's coordinates."""

import time

from e2elib import DEFAULT_QUERY, SERVER, case, check, site_query

# What the user types, and the request that must follow.
TYPED = [
    ("ktlx", lambda: site_query("KTLX")),
    ("KFWS", lambda: site_query("KFWS")),  # upper case finds the lower-case table entry
    ("zzzz", lambda: DEFAULT_QUERY),  # no such site: the coordinates stay as they were
    ("ktlxq", lambda: site_query("KTLX")),  # the fifth letter does not fit in the box
]


@case("site")
def enter_in_site_box_looks_the_site_up_and_asks_for_its_count(s):
    problems = []
    for typed, expected in TYPED:
        SERVER.answer("7")
        w = s.start_widget()
        mark = SERVER.mark()
        w.type_in_site_box(typed)
        reqs = SERVER.wait_requests(mark, 1)
        got = reqs[0]["path"]
        if got != expected():
            problems.append(f"typed {typed!r}: the server got {got!r}, expected {expected()!r}")
        try:
            w.wait_count("7", 5)
        except AssertionError:
            problems.append(f"typed {typed!r}: the count shows {w.count_text()!r}, not '7'")
        if w.site_box()["visible"]:
            problems.append(f"typed {typed!r}: the site box is still shown after Enter")
        time.sleep(1)
        if len(SERVER.requests(mark)) != 1:
            problems.append(f"typed {typed!r}: {len(SERVER.requests(mark))} requests for one Enter")
        s.close()
    check(not problems, "; ".join(problems))
