"""What the end-to-end cases use to drive and watch the widget on the test desktop.

run.sh prepares the desktop (X server, Wine prefix and wineserver, HTTPS server, certificate
bundle) inside private namespaces and passes the places through E2E_* environment variables.
A case is a function registered with @case; it receives a Session that remembers every
process it starts and ends them when the case is over.
"""

import json
import os
import struct
import subprocess
import time
import zlib

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
    """Latitude and longitude of a site in the radars.gis that lies beside the exe, as text."""
    with open(os.path.join(os.path.dirname(EXE), "radars.gis"), encoding="latin-1") as f:
        for line in f:
            fields = line.rstrip("\r\n").split("|")
            if fields[0] == site.lower() and len(fields) >= 4:
                return fields[2].strip(), fields[3].strip()
    raise CaseFailed(f"{site} is not in radars.gis")


def site_query(site):
    return query(*site_coordinates(site), "128")

# ---------------------------------------------------------------- registry of cases

CASES = []


def case(group):
    """Registers a test case in a group; the function's name is the case's name."""

    def register(fn):
        CASES.append((group, fn.__name__, fn))
        return fn

    return register


class CaseFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailed(message)


def wait_for(fn, timeout, what, interval=0.1):
    """Polls fn until it returns a true value and returns that; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = fn()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise CaseFailed(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def note(message):
    """A line of information that belongs in the run's output (figures, what was seen)."""
    print(f"    {message}", flush=True)


# ---------------------------------------------------------------- Wine processes


def wine_path(name):
    return os.path.join(HELPERS, name)


def run_wine(exe, *args, timeout=30):
    """Runs a Windows program to its end and returns (exit code, stdout)."""
    done = subprocess.run(["wine", exe, *args], capture_output=True, text=True,
                          timeout=timeout, cwd=os.path.dirname(exe) or None)
    return done.returncode, done.stdout


def alive(proc):
    return proc is not None and proc.poll() is None


# ---------------------------------------------------------------- trusted authorities

# Wine copies the bundle's authorities into this registry key the first time a process opens
# the root store, and never drops one that left the bundle; deleting the key makes the next
# process copy the bundle afresh.
ROOTS_KEY = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates"


def _use_bundle(*parts):
    data = b"".join(open(p, "rb").read() for p in parts)
    with open(BUNDLE, "wb") as f:  # in place: the bind mount holds this very file
        f.write(data)
    run_wine("reg", "delete", ROOTS_KEY, "/f")


def trust_only_system_authorities():
    _use_bundle(SYSTEM_BUNDLE)


def reset_trust():
    """The system's authorities and the test authority, as run.sh mounted them."""
    _use_bundle(SYSTEM_BUNDLE, TEST_CA)


# ---------------------------------------------------------------- probe


def probe(cls="StormtallyWidget", title="x", wait_ms=0):
    """The probe's view of a top-level window, or None when there is no such window."""
    code, out = run_wine(wine_path("st_probe.exe"), "--class", cls, "--title", title,
                         "--wait", str(wait_ms), timeout=wait_ms / 1000 + 30)
    if code != 0:
        return None
    return json.loads(out)


def find_child(snapshot, cls=None, rect=None, text=None):
    for child in snapshot["children"]:
        if cls is not None and child["class"].lower() != cls.lower():
            continue
        if rect is not None and tuple(child["rect"]) != tuple(rect):
            continue
        if text is not None and child["text"] != text:
            continue
        return child
    return None


# ---------------------------------------------------------------- the HTTPS server


class Server:
    """The scripted strike-count service that run.sh started."""

    def set(self, **behaviour):
        tmp = CONTROL + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(behaviour, f)
        os.replace(tmp, CONTROL)

    def answer(self, body, status=200, cert=None):
        self.set(mode="answer", status=status, body=body, **({"cert": cert} if cert else {}))

    def hang(self, seconds):
        self.set(mode="hang", seconds=seconds)

    def raw(self, data):
        self.set(mode="raw", bytes=data)

    def stall(self, seconds):
        """Accept each connection, then wait that long before the TLS handshake."""
        self.set(mode="stall", seconds=seconds)

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

    def paths(self, since=0):
        return [e["path"] for e in self.requests(since)]


SERVER = Server()


def whitish(p):
    """White text drawn on navy, smoothed edges included: red and green well above navy's 0."""
    return p[0] >= 150 and p[1] >= 150


# ---------------------------------------------------------------- X input


def xdo(*args):
    subprocess.run(["xdotool", *[str(a) for a in args]], check=True, timeout=30)


def focus_window(name="^x$", timeout=5):
    """Gives the X keyboard focus to the window whose title matches; without a window manager
    nobody else does, and keys would go to whatever lies under the pointer. Only a mapped
    window can take the focus: one that is still being shown, or the last case's window on its
    way out, is passed over until a mapped one is there."""
    deadline = time.time() + timeout
    while True:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name],
                               capture_output=True, text=True, timeout=30).stdout.split()
        for wid in found:
            if subprocess.run(["xdotool", "windowfocus", wid], capture_output=True,
                              timeout=30).returncode == 0:
                return
        if time.time() > deadline:
            raise AssertionError(f"no mapped window named {name!r} took the keyboard focus")
        time.sleep(0.1)


def key(*keys, to="^x$"):
    focus_window(to)
    xdo("key", "--delay", "60", *keys)


def type_text(text, to="^x$"):
    focus_window(to)
    xdo("type", "--delay", "80", "--", text)


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


# ---------------------------------------------------------------- screenshots


