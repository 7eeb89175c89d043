// One bounded HTTPS GET over WinHTTP.
//
// The transfer runs on a short-lived worker thread while the caller waits, so that the whole
// request (resolve, connect, TLS and response) is held to one deadline: WinHTTP's own
// time-outs apply per phase and could add up past it. When the deadline passes, the caller
// closes the request handle, which cancels the transfer, and returns a failure at once; the
// worker cleans up after itself.
#include "query/http_client_win.h"

#include <algorithm>

#include "app/handles_win.h"
#include "app/text_win.h"
#include "version.h"

namespace stormtally {
namespace {

constexpr wchar_t kUserAgent[] = L"Stormtally/" TEXT(STORMTALLY_VERSION);

// State shared by the caller and the worker; whoever finishes last frees it.
struct Transfer {
  std::wstring url;
  DWORD deadline = 0;  // GetTickCount value
  HttpResponse response;
  CRITICAL_SECTION lock;
  HINTERNET request = nullptr;  // guarded by lock; closed by whoever gets there first
  LONG refs = 2;

  Transfer() { InitializeCriticalSection(&lock); }
  ~Transfer() { DeleteCriticalSection(&lock); }
  void release() {
    if (InterlockedDecrement(&refs) == 0) delete this;
  }
  void closeRequest() {
    EnterCriticalSection(&lock);
    if (request) {
      WinHttpCloseHandle(request);
      request = nullptr;
    }
    LeaveCriticalSection(&lock);
  }
  int remainingMs() const {
    const LONG left = static_cast<LONG>(deadline - GetTickCount());
    return std::max<LONG>(left, 1);
  }
};

HttpResponse failure(const char* what, DWORD error = GetLastError()) {
  HttpResponse r;
  r.reason = std::string(what) + " failed (error " + std::to_string(error) + ")";
  return r;
}

// Applies the user's proxy settings the way the platform's own HTTP classes do, on systems
// whose WinHTTP cannot do it by itself (before Windows 8.1).
void applyUserProxy(HINTERNET session, HINTERNET request, const std::wstring& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&ie)) return;
  WINHTTP_PROXY_INFO info{};
  bool haveInfo = false;
  if (ie.fAutoDetect || ie.lpszAutoConfigUrl) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (ie.lpszAutoConfigUrl) {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = ie.lpszAutoConfigUrl;
    } else {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    haveInfo = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
  }
  if (!haveInfo && ie.lpszProxy) {
    info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    info.lpszProxy = ie.lpszProxy;
    info.lpszProxyBypass = ie.lpszProxyBypass;
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
    info = {};
  } else if (haveInfo) {
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
  }
  if (info.lpszProxy) GlobalFree(info.lpszProxy);
  if (info.lpszProxyBypass) GlobalFree(info.lpszProxyBypass);
  if (ie.lpszAutoConfigUrl) GlobalFree(ie.lpszAutoConfigUrl);
  if (ie.lpszProxy) GlobalFree(ie.lpszProxy);
  if (ie.lpszProxyBypass) GlobalFree(ie.lpszProxyBypass);
}

HttpResponse transfer(Transfer& t) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(t.url.c_str(), 0, 0, &parts)) return failure("reading the address");
  // Only https: a strike count must come from the service it claims to come from.
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) return failure("https only", 0);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  bool automaticProxy = true;
  UniqueInternet session(
      WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr, nullptr, 0));
  if (!session) {
    automaticProxy = false;
    session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  }
  if (!session) return failure("opening a session");
  const int budget = t.remainingMs();
  WinHttpSetTimeouts(session.get(), budget, budget, budget, budget);

  UniqueInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return failure("connecting");
  HINTERNET request =
      WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (!request) return failure("opening the request");
  EnterCriticalSection(&t.lock);
  t.request = request;
  LeaveCriticalSection(&t.lock);

  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  if (!automaticProxy) applyUserProxy(session.get(), request, t.url);

  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0)) {
    return failure("sending the request");
  }
  if (!WinHttpReceiveResponse(request, nullptr)) return failure("receiving the response");

  HttpResponse r;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return failure("reading the status");
  }
  r.status = static_cast<int>(status);

  char buffer[8192];
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(request, buffer, sizeof buffer, &got)) return failure("reading the body");
    if (got == 0) break;
    if (r.body.size() + got > kMaxBodyBytes) {
      r.body.clear();
      r.reason = "body over " + std::to_string(kMaxBodyBytes) + " bytes";
      return r;
    }
    r.body.append(buffer, got);
  }
  if (status < 200 || status > 299) {
    r.reason = "HTTP status " + std::to_string(status);
    r.body.clear();
    return r;
  }
  r.ok = true;
  return r;
}

DWORD WINAPI worker(void* param) {
  Transfer* t = static_cast<Transfer*>(param);
  t->response = transfer(*t);
  t->closeRequest();
  t->release();
  return 0;
}

}  // namespace

HttpResponse WinHttpClient::get(const std::string& url) {
  Transfer* t = new Transfer;
  t->url = widen(url);
  t->deadline = GetTickCount() + kRequestTimeoutMs;
  UniqueKernelHandle thread(CreateThread(nullptr, 0, worker, t, 0, nullptr));
  if (!thread) {
    t->refs = 1;
    t->response = transfer(*t);
    t->closeRequest();
    HttpResponse r = std::move(t->response);
    t->release();
    return r;
  }
  HttpResponse r;
  if (WaitForSingleObject(thread.get(), kRequestTimeoutMs) == WAIT_OBJECT_0) {
    r = std::move(t->response);
  } else {
    t->closeRequest();
    r.reason = "no answer within " + std::to_string(kRequestTimeoutMs / 1000) + " s";
  }
  t->release();
  return r;
}

}  // namespace stormtally
