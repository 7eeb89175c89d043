// The strike-count fetch over WinHTTP, beside the window.
//
// Each request runs on a worker thread of its own, so that the window never waits: the
// thread fetches, then posts the answer to a message-only window that the client keeps on the
// window's thread, which hands it to the widget. Only the latest request's answer is handed
// on; starting another, or cancelling, tells the thread out to stop and drops its answer.
//
// On that thread the whole request (resolve, connect, TLS and response) is held to one
// deadline. WinHTTP runs in its asynchronous mode: the thread starts one step at a time and
// waits, never past the deadline, for the status callback to report the step done, or for the
// client to say stop. Then it closes the handles, which cancels whatever is pending. Each
// step is also bounded by WinHTTP's own time-outs set to the time left, so that none of
// WinHTTP's threads stays blocked on the server after the deadline either. Closing alone does
// not end a TLS handshake that a WinHTTP thread is reading: under Wine it goes on, and sends
// the request once the server answers. The receive-response time-out is the one that bounds
// that handshake, so it is set to the time left too.
#include "win32/http_client_win.h"

#include <process.h>

#include <algorithm>
#include <memory>

#include "version.h"
#include "win32/handles_win.h"
#include "win32/text_win.h"

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
  DWORD certificateFlags = 0;  // what a failed certificate check found, when WinHTTP said
  DWORD got = 0;               // bytes a finished read delivered
  char buffer[8192];           // a pending read writes here
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
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      x->certificateFlags = *static_cast<const DWORD*>(info);
      return;  // the request error that follows ends the step
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

// The kind of failure behind a WinHTTP error. Certificate errors come either as their own
// error numbers or as one secure failure with flags that say what the check found.
FailureKind kindOf(DWORD error, DWORD certificateFlags) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return FailureKind::NameNotResolved;
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return FailureKind::CannotConnect;
    case ERROR_WINHTTP_TIMEOUT:
      return FailureKind::NoAnswerInTime;
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return FailureKind::RedirectRefused;
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      return FailureKind::CertificateExpired;
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      return FailureKind::CertificateOtherHost;
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
      return FailureKind::CertificateUntrusted;
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return FailureKind::NoSecureChannel;
    case ERROR_WINHTTP_SECURE_FAILURE:
      if (certificateFlags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) {
        return FailureKind::CertificateExpired;
      }
      if (certificateFlags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) {
        return FailureKind::CertificateOtherHost;
      }
      return FailureKind::CertificateUntrusted;
    default:
      return FailureKind::BrokenAnswer;
  }
}

HttpResponse failure(FailureKind kind, DWORD error) {
  HttpResponse r;
  r.failure = kind;
  r.systemError = error;
  return r;
}

HttpResponse failure(DWORD error = GetLastError(), DWORD certificateFlags = 0) {
  return failure(kindOf(error, certificateFlags), error);
}

// Asks for TLS 1.2 and later: Windows 7's WinHTTP offers only TLS 1.0 unless told, and the
// service refuses it. A system that does not know TLS 1.3 refuses the first set, and one
// without TLS 1.2 in WinHTTP refuses both; it then keeps its own default.
void askForCurrentTls(HINTERNET session) {
  constexpr DWORD kTls12 = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  for (DWORD protocols : {kTls12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3, kTls12}) {
    if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
      return;
    }
  }
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

// The answer's header block as ASCII text ("Name: value" lines), or "" when it cannot be read
// or is over 16 Ki characters; the core reads the fields it knows from it.
std::string rawHeaders(HINTERNET request) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0 || bytes > 32 * 1024) return "";
  std::wstring wide(bytes / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                           wide.data(), &bytes, WINHTTP_NO_HEADER_INDEX)) {
    return "";
  }
  wide.resize(bytes / sizeof(wchar_t));
  std::string text;
  for (wchar_t ch : wide) {
    if (ch < 0x80) text += static_cast<char>(ch);
  }
  return text;
}

