"""What the end-to-end cases use to drive and watch the widget on the test desktop.

run.sh prepares the desktop (X server, Wine prefix and wineserver, certificate bundle) inside
private namespaces and passes the places through E2E_* environment variables. A case is a
function registered with @case; it receives a Session that ends every process it starts.
"""

import json
import os
import signal
import socket
import subprocess
import time

ENV = os.environ
EXE = ENV.get("E2E_EXE", "")
HELPERS = ENV.get("E2E_HELPERS", "")
WORK = ENV.get("E2E_WORK", "/tmp")
ARTIFACTS = ENV.get("E2E_ARTIFACTS", "/tmp")
CONTROL = ENV.get("E2E_CONTROL", "")
SERVER_LOG = ENV.get("E2E_SERVER_LOG", "")
BUNDLE = ENV.get("E2E_BUNDLE", "")
SYSTEM_BUNDLE = ENV.get("E2E_SYSTEM_BUNDLE", "")
TEST_CA = ENV.get("E2E_TEST_CA", "")
SERVICE = "https://localhost:48443"

# The widget's layout at 96 DPI in client pixels: (left, top, right, bottom), right and
# bottom exclusive.
WIDTH, HEIGHT = 170, 74
CAPTION = (16, 8, 153, 41)
COUNT = (40, 32, 129, 65)
SITE_BOX = (117, 39, 166, 68)
CLOSE_MARK = (152, 8, 161, 17)
OFF_EXPOSED = (129, 40, 145, 65)  # the part of `off` that shows while the site box is hidden
FRAME = 3

NAVY = (0, 0, 128)
WHITE = (255, 255, 255)
GREY = (128, 128, 128)
LIGHT_GREY = (224, 224, 224)


def query(lat, lon, distance):
    return f"/counter/Strike_Counter.php?lat={lat}&lon={lon}&distance={distance}"


DEFAULT_QUERY = query("38.699", "-90.683", "128")


def site_coordinates(site):
    """Latitude and longitude of a site in the radars.gis beside the exe, as text."""
    with open(os.path.join(os.path.dirname(EXE), "radars.gis"), encoding="latin-1") as f:
        for fields in (line.rstrip("\r\n").split("|") for line in f):
            if fields[0] == site.lower() and len(fields) >= 4:
                return fields[2].strip(), fields[3].strip()
    raise CaseFailed(f"{site} is not in radars.gis")


def site_query(site):
    return query(*site_coordinates(site), "128")


CASES = []


def case(group):
    """Registers a test case in a group; the function's name is the case's name."""
    return lambda fn: CASES.append((group, fn.__name__, fn)) or fn


class CaseFailed(AssertionError):
    pass


class CaseSkipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailed(message)


def wait_for(fn, timeout, what, interval=0.1, fail=True):
    """Polls fn until it returns a true value and returns that; fails after timeout seconds,
    or with fail=False returns the last value."""
    deadline = time.monotonic() + timeout
    while not (value := fn()):
        if time.monotonic() >= deadline:
            if not fail:
                return value
            raise CaseFailed(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)
    return value


def wine_path(name):
    return os.path.join(HELPERS, name)


def run_wine(exe, *args, timeout=30, env=None):
    """Runs a Windows program to its end and returns (exit code, stdout)."""
    done = subprocess.run(["wine", exe, *args], capture_output=True, text=True, timeout=timeout,
                          cwd=os.path.dirname(exe) or None, env={**ENV, **(env or {})})
    return done.returncode, done.stdout


# Wine copies the bundle's authorities into this registry key the first time a process opens
# the root store, and never drops one that left the bundle; deleting the key makes the next
# process copy the bundle afresh.
ROOTS_KEY = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"


def trust(test_authority=True):
    """The system's authorities, with the test authority as run.sh mounted them or without."""
    parts = [SYSTEM_BUNDLE, TEST_CA] if test_authority else [SYSTEM_BUNDLE]
    data = b"".join(open(p, "rb").read() for p in parts)
    with open(BUNDLE, "wb") as f:  # in place: the bind mount holds this very file
        f.write(data)
    run_wine("reg", "delete", ROOTS_KEY, "/f")


def probe(cls="StormtallyWidget", title="x", wait_ms=0, *more, env=None):
    """The probe's view of a top-level window (see probe_win.cpp), or None without one."""
    for _ in range(2):  # a Wine process start fails now and then: one more look after one
        code, out = run_wine(wine_path("st_probe.exe"), "--class", cls, "--title", title,
                             "--wait", str(wait_ms), *more, timeout=wait_ms / 1000 + 30, env=env)
        if code in (0, 3):  # 3: no such window, an answer like any other
            return json.loads(out) if code == 0 else None
    return None


def find_child(snapshot, cls=None, rect=None, text=None):
    for child in snapshot["children"]:
        if ((cls is None or child["class"].lower() == cls.lower())
                and (rect is None or tuple(child["rect"]) == tuple(rect))
                and (text is None or child["text"] == text)):
            return child
    return None


