// st_https_get: one WinHTTP GET of an absolute https address, with the system's certificate
// checks. Prints "status N" and the body on success, "error N" (the Win32 error code) when
// the request fails. The end-to-end runner uses it to check that Wine trusts the test
// certificate authority, and refuses a server it does not trust, before any widget test runs.
//
// Usage: st_https_get URL [TIMEOUT_MS]
#include <windows.h>

// After windows.h, which they build on.
#include <shellapi.h>
#include <winhttp.h>

#include <cstdio>
#include <string>

namespace {

int fail(const char* step) {
  std::printf("error %lu %s\n", GetLastError(), step);
  return 1;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) {
    std::fprintf(stderr, "usage: st_https_get URL [TIMEOUT_MS]\n");
    return 2;
  }
  std::wstring url = argv[1];
  int timeoutMs = argc > 2 ? _wtoi(argv[2]) : 15000;

  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = 2048;
  wchar_t extra[2048] = {};
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = 2048;
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return fail("crack");

  HINTERNET session = WinHttpOpen(L"st_https_get", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return fail("open");
  WinHttpSetTimeouts(session, timeoutMs, timeoutMs, timeoutMs, timeoutMs);
  HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
  if (!connection) return fail("connect");
  std::wstring object = std::wstring(path) + extra;
  HINTERNET request = WinHttpOpenRequest(
      connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
      parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
  if (!request) return fail("request");
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0)) {
    return fail("send");
  }
  if (!WinHttpReceiveResponse(request, nullptr)) return fail("receive");
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  std::string body;
  for (;;) {
    char buf[4096];
    DWORD got = 0;
    if (!WinHttpReadData(request, buf, sizeof buf, &got)) return fail("read");
    if (got == 0) break;
    body.append(buf, got);
  }
  std::printf("status %lu\n%s\n", status, body.c_str());
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  LocalFree(argv);
  return 0;
}
