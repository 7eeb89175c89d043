// The network front: HTTP/1.1 over TLS (OpenSSL) and, for use behind a proxy, plain HTTP.
//
// Each network thread runs an epoll loop that owns its connections from accept to close and
// answers every request on the thread that read it, so no request waits for another thread to
// wake; an idle keep-alive client or a slow one costs a socket, not a thread. The listening
// sockets are watched by every loop; a connection goes to another loop only when that one has
// none or two fewer. Requests are read with Beast's HTTP parser. Limits:
//   - request line and header fields together at most `header_limit` bytes (else 431);
//   - request target at most `target_limit` bytes (else 414); body at most `body_limit` (413);
//   - a connection may sit idle between requests for `idle_timeout`; once a request has begun it
//     must arrive whole within `request_timeout` (else 408 and close), however slowly it trickles;
//   - at most `max_connections` open at once; more are closed at accept.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "strike_service.h"

namespace strikecount {

struct HttpLimits {
  std::size_t header_limit = 8 * 1024;
  std::size_t target_limit = 2048;
  std::size_t body_limit = 1024;
  std::chrono::milliseconds idle_timeout{30'000};
  std::chrono::milliseconds request_timeout{10'000};
  std::chrono::milliseconds write_timeout{10'000};
  std::chrono::milliseconds handshake_timeout{10'000};
  std::size_t max_connections = 1024;
};

struct HttpHooks {
  // Answers a complete request, on the network thread that read it; may be called from several
  // threads at once. `detail`: the request had the field stormtally::wire::kDetailField: 1.
  std::function<HttpReply(std::string_view method, std::string_view target, bool detail)> handle;
  // Every answer sent, with the time from the complete request to the answer being ready.
  std::function<void(int status, double seconds)> answered;
  // +1 when a connection opens, -1 when it closes.
  std::function<void(int delta)> connections;
};

class HttpFront {
 public:
  HttpFront(HttpHooks hooks, HttpLimits limits);
  ~HttpFront();
  HttpFront(const HttpFront&) = delete;
  HttpFront& operator=(const HttpFront&) = delete;

  // Both bind and listen at once and return the port bound (useful with port 0). They throw
  // std::runtime_error with a readable message (address in use, unreadable certificate, …).
  std::uint16_t ListenPlain(const std::string& address, std::uint16_t port);
  std::uint16_t ListenTls(const std::string& address, std::uint16_t port,
                          const std::string& cert_chain_file, const std::string& key_file);

  // Loads a new certificate chain and key for connections accepted from now on; open ones keep
  // theirs. Returns "" or, when the pair cannot be used, why (the old pair stays in use).
  std::string ReloadTls(const std::string& cert_chain_file, const std::string& key_file);

  void Start(int threads);
  // Refuses new connections, answers the requests already begun (each with Connection: close)
  // for at most `limit`, then stops.
  void Drain(std::chrono::milliseconds limit);
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace strikecount
