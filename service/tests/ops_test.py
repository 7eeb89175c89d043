#!/usr/bin/env python3
"""strikecountd in production, on loopback: the Debian package (lint, configuration checks, its life
in a booted throw-away Debian), the GLM sync from a local S3 server, certificate reload, draining,
two replicas behind HAProxy. Usage: ops_test.py PACKAGES [CASE..]"""
import asyncio, errno, glob, hashlib, http.client, math, os, re, shutil, signal, socket, ssl
import subprocess as sp, sys, tempfile, time

PACKAGES = sys.argv[1]
DEPLOY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "deploy")
DATA = os.path.normpath(os.path.join(DEPLOY, "..", "..", "..", "shared", "data"))
MINUTE = ["OR_GLM-L2-LCFA_G16_s2018183043%s.nc" % s for s in
          ("3000_e20181830433200_c20181830433231", "3200_e20181830433400_c20181830433424",
           "3400_e20181830434000_c20181830434029")]  # three files, 04:33:00 to 04:34:00
ENV = {k: v for k, v in os.environ.items() if k != "AWS_CA_BUNDLE"}  # rclone refuses it
TMP = tempfile.mkdtemp(prefix="strikecountd-ops.")
procs = []
open(os.path.join(TMP, "feed.csv"), "w").write("2025-04-07T12:59:00Z,10,10\n")
DEB = glob.glob(os.path.join(PACKAGES, "strikecountd_*.deb"))[0]
sp.run(["dpkg-deb", "-x", DEB, TMP + "/root"], check=True)  # the programs as installed
BIN, SYNC = TMP + "/root/usr/sbin/strikecountd", TMP + "/root/usr/libexec/strikecountd/glm-sync"
FEED = ["feed = " + os.path.join(TMP, "feed.csv"), "clock = fixed:2025-04-07T13:00:00Z"]


def free_port():
    with socket.socket() as s:
        return s.bind(("127.0.0.1", 0)) or s.getsockname()[1]


def start(*args, log="service.log", **kw):
    p = sp.Popen(args, stdout=sp.DEVNULL, stderr=open(os.path.join(TMP, log), "a"), env=ENV, **kw)
    procs.append(p)
    return p


def get(port, path="/healthz"):
    (c := http.client.HTTPConnection("127.0.0.1", port, timeout=5)).request("GET", path)
    return (r := c.getresponse()).status, r.read().decode()


def wait(cond, seconds, what):
    for _ in range(seconds * 10):
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
    p = start(BIN, "--config", conf,
              "--http-port", str(port), "--threads", "1", *flags, log=log)
    wait(lambda: get(port)[0] in (200, 503), 10, "strikecountd on port %d" % port)
    return p, conf


def flashes(names):  # (lat, lon) in radians of every flash, from ncdump
    out = "".join(sp.run(["ncdump", "-v", "flash_lat,flash_lon", os.path.join(DATA, name)],
                         capture_output=True, text=True, check=True).stdout for name in names)
    values = lambda v: [math.radians(float(x)) for m in re.findall(v + r" =([^;]*);", out)
                        for x in m.split(",")]
    return list(zip(values("flash_lat"), values("flash_lon")))


def brute_count(names, at, miles=600):  # by haversine on the service's 3958.8 mi sphere
    return str(sum(2 * 3958.8 * math.asin(math.sqrt(
        math.sin((lat - at[0]) / 2) ** 2 + math.cos(lat) * math.cos(at[0]) *
        math.sin((lon - at[1]) / 2) ** 2)) <= miles for lat, lon in flashes(names)))


def query(at, miles=600):
    return "/counter/Strike_Counter.php?lat=%.7f&lon=%.7f&distance=%g" % (
        math.degrees(at[0]), math.degrees(at[1]), miles)


