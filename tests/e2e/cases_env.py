"""Checks of the test desktop itself, so that a widget case that fails points at the widget:
Wine's HTTP stack trusts the test authority through the bundle run.sh mounted, and refuses a
server whose certificate no trusted authority signed."""

from e2elib import SERVER, SERVICE, case, check, run_wine, wine_path

FETCH = wine_path("st_https_get.exe")


@case("env")
def env_wine_trusts_the_test_authority(s):
    SERVER.answer("env-ok")
    mark = SERVER.mark()
    code, out = run_wine(FETCH, f"{SERVICE}/env-check", "10000")
    check(code == 0 and out.splitlines()[:2] == ["status 200", "env-ok"],
          f"a WinHTTP GET of the test server failed: {out.strip()!r}")
    check(SERVER.paths(mark) == ["/env-check"], "the server did not log the request")


@case("env")
def env_wine_refuses_an_untrusted_certificate(s):
    SERVER.answer("must-not-arrive", cert="untrusted")
    mark = SERVER.mark()
    code, out = run_wine(FETCH, f"{SERVICE}/env-check", "10000")
    check(code != 0 and out.startswith("error"),
          f"WinHTTP accepted a certificate from an untrusted authority: {out.strip()!r}")
    check(SERVER.requests(mark) == [], "a request went through over the untrusted connection")