class Image:
    def __init__(self, width, height, rgb):
        self.width, self.height, self.rgb = width, height, rgb

    def px(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.rgb[i:i + 3])

    def count(self, rect, colour, tolerance=0):
        return self.count_where(
            rect, lambda p: all(abs(a - b) <= tolerance for a, b in zip(p, colour)))

    def count_where(self, rect, test):
        left, top, right, bottom = rect
        return sum(1 for y in range(top, bottom) for x in range(left, right)
                   if test(self.px(x, y)))

    def colours(self, rect):
        left, top, right, bottom = rect
        seen = {}
        for y in range(top, bottom):
            for x in range(left, right):
                p = self.px(x, y)
                seen[p] = seen.get(p, 0) + 1
        return seen

    def save_png(self, path):
        raw = b"".join(b"\0" + self.rgb[y * self.width * 3:(y + 1) * self.width * 3]
                       for y in range(self.height))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        png = (b"\x89PNG\r\n\x1a\n"
               + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0))
               + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
        with open(path, "wb") as f:
            f.write(png)


def grab(x, y, width, height):
    """The screen's pixels in a rectangle, read from the X server."""
    out = subprocess.run(["import", "-silent", "-window", "root", "-crop",
                          f"{width}x{height}+{x}+{y}", "+repage", "-depth", "8", "ppm:-"],
                         capture_output=True, check=True, timeout=30).stdout
    # P6 header: magic, width, height, maxval, each followed by white space.
    fields, pos = [], 0
    while len(fields) < 4:
        while out[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not out[pos:pos + 1].isspace():
            pos += 1
        fields.append(out[start:pos])
    pos += 1
    w, h = int(fields[1]), int(fields[2])
    return Image(w, h, out[pos:pos + w * h * 3])


# ---------------------------------------------------------------- the widget


class Widget:
    """One running copy of stormtally.exe."""

    def __init__(self, session, proc):
        self.session = session
        self.proc = proc

    def snapshot(self, wait_ms=0):
        return probe(wait_ms=wait_ms)

    def origin(self):
        s = self.snapshot()
        check(s is not None, "the widget's window is gone")
        return s["rect"][0], s["rect"][1]

    def count_text(self):
        """The count as the label `tstrikes` holds it; None while the widget cannot answer."""
        s = self.snapshot()
        check(s is not None, "the widget's window is gone")
        child = find_child(s, "Static", COUNT)
        check(child is not None, f"no count label at {COUNT}")
        return None if child["hung"] else child["text"]

    def site_box(self):
        s = self.snapshot()
        check(s is not None, "the widget's window is gone")
        child = find_child(s, "Edit", SITE_BOX)
        check(child is not None, f"no site box at {SITE_BOX}")
        return child

    def focus(self):
        s = self.snapshot()
        check(s is not None, "the widget's window is gone")
        return s["focus"]

    def wait_count(self, expected, timeout):
        return wait_for(lambda: self.count_text() == expected, timeout,
                        f"the count to show {expected!r}")

    def screen(self):
        x, y = self.origin()
        return grab(x, y, WIDTH, HEIGHT)

    def at(self, cx, cy):
        """Screen position of a client pixel."""
        x, y = self.origin()
        return x + cx, y + cy

    def alive(self):
        return alive(self.proc)

    def on_command1(self):
        return (self.focus() or {}).get("text") == "download strikes"

    def tab_to_command1(self):
        # One Tab from the parking box; a second one only when the focus started elsewhere,
        # which start_puts_the_focus_on_the_parking_box reports on its own.
        key("Tab")
        for _ in range(2):
            try:
                return wait_for(self.on_command1, 2, "")
            except AssertionError:
                key("Tab")
        wait_for(self.on_command1, 3, "the focus to reach Command1 (\"download strikes\")")

    def press_command1(self):
        """Tab to Command1 and press it with Space, as a keyboard user does."""
        self.tab_to_command1()
        key("space")

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

    def site_text(self):
        return self.site_box()["text"]


class Session:
    """What one case starts; all of it ends when the case ends."""

    def __init__(self, name):
        self.name = name
        self.procs = []

    def start(self, exe, *args, stdout=None):
        out = open(os.path.join(WORK, f"{self.name}.{os.path.basename(exe)}.log"), "a")
        proc = subprocess.Popen(["wine", exe, *args], cwd=os.path.dirname(exe),
                                stdout=stdout or out, stderr=out, stdin=subprocess.DEVNULL)
        self.procs.append(proc)
        return proc

    def start_widget(self, wait=True):
        proc = self.start(EXE)
        widget = Widget(self, proc)
        if wait:
            snap = widget.snapshot(wait_ms=20000)
            check(snap is not None, "the widget's window did not appear within 20 s")
            check(snap["pid"] and alive(proc), "the widget ended right after start")
        return widget

    def start_bare_window(self):
        proc = self.start(wine_path("st_bare_window.exe"))
        check(probe("StBareWindow", "bare", wait_ms=20000) is not None,
              "the bare window did not appear")
        return proc

    def start_viewer(self, *titles):
        """A stand-in radar viewer with one top-level window per title (see its source)."""
        proc = self.start(wine_path("st_viewer_windows.exe"), *titles)
        wait_for(lambda: self._titles_exist(titles), 20, f"viewer windows {titles}")
        return proc

    @staticmethod
    def _titles_exist(titles):
        for t in titles:
            plain = t.split(":", 1)[1] if t.startswith(("hidden:", "minimised:")) else t
            if probe("StViewerWindow", plain) is None:
                return False
        return True

    def close(self):
        for proc in self.procs:
            if alive(proc):
                proc.kill()
        for proc in self.procs:
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        # The next case starts from a desktop without the widget.
        wait_for(lambda: probe() is None, 10, "the widget's window to go away")
