"""The window, start-up, the single instance, dragging, the close mark, the request sent with
Command1 from the keyboard, and manners on a shared desktop: the keyboard stays with another
program, and a program that fills the screen keeps the widget behind it."""

import os
import subprocess
import time

from e2elib import (ARTIFACTS, CAPTION, CLOSE_MARK, COUNT, DEFAULT_QUERY, EXE, FRAME, GREY,
                    HEIGHT, LIGHT_GREY, NAVY, SERVER, SITE_BOX, WHITE, WIDTH, Image, case, check,
                    find_child, focus_window, glide, key, mouse_to, near, park_pointer, probe,
                    run_wine, shoot, type_text, wait_for, whitish, xdo)


def frame_gaps(img, width=WIDTH, height=HEIGHT, frame=FRAME):
    """Sides without a white frame: `frame` white lines among the outermost frame + 1 (the
    outline may stop one pixel short of the right and bottom edges)."""
    xs, ys = range(frame + 1, width - frame - 1), range(frame + 1, height - frame - 1)
    lines = {"top": [[(x, i) for x in xs] for i in range(frame + 1)],
             "bottom": [[(x, height - 1 - i) for x in xs] for i in range(frame + 1)],
             "left": [[(i, y) for y in ys] for i in range(frame + 1)],
             "right": [[(width - 1 - i, y) for y in ys] for i in range(frame + 1)]}
    white = {side: [all(img.px(*p) == WHITE for p in line) for line in ls]
             for side, ls in lines.items()}
    return [side for side, w in white.items() if not (all(w[:frame]) or all(w[1:]))]


def area(rect):
    return (rect[2] - rect[0]) * (rect[3] - rect[1])


@case("window")
def start_shows_the_window_as_laid_out(s):
    mark = SERVER.mark()
    w = s.start_widget()
    snap = w.snapshot()
    left, top, right, bottom = snap["rect"]
    check((right - left, bottom - top, snap["client"]) == (WIDTH, HEIGHT, [0, 0, WIDTH, HEIGHT]),
          f"the window is {snap['rect']} with client area {snap['client']}: not {WIDTH} by "
          f"{HEIGHT} without a frame")
    check(snap["text"] == "x" and snap["visible"] and snap["topmost"],
          f"not a visible topmost window titled x: {snap}")
    count, site = find_child(snap, "Static", COUNT), find_child(snap, "Edit", SITE_BOX)
    check(count is not None and count["text"] == "0000", f"count label: {count}")
    check(site is not None and site["text"] == "KLSX" and site["visible"], f"site box: {site}")
    focus = wait_for(w.focus, 5, "a focused window")
    check(focus["class"].lower() == "edit" and focus["text"] == "Text1",
          f"the focus is on {focus}, not on the text box `focus` (\"Text1\")")

    time.sleep(0.5)  # let the first paint settle
    shoot(os.path.join(ARTIFACTS, "stormtally.png"), *w.origin(), WIDTH, HEIGHT)
    img = w.screen()
    problems = [f"no white frame along the {side} edge" for side in frame_gaps(img)]
    inner = (FRAME, FRAME, WIDTH - 1 - FRAME, HEIGHT - 1 - FRAME)
    colours = [("navy inside the frame", inner, NAVY, area(inner) * 0.6),
               ("count digits", COUNT, LIGHT_GREY, 40),
               ("caption text", (CAPTION[0], CAPTION[1], CAPTION[2], COUNT[1]), LIGHT_GREY, 30),
               ("site text", SITE_BOX, GREY, 20),
               ("the close mark hidden", CLOSE_MARK, NAVY, area(CLOSE_MARK))]
    for what, rect, colour, least in colours:
        if img.count(rect, colour) < least:
            problems.append(f"{what}: {img.count(rect, colour)} pixels of {colour} in {rect}")
    for corner in [(FRAME, FRAME), (FRAME, HEIGHT - 2 - FRAME), (8, 68)]:
        if img.px(*corner) != NAVY:
            problems.append(f"background pixel {corner} is {img.px(*corner)}, not navy")
    check(not problems, "; ".join(problems))
    time.sleep(1.5)
    check(SERVER.requests(mark) == [], "a request was sent at start-up without any user action")


