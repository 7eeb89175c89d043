"""The release as a user gets it: the installer and the portable zip from `make release`."""

import glob
import os
import shutil
import subprocess
import zipfile

from e2elib import (CaseSkipped, ENV, SERVER, WORK, Widget, case, check, probe, run_wine,
                    site_query, wait_for)

DIST = ENV.get("E2E_DIST", "")
STAGE = os.path.join(DIST, "..", "build", "release", "stage")  # what release/build.sh packed
APP = "Stormtally"
UNINSTALL_KEY = rf"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\{APP}"
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
# No menu entries on the host for the shortcut the installer makes.
QUIET = {"WINEDLLOVERRIDES": ENV.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d"}


def installer():
    found = glob.glob(os.path.join(DIST, f"{APP}-*-setup.exe"))
    if len(found) != 1:
        raise CaseSkipped(f"no single installer in {DIST}: run make release first")
    return found[0]


def version():
    return os.path.basename(installer())[len(APP) + 1:-len("-setup.exe")]


def windows_dir(variable):
    return run_wine("cmd", "/c", f"echo %{variable}%")[1].strip()


def unix(path):
    return subprocess.run(["winepath", "-u", path], capture_output=True, text=True,
                          check=True, env={**ENV, **QUIET}).stdout.strip()


def values(key):
    """The values of a registry key as {name: data}; {} without the key."""
    lines = run_wine("reg", "query", key)[1].splitlines()
    return {p[0]: p[2] if len(p) > 2 else "" for p in
            (line.split(None, 2) for line in lines if line.startswith("    ") and line.strip())}


def state():
    """What an install leaves: files, Start-menu shortcut, registry values."""
    folder = unix(windows_dir("LOCALAPPDATA") + rf"\Programs\{APP}")
    files = sorted(os.path.relpath(os.path.join(d, f), folder)
                   for d, _, names in os.walk(folder) for f in names)
    link = os.path.exists(unix(windows_dir("APPDATA") +
                               rf"\Microsoft\Windows\Start Menu\Programs\{APP}.lnk"))
    run = {k: v for k, v in values(RUN_KEY).items() if k == APP}
    return {"folder": folder, "files": files, "link": link, "uninstall": values(UNINSTALL_KEY),
            "run": run}


def install(path, *args):
    code, out = run_wine(path, "/S", *args, timeout=60, env=QUIET)
    check(code == 0, f"{os.path.basename(path)} /S {' '.join(args)} ended with {code}: {out}")
    return state()


def uninstall():
    """Uninstalls silently, as Windows does with QuietUninstallString, and returns the state."""
    quiet = values(UNINSTALL_KEY).get("QuietUninstallString")
    if quiet:
        run_wine(*[unix(quiet.split('"')[1]), "/S"], timeout=60, env=QUIET)
    gone = {"files": [], "link": False, "uninstall": {}, "run": {}}
    # The uninstaller runs from a copy of itself and returns before that copy is done.
    wait_for(lambda: {k: v for k, v in state().items() if k != "folder"} == gone, 30,
             "the uninstaller to remove every file, the shortcut and the registry values")


def release_case(fn):
    """A case that starts and ends without Stormtally installed: a sign-in value left behind
    would start the widget with the next run's wineboot, under every later case."""
    def run(s):
        uninstall()
        try:
            fn(s)
        finally:
            uninstall()
    run.__name__ = fn.__name__
    return case("release")(run)


def start_installed(s, st):
    widget = Widget(s.start(os.path.join(st["folder"], "stormtally.exe")))
    wait_for(lambda: (probe(wait_ms=100) or {}).get("visible"), 20, "the installed widget")
    return widget


@release_case
def silent_install_starts_and_uninstalls_without_a_trace(s):
    st = install(installer())
    windows = windows_dir("LOCALAPPDATA") + rf"\Programs\{APP}"
    for name in ["stormtally.exe", "radars.gis", "README.txt", "uninstall.exe",
                 "licenses/gcc-runtime.txt", "licenses/mingw-w64-runtime.txt"]:
        check(name in st["files"], f"{name} is not installed: {st['files']}")
    check(st["link"], "no Start-menu shortcut")
    expected = {"DisplayName": APP, "DisplayVersion": version(), "Publisher": f"{APP} developers",
                "DisplayIcon": rf"{windows}\stormtally.exe,0", "InstallLocation": windows,
                "QuietUninstallString": rf'"{windows}\uninstall.exe" /S'}
    for name, data in expected.items():
        check(st["uninstall"].get(name) == data, f"{name} is {st['uninstall'].get(name)!r}")
    check(int(st["uninstall"].get("EstimatedSize", "0"), 16) > 100, "no EstimatedSize in KiB")
    check(st["run"] == {}, f"the sign-in value without the checkbox: {st['run']}")
    start_installed(s, st)


@release_case
def sign_in_checkbox_adds_the_run_value_and_nothing_else(s):
    plain = install(installer())
    uninstall()
    ticked = install(installer(), "/AUTOSTART")
    exe = windows_dir("LOCALAPPDATA") + rf"\Programs\{APP}\stormtally.exe"
    check(ticked["run"] == {APP: f'"{exe}"'}, f"Run holds {ticked['run']}")
    ticked.pop("run"), plain.pop("run")
    check(ticked == plain, f"the checkbox changed more than the Run value: {ticked} {plain}")


@release_case
def upgrade_closes_the_running_widget_and_replaces_the_older_version(s):
    # The older version: the same files with the exe changed, packed as 0.9.0.
    old = os.path.join(WORK, "old")
    shutil.copytree(STAGE, os.path.join(old, "stage"), dirs_exist_ok=True)
    with open(os.path.join(old, "stage", "stormtally.exe"), "ab") as f:
        f.write(b"older")
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run(["makensis", "-V1", "-DVERSION=0.9.0", f"-DSTAGE={old}/stage",
                    f"-DICON={here}/../../res/stormtally.ico", f"-DOUTFILE={old}/setup.exe",
                    f"{here}/../../release/stormtally.nsi"], check=True, timeout=120)
    st = install(os.path.join(old, "setup.exe"), "/AUTOSTART")
    check(st["uninstall"]["DisplayVersion"] == "0.9.0", "the older version did not install")
    widget = start_installed(s, st)
    st = install(installer())
    check(widget.proc.wait(timeout=10) == 0, "the widget did not end normally when asked")
    check(st["uninstall"]["DisplayVersion"] == version(), "still the older version")
    with open(os.path.join(st["folder"], "stormtally.exe"), "rb") as a, \
            open(os.path.join(STAGE, "stormtally.exe"), "rb") as b:
        check(a.read() == b.read(), "the older exe was not replaced")
    check(st["run"], "the upgrade dropped the sign-in value chosen before")


@release_case
def zip_runs_from_a_folder_with_blanks_and_accents(s):
    zips = glob.glob(os.path.join(DIST, f"{APP}-*-portable.zip"))
    if not zips:
        raise CaseSkipped(f"no portable zip in {DIST}: run make release first")
    folder = os.path.join(WORK, "Meine Programme ä é ø")
    with zipfile.ZipFile(zips[0]) as z:
        if "https://localhost:48443" not in z.read(f"{APP}-{version()}/README.txt").decode():
            raise CaseSkipped("the zip was built for another service (SERVICE_URL)")
        z.extractall(folder)
    exe = os.path.join(folder, f"{APP}-{version()}", "stormtally.exe")
    widget = Widget(s.start(exe))
    wait_for(lambda: (probe(wait_ms=100) or {}).get("visible"), 20, "the unzipped widget")
    mark = SERVER.mark()
    widget.type_in_site_box("ktlx")
    got = SERVER.wait_requests(mark, 1)[0]["path"]
    check(got == site_query("ktlx"), f"asked {got}, not the site from radars.gis")
