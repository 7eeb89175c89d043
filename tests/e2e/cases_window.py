"""The window, start-up, the single instance, dragging, the close mark and the request sent
with Command1 from the keyboard."""

import os
import subprocess
import time

from e2elib import (ARTIFACTS, CAPTION, CLOSE_MARK, COUNT, DEFAULT_QUERY, EXE, FRAME, GREY,
                    HEIGHT, LIGHT_GREY, NAVY, SERVER, SITE_BOX, WHITE, WIDTH, case, check,
                    find_child, glide, grab, key, mouse_to, note, park_pointer, probe, run_wine,
                    wait_for, whitish, xdo)


def frame_problems(img):
    """The white frame: along each edge, three rows or columns of white among the outermost
    four (the outline may stop one pixel short of the right and bottom edges)."""
    problems = []
    span_x, span_y = range(FRAME + 1, WIDTH - FRAME - 1), range(FRAME + 1, HEIGHT - FRAME - 1)
    sides = {"top": [[(x, y) for x in span_x] for y in range(0, FRAME + 1)],
             "bottom": [[(x, y) for x in span_x] for y in range(HEIGHT - FRAME - 1, HEIGHT)],
             "left": [[(x, y) for y in span_y] for x in range(0, FRAME + 1)],
             "right": [[(x, y) for y in span_y] for x in range(WIDTH - FRAME - 1, WIDTH)]}
    for side, lines in sides.items():
        white = [all(img.px(x, y) == WHITE for x, y in line) for line in lines]
        if not any(all(white[i:i + FRAME]) for i in range(len(white) - FRAME + 1)):
            problems.append(f"no {FRAME} px white frame along the {side} edge "
                            f"(white lines from the edge: {white})")
    return problems


def area(rect):
    return (rect[2] - rect[0]) * (rect[3] - rect[1])


@case("window")
def start_shows_the_window_as_laid_out(s):
    mark = SERVER.mark()
    w = s.start_widget()
    snap = w.snapshot()
    left, top, right, bottom = snap["rect"]
    check((right - left, bottom - top) == (WIDTH, HEIGHT),
          f"the window is {right - left} by {bottom - top}, not {WIDTH} by {HEIGHT}")
    check(snap["client"] == [0, 0, WIDTH, HEIGHT], f"client area {snap['client']}: not frameless")
    check(snap["title"] == "x" and snap["visible"], "the window is not a visible window titled x")
    check(snap["topmost"], "the window is not topmost")
    count = find_child(snap, "Static", COUNT)
    site = find_child(snap, "Edit", SITE_BOX)
    check(count is not None and count["text"] == "0000", f"count label: {count}")
    check(site is not None and site["text"] == "KLSX" and site["visible"], f"site box: {site}")

    time.sleep(0.5)  # let the first paint settle
    img = w.screen()
    shot = os.path.join(ARTIFACTS, "stormtally.png")
    img.save_png(shot)
    note(f"screenshot: {shot}")
    problems = frame_problems(img)
    inner = (FRAME, FRAME, WIDTH - 1 - FRAME, HEIGHT - 1 - FRAME)
    navy = img.count(inner, NAVY)
    if navy < area(inner) * 0.6:
        problems.append(f"only {navy} of {area(inner)} pixels inside the frame are navy")
    for corner in [(FRAME, FRAME), (FRAME, HEIGHT - 2 - FRAME), (8, 68)]:
        if img.px(*corner) != NAVY:
            problems.append(f"background pixel {corner} is {img.px(*corner)}, not navy")
    caption_only = (CAPTION[0], CAPTION[1], CAPTION[2], COUNT[1])
    checks = [("count digits", COUNT, LIGHT_GREY, 40),
              ("caption text", caption_only, LIGHT_GREY, 30),
              ("site text", SITE_BOX, GREY, 20)]
    for what, rect, colour, least in checks:
        n = img.count(rect, colour)
        if n < least:
            problems.append(f"{what}: {n} pixels of {colour} in {rect}, expected {least} or more")
    if img.count(CLOSE_MARK, NAVY) != area(CLOSE_MARK):
        problems.append("the close mark shows before the mouse went over it")
    check(not problems, "; ".join(problems))

    time.sleep(1.5)
    check(SERVER.requests(mark) == [], "a request was sent at start-up without any user action")


