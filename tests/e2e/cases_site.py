"""A site typed into the site box and Enter: the lookup in radars.gis beside the exe, the
hidden site box and the request for the site's coordinates; and the count the real service
gives for a site and for a custom place just off the equator, replaying a real GLM file."""

import math
import os
import re
import shutil
import ssl
import subprocess
import time
import urllib.request

from cases_custom import toggle_custom_place
from cases_request import tooltip
from e2elib import (SERVER, SERVICE, TEST_CA, WORK, CaseSkipped, case, check, probe,
                    site_coordinates, site_query, start_stub, stop_stub, wait_for)

# What the user types, and the site whose coordinates the request must carry. How the table
# is read is site_table_test's.
TYPED = [("ktlx", "KTLX"), ("ktlxq", "KTLX")]  # the fifth letter does not fit in the box


@case("site")
def enter_in_site_box_looks_the_site_up_and_asks_for_its_count(s):
    for typed, expected in TYPED:
        SERVER.answer("7")
        w = s.start_widget()
        mark = SERVER.mark()
        w.type_in_site_box(typed)
        got = SERVER.wait_requests(mark, 1)[0]["path"]
        check(got == site_query(expected), f"typed {typed!r}: the server got {got!r}")
        w.wait_count("7", 5)
        check(not w.site_box()["visible"], f"typed {typed!r}: the site box shows after Enter")
        time.sleep(1)
        check(len(SERVER.requests(mark)) == 1, f"typed {typed!r}: more than one request")
        s.close()


HERE = os.path.dirname(os.path.abspath(__file__))
GLM = os.path.join(HERE, "../../../shared/data",
                   "OR_GLM-L2-LCFA_G16_s20233580057000_e20233580057200_c20233580057222.nc")
STRIKECOUNTD = os.environ.get("E2E_STRIKECOUNTD",
                              os.path.join(HERE, "../../build/native/service/strikecountd"))
# A flash lies 0.31 miles beyond KSJT's 128-mile circle, one 0.12 miles inside KLBB's, so a
# radius or distance error in either direction shows.
SITES = ["KSJT", "KLBB"]
EQUATOR = ("0.00005", "-70", "248")  # six flashes of the file lie within 248 miles
# The nearest of two flashes 567 miles off to the WSW, where the bearing taken from the flash
# back to the place differs by 5 degrees and a sphere of another size by more than 0.1 mile.
FAR = ("38", "-92", "600")


def brute_force(path, lat, lon, miles):
    """The flashes in a GLM file within the distance, counted one by one on the service's
    sphere of 3958.8 miles (a flash exactly on the radius counts), and the distance and initial
    bearing from the place to the nearest of them."""
    data = subprocess.run(["ncdump", "-v", "flash_lat,flash_lon", path], capture_output=True,
                          text=True, check=True).stdout.split("data:")[1]
    lats, lons = ([math.radians(float(v)) for v in re.search(name + r" =([^;]*);", data)
                   .group(1).split(",")] for name in ["flash_lat", "flash_lon"])
    la, lo = math.radians(float(lat)), math.radians(float(lon))
    within = []
    for a, b in zip(lats, lons):
        d = 2 * 3958.8 * math.asin(math.sqrt(
            math.sin((a - la) / 2) ** 2 + math.cos(la) * math.cos(a) * math.sin((b - lo) / 2) ** 2))
        if d <= float(miles) + 1e-9:
            y = math.sin(b - lo) * math.cos(a)
            x = math.cos(la) * math.sin(a) - math.sin(la) * math.cos(a) * math.cos(b - lo)
            within.append((d, math.degrees(math.atan2(y, x)) % 360))
    return len(within), min(within, default=None)


def check_area(doc, lat, lon, miles):
    """The service's count, nearest distance (to 0.1 mi) and bearing (to 1 degree) at a place
    against the brute force over the file."""
    count, nearest = brute_force(GLM, lat, lon, miles)
    got = doc["nearest"]
    check(doc["count"] == count and (got is None) == (nearest is None),
          f"the service says {doc}, the file {count} flashes, nearest {nearest}")
    if nearest:
        check(abs(got["distance_miles"] - nearest[0]) <= 0.05 + 1e-9 and
              abs((got["bearing_degrees"] - nearest[1] + 180) % 360 - 180) <= 0.5 + 1e-9,
              f"the service says {got}, the file {nearest[0]:.3f} mi at {nearest[1]:.2f} deg")


def service_ready():
    try:
        return urllib.request.urlopen(SERVICE + "/healthz", timeout=2, context=ssl.
                                      create_default_context(cafile=TEST_CA)).status == 200
    except OSError:  # 503 until the file is in
        return False


@case("service")
def site_count_from_the_real_service_replaying_a_glm_file(s):
    for need in [GLM, STRIKECOUNTD, shutil.which("ncdump") or "ncdump (netcdf-bin)"]:
        if not os.path.exists(need):
            raise CaseSkipped(f"{os.path.normpath(need)} is missing")
    expected = {site: brute_force(GLM, *site_coordinates(site), 128)[0] for site in SITES}
    glm_dir = os.path.join(WORK, "glm")
    os.makedirs(glm_dir, exist_ok=True)
    shutil.copy(GLM, glm_dir)
    stop_stub()
    from cases_detail import area, nearest_words, trend_words  # it imports this file
    try:
        # The replay's clock stands at the file's end, so all of its flashes lie in the window.
        s.start(STRIKECOUNTD, "--glm-dir", glm_dir, "--platform", "G16", "--clock", "newest-data",
                "--bind", "::", "--cert", f"{WORK}/server.crt", "--key", f"{WORK}/server.key",
                wine=False)
        wait_for(service_ready, 20, "strikecountd to take the file in")
        for site, count in expected.items():
            w = s.start_widget()
            w.type_in_site_box(site)
            w.wait_count(str(count), 10)
            # The nearest flash and the trend in the tooltip are the service's own, and the
            # service's are those of the file.
            doc = area(*site_coordinates(site), 128)
            check_area(doc, *site_coordinates(site), 128)
            tooltip(w, nearest_words(doc), trend_words(doc))
            w.proc.kill()
            wait_for(lambda: probe() is None, 10, "the widget to end")
        # A custom place just off the equator: the widget writes its latitude as 5E-05.
        w = s.start_widget()
        toggle_custom_place(w, EQUATOR)
        w.wait_count(str(brute_force(GLM, *EQUATOR)[0]), 10)
        for place in [EQUATOR, FAR]:
            check_area(area(*place), *place)
    finally:
        s.close()
        start_stub()