class Server:
    """The scripted strike-count service that run.sh started."""

    def set(self, **behaviour):
        tmp = CONTROL + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(behaviour, f)
        os.replace(tmp, CONTROL)

    def answer(self, body, status=200):
        self.set(mode="answer", status=status, body=body)

    def events(self):
        with open(SERVER_LOG, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def mark(self):
        """A place in the log; requests(since=mark) gives what came after it."""
        return len(self.events())

    def requests(self, since=0, event="request"):
        return [e for e in self.events()[since:] if e["event"] == event]

    def connections(self, since=0):
        return self.requests(since, "connection")

    def wait_requests(self, since, n, timeout=20):
        """Waits for n requests after the mark and returns those that came."""
        return wait_for(lambda: len(self.requests(since)) >= n and self.requests(since),
                        timeout, f"{n} request(s) at the server")


SERVER = Server()
STUB_PID = os.path.join(WORK, "stub.pid")


def start_stub():
    """Starts server.py, the scripted service, on the widget's port and waits until it listens."""
    mark = SERVER.mark()
    here = os.path.dirname(os.path.abspath(__file__))
    proc = subprocess.Popen(
        ["python3", os.path.join(here, "server.py"), "--port", "48443", "--cert",
         f"{WORK}/server.crt", "--key", f"{WORK}/server.key", "--untrusted-cert",
         f"{WORK}/rogue-server.crt", "--untrusted-key", f"{WORK}/rogue-server.key",
         "--control", CONTROL, "--log", SERVER_LOG],
        stdout=open(f"{WORK}/server.out", "a"), stderr=subprocess.STDOUT)
    with open(STUB_PID, "w") as f:
        f.write(str(proc.pid))
    wait_for(lambda: any(e["event"] == "ready" for e in SERVER.events()[mark:]), 10,
             "the test server to listen")


def port_free():
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", 48443)) != 0


def stop_stub():
    os.kill(int(open(STUB_PID).read()), signal.SIGTERM)
    wait_for(port_free, 10, "the test server to let go of its port")


def whitish(p):
    """White text drawn on navy, smoothed edges included: red and green well above navy's 0."""
    return p[0] >= 150 and p[1] >= 150


def near(colour, tolerance=0):
    return lambda p: all(abs(a - b) <= tolerance for a, b in zip(p, colour))


def xdo(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True, timeout=30)


def focus_window(name="^x$", timeout=5):
    """Gives the keyboard to a mapped window whose title matches, as a user does: unless the
    window manager already holds it active, a click into it near its top-left corner, where
    the widget shows only its background."""
    def active():
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               capture_output=True, text=True, timeout=30).stdout.split()
        now = subprocess.run(["xdotool", "getactivewindow"], capture_output=True, text=True,
                             timeout=30).stdout.strip()
        if found and now not in found:
            xdo("mousemove", "--window", found[0], 6, 6, "click", 1)
        return now in found

    wait_for(active, timeout, f"a mapped window named {name!r} to be active", interval=0.3)


def key(*keys, to="^x$"):
    """Keys for the window titled `to`, or with to=None for whatever holds the keyboard."""
    if to:
        focus_window(to)
    xdo("key", "--delay", "60", *keys)


def type_text(text, to="^x$", delay=80):
    if to:
        focus_window(to)
    xdo("type", "--delay", delay, "--", text)


def mouse_to(x, y):
    # No --sync: it waits for a motion event, and there is none when the pointer is there.
    xdo("mousemove", x, y)
    time.sleep(0.05)


def glide(x0, y0, x1, y1, steps=10, pause=0.03):
    """Moves the pointer in steps, as a hand does; a drag needs the moves in between."""
    for i in range(1, steps + 1):
        xdo("mousemove", round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps))
        time.sleep(pause)


def park_pointer():
    mouse_to(1000, 750)


def shoot(to, x=0, y=0, width=1024, height=768):
    """Part of the screen, written to a file or, with "rgb:-" as `to`, returned as bytes."""
    return subprocess.run(["import", "-silent", "-window", "root", "-crop",
                           f"{width}x{height}+{x}+{y}", "+repage", "-depth", "8", to],
                          capture_output=True, check=True, timeout=30).stdout