@case("window")
def start_puts_the_focus_on_the_parking_box(s):
    w = s.start_widget()
    focus = wait_for(lambda: w.focus(), 5, "a focused window")
    check(focus["class"].lower() == "edit" and focus["text"] == "Text1",
          f"the focus is on {focus}, not on the text box `focus` (\"Text1\")")


@case("window")
def second_copy_ends_and_first_keeps_running(s):
    w = s.start_widget()
    first = w.snapshot()
    t0 = time.monotonic()
    second = s.start(EXE)
    try:
        code = second.wait(timeout=15)
    except subprocess.TimeoutExpired:
        raise AssertionError("the second copy still runs after 15 s")
    took = time.monotonic() - t0
    note(f"second copy ended with code {code} after {took:.1f} s (Wine start-up included)")
    check(code == 0, f"the second copy ended with exit code {code}")
    check(w.alive(), "the first copy ended too")
    now = w.snapshot()
    check(now is not None and now["hwnd"] == first["hwnd"] and now["pid"] == first["pid"],
          "the first copy's window is gone or was replaced")
    windows = subprocess.run(["xdotool", "search", "--name", "^x$"], capture_output=True,
                             text=True).stdout.split()
    check(len(windows) == 1, f"{len(windows)} windows titled x on the screen")


@case("request")
def command1_from_keyboard_sends_one_request_and_shows_the_count(s):
    # Space and Enter both press the focused button; each press is one request.
    problems = []
    for body, shown, press in [("17.9", "17", "space"), ("-2.5", "-3", "Return")]:
        SERVER.answer(body)
        w = s.start_widget()
        mark = SERVER.mark()
        w.tab_to_command1()
        key(press)
        reqs = SERVER.wait_requests(mark, 1)
        if reqs[0]["path"] != DEFAULT_QUERY:
            problems.append(f"{press}: the server got {reqs[0]['path']!r}, "
                            f"expected {DEFAULT_QUERY!r}")
        try:
            w.wait_count(shown, 5)
        except AssertionError:
            problems.append(f"{press}: the body {body!r} shows as {w.count_text()!r}, "
                            f"not {shown!r}")
        time.sleep(1.5)
        if len(SERVER.requests(mark)) != 1:
            problems.append(f"{press}: {len(SERVER.requests(mark))} requests for one press")
        focus = w.focus()
        if not focus or focus["text"] != "Text1":
            problems.append(f"{press}: after the request the focus is on {focus}")
        s.close()
    check(not problems, "; ".join(problems))


@case("window")
def caption_drag_moves_the_window(s):
    w = s.start_widget()
    x0, y0 = w.origin()
    grab_x, grab_y = x0 + 40, y0 + 14  # on "Lightning Count", clear of the count and close mark
    dx, dy = 210, 130
    mouse_to(grab_x, grab_y)
    xdo("mousedown", 1)
    glide(grab_x, grab_y, grab_x + dx, grab_y + dy)
    time.sleep(0.2)
    xdo("mouseup", 1)
    moved = wait_for(lambda: w.origin() != (x0, y0) and w.origin(), 5, "the window to move")
    time.sleep(0.3)
    moved = w.origin()
    note(f"dragged by ({dx}, {dy}): the window moved from ({x0}, {y0}) to {moved}")
    check(abs(moved[0] - (x0 + dx)) <= 2 and abs(moved[1] - (y0 + dy)) <= 2,
          f"the window is at {moved}, expected about ({x0 + dx}, {y0 + dy})")
    snap = w.snapshot()
    r = snap["rect"]
    check((r[2] - r[0], r[3] - r[1]) == (WIDTH, HEIGHT), "the drag resized the window")
    # The button is up: moving the pointer further leaves the window where it is.
    glide(grab_x + dx, grab_y + dy, grab_x + dx + 50, grab_y + dy + 40, steps=4)
    time.sleep(0.3)
    check(w.origin() == moved, "the window still follows the pointer after the button went up")


