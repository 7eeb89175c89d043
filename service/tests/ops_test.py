#!/usr/bin/env python3
"""strikecountd in production, on loopback: the Debian package, the GLM sync against a local S3
server, certificate reload on SIGHUP, draining on SIGTERM, and two replicas behind HAProxy.

Usage: service/tests/ops_test.py BUILD_DIR PACKAGE_DIR [CASE...]"""
import asyncio, glob, http.client, math, os, re, shutil, signal, socket, ssl, subprocess as sp
import sys, tempfile, time

BUILD, PACKAGES = sys.argv[1], sys.argv[2]
HERE = os.path.dirname(os.path.abspath(__file__))
DEPLOY = os.path.join(HERE, "..", "deploy")
DATA = os.path.join(HERE, "..", "..", "..", "shared", "data")
MINUTE = ["OR_GLM-L2-LCFA_G16_s2018183043%s.nc" % s for s in
          ("3000_e20181830433200_c20181830433231", "3200_e20181830433400_c20181830433424",
           "3400_e20181830434000_c20181830434029")]  # three files, 04:33:00 to 04:34:00
ENV = {k: v for k, v in os.environ.items() if k != "AWS_CA_BUNDLE"}  # rclone refuses it
TMP = tempfile.mkdtemp(prefix="strikecountd-ops.")
procs = []
open(os.path.join(TMP, "feed.csv"), "w").write("2025-04-07T12:59:00Z,10,10\n")
FEED = ["feed = " + os.path.join(TMP, "feed.csv"), "clock = fixed:2025-04-07T13:00:00Z"]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(*args, log="service.log", **kw):
    p = sp.Popen(args, stdout=sp.DEVNULL, stderr=open(os.path.join(TMP, log), "a"), env=ENV, **kw)
    procs.append(p)
    return p


def get(port, path="/healthz"):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
    c.request("GET", path)
    r = c.getresponse()
    return r.status, r.read().decode()


