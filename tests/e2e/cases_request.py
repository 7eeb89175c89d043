"""Requests that fail: one row per way the service can fail, each a case of its own. Every
failure shows "--" within the widget's one deadline, on one connection, and the transfer ends
with the deadline: nothing of it goes on once the widget has given up."""

import time

from e2elib import DEFAULT_QUERY, SERVER, case, check, trust, wait_for

DEADLINE = 15  # the widget's bound on a whole request, in seconds
# Longest a failed request may keep the count from showing "--" after its connection: the
# deadline plus the time the screen and the probe need.
FAILURE_SHOWN_WITHIN = 17
REDIRECT_TO_HTTP = ("HTTP/1.1 302 Found\r\nLocation: http://localhost:48443" + DEFAULT_QUERY
                    + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")


def threads(w):
    """Threads of the Wine process that runs the widget (wine runs the exe in its own pid)."""
    with open(f"/proc/{w.proc.pid}/status", encoding="ascii") as f:
        status = dict(line.split(":", 1) for line in f)
    check("stormtally" in status["Name"], f"pid {w.proc.pid} is {status['Name'].strip()}")
    return int(status["Threads"])


def sleep_until(t):
    time.sleep(max(0.0, t - time.time()))


def fail_once(w, behaviour):
    """Sets the server's behaviour, presses Command1 and waits for "--"; returns the
    connection the server logged and the thread counts before and during the request."""
    mark = SERVER.mark()
    SERVER.set(**behaviour)
    before = threads(w)
    w.press_command1()
    conn = wait_for(lambda: SERVER.connections(mark), 10, "a connection at the server")[0]
    during = threads(w)
    wait_for(lambda: w.count_text() == "--", FAILURE_SHOWN_WITHIN + 10, "the count to show '--'")
    took = time.time() - conn["t"]
    check(took <= FAILURE_SHOWN_WITHIN, f"'--' showed only {took:.1f} s after the connection")
    return mark, conn, before, during


def stalled_transfer_ends_at_the_deadline(w, conn):
    # A request made right after the deadline, while the first is torn down, goes through.
    SERVER.answer("23")
    w.press_command1()
    w.wait_count("23", 20)
    sleep_until(conn["t"] + DEADLINE + 5)
    # A second stalled request: whatever WinHTTP keeps idle must not grow from one to the next.
    _, conn2, before2, during2 = fail_once(w, dict(mode="stall", seconds=30))
    sleep_until(max(conn2["t"] + DEADLINE + 5, conn["t"] + 33))
    after2 = threads(w)
    late = [e for e in SERVER.events()
            if e.get("conn") == conn["conn"] and e["event"] != "connection"]
    sent = [e for e in late if e["event"] == "request"]
    check(not sent, sent and f"the abandoned transfer sent {sent[0]['line']!r} "
          f"{sent[0]['t'] - conn['t']:.1f} s after its connection")
    check([e["event"] for e in late] == ["tls_error"],
          f"the stalled connection was not closed when the server went on: {late}")
    check(after2 <= before2, f"threads grew from {before2} (during the request {during2}) to "
          f"{after2} 5 s after the deadline of a stalled request")


# Each way a request can fail: the server's behaviour, how many requests may reach it (an
# untrusted certificate lets none through, a refused redirect is not followed), and any check
# of the row's own. Every row shows "--" within the deadline on exactly one connection.
FAILURES = [
    ("status_503_with_a_number", dict(mode="answer", status=503, body="17"), 1, None),
    ("status_404", dict(mode="answer", status=404, body="Not Found"), 1, None),
    ("number_followed_by_a_word", dict(mode="answer", body="12 strikes"), 1, None),
    ("bytes_that_are_not_http", dict(mode="raw", bytes="\x00\xffgarbage\r\n\r\n"), 1, None),
    ("connection_closed_without_an_answer", dict(mode="close"), 1, None),
    ("hang_after_the_request", dict(mode="hang", seconds=40), 1, None),
    ("redirect_from_https_to_http", dict(mode="raw", bytes=REDIRECT_TO_HTTP), 1, None),
    ("body_over_64_kib", dict(mode="answer", body=" " * 66000 + "17"), 1, None),
    ("certificate_from_an_untrusted_authority",
     dict(mode="answer", body="17", cert="untrusted"), 0, None),
    ("bundle_without_the_test_authority", dict(mode="answer", body="17"), 0, "system only"),
    ("tls_handshake_stalled_for_30_s", dict(mode="stall", seconds=30), 0,
     stalled_transfer_ends_at_the_deadline),
]


def failure_case(behaviour, requests, extra):
    def run(s):
        if extra == "system only":  # the certificate is fine; trust in its authority is not
            trust(test_authority=False)
        try:
            w = s.start_widget()
            mark, conn = fail_once(w, behaviour)[:2]
            time.sleep(1)
            got = SERVER.requests(mark)
            check(len(got) == requests, f"{len(got)} request(s) at the server, not {requests}")
            more = SERVER.connections(mark)[1:]
            check(not more, f"{len(more)} more connection(s) after the first")
            if callable(extra):
                extra(w, conn)
        finally:
            if extra == "system only":
                s.close()
                trust()
    return run


for name, behaviour, requests, extra in FAILURES:
    fn = failure_case(behaviour, requests, extra)
    fn.__name__ = f"failure_{name}"
    case("tls" if requests == 0 else "request")(fn)