@case("window")
def second_copy_ends_and_first_keeps_running(s):
    w = s.start_widget()
    first = w.snapshot()
    code = s.start(EXE).wait(timeout=15)  # TimeoutExpired: the second copy still runs
    check(code == 0, f"the second copy ended with exit code {code}")
    now = probe()
    check(w.alive() and now and (now["hwnd"], now["pid"]) == (first["hwnd"], first["pid"]),
          "the first copy's window is gone or was replaced")
    windows = subprocess.run(["xdotool", "search", "--name", "^x$"], capture_output=True,
                             text=True).stdout.split()
    check(len(windows) == 1, f"{len(windows)} windows titled x on the screen")


@case("request")
def command1_from_keyboard_sends_one_request_and_shows_the_count(s):
    # Space and Enter both press the focused button; each press is one request.
    for body, shown, press in [("17.9", "17", "space"), ("-2.5", "-3", "Return")]:
        SERVER.answer(body)
        w = s.start_widget()
        mark = SERVER.mark()
        w.tab_to_command1()
        key(press)
        got = SERVER.wait_requests(mark, 1)[0]["path"]
        check(got == DEFAULT_QUERY, f"{press}: the server got {got!r}")
        w.wait_count(shown, 5)
        time.sleep(1.5)
        check(len(SERVER.requests(mark)) == 1, f"{press}: more than one request for one press")
        check((w.focus() or {}).get("text") == "Text1", f"{press}: the focus is on {w.focus()}")
        s.close()


@case("window")
def caption_drag_moves_the_window(s):
    w = s.start_widget()
    (gx, gy), moved = w.drag_caption(210, 130)
    r = w.snapshot()["rect"]
    check((r[2] - r[0], r[3] - r[1]) == (WIDTH, HEIGHT), "the drag resized the window")
    # The button is up: moving the pointer further leaves the window where it is.
    glide(gx, gy, gx + 50, gy + 40, steps=4)
    time.sleep(0.3)
    check(w.origin() == moved, "the window still follows the pointer after the button went up")


@case("window")
def close_mark_shows_on_hover_and_its_click_ends_the_program(s):
    w = s.start_widget()
    cx, cy = w.at(CLOSE_MARK[0] + 4, CLOSE_MARK[1] + 4)
    for step in ["hidden", "shown", "hidden", "shown"]:
        if step == "shown":
            glide(cx - 30, cy + 30, cx, cy, steps=6)
        else:
            park_pointer()
        def as_expected():
            # A hand on the mark is never quite still: Timer3 hides it 2.5 s after the last move.
            if step == "shown":
                mouse_to(cx + int(time.monotonic() * 10) % 2, cy)
            return (w.screen().count(CLOSE_MARK, whitish) >= 3) == (step == "shown")
        wait_for(as_expected, 4,
                 f"the close mark {step} with the pointer {'on' if step == 'shown' else 'off'} it")
    xdo("click", 1)
    wait_for(lambda: not w.alive(), 3, "the program to end after a click on the close mark")
    check(probe() is None, "the window is still there")


def window_geometry():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^x$",
                          "getwindowgeometry", "--shell"], capture_output=True, text=True,
                         timeout=30).stdout
    geo = dict(line.split("=", 1) for line in out.split())
    return int(geo["X"]), int(geo["Y"]), int(geo["WIDTH"]), int(geo["HEIGHT"])