def wait(cond, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            if cond():
                return time.time()
        except OSError:
            pass
        time.sleep(0.1)
    raise AssertionError("timed out after %d s waiting for %s" % (seconds, what))


def service(port, conf_lines, *flags, log="service.log"):
    conf = os.path.join(TMP, "strikecountd-%d.conf" % port)
    # The file says what the installed one does; flags given as well win.
    open(conf, "w").write("".join(l + "\n" for l in ["https-port = 0", "http-port = 1"] + conf_lines))
    p = start(os.path.join(BUILD, "service", "strikecountd"), "--config", conf,
              "--http-port", str(port), "--threads", "1", *flags, log=log)
    wait(lambda: get(port)[0] in (200, 503), 10, "strikecountd on port %d" % port)
    return p, conf


def query(lat, lon, miles):
    return "/counter/Strike_Counter.php?lat=%.6f&lon=%.6f&distance=%g" % (lat, lon, miles)


def flashes(name):
    out = sp.run(["ncdump", "-v", "flash_lat,flash_lon", os.path.join(DATA, name)],
                 capture_output=True, text=True, check=True).stdout.split("data:")[1]
    get_ = lambda v: [float(x) for x in re.search(v + r" =([^;]*);", out).group(1).split(",")]
    return list(zip(get_("flash_lat"), get_("flash_lon")))


def brute_count(names, lat, lon, miles):
    n = 0
    for f_lat, f_lon in (f for name in names for f in flashes(name)):
        p1, p2 = math.radians(lat), math.radians(f_lat)
        h = (math.sin((p2 - p1) / 2) ** 2 +
             math.cos(p1) * math.cos(p2) * math.sin(math.radians(f_lon - lon) / 2) ** 2)
        n += 2 * 3958.8 * math.asin(math.sqrt(h)) <= miles
    return n


def case_package():
    deb = glob.glob(os.path.join(PACKAGES, "strikecountd_*.deb"))[0]
    errors = [l for l in sp.run(["lintian", deb], capture_output=True, text=True).stdout.splitlines()
              if l.startswith("E:")]
    assert not errors, errors
    root = os.path.join(TMP, "root")
    sp.run(["dpkg-deb", "-x", deb, root], check=True)
    for path in ("usr/sbin/strikecountd", "usr/libexec/strikecountd/strikecountd-glm-reader",
                 "usr/share/man/man8/strikecountd.8.gz", "etc/strikecountd/strikecountd.conf"):
        assert os.path.exists(os.path.join(root, path)), path
    # The units as installed, with their programs looked up in the unpacked package.
    units = []
    for unit in glob.glob(os.path.join(root, "lib/systemd/system/*")):
        units.append(os.path.join(TMP, os.path.basename(unit)))
        text = open(unit).read().replace(" /usr/", " %s/usr/" % root).replace("=/usr/", "=%s/usr/" % root)
        open(units[-1], "w").write(text)
    r = sp.run(["systemd-analyze", "verify", *units], capture_output=True, text=True,
               env=dict(ENV, MANPATH=root + "/usr/share/man"))
    assert r.returncode == 0 and not r.stderr.strip(), r.stderr


def case_sync():
    s3rver = os.path.expanduser("~/.cache/stormtally/s3rver/node_modules/.bin/s3rver")
    if not os.path.exists(s3rver) and sp.run(
            ["npm", "install", "--prefix", os.path.dirname(os.path.dirname(os.path.dirname(s3rver))),
             "--no-audit", "--no-fund", "s3rver@3"], capture_output=True).returncode != 0:
        return print("SKIP sync: npm cannot install s3rver")
    s3port, port = free_port(), free_port()
    start(s3rver, "-d", os.path.join(TMP, "s3"), "-a", "127.0.0.1", "-p", str(s3port), "--silent",
          "--configure-bucket", "noaa-goes16", log="s3rver.log")
    wait(lambda: socket.create_connection(("127.0.0.1", s3port)).close() or True, 20, "s3rver")
    # The installed rclone configuration with only the endpoint changed, plus keys for seeding.
    rclone_conf = os.path.join(TMP, "rclone.conf")
    text = re.sub(r"(?m)^endpoint = .*$", "endpoint = http://127.0.0.1:%d" % s3port,
                  open(os.path.join(DEPLOY, "rclone.conf")).read())
    open(rclone_conf, "w").write(text + "[seed]\n" + text.split("[noaa]\n")[1] +
                                 "access_key_id = S3RVER\nsecret_access_key = S3RVER\n")

    def publish(name):  # as NOAA does: a new object, under the start time's hour
        fresh = shutil.copy(os.path.join(DATA, name), os.path.join(TMP, name))
        sp.run(["rclone", "--config", rclone_conf, "copyto", fresh,
                "seed:noaa-goes16/GLM-L2-LCFA/2018/183/04/" + name], env=ENV, check=True)

    glm = os.path.join(TMP, "glm")
    proc, conf = service(port, ["platform = G16", "glm-dir = " + glm, "stale-after = 0.5",
                                "clock = from:2018-07-02T04:33:40Z"], "--poll-seconds", "1")
    sync = lambda: sp.run([os.path.join(DEPLOY, "glm-sync"), conf, rclone_conf, glm], check=True,
                          env=dict(ENV, SYNC_TIME="2018-07-02T04:34:30Z"))
    for name in MINUTE[:2]:
        publish(name)
    sync()
    lat, lon = flashes(MINUTE[2])[0]
    path = query(lat, lon, 600)
    before, after = brute_count(MINUTE[:2], lat, lon, 600), brute_count(MINUTE, lat, lon, 600)
    wait(lambda: get(port, path) == (200, str(before)), 10, "the first two files to count")
    published = time.time()
    publish(MINUTE[2])
    for _ in range(2):  # the timer's period
        time.sleep(max(0, published + 19 - time.time()))
        sync()
        if os.path.exists(os.path.join(glm, MINUTE[2])):
            break
    counted = wait(lambda: get(port, path) == (200, str(after)), 10, "the later file to count")
    print("sync: %d then %d flashes; a file published counted %.1f s later" %
          (before, after, counted - published))
    assert counted - published <= 30
    # The sync stops: the newest data (04:34:00) ages past 30 s and the service says so.
    wait(lambda: get(port, path)[0] == 503, 40, "503 once the data is stale")
    assert "stale" in get(port, path)[1]
    proc.terminate()


def case_reload():
    pems = {}
    for n in ("one", "two"):
        pems[n] = [os.path.join(TMP, n + ext) for ext in (".pem", ".key")]
        sp.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                "-nodes", "-subj", "/CN=" + n, "-days", "2", "-out", pems[n][0], "-keyout",
                pems[n][1]], check=True, capture_output=True)
    cert, key = os.path.join(TMP, "cert.pem"), os.path.join(TMP, "key.pem")

    def install(cert_of, key_of):
        shutil.copy(pems[cert_of][0], cert)
        shutil.copy(pems[key_of][1], key)

    def connect():
        c = http.client.HTTPSConnection("127.0.0.1", tls_port, timeout=5,
                                        context=ssl._create_unverified_context())
        c.request("GET", query(0, 0, 5))
        assert c.getresponse().read() == b"0"
        return c, c.sock.getpeercert(True)

    der = {n: ssl.PEM_cert_to_DER_cert(open(pems[n][0]).read()) for n in pems}
    install("one", "one")
    tls_port = free_port()
    proc, _ = service(free_port(), FEED,
                      "--https-port", str(tls_port), "--cert", cert, "--key", key, log="reload.log")
    old, seen = connect()
    assert seen == der["one"]
    for cert_of, key_of, expected in (("two", "two", "two"), ("one", "two", "two")):
        install(cert_of, key_of)
        proc.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        assert connect()[1] == der[expected], (cert_of, key_of)
        old.request("GET", query(0, 0, 5))  # the open connection goes on with its certificate
        assert old.getresponse().read() == b"0" and old.sock.getpeercert(True) == der["one"]
    log = open(os.path.join(TMP, "reload.log")).read()
    assert "certificate reload refused" in log and "mismatch" in log, log
    proc.terminate()


