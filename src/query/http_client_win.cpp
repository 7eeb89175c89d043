// One bounded HTTPS GET over WinHTTP.
//
// The whole request (resolve, connect, TLS and response) is held to one deadline. WinHTTP runs
// in its asynchronous mode: the caller starts one step at a time and waits, never past the
// deadline, for the status callback to report the step done. When the deadline passes, the
// caller closes the handles, which cancels whatever is pending, and returns a failure at once.
// Each step is also bounded by WinHTTP's own time-outs set to the time left, so that none of
// WinHTTP's threads stays blocked on the server after the deadline either. Closing alone does
// not end a TLS handshake that a WinHTTP thread is reading: under Wine it goes on, and sends
// the request once the server answers. The receive-response time-out is the one that bounds
// that handshake, so it is set to the time left too.
#include "query/http_client_win.h"

#include <algorithm>
#include <memory>

#include "app/handles_win.h"
#include "app/text_win.h"
#include "version.h"

namespace stormtally {
namespace {

constexpr wchar_t kUserAgent[] = L"Stormtally/" TEXT(STORMTALLY_VERSION);

// What the caller and the status callback share for one request. The caller holds it while it
// waits; the request handle holds it too, through `self`, until WinHTTP reports the handle
// closing: that is the last callback for it, so a step that completes after the caller gave
// up still writes into live memory, and never into a later request's.
struct Exchange {
  UniqueKernelHandle done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // a step finished
  DWORD error = 0;                                                        // its error, or 0
  DWORD got = 0;      // bytes a finished read delivered
  char buffer[8192];  // a pending read writes here
  std::shared_ptr<Exchange> self;
};

void CALLBACK onStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
  auto* x = reinterpret_cast<Exchange*>(context);
  if (!x) return;  // the session and the connection carry no context
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING: {
      const std::shared_ptr<Exchange> last = std::move(x->self);
      return;
    }
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      x->error = static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError;
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      x->got = length;
      break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      break;
    default:
      return;
  }
  SetEvent(x->done.get());
}

HttpResponse failure(const char* what, DWORD error = GetLastError()) {
  HttpResponse r;
  r.reason = std::string(what) + " failed (error " + std::to_string(error) + ")";
  return r;
}

// Applies the user's proxy settings the way the platform's own HTTP classes do, on systems
// whose WinHTTP cannot do it by itself (before Windows 8.1).
void applyUserProxy(HINTERNET request, const std::wstring& url, int timeoutMs) {
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
    // The look-up blocks, so it runs in a synchronous session of its own, bounded by the time
    // the request has left.
    UniqueInternet lookup(
        WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    if (lookup) {
      WinHttpSetTimeouts(lookup.get(), timeoutMs, timeoutMs, timeoutMs, timeoutMs);
      haveInfo = WinHttpGetProxyForUrl(lookup.get(), url.c_str(), &options, &info);
    }
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

}  // namespace

HttpResponse WinHttpClient::get(const std::string& url) {
  const DWORD deadline = GetTickCount() + kRequestTimeoutMs;
  // At least 1 ms: WinHTTP reads a time-out of 0 as none at all.
  const auto left = [deadline] {
    return static_cast<int>(std::max<LONG>(static_cast<LONG>(deadline - GetTickCount()), 1));
  };

  const std::wstring wideUrl = widen(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return failure("reading the address");
  // Only https: a strike count must come from the service it claims to come from.
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) return failure("https only", 0);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  // Declared before the handles, so that it outlives their closing below.
  const auto exchange = std::make_shared<Exchange>();
  if (!exchange->done) return failure("creating an event");

  bool automaticProxy = true;
  UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr,
                                     nullptr, WINHTTP_FLAG_ASYNC));
  if (!session) {
    automaticProxy = false;
    session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr,
                              WINHTTP_FLAG_ASYNC));
  }
  if (!session) return failure("opening a session");
  // The connection and the request take the callback over from the session.
  if (WinHttpSetStatusCallback(
          session.get(), onStatus,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    return failure("watching the session");
  }
  UniqueInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return failure("connecting");
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
  if (!request) return failure("opening the request");
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange.get());
  if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
    return failure("tying the request to its state");
  }
  exchange->self = exchange;

  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  if (!automaticProxy) applyUserProxy(request.get(), wideUrl, left());

  // Starts one step with WinHTTP's time-outs set to the time left, and waits for it to finish.
  HttpResponse r;
  const auto step = [&](const char* what, auto start) {
    const int ms = left();
    WinHttpSetTimeouts(request.get(), ms, ms, ms, ms);
    DWORD receiveMs = static_cast<DWORD>(ms);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveMs,
                     sizeof receiveMs);
    exchange->error = 0;
    if (!start()) {
      r = failure(what);
    } else if (WaitForSingleObject(exchange->done.get(), static_cast<DWORD>(left())) !=
               WAIT_OBJECT_0) {
      r = HttpResponse{};
      r.reason = "no answer within " + std::to_string(kRequestTimeoutMs / 1000) + " s";
    } else if (exchange->error != 0) {
      r = failure(what, exchange->error);
    } else {
      return true;
    }
    return false;
  };

  const bool answered =
      step("sending the request",
           [&] {
             return WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, context);
           }) &&
      step("receiving the response",
           [&] { return WinHttpReceiveResponse(request.get(), nullptr); });
  if (!answered) return r;

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return failure("reading the status");
  }
  r.status = static_cast<int>(status);
  if (status < 200 || status > 299) {
    r.reason = "HTTP status " + std::to_string(status);
    return r;
  }
  for (;;) {
    const auto read = [&] {
      return WinHttpReadData(request.get(), exchange->buffer, sizeof exchange->buffer, nullptr);
    };
    if (!step("reading the body", read)) return r;
    if (exchange->got == 0) break;
    if (r.body.size() + exchange->got > kMaxBodyBytes) {
      r.body.clear();
      r.reason = "body over " + std::to_string(kMaxBodyBytes) + " bytes";
      return r;
    }
    r.body.append(exchange->buffer, exchange->got);
  }
  r.ok = true;
  return r;
}

}  // namespace stormtally
