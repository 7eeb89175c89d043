"""Run by bench/peak_working_set.sh inside the end-to-end desktop (tests/e2e/run.sh --exec)."""
import sys
import time

from e2elib import SERVER, Session, probe

session = Session("peak_working_set")
try:
    SERVER.answer("42")
    widget = session.start_widget()
    widget.press_command1()
    widget.wait_count("42", 20)
    session.start(sys.argv[1])
    time.sleep(1)
    bare = probe("StBareWindow", "bare", 20000)["peak_working_set"] // 1024
    mine = widget.snapshot()["peak_working_set"] // 1024
    print(f"peak working set after one request: widget {mine} KiB, bare window {bare} KiB, "
          f"difference {mine - bare} KiB")
finally:
    session.close()
