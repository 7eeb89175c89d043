#!/usr/bin/env python3
"""The strike-count service as the end-to-end tests need it: an HTTPS server on loopback whose
answer each test sets, and which logs every request it receives.

The answer is read afresh for every connection from a JSON control file, so a test changes it
by rewriting that file (write a temporary file, then rename it over the control file):

  {"mode": "answer", "status": 200, "body": "17.9"}   answer with this status and body
                                                       ("delay": seconds to wait first)
  {"mode": "hang", "seconds": 25}                      read the request, then say nothing
                                                       for that long and close
  {"mode": "raw", "bytes": "..."}                      send these bytes instead of an HTTP
                                                       answer and close
  {"mode": "close"}                                    close right after the request
  {"mode": "stall", "seconds": 30}                     accept, wait that long before the TLS
                                                       handshake, then answer as "answer" does
  any of them with "cert": "untrusted"                 present a certificate from a
                                                       authority no bundle holds

Every event is one JSON line in the log file; "conn" (the client's port) ties a request or a
failed handshake to its connection:
  {"t": ..., "event": "connection", "conn": 40112, "mode": "answer"}   a connection accepted
  {"t": 1700000000.123, "event": "request", "line": "GET /... HTTP/1.1", "path": "/...",
   "mode": "answer", "conn": 40112, "tls": "TLSv1.3"}
  {"t": ..., "event": "tls_error", "error": "...", "conn": 40112}  a handshake that failed
  {"t": ..., "event": "ready", "port": 48443}           once, when the server listens
"""

import argparse
import http.server
import json
import os
import socket
import socketserver
import ssl
import threading
import time

DEFAULT_BEHAVIOUR = {"mode": "answer", "status": 200, "body": "0"}
LOG_LOCK = threading.Lock()


def log(**fields):
    with LOG_LOCK, open(ARGS.log, "a", encoding="utf-8") as f:
        f.write(json.dumps({"t": round(time.time(), 3), **fields}) + "\n")


def read_behaviour(path):
    try:
        with open(path, encoding="utf-8") as f:
            return {**DEFAULT_BEHAVIOUR, **json.load(f)}
    except (OSError, ValueError):
        return dict(DEFAULT_BEHAVIOUR)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "StrikeCountTest/1.0"

    def log_message(self, fmt, *args):  # the JSON log is the only log
        pass

    def do_GET(self):
        behaviour = self.connection.behaviour
        mode = behaviour["mode"]
        log(event="request", line=self.requestline, path=self.path, mode=mode,
            conn=self.client_address[1], tls=self.connection.version())
        self.close_connection = True
        if mode == "hang":
            self.server.stopping.wait(float(behaviour.get("seconds", 25)))
        elif mode == "raw":
            self.wfile.write(behaviour.get("bytes", "").encode("latin-1"))
        elif mode != "close":
            self.server.stopping.wait(float(behaviour.get("delay", 0)))
            body = str(behaviour.get("body", "")).encode("latin-1")
            self.send_response(int(behaviour.get("status", 200)))
            self.send_header("Content-Type", "text/html; charset=UTF-8")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, family, contexts):
        self.address_family = family
        self.contexts = contexts
        self.stopping = threading.Event()
        super().__init__(address, Handler, bind_and_activate=False)
        if family == socket.AF_INET6:
            # One socket for ::1 and 127.0.0.1, whichever "localhost" resolves to first.
            self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        self.server_bind()
        self.server_activate()

    def get_request(self):
        raw, peer = self.socket.accept()
        behaviour = read_behaviour(ARGS.control)
        context = self.contexts["untrusted" if behaviour.get("cert") == "untrusted" else "test"]
        tls = context.wrap_socket(raw, server_side=True, do_handshake_on_connect=False)
        tls.behaviour = behaviour
        log(event="connection", conn=peer[1], mode=behaviour["mode"])
        return tls, peer

    def process_request_thread(self, request, client_address):
        behaviour = request.behaviour
        stall = float(behaviour.get("seconds", 30)) if behaviour["mode"] == "stall" else 0
        if self.stopping.wait(stall):
            return
        try:
            request.settimeout(30)
            request.do_handshake()
        except (ssl.SSLError, OSError) as e:
            log(event="tls_error", error=str(e), conn=client_address[1])
            self.shutdown_request(request)
            return
        super().process_request_thread(request, client_address)


def context(cert, key):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2  # as the real service: no TLS 1.0 or 1.1
    ctx.load_cert_chain(cert, key)
    return ctx


def main():
    global ARGS
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--port", type=int, default=48443)
    for option in ["--cert", "--key", "--untrusted-cert", "--untrusted-key", "--control", "--log"]:
        p.add_argument(option, required=True)
    ARGS = p.parse_args()
    contexts = {"test": context(ARGS.cert, ARGS.key),
                "untrusted": context(ARGS.untrusted_cert, ARGS.untrusted_key)}
    try:
        server = Server(("::", ARGS.port), socket.AF_INET6, contexts)
    except OSError:
        server = Server(("127.0.0.1", ARGS.port), socket.AF_INET, contexts)
    log(event="ready", port=ARGS.port, pid=os.getpid())
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        server.stopping.set()


if __name__ == "__main__":
    main()
