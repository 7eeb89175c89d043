// One HTTPS GET at a time, answered later. Implemented over WinHTTP on Windows and faked in the
// unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace stormtally {

// Why a request gave no count. The adapter decides every kind but the last, which the core
// decides when a good answer's body is not a number.
enum class FailureKind {
  None,                  // a 2xx answer whose whole body arrived
  NoAddress,             // nothing to ask: no location for the current mode
  NameNotResolved,       // the service's host name did not resolve
  CannotConnect,         // no connection to the service
  CertificateUntrusted,  // its certificate is from an authority the system does not trust
  CertificateExpired,    // its certificate is expired or not yet valid
  CertificateOtherHost,  // its certificate names another host
  NoSecureChannel,       // the TLS handshake failed without saying why: under Wine an
                         // untrusted certificate, on Windows also no TLS version in common
  NoAnswerInTime,        // nothing complete within kRequestTimeoutMs
  HttpStatus,            // an answer with a status outside 2xx and 3xx
  AnswerTooLarge,        // a body over kMaxBodyBytes
  RedirectRefused,       // a redirect, which the widget does not follow to plain http
  BrokenAnswer,          // the connection ended or carried something that is not HTTP
  NotANumber,            // a 2xx answer whose body is no count
};

struct HttpResponse {
  bool ok = false;   // a 2xx answer whose whole body arrived within the bounds below
  int status = 0;    // HTTP status, 0 when no answer arrived
  std::string body;  // the body as sent; for a failed status, as much of it as arrived
  FailureKind failure = FailureKind::None;
  std::uint32_t systemError = 0;  // the platform's error number behind the failure, or 0
  std::string headers;  // the answer's header block, "Name: value" lines, when one arrived
};

// Bounds every request keeps, whatever the platform.
constexpr int kRequestTimeoutMs = 15000;  // resolve, connect, TLS and response, in all
constexpr std::size_t kMaxBodyBytes = 64 * 1024;

class HttpClient {
 public:
  using Answered = std::function<void(HttpResponse)>;

  virtual ~HttpClient() = default;
  // Starts a GET of an absolute https address and returns at once. The answer comes later to
  // `answered`, on the thread that called start, between its other events; never from within
  // start. Starting ends the request still out: its answer never comes. Certificates are
  // always verified, a redirect from https to http is refused, and the system's proxy
  // settings apply. `fields`: request header fields to send beside the GET, "Name: value"
  // lines each ending in CRLF, or "".
  virtual void start(const std::string& url, const std::string& fields, Answered answered) = 0;
  // Ends the request still out, if any: its transfer stops and its answer never comes.
  virtual void cancel() = 0;
};

}  // namespace stormtally
