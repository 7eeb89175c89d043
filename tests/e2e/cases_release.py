"""The release as a user gets it: the installer and the portable zip from `make release`.
The sign-in checkbox is ticked with the installer's /AUTOSTART switch, which selects the
same section as a click on the checkbox does."""

import filecmp
import glob
import os
import shutil
import subprocess
import zipfile

from e2elib import (CASES, CaseSkipped, ENV, SERVER, WORK, Widget, check, probe, run_wine,
                    site_query, wait_for)

DIST = ENV.get("E2E_DIST", "")
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
STAGE = os.path.join(ROOT, "build", "release", "stage")  # what release/build.sh packed
APP = "Stormtally"
UNINSTALL_KEY = rf"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\{APP}"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
# No menu entries on the host for the shortcut the installer makes.
QUIET = {"WINEDLLOVERRIDES": ENV.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d"}


def dist(kind):
    """The release's file of a kind ("setup.exe", "portable.zip") and its version."""
    found = glob.glob(os.path.join(DIST, f"{APP}-*-{kind}"))
    if len(found) != 1:
        raise CaseSkipped(f"no single *-{kind} in {DIST}: run make release first")
    return found[0], os.path.basename(found[0])[len(APP) + 1:-len(kind) - 1]


def windows_dir(variable, below):
    return run_wine("cmd", "/c", f"echo %{variable}%")[1].strip() + below


def installed(name=""):
    """The Windows path of the install folder, or of a file in it."""
    return windows_dir("LOCALAPPDATA", rf"\Programs\{APP}" + (f"\\{name}" if name else ""))


def unix(path):
    return subprocess.run(["winepath", "-u", path], capture_output=True, text=True,
                          check=True).stdout.strip()


def values(key):
    """The values of a registry key as {name: data}; {} without the key."""
    lines = run_wine("reg", "query", key)[1].splitlines()
    return {p[0]: p[-1] for p in (line.split(None, 2) for line in lines if line[:4] == "    ")}


def state():
    """What an install leaves: files, Start-menu shortcut, registry values."""
    folder = unix(installed())
    return {"files": sorted(os.path.relpath(os.path.join(d, f), folder)
                            for d, _, names in os.walk(folder) for f in names),
            "link": os.path.exists(unix(windows_dir(
                "APPDATA", rf"\Microsoft\Windows\Start Menu\Programs\{APP}.lnk"))),
            "uninstall": values(UNINSTALL_KEY), "run": values(RUN_KEY).get(APP)}


def hkcu():
    """The lines of the user's whole registry."""
    path = os.path.join(WORK, "hkcu.reg")
    run_wine("reg", "export", "HKCU", "Z:" + path.replace("/", "\\"), "/y")
    return set(open(path, encoding="utf-16").read().splitlines())


def install(path, *args):
    code, out = run_wine(path, "/S", *args, timeout=60, env=QUIET)
    check(code == 0, f"{os.path.basename(path)} /S {' '.join(args)} ended with {code}: {out}")
    return state()


def uninstall(verify=True):
    """Uninstalls silently, as Windows does with QuietUninstallString."""
    quiet = values(UNINSTALL_KEY).get("QuietUninstallString")
    if quiet:
        run_wine(unix(quiet.split('"')[1]), "/S", timeout=60, env=QUIET)
    # The uninstaller runs from a copy of itself and returns before that copy is done.
    if verify:
        wait_for(lambda: state() == {"files": [], "link": False, "uninstall": {}, "run": None},
                 30, "the uninstaller to remove every file, the shortcut and the registry values")


def release_case(fn):
    """A case that starts and ends without Stormtally installed: a sign-in value left behind
    would start the widget with the next run's wineboot, under every later case."""
    def run(s):
        if ENV.get("E2E_WINE64"):
            raise CaseSkipped("the release holds the 32-bit widget and installer, and this "
                              "machine's kernel cannot run 32-bit programs")
        uninstall()
        try:
            fn(s)
        except Exception:
            uninstall(verify=False)  # clears up without hiding the case's own failure
            raise
        uninstall()
    return CASES.append(("release", fn.__name__, run))


def start(s, exe):
    widget = Widget(s.start(exe))
    return wait_for(lambda: (probe(wait_ms=100) or {}).get("visible"), 20, exe) and widget


@release_case
def sign_in_checkbox_adds_the_run_value_and_nothing_else(s):
    """Compares the files and the user's whole registry after an install without and with it."""
    plain = install(dist("setup.exe")[0])["files"], hkcu()
    uninstall()
    ticked = install(dist("setup.exe")[0], "/AUTOSTART")["files"], hkcu()
    exe = installed("stormtally.exe").replace("\\", "\\\\")
    check(ticked[1] ^ plain[1] == {f'"{APP}"="\\"{exe}\\""'}, f"{ticked[1] ^ plain[1]}")
    check(ticked[0] == plain[0], f"the checkbox changed the files: {ticked[0]} {plain[0]}")


@release_case
def install_then_upgrade_over_the_running_widget(s):
    """A fresh install of an older version, then the release over it while it runs; the
    uninstall after every case checks that nothing is left."""
    old = os.path.join(WORK, "old")  # the same files with the exe changed, packed as 0.9.0
    shutil.copytree(STAGE, old, dirs_exist_ok=True)
    with open(os.path.join(old, "stormtally.exe"), "ab") as f:
        f.write(b"older")
    subprocess.run(["makensis", "-V1", "-DVERSION=0.9.0", f"-DSTAGE={old}", f"-DOUTFILE={old}.exe",
                    f"{ROOT}/release/stormtally.nsi"], check=True)
    st, folder, exe = install(f"{old}.exe", "/AUTOSTART"), installed(), installed("stormtally.exe")
    check(st["files"] == ["README.txt", "licenses/GPL-3.txt", "licenses/gcc-runtime.txt",
                          "licenses/mingw-w64-runtime.txt", "radars.gis", "stormtally.exe",
                          "uninstall.exe"], f"installed: {st['files']}")
    check(st["link"] and int(st["uninstall"].get("EstimatedSize", "0"), 16) > 100,  # KiB
          f"a shortcut and the size in KiB: {st}")
    expected = {"DisplayName": APP, "DisplayVersion": "0.9.0", "Publisher": f"{APP} developers",
                "DisplayIcon": rf"{exe},0", "InstallLocation": folder,
                "QuietUninstallString": rf'"{folder}\uninstall.exe" /S'}
    for name, data in expected.items():
        check(st["uninstall"].get(name) == data, f"{name} is {st['uninstall'].get(name)!r}")
    with open(os.path.join(unix(folder), "radars.gis"), "a") as f:
        f.write("home||35.22|-97.44\r\n")  # a site the user added
    widget = start(s, unix(exe))
    st = install(dist("setup.exe")[0])
    check("home||35.22" in open(os.path.join(unix(folder), "radars.gis.old")).read(),
          "the upgrade lost the sites the user added")
    check(widget.proc.wait(timeout=10) == 0, "the widget did not end normally when asked")
    check(st["uninstall"]["DisplayVersion"] == dist("setup.exe")[1], "still the older version")
    check(filecmp.cmp(unix(exe), f"{STAGE}/stormtally.exe", shallow=False), "the old exe stayed")
    check(st["run"], "the upgrade dropped the sign-in value chosen before")
    start(s, unix(exe))


@release_case
def zip_runs_from_a_folder_with_blanks_and_accents(s):
    folder = os.path.join(WORK, "Meine Programme ä é ø")
    zipfile.ZipFile(dist("portable.zip")[0]).extractall(folder)  # built for localhost:48443
    widget, mark = start(s, glob.glob(f"{folder}/*/stormtally.exe")[0]), SERVER.mark()
    widget.type_in_site_box("ktlx")
    got = SERVER.wait_requests(mark, 1)[0]["path"]
    check(got == site_query("ktlx"), f"asked {got}, not the site from radars.gis")