// One bounded GET with the request header `fields`; gives up at once, with a failure nobody
// reads, when `stop` is set.
HttpResponse fetch(const std::string& url, const std::string& fields, HANDLE stop) {
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
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return failure();
  // Only https: a strike count must come from the service it claims to come from.
  if (parts.nScheme != INTERNET_SCHEME_HTTPS) return failure(FailureKind::NoAddress, 0);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                            std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);

  // Declared before the handles, so that it outlives their closing below.
  const auto exchange = std::make_shared<Exchange>();
  if (!exchange->done) return failure();

  bool automaticProxy = true;
  UniqueInternet session(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, nullptr,
                                     nullptr, WINHTTP_FLAG_ASYNC));
  if (!session) {
    automaticProxy = false;
    session.reset(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr,
                              WINHTTP_FLAG_ASYNC));
  }
  if (!session) return failure();
  askForCurrentTls(session.get());
  // The connection and the request take the callback over from the session.
  if (WinHttpSetStatusCallback(
          session.get(), onStatus,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    return failure();
  }
  UniqueInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return failure();
  UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
  if (!request) return failure();
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange.get());
  if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof context)) {
    return failure();
  }
  exchange->self = exchange;

  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  if (!automaticProxy) applyUserProxy(request.get(), wideUrl, left());

  // Starts one step with WinHTTP's time-outs set to the time left, and waits for it to finish.
  // A failed step records why and keeps what of the body has arrived: after a failed status
  // the service's own line may be in it.
  HttpResponse r;
  const auto fail = [&r](const HttpResponse& why) {
    r.failure = why.failure;
    r.systemError = why.systemError;
  };
  const auto step = [&](auto start) {
    const int ms = left();
    WinHttpSetTimeouts(request.get(), ms, ms, ms, ms);
    DWORD receiveMs = static_cast<DWORD>(ms);
    WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receiveMs,
                     sizeof receiveMs);
    exchange->error = 0;
    const HANDLE events[] = {exchange->done.get(), stop};
    if (!start()) {
      fail(failure());
    } else if (WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(left())) !=
               WAIT_OBJECT_0) {
      fail(failure(FailureKind::NoAnswerInTime, 0));
    } else if (exchange->error != 0) {
      fail(failure(exchange->error, exchange->certificateFlags));
    } else {
      return true;
    }
    return false;
  };

  const std::wstring wideFields = widen(fields);
  const bool answered =
      step([&] {
        return WinHttpSendRequest(
            request.get(), wideFields.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : wideFields.c_str(),
            DWORD(wideFields.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, context);
      }) &&
      step([&] { return WinHttpReceiveResponse(request.get(), nullptr); });
  if (!answered) return r;

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return failure();
  }
  r.headers = rawHeaders(request.get());
  // A redirect that arrives here is one WinHTTP did not follow: to plain http.
  const FailureKind statusFailure = status >= 200 && status <= 299   ? FailureKind::None
                                    : status >= 300 && status <= 399 ? FailureKind::RedirectRefused
                                                                     : FailureKind::HttpStatus;
  // The body is read for a failed status too, as far as its first line needs: the service
  // says there why.
  constexpr std::size_t kFailureBodyBytes = 1024;
  for (;;) {
    const auto read = [&] {
      return WinHttpReadData(request.get(), exchange->buffer, sizeof exchange->buffer, nullptr);
    };
    if (!step(read)) break;
    if (exchange->got == 0) break;
    if (r.body.size() + exchange->got > kMaxBodyBytes)
      return failure(FailureKind::AnswerTooLarge, 0);
    r.body.append(exchange->buffer, exchange->got);
    if (statusFailure != FailureKind::None && r.body.size() >= kFailureBodyBytes) break;
  }
  r.status = static_cast<int>(status);
  if (statusFailure != FailureKind::None) {
    r.failure = statusFailure;
    r.systemError = 0;
    return r;
  }
  if (r.failure != FailureKind::None) return r;
  r.ok = true;
  return r;
}

}  // namespace

// A request between the client and the thread that fetches it.
struct WinHttpClient::Request {
  std::string url, fields;
  LPARAM number;                                                         // the client's count
  HWND answerTo;                                                         // its message window
  UniqueKernelHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // set: drop it
  HttpResponse response;  // written by the thread before it posts the message
};

namespace {

constexpr wchar_t kAnswerWindowClass[] = L"StormtallyAnswers";
constexpr UINT kAnswerMessage = WM_APP + 1;  // lParam: the request's number

unsigned __stdcall fetchBeside(void* parameter) {
  const std::unique_ptr<std::shared_ptr<WinHttpClient::Request>> held(
      static_cast<std::shared_ptr<WinHttpClient::Request>*>(parameter));
  WinHttpClient::Request& request = **held;
  request.response = fetch(request.url, request.fields, request.stop.get());
  // The message is the hand-over: what the thread wrote is seen by the window's thread.
  if (WaitForSingleObject(request.stop.get(), 0) != WAIT_OBJECT_0) {
    PostMessageW(request.answerTo, kAnswerMessage, 0, request.number);
  }
  return 0;
}

}  // namespace

WinHttpClient::WinHttpClient(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = answerWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kAnswerWindowClass;
  RegisterClassExW(&wc);
  window_.reset(CreateWindowExW(0, kAnswerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                instance, nullptr));
  SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

WinHttpClient::~WinHttpClient() {
  cancel();
}

void WinHttpClient::start(const std::string& url, const std::string& fields, Answered answered) {
  cancel();
  auto request = std::make_shared<Request>();
  request->url = url;
  request->fields = fields;
  request->number = ++started_;
  request->answerTo = window_.get();
  answered_ = std::move(answered);
  // Without a thread or a window there is no answer to wait for: the failure comes as an
  // answer would, through the message.
  auto* forThread = new std::shared_ptr<Request>(request);
  const auto thread =
      request->stop && window_ ? _beginthreadex(nullptr, 0, fetchBeside, forThread, 0, nullptr) : 0;
  if (thread == 0) {
    delete forThread;
    request->response = failure(FailureKind::BrokenAnswer, GetLastError());
    PostMessageW(window_.get(), kAnswerMessage, 0, request->number);
  } else {
    CloseHandle(reinterpret_cast<HANDLE>(thread));
  }
  current_ = std::move(request);
}

void WinHttpClient::cancel() {
  if (current_ && current_->stop) SetEvent(current_->stop.get());
  current_.reset();
  answered_ = nullptr;
}

LRESULT CALLBACK WinHttpClient::answerWindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  auto* self = reinterpret_cast<WinHttpClient*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message != kAnswerMessage || !self) return DefWindowProcW(window, message, wParam, lParam);
  // An answer of a request that was ended meanwhile lands nowhere.
  if (!self->current_ || self->current_->number != lParam) return 0;
  const std::shared_ptr<Request> request = std::move(self->current_);
  const Answered answered = std::exchange(self->answered_, nullptr);
  if (answered) answered(std::move(request->response));
  return 0;
}

}  // namespace stormtally