def case_drain():
    port = free_port()
    proc, _ = service(port, FEED)
    begun = socket.create_connection(("127.0.0.1", port))
    begun.sendall(b"GET " + query(0, 0, 5).encode() + b" HTTP/1.1\r\nHost: x\r\n")
    time.sleep(0.2)
    term = time.time()
    proc.send_signal(signal.SIGTERM)
    time.sleep(0.4)
    try:
        socket.create_connection(("127.0.0.1", port)).close()
        raise AssertionError("a new connection was accepted while draining")
    except ConnectionRefusedError:
        pass
    begun.sendall(b"\r\n")
    answer = begun.recv(4096).decode()
    assert answer.startswith("HTTP/1.1 200") and "Connection: close" in answer, answer
    assert proc.wait(timeout=5 - (time.time() - term)) == 0


async def load(port, path, expected, rate, seconds, events):
    """Sends `rate` queries/s over 20 keep-alive connections; returns (sent, good, log)."""
    sent, good, log, start = [0], [0], [], time.time()

    async def client(k):
        reader = writer = None
        for i in range(int(seconds * rate / 20)):
            await asyncio.sleep(max(0, start + (i * 20 + k) / rate - time.time()))
            sent[0] += 1
            try:
                if writer is None:
                    reader, writer = await asyncio.open_connection("127.0.0.1", port)
                writer.write(b"GET %s HTTP/1.1\r\nHost: strikes\r\n\r\n" % path.encode())
                head = (await reader.readuntil(b"\r\n\r\n")).decode()
                body = (await reader.readexactly(int(re.search(r"Content-Length: (\d+)", head, re.I)[1]))).decode()
                server = re.search(r"X-Served-By: (\w+)", head, re.I)
                log.append((time.time() - start, head[9:12], body, server and server[1]))
                good[0] += head.startswith("HTTP/1.1 200") and body == expected
            except (OSError, asyncio.IncompleteReadError, TypeError) as e:
                log.append((time.time() - start, "lost", repr(e), None))
                writer = None

    async def act():
        for at, action in events:
            await asyncio.sleep(max(0, start + at - time.time()))
            action()
    await asyncio.gather(act(), *(client(k) for k in range(20)))
    return sent[0], good[0], log


