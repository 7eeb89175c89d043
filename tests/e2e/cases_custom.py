"""Custom location: a right double-click on the caption, a message closed with Enter and three
prompts answered from the keyboard, with one CPU core kept busy; a second right double-click
returns to the radar site; a click beside the count shows the site box again."""

import time

from e2elib import (DEFAULT_QUERY, OFF_EXPOSED, SERVER, case, check, find_child, key, mouse_to,
                    probe, query, type_text, wait_for, xdo)

MESSAGE_TITLE = " Stormtally"
PROMPT_TITLE = " Custom Location"


def dialog_texts(title):
    snap = probe("#32770", title)
    return snap and [c["text"] for c in snap["children"] if c["class"].lower() == "static"]


def answer_message(expected_part):
    """Waits for the message and closes it with Enter, which reaches it only while it holds the
    keyboard: also after the always-on-top step that the viewer scan takes behind it."""
    texts = wait_for(lambda: dialog_texts(MESSAGE_TITLE), 10, f"the message {expected_part!r}")
    check(any(expected_part in t for t in texts),
          f"the message says {texts!r}, expected it to contain {expected_part!r}")
    time.sleep(1.2)  # a tick of Timer2
    box = probe("#32770", MESSAGE_TITLE)
    check(box and box["foreground"] == box["hwnd"],
          f"window {box and box['foreground']} holds the keyboard, not the message box")
    key("Return", to=None)
    wait_for(lambda: probe("#32770", MESSAGE_TITLE) is None, 3, "the message to close on Enter")


def answer_prompt(prompt, typed):
    """Waits for the prompt, then types the answer and presses Enter, or presses Escape when
    typed is None."""

    def shown():
        snap = probe("#32770", PROMPT_TITLE)
        return snap if snap and find_child(snap, "Static", text=prompt) else None

    edit = find_child(wait_for(shown, 10, f"the prompt {prompt!r}"), "Edit")
    check(edit is not None and edit["text"] == "0",
          f"the prompt {prompt!r} offers {edit and edit['text']!r}, not '0'")
    to = f"^{PROMPT_TITLE}$"
    if typed is None:
        key("Escape", to=to)
    else:
        key("End", "BackSpace", "BackSpace", to=to)
        type_text(typed, to=to)
        key("Return", to=to)
    wait_for(lambda: not shown(), 5, f"the prompt {prompt!r} to close")


def toggle_custom_place(w, answers):
    """Right double-clicks the caption and answers what follows: the message and, when the
    custom place goes on, the three prompts with `answers`."""
    mouse_to(*w.at(60, 14))  # on "Lightning Count", clear of the count
    xdo("click", "--repeat", 2, "--delay", 150, 3)
    answer_message("Custom Location is now ON." if answers
                   else "Stormtally will return to default @ KLSX.")
    for prompt, typed in zip(["Latitude", "Longitude", "Distance in Miles"], answers or []):
        answer_prompt(prompt, typed)


# Wine takes the user's locale from LC_ALL; de-DE writes numbers with a decimal comma.
COMMA_LOCALE = {"LC_ALL": "de_DE.UTF-8"}
# Each right double-click on the caption in turn: the answers to the three prompts (None for
# Escape), or None where it switches back to the site; and the request that must follow.
STEPS = [((None, None, None), query("0", "0", "10")), (None, DEFAULT_QUERY),
         (("38.5", "-90.25", "1000"), query("38.5", "-90.25", "248")),  # at most 248 miles
         (None, DEFAULT_QUERY)]


@case("custom")
def custom_location_from_the_prompts_and_back_to_the_site(s):
    """Under a user locale with a decimal comma: the typed numbers are read and sent with a
    point whatever the locale says. Every message takes Enter, with one CPU core kept busy."""
    s.busy_core()
    w = s.start_widget(env=COMMA_LOCALE)
    decimal = (probe(env=COMMA_LOCALE) or {}).get("decimal")
    check(decimal == ",", f"Wine's decimal separator under {COMMA_LOCALE} is {decimal!r}")
    mark = SERVER.mark()
    for n, (answers, expected) in enumerate(STEPS, 1):
        SERVER.answer(str(n))
        toggle_custom_place(w, answers)
        got = SERVER.wait_requests(mark, n)[-1]["path"]
        check(got == expected, f"step {n}: the server got {got!r}, expected {expected!r}")
        w.wait_count(str(n), 5)
        check(not w.site_box()["visible"], f"step {n}: the site box shows")
        if n == len(STEPS):
            # A click beside the count lands on the empty label that shows the site box again.
            w.click((OFF_EXPOSED[0] + OFF_EXPOSED[2]) // 2, (OFF_EXPOSED[1] + OFF_EXPOSED[3]) // 2)
            wait_for(lambda: w.site_box()["visible"], 3, "the site box after a click beside it")
            time.sleep(1)
            check(len(SERVER.requests(mark)) == n, "the click beside the count sent a request")