def case_package():
    lint = sp.run(["lintian", "--pedantic", *glob.glob(PACKAGES + "/*.dsc"), *glob.glob(PACKAGES + "/*.changes")],
                  capture_output=True, text=True)
    assert lint.returncode == 0 and not lint.stdout.strip(), lint.stdout
    root = TMP + "/root"
    for path in ("sbin/strikecountd", "libexec/strikecountd/strikecountd-glm-reader",
                 "share/man/man8/strikecountd.8.gz", "share/doc/strikecountd/examples/haproxy.cfg",
                 "../etc/strikecountd/strikecountd.conf"):
        assert os.path.exists(os.path.join(root, "usr", path)), path
    units = glob.glob(root + "/lib/systemd/system/*")
    for unit in units:  # as installed, but the programs taken from the unpacked package
        text = re.sub(r"([ =])/usr/", r"\1%s/usr/" % root, open(unit).read())
        open(unit, "w").write(text)
    r = sp.run(["systemd-analyze", "verify", *units], capture_output=True, text=True,
               env=dict(ENV, MANPATH=root + "/usr/share/man"))
    assert r.returncode == 0 and not r.stderr.strip(), r.stderr
    # One reading of the configuration: the service and the sync refuse the same file, both with
    # the service's line naming the file and the key.
    conf = TMP + "/typo.conf"
    for line, told in (("platfrom = G16", "unknown key 'platfrom'"), ("platform = g16", "platform: g16 not in"),
                       ("stale-after = soon", "stale-after: Value soon not in range")):
        open(conf, "w").write("glm-dir = /srv/glm\n%s\n" % line)
        for run in ([BIN, "--config", conf], [SYNC, conf, "rclone.conf", TMP]):
            r = sp.run(run, capture_output=True, text=True)
            assert r.returncode == 2 and r.stderr.startswith("strikecountd: %s: %s" % (conf, told)), r


# The package's life in a booted Debian: each line a fact the host checks.
LIFE = r"""#!/bin/sh
exec >/probe/facts 2>/probe/log
state() { echo $(systemctl is-active strikecountd strikecountd-glm-sync.timer); }
dpkg -i /probe/old.deb >&2
echo "installed: $(state)"
conf=/etc/strikecountd/strikecountd.conf  # the operator's settings: simulated storms, no TLS
sed -i -e 's/^glm-dir = .*/demo = 38.7,-90.7/' -e 's/^https-port = .*/https-port = 0\nhttp-port = 8080/' $conf
sed -i 's|^endpoint = .*|endpoint = http://127.0.0.1:9|' /etc/strikecountd/rclone.conf
systemctl enable --now strikecountd strikecountd-glm-sync.timer >&2
old=$(systemctl show -p MainPID --value strikecountd)
echo "enabled: $(state)"
dpkg -i /probe/new.deb >&2
new=$(systemctl show -p MainPID --value strikecountd)
echo "upgraded: $(state) $([ "$new" != "$old" ] && echo restarted on) $(readlink /proc/$new/exe)"
echo "unit files to reload: $(systemctl show -p NeedDaemonReload --value strikecountd)"
dpkg -r strikecountd >&2
echo "removed: $(state), $(ls /proc/*/exe -l 2>/dev/null | grep -c strikecountd) running, kept" $(ls /etc/strikecountd)
dpkg -P strikecountd >&2
echo "purged:" $(ls -d /etc/strikecountd /var/lib/*strikecountd /var/lib/private/strikecountd \
  /etc/systemd/system/*/strikecountd* 2>/dev/null)
"""


def debian_root():
    """A minimal Debian like this one with systemd and the package's dependencies, made once by
    debootstrap and kept in ~/.cache; each run boots it with its changes in memory only."""
    depends = [re.split(r"[ |(]", d.strip())[0] for d in
               sp.run(["dpkg-deb", "-f", DEB, "Depends"], capture_output=True, text=True).stdout.split(",")]
    suite = re.search(r"VERSION_CODENAME=(\w+)", open("/etc/os-release").read())[1]
    include = ",".join(["systemd", "systemd-sysv", "dbus"] + sorted(depends))
    cache = os.path.expanduser("~/.cache/stormtally")
    root = "%s/debian-%s-%s" % (cache, suite, hashlib.sha1(include.encode()).hexdigest()[:10])
    if not os.path.isdir(root):
        os.makedirs(cache, exist_ok=True)
        new = tempfile.mkdtemp(dir=cache, prefix=".debootstrap.")
        r = sp.run(["debootstrap", "--variant=minbase", "--include=" + include, suite, new],
                   capture_output=True, text=True)
        if r.returncode or os.chmod(new, 0o755) or os.rename(new, root):
            shutil.rmtree(new, ignore_errors=True)
            return print("SKIP the package's life in a booted Debian: debootstrap failed:\n" + (r.stdout + r.stderr)[-2000:])
    return root