class Image:
    """The screen's pixels in a rectangle, read from the X server."""

    def __init__(self, x, y, width, height):
        self.width, self.rgb = width, shoot("rgb:-", x, y, width, height)

    def px(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def count(self, rect, match):
        """Pixels in rect that match: a colour, or a test of an (r, g, b) tuple."""
        test = match if callable(match) else near(match)
        return sum(1 for y in range(rect[1], rect[3]) for x in range(rect[0], rect[2])
                   if test(self.px(x, y)))


class Widget:
    """One running copy of stormtally.exe."""

    def __init__(self, proc):
        self.proc = proc

    def snapshot(self, wait_ms=0):
        s = probe(wait_ms=wait_ms)
        check(s is not None, "the widget's window is gone")
        return s

    def origin(self):
        return tuple(self.snapshot()["rect"][:2])

    def at(self, cx, cy):
        """Screen position of a client pixel."""
        x, y = self.origin()
        return x + cx, y + cy

    def child(self, cls, rect):
        found = find_child(self.snapshot(), cls, rect)
        check(found is not None, f"no {cls} at {rect}")
        return found

    def count_text(self):
        """The count as the label `tstrikes` holds it; None while the widget cannot answer."""
        label = self.child("Static", COUNT)
        return None if label["hung"] else label["text"]

    def site_box(self):
        return self.child("Edit", SITE_BOX)

    def site_text(self):
        return self.site_box()["text"]

    def focus(self):
        return self.snapshot()["focus"]

    def wait_count(self, expected, timeout):
        return wait_for(lambda: self.count_text() == expected, timeout,
                        f"the count to show {expected!r}")

    def screen(self):
        return Image(*self.origin(), WIDTH, HEIGHT)

    def alive(self):
        return self.proc.poll() is None

    def tab_to_command1(self):
        # One Tab from the parking box; another one only when the focus started elsewhere,
        # which start_puts_the_focus_on_the_parking_box reports on its own.
        for _ in range(3):
            key("Tab")
            try:
                return wait_for(lambda: (self.focus() or {}).get("text") == "download strikes",
                                2, "the focus to reach Command1 (\"download strikes\")")
            except CaseFailed as e:
                failure = e
        raise failure

    def press_command1(self):
        """Tab to Command1 and press it with Space, as a keyboard user does."""
        self.tab_to_command1()
        key("space")

    def drag_caption(self, dx, dy, tries=2):
        """Drags the window by the caption (on "Lightning Count", clear of the count) and
        returns where it was and where it went."""
        x0, y0 = self.origin()
        gx, gy = x0 + 40, y0 + 14
        mouse_to(gx, gy)
        xdo("mousedown", 1)
        time.sleep(0.3)  # as a hand does: press, then move, at a pace a loaded desktop follows
        glide(gx, gy, gx + dx, gy + dy, pause=0.06)
        time.sleep(0.3)
        xdo("mouseup", 1)
        if not wait_for(lambda: self.origin() != (x0, y0), 5, "the window to move",
                        fail=tries == 1):
            return self.drag_caption(dx, dy, tries - 1)  # the window manager missed the press
        time.sleep(0.3)
        moved = self.origin()
        check(abs(moved[0] - (x0 + dx)) <= 2 and abs(moved[1] - (y0 + dy)) <= 2,
              f"the window is at {moved}, expected about ({x0 + dx}, {y0 + dy})")
        return (gx + dx, gy + dy), moved

    def click(self, cx, cy, button=1):
        mouse_to(*self.at(cx, cy))
        xdo("click", button)

    def type_in_site_box(self, text, enter=True):
        """Clicks into the site box, empties it and types. Under Wine, Ctrl+A does not select
        all in a single-line EDIT, so End and BackSpace clear it."""
        self.click((SITE_BOX[0] + SITE_BOX[2]) // 2, (SITE_BOX[1] + SITE_BOX[3]) // 2)
        wait_for(lambda: (self.focus() or {}).get("hwnd") == self.site_box()["hwnd"], 3,
                 "the focus in the site box after a click on it")
        key("End", *["BackSpace"] * 6)
        type_text(text)
        if enter:
            key("Return")


class Session:
    """What one case starts; all of it ends when the case ends."""

    def __init__(self, name):
        self.name = name
        self.procs = []

    def start(self, exe, *args, env=None, wine=True):
        out = open(os.path.join(WORK, f"{self.name}.{os.path.basename(exe)}.log"), "a")
        proc = subprocess.Popen(["wine", exe, *args] if wine else [exe, *args],
                                cwd=os.path.dirname(exe) or None, stdout=out, stderr=out,
                                stdin=subprocess.DEVNULL, env={**ENV, **(env or {})})
        self.procs.append(proc)
        return proc

    def start_widget(self, env=None):
        widget = Widget(self.start(EXE, env=env))
        widget.snapshot(wait_ms=20000)
        check(widget.alive(), "the widget ended right after start")
        # The probe finds the window as soon as it is made, still hidden; it shows a moment
        # later, once its controls are in place.
        wait_for(lambda: (widget.snapshot() or {}).get("visible"), 10,
                 "the widget's window to show")
        return widget

    def start_viewer(self, *titles):
        """A stand-in radar viewer with one top-level window per title (see its source)."""
        proc = self.start(wine_path("st_viewer_windows.exe"), *titles)
        marked = ("hidden:", "minimised:", "fullscreen:")
        plain = [t.split(":", 1)[1] if t.startswith(marked) else t for t in titles]
        wait_for(lambda: all(probe("StViewerWindow", t) for t in plain), 20,
                 f"viewer windows {titles}")
        return proc

    def busy_core(self, seconds=60):
        """Keeps one CPU core busy, as other work on a user's machine does, for at most
        `seconds` or until the case ends."""
        loop = f"import time\nend = time.time() + {seconds}\nwhile time.time() < end: pass"
        self.procs.append(subprocess.Popen(["python3", "-c", loop]))

    def close(self):
        for proc in self.procs:
            proc.kill()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        # The next case starts from a desktop without the widget.
        wait_for(lambda: probe() is None, 10, "the widget's window to go away")