def check_size_and_figures(dpi, how):
    """At 144 dots per inch the widget measures 255 by 111, its frame, caption and count scale
    with it and its text stays on one line; at 96 it measures 170 by 74."""
    size = {96: (WIDTH, HEIGHT), 144: (255, 111)}[dpi]
    wait_for(lambda: tuple(window_geometry()[2:]) == size, 3,
             f"the window to measure {size} at {dpi} DPI {how}")
    if dpi == 96:
        return
    time.sleep(0.5)
    img = Image(*window_geometry())
    frame = frame_gaps(img, *size, frame=4)
    check(not frame, f"{how}: no 4 px white frame along {frame}")
    # The count's label spans 60..193 across and 48..97 down at this size.
    for what, rect, least in [("count", (60, 48, 193, 97), 200),
                              ("caption", (24, 12, 229, 45), 150)]:
        n = img.count(rect, near(LIGHT_GREY, 60))
        check(n > least, f"{how}: only {n} light-grey pixels in the scaled {what}")


def set_screen_dpi(dpi):
    run_wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
             "/d", str(dpi), "/f")


@case("window")
def at_150_percent_every_figure_scales(s):
    """At start-up at 144 DPI, then at 96, and at a live change of the monitor's DPI to 144
    and back, as when the window moves to another monitor."""
    set_screen_dpi(144)
    try:
        s.start_widget()
        check_size_and_figures(144, "from start-up")
    finally:
        set_screen_dpi(96)
    s.close()
    s.start_widget()
    check_size_and_figures(96, "from start-up")
    for dpi in [144, 96]:
        probe("StormtallyWidget", "x", 0, "--dpi", str(dpi))
        check_size_and_figures(dpi, "after WM_DPICHANGED")


NOTEPAD = "Untitled - Notepad"
SENTENCE = "Storms cross the river at dusk, 17 strikes a minute; then it rains."


@case("window")
def notepad_keeps_the_keyboard_while_the_widget_runs_beside_it(s):
    """A sentence typed into Wine's notepad over more than 10 s, with one CPU core kept busy,
    arrives intact while the viewer scan raises the widget every second."""
    s.busy_core()
    s.start_widget()
    s.start("notepad")
    wait_for(lambda: probe("Notepad", NOTEPAD), 20, "notepad")
    xdo("search", "--name", f"^{NOTEPAD}$", "windowmove", 300, 200)
    focus_window(f"^{NOTEPAD}$")  # a click into it
    start = time.monotonic()
    type_text(SENTENCE, to=None, delay=320)  # xdotool waits half the delay after each key
    check(time.monotonic() - start >= 10, "the typing took less than 10 s")
    typed = find_child(probe("Notepad", NOTEPAD), "Edit")["text"]
    check(typed == SENTENCE, f"notepad holds {typed!r}")


@case("window")
def a_fullscreen_program_keeps_the_widget_behind_it_until_it_closes(s):
    """Judged by the Z order Windows programs see: under openbox the window manager stacks a
    focused full-screen window above every other one, whatever the widget does."""
    w = s.start_widget()
    s.start_viewer("Another Program")
    player = s.start_viewer("fullscreen:Full Screen Player")
    time.sleep(2.5)  # two ticks of Timer2
    shoot(os.path.join(ARTIFACTS, "fullscreen-in-front.png"))
    snap = w.snapshot()
    check(snap["above"][:1] == ["Full Screen Player"],
          f"the windows above the widget are {snap['above']}, not the full-screen one")
    mouse_to(*w.at(100, 68))  # resting where the widget is, below the count and the caption
    player.kill()
    wait_for(lambda: w.snapshot()["above"] == [] and w.snapshot()["topmost"], 3,
             "the widget back above every window after the full-screen one closed")
    park_pointer()
    time.sleep(0.3)
    shoot(os.path.join(ARTIFACTS, "fullscreen-gone.png"))
    check(w.screen().count((FRAME, FRAME, WIDTH - FRAME, HEIGHT - FRAME), NAVY) > 4000,
          "the widget does not show after the full-screen window closed")