def case_debian():
    if shutil.which("systemd-nspawn") is None or os.geteuid() != 0 or not (root := debian_root()):
        return print("SKIP debian: needs root, systemd-nspawn and debootstrap")
    os.makedirs(probe := TMP + "/probe")
    # The version before: the same files, so that only the maintainer scripts decide what runs.
    sp.run(["dpkg-deb", "-R", DEB, probe + "/old"], check=True)
    control = re.sub(r"(?m)^Version: .*", "Version: 1.0.0", open(probe + "/old/DEBIAN/control").read())
    open(probe + "/old/DEBIAN/control", "w").write(control)
    sp.run(["dpkg-deb", "-b", probe + "/old", probe + "/old.deb"], check=True, capture_output=True)
    shutil.copy(DEB, probe + "/new.deb")
    open(probe + "/run", "w").write(LIFE)
    os.chmod(probe + "/run", 0o755)
    # Booted with its changes in memory, no network but loopback, powered off when the run ends;
    # runs beside each other do not meet.
    boot = start("systemd-nspawn", "-q", "--register=no", "--keep-unit", "--private-network",
                 "--volatile=overlay", "--kill-signal=SIGKILL", "-M", "strikecountd-ops-%d" % os.getpid(),
                 "-D", root, "--bind=%s:/probe" % probe, "-b", "--", "systemd.run=/probe/run",
                 "systemd.run_success_action=poweroff", "systemd.run_failure_action=poweroff", log="debian.log")
    try:
        boot.wait(120)
    finally:
        boot.terminate()  # the container goes with it (--kill-signal), were it still running
    facts = dict(re.findall(r"(?m)^([^:]+): ?(.*)$", open(probe + "/facts").read()))
    expected = {"installed": "inactive inactive", "enabled": "active active",
                "upgraded": "active active restarted on /usr/libexec/strikecountd/strikecountd",
                "unit files to reload": "no", "removed": "inactive inactive, 0 running, kept rclone.conf strikecountd.conf",
                "purged": ""}
    assert facts == expected, (facts, open(probe + "/log").read()[-3000:])


def case_sync():
    s3rver = (cache := os.path.expanduser("~/.cache/stormtally/s3rver")) + "/node_modules/.bin/s3rver"
    if not os.path.exists(s3rver) and sp.run(["npm", "install", "--prefix", cache, "--no-audit",
                                               "s3rver@3"], capture_output=True).returncode:
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
    env = dict(ENV, SYNC_TIME="2018-07-02T04:34:30Z")
    sync = lambda: sp.run([SYNC, conf, rclone_conf, glm], check=True, env=env) and time.time()
    [publish(name) for name in MINUTE[:2]]
    ticked = sync()
    first = os.stat(os.path.join(glm, MINUTE[0])).st_ino
    at = flashes(MINUTE[2:])[250]  # over Guatemala
    path, before, after = query(at), brute_count(MINUTE[:2], at), brute_count(MINUTE, at)
    wait(lambda: get(port, path) == (200, before), 10, "the first two files to count")
    published = time.time()
    publish(MINUTE[2])
    # A run stopped mid-transfer, as systemd stops one (SIGTERM to all its processes), leaves
    # nothing in the watched folder; the next run brings the whole granule.
    slow = sp.Popen([SYNC, conf, rclone_conf, glm], env=dict(env, RCLONE_BWLIMIT="50k"),
                    stderr=sp.DEVNULL, start_new_session=True)
    wait(lambda: os.path.getsize(os.path.join(glm, ".incoming", MINUTE[2])) > 0, 10, "a transfer")
    os.killpg(slow.pid, signal.SIGTERM)
    assert slow.wait() != 0 and not os.path.exists(os.path.join(glm, MINUTE[2]))
    time.sleep(ticked + 20 - time.time())  # the timer's next run
    sync()
    counted = wait(lambda: get(port, path) == (200, after), 10, "the later file to count")
    # A granule already here is not fetched again: it would arrive by a rename, as a new file.
    assert os.stat(os.path.join(glm, MINUTE[0])).st_ino == first, "a granule was fetched again"
    assert open(os.path.join(glm, MINUTE[2]), "rb").read() == open(os.path.join(DATA, MINUTE[2]), "rb").read()
    print("sync: %s then %s flashes; a file published counted %.1f s later" %
          (before, after, counted - published))
    assert counted - published <= 30
    # The sync stops: the newest data (04:34:00) ages past 30 s and the service says so.
    wait(lambda: get(port, path)[1].startswith("data feed is stale"), 40, "503 once data is stale")
    proc.terminate()


