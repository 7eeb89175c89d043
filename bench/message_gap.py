"""Runs inside the end-to-end harness (see message_gap.sh): the widget asks a service that holds
its answer back for 10 s, while message_gap.exe probes the widget's window."""
import sys

from e2elib import SERVER, Session, run_wine, wait_for

session = Session("message_gap")
try:
    widget = session.start_widget()
    SERVER.set(mode="hang", seconds=10)
    mark = SERVER.mark()
    widget.press_command1()
    wait_for(lambda: SERVER.requests(mark), 10, "the request at the server")
    code, out = run_wine(sys.argv[1], "11", timeout=60)
    print(f"message gap during a 10 s slow answer: {out.strip()}")
finally:
    session.close()