def case_haproxy():
    lat, lon = flashes(MINUTE[2])[0]
    path, expected = query(lat, lon, 600), str(brute_count(MINUTE, lat, lon, 600))
    ports = [free_port(), free_port(), free_port()]
    glm = os.path.join(TMP, "replica-glm")
    os.makedirs(glm)
    for name in MINUTE:
        os.symlink(os.path.join(DATA, name), os.path.join(glm, name))
    conf = ["platform = G16", "glm-dir = " + glm, "clock = from:2018-07-02T04:34:00Z"]
    a = [service(ports[0], conf + ["stale-after = 0"], log="a.log")[0]]
    b_started = time.time()
    b, _ = service(ports[1], conf + ["stale-after = 0.25"], log="b.log")  # stale 15 s from now
    cfg = open(os.path.join(DEPLOY, "haproxy.cfg")).read().replace(
        "bind :443 ssl crt /etc/haproxy/strikes.pem alpn http/1.1", "bind 127.0.0.1:%d" % ports[2])
    cfg = cfg.replace("10.0.0.11:8080", "127.0.0.1:%d" % ports[0]).replace(
        "10.0.0.12:8080", "127.0.0.1:%d" % ports[1])
    open(os.path.join(TMP, "haproxy.cfg"), "w").write(cfg)
    start("haproxy", "-db", "-f", os.path.join(TMP, "haproxy.cfg"), log="haproxy.log")
    wait(lambda: get(ports[2], path)[0] == 200, 10, "HAProxy")
    # The rate for capacity planning: queries b answered per second of its CPU.
    cpu = lambda: sum(map(int, open("/proc/%d/stat" % b.pid).read().split()[13:15])) / os.sysconf("SC_CLK_TCK")
    cpu_before, b_stale = cpu(), b_started + 15 - time.time()
    events = [(4, lambda: a[0].kill()),  # replica a dies mid-run, comes back 2 s later
              (6, lambda: a.__setitem__(0, service(ports[0], conf + ["stale-after = 0"], log="a.log")[0]))]
    sent, good, log = asyncio.run(load(ports[2], path, expected, 2000, 20, events))
    by_b = [t for t, status, body, server in log if server == "b"]
    # HAProxy sent b's stale answers (503) on to a; how many there were tells how long it took.
    stale_answers = int(re.search(r'requests_total\{status="503"\} (\d+)', get(ports[1], "/metrics")[1])[1])
    print("haproxy: %d queries sent, %d answered 200 with the right count, %d lost; b answered %d "
          "queries per second of its CPU, then %d times 503 once stale before it left the rotation" %
          (sent, good, sent - good, len(by_b) / (cpu() - cpu_before), stale_answers))
    assert sent == good == len(log), [e for e in log if e[1] != "200" or e[2] != expected][:5]
    # Within one check interval (2 s) even if b had had every query; a is back after its restart.
    assert max(by_b) < b_stale + 0.5 and stale_answers <= 2000 * 2.5
    assert any(server == "a" for t, _, _, server in log if 7 < t < b_stale)


if __name__ == "__main__":
    cases = sys.argv[3:] or ["package", "reload", "drain", "sync", "haproxy"]
    try:
        for case in cases:
            if case in ("sync", "haproxy") and not os.path.isdir(DATA):
                print("SKIP %s: no GLM samples in %s" % (case, os.path.normpath(DATA)))
                continue
            began = time.time()
            globals()["case_" + case]()
            print("ok %s (%.0f s)" % (case, time.time() - began))
    except BaseException:
        for log in glob.glob(os.path.join(TMP, "*.log")):
            print("--- %s:\n%s" % (log, "".join(open(log).readlines()[-15:])))
        raise
    finally:
        for p in procs:
            p.kill()
            p.wait()
        shutil.rmtree(TMP, ignore_errors=True)