def case_reload():
    tls_port, cert, key = free_port(), TMP + "/cert.pem", TMP + "/key.pem"
    for n in ("one", "two"):  # two certificates for localhost
        sp.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                "-nodes", "-days", "2", "-subj", "/CN=" + n, "-addext", "subjectAltName=DNS:localhost",
                "-out", TMP + "/%s.pem" % n, "-keyout", TMP + "/%s.key" % n], check=True, capture_output=True)

    def connect(trusted):  # verifies the certificate and the name, as the widget does
        c = http.client.HTTPSConnection("localhost", tls_port, timeout=5,
                                        context=ssl.create_default_context(cafile=TMP + "/%s.pem" % trusted))
        c.request("GET", query((0, 0), 5))
        assert c.getresponse().read() == b"0"
        return c

    shutil.copy(TMP + "/one.pem", cert), shutil.copy(TMP + "/one.key", key)
    proc, _ = service(free_port(), FEED, "--https-port", str(tls_port), "--cert", cert, "--key", key,
                      log="reload.log")
    old = connect("one")
    tls = ssl.create_default_context(cafile=TMP + "/one.pem")  # a later connection resumes
    first = tls.wrap_socket(socket.create_connection(("localhost", tls_port)), server_hostname="localhost")
    first.sendall(b"GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n") or first.recv(4096)
    again = tls.wrap_socket(socket.create_connection(("localhost", tls_port)), server_hostname="localhost",
                            session=first.session)
    assert again.session_reused and again.version() == "TLSv1.3", again.version()
    socket.create_connection(("127.0.0.1", tls_port)).sendall(b"GET / HTTP/1.1\r\n\r\n")  # not TLS
    for pair in (("two", "two"), ("one", "two")):  # a new pair, then one that does not match
        shutil.copy(TMP + "/%s.pem" % pair[0], cert), shutil.copy(TMP + "/%s.key" % pair[1], key)
        proc.send_signal(signal.SIGHUP)
        time.sleep(0.5)
        connect("two")  # new connections get the new pair, or keep the last good one
        old.request("GET", query((0, 0), 5))  # an open connection goes on with its own
        assert old.getresponse().read() == b"0"
    assert "certificate reload refused" in open(TMP + "/reload.log").read()
    proc.terminate()


def case_drain():
    port = free_port()
    proc, _ = service(port, FEED)
    begun = socket.create_connection(("127.0.0.1", port))
    begun.sendall(b"GET " + query((0, 0), 5).encode() + b" HTTP/1.1\r\nHost: x\r\n")
    time.sleep(0.2)
    term = time.time()
    proc.send_signal(signal.SIGTERM)
    time.sleep(0.4)
    assert socket.socket().connect_ex(("127.0.0.1", port)) == errno.ECONNREFUSED  # no new ones
    begun.sendall(b"\r\n")
    answer = begun.recv(4096).decode()
    assert answer.startswith("HTTP/1.1 200") and "Connection: close" in answer, answer
    assert proc.wait(timeout=5 - (time.time() - term)) == 0


async def load(port, path, rate, seconds, events):
    """`rate` queries/s for `seconds` over 20 keep-alive connections, with `events` (time, action)
    meanwhile; returns (time, status, body, replica, seconds taken) of every query."""
    log, start = [], time.time()

    async def client(k):
        reader = writer = None
        for i in range(k, int(seconds * rate), 20):
            await asyncio.sleep(start + i / rate - time.time())
            try:
                if writer is None:
                    reader, writer = await asyncio.open_connection("127.0.0.1", port)
                sent = time.time()
                writer.write(b"GET %s HTTP/1.1\r\nHost: strikes\r\n\r\n" % path.encode())
                head = (await reader.readuntil(b"\r\n\r\n")).decode()
                body = await reader.readexactly(int(re.search(r"content-length: (\d+)", head, re.I)[1]))
                log.append((time.time() - start, head[9:12], body.decode(),
                            re.search(r"x-served-by: (\w+)", head, re.I)[1], time.time() - sent))
            except (OSError, asyncio.IncompleteReadError, TypeError) as e:
                log.append((time.time() - start, "lost", repr(e), None, 0))
                writer = None

    async def act():
        for at, action in events:
            await asyncio.sleep(start + at - time.time())
            action()
    await asyncio.gather(act(), *(client(k) for k in range(20)))
    return log