@case("window")
def close_mark_shows_on_hover_and_its_click_ends_the_program(s):
    w = s.start_widget()
    def shown():
        return w.screen().count_where(CLOSE_MARK, whitish) >= 3

    def hidden():
        return w.screen().count(CLOSE_MARK, NAVY) == area(CLOSE_MARK)

    check(hidden(), "the close mark shows before any hover")
    cx, cy = w.at(CLOSE_MARK[0] + 4, CLOSE_MARK[1] + 4)
    glide(cx - 30, cy + 30, cx, cy, steps=6)
    wait_for(shown, 2, "white pixels in the close mark under the pointer")
    park_pointer()
    t0 = time.monotonic()
    wait_for(hidden, 4, "the close mark to turn navy again")
    note(f"the close mark went back to navy {time.monotonic() - t0:.1f} s after the pointer left")
    glide(cx - 30, cy + 30, cx, cy, steps=6)
    wait_for(shown, 2, "the close mark to show again")
    t0 = time.monotonic()
    xdo("click", 1)
    wait_for(lambda: not w.alive(), 3, "the program to end after a click on the close mark")
    note(f"ended {time.monotonic() - t0:.2f} s after the click, exit code {w.proc.returncode}")
    check(probe() is None, "the window is still there")


@case("window")
def peak_working_set_after_one_request(s):
    SERVER.answer("42")
    w = s.start_widget()
    w.press_command1()
    w.wait_count("42", 20)
    widget = w.snapshot()["memory"]
    s.start_bare_window()
    time.sleep(1)
    bare = probe("StBareWindow", "bare")["memory"]
    check(widget and bare, "no working-set figures from the probe")
    kib = 1024
    note(f"peak working set after one request: widget {widget['peak_working_set'] // kib} KiB, "
         f"bare window {bare['peak_working_set'] // kib} KiB, difference "
         f"{(widget['peak_working_set'] - bare['peak_working_set']) // kib} KiB")


DESKTOP_KEY = r"HKCU\Control Panel\Desktop"


def set_screen_dpi(dpi):
    run_wine("reg", "add", DESKTOP_KEY, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi),
             "/f")


def window_geometry():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^x$",
                          "getwindowgeometry", "--shell"], capture_output=True, text=True,
                         timeout=30).stdout
    geo = dict(line.split("=", 1) for line in out.split())
    return int(geo["X"]), int(geo["Y"]), int(geo["WIDTH"]), int(geo["HEIGHT"])


@case("window")
def at_150_percent_every_figure_scales(s):
    """At 144 dots per inch the widget measures 255 by 111, its frame and count scale with it,
    and its text stays one line; back at 96 it measures 170 by 74 again."""
    set_screen_dpi(144)
    try:
        w = s.start_widget()
        x, y, *size = window_geometry()
        check(tuple(size) == (255, 111),
              f"at 144 DPI the window is {size[0]} by {size[1]}, not 255 by 111")
        time.sleep(0.5)
        img = grab(x, y, *size)
        frame = sum(1 for x in range(10) if img.px(x, 55) == WHITE)
        check(frame >= 4, f"the frame is {frame} px wide at 144 DPI, expected 4 or 5")
        # The count's label spans 60..193 across and 48..97 down at this size.
        digits = img.count((60, 48, 193, 97), LIGHT_GREY, tolerance=60)
        check(digits > 200, f"only {digits} light-grey pixels in the scaled count")
        caption = img.count((24, 12, 229, 45), LIGHT_GREY, tolerance=60)
        check(caption > 150, f"only {caption} light-grey pixels in the scaled caption")
    finally:
        set_screen_dpi(96)
    w.proc.kill()
    w.proc.wait(10)
    wait_for(lambda: probe() is None, 10, "the 144 DPI widget to end")
    s.start_widget()
    size = tuple(window_geometry()[2:])
    check(size == (WIDTH, HEIGHT), f"back at 96 DPI the window is {size}")