def case_haproxy():
    at = flashes(MINUTE[2:])[250]  # over Guatemala
    path, expected = query(at), brute_count(MINUTE, at)
    ports = [free_port(), free_port(), free_port()]
    os.makedirs(glm := TMP + "/replica-glm")
    [os.symlink(os.path.join(DATA, name), os.path.join(glm, name)) for name in MINUTE]
    def replica(port, stale_after, log):  # started, and all three files read
        proc = service(port, ["platform = G16", "glm-dir = " + glm, "clock = from:2018-07-02T04:34:00Z",
                              "stale-after = %g" % stale_after], log=log)[0]
        return wait(lambda: get(port, path) == (200, expected), 10, "replica on %d" % port) and proc
    a, b_started = [replica(ports[0], 0, "a.log")], time.time()
    b = replica(ports[1], 0.25, "b.log")  # stale 15 s from now
    cfg = open(os.path.join(DEPLOY, "haproxy.cfg")).read().replace(
        "bind :443 ssl crt /etc/haproxy/strikes.pem alpn http/1.1", "bind 127.0.0.1:%d" % ports[2])
    cfg = cfg.replace("10.0.0.11:8080", "127.0.0.1:%d" % ports[0]).replace(
        "10.0.0.12:8080", "127.0.0.1:%d" % ports[1]).replace("/run/haproxy/admin.sock", TMP + "/admin.sock")
    # Debian's global as it is, but for what only a root service does: chroot, user, syslog.
    cfg = re.sub(r"(?m)^\s*(chroot|user|group|daemon|log /dev/log)\b.*\n", "", cfg)
    cfg = cfg.replace("global\n", "global\n    log stdout format raw local0 notice\n")
    open(TMP + "/haproxy.cfg", "w").write(cfg)
    start("haproxy", "-db", "-f", TMP + "/haproxy.cfg", log="haproxy.log")
    wait(lambda: get(ports[2], path)[0] == 200, 10, "HAProxy")
    # The rate for capacity planning: queries b answered per second of its CPU.
    cpu = lambda: sum(map(int, open("/proc/%d/stat" % b.pid).read().split()[13:15])) / os.sysconf("SC_CLK_TCK")
    cpu_before, b_stale = cpu(), b_started + 15 - time.time()
    events = [(2, lambda: a[0].send_signal(signal.SIGSTOP)),  # replica a hangs for 1.5 s,
              (3.5, lambda: a[0].send_signal(signal.SIGCONT)),
              (8, lambda: a[0].kill()),  # then dies and comes back 1 s later
              (9, lambda: a.__setitem__(0, replica(ports[0], 0, "a.log")))]
    log = asyncio.run(load(ports[2], path, 2000, 20, events))
    sent, good = 2000 * 20, sum(status == "200" and body == expected for _, status, body, _, _ in log)
    by_b = sum(entry[3] == "b" for entry in log)
    # HAProxy sent b's stale answers (503) on to a; how many there were tells how long it took.
    stale_answers = int(re.search(r'requests_total\{status="503"\} (\d+)', get(ports[1], "/metrics")[1])[1])
    slowest = max(seconds for *_, seconds in log)
    print("haproxy: %d queries sent, %d answered 200 with the right count, %d lost, the slowest in %.3f s; "
          "b answered %d queries per second of its CPU, then %d times 503 once stale before it left the "
          "rotation" % (sent, good, sent - good, slowest, by_b / (cpu() - cpu_before), stale_answers))
    assert sent == good == len(log), [e for e in log if e[1:3] != ("200", expected)][:5]
    assert slowest < 1, sorted(log, key=lambda e: -e[4])[:5]
    # Within one check interval (1 s) even if b had had every query; a is back after its restart.
    assert stale_answers <= 2000 * 1.5
    assert any(server == "a" for t, _, _, server, _ in log if 11 < t < b_stale)
    # The runtime socket of Debian's global takes a replica out for maintenance.
    admin = lambda command: (c := socket.socket(socket.AF_UNIX)).connect(TMP + "/admin.sock") or \
        c.sendall(command.encode() + b"\n") or c.makefile().read()
    admin("set server strikecountd/a state drain")
    assert re.search(r"(?m)^strikecountd,a,.*,DRAIN,", admin("show stat")), admin("show stat")


if __name__ == "__main__":
    try:
        for case in sys.argv[2:] or ["package", "debian", "reload", "drain", "sync", "haproxy"]:
            if case in ("sync", "haproxy") and not os.path.isdir(DATA):
                print("SKIP %s: no GLM samples in %s" % (case, DATA)); continue
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
