#include "http_front.h"

#include <openssl/ssl.h>

#include <atomic>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "log.h"

namespace strikecount {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Shared {
  HttpHooks hooks;
  HttpLimits limits;
  std::atomic<std::size_t> connections{0};
  // Requests begun (first bytes read) and not yet answered; a drain waits for them.
  std::atomic<int> in_flight{0};
  std::atomic<bool> draining{false};
};

std::shared_ptr<ssl::context> MakeTlsContext(const std::string& cert_chain_file,
                                             const std::string& key_file) {
  auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                       ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 |
                       ssl::context::single_dh_use);
  SSL_CTX_set_min_proto_version(context->native_handle(), TLS1_2_VERSION);
  beast::error_code ec;
  context->use_certificate_chain_file(cert_chain_file, ec);
  if (ec)
    throw std::runtime_error("cannot load certificate " + cert_chain_file + ": " + ec.message());
  context->use_private_key_file(key_file, ssl::context::pem, ec);
  if (ec) throw std::runtime_error("cannot load private key " + key_file + ": " + ec.message());
  if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
    throw std::runtime_error("private key " + key_file + " does not match " + cert_chain_file);
  }
  return context;
}

// One client connection; Derived supplies stream(), Begin() and Close().
template <class Derived>
class Session {
 public:
  explicit Session(std::shared_ptr<Shared> shared)
      : shared_(std::move(shared)),
        buffer_(shared_->limits.header_limit + shared_->limits.body_limit + 4096) {
    shared_->connections.fetch_add(1);
    if (shared_->hooks.connections) shared_->hooks.connections(+1);
  }
  ~Session() {
    Answered();
    shared_->connections.fetch_sub(1);
    if (shared_->hooks.connections) shared_->hooks.connections(-1);
  }

 protected:
  Derived& self() { return static_cast<Derived&>(*this); }
  beast::tcp_stream& lowest() { return beast::get_lowest_layer(self().stream()); }

  // Waits (up to the idle time) for the first bytes of the next request.
  void ReadRequest() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(shared_->limits.header_limit));
    parser_->body_limit(shared_->limits.body_limit);
    if (buffer_.size() > 0) return ReadRest();  // pipelined
    lowest().expires_after(shared_->limits.idle_timeout);
    self().stream().async_read_some(
        buffer_.prepare(4096),
        beast::bind_front_handler(&Session::OnFirstBytes, self().shared_from_this()));
  }

  void OnFirstBytes(beast::error_code ec, std::size_t n) {
    if (ec) return self().Close();
    buffer_.commit(n);
    ReadRest();
  }

  // The whole request must now arrive within the request time, however it trickles in.
  void ReadRest() {
    if (!busy_) {
      busy_ = true;
      shared_->in_flight.fetch_add(1);
    }
    lowest().expires_after(shared_->limits.request_timeout);
    http::async_read(self().stream(), buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnRead, self().shared_from_this()));
  }

  void OnRead(beast::error_code ec, std::size_t) {
    if (ec == http::error::end_of_stream) return self().Close();
    if (ec == beast::error::timeout) return Refuse(408, "request not received in time\n");
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
      return Refuse(431, "request line or header fields too large\n");
    }
    if (ec == http::error::body_limit) return Refuse(413, "request body too large\n");
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category()) {
      return Refuse(400, "malformed HTTP request\n");
    }
    if (ec) return self().Close();

    const auto& req = parser_->get();
    const auto started = Clock::now();
    HttpReply reply;
    if (req.target().size() > shared_->limits.target_limit) {
      reply = {414, "text/plain", "request target too long\n"};
    } else {
      try {
        reply = shared_->hooks.handle(
            std::string_view(req.method_string().data(), req.method_string().size()),
            std::string_view(req.target().data(), req.target().size()));
      } catch (const std::exception& e) {
        LogError(std::string("request handler failed: ") + e.what());
        reply = {500, "text/plain", "internal error\n"};
      }
    }
    Send(reply, req.version(), req.keep_alive(), req.method() == http::verb::head, started);
  }

  // Answers a request that cannot be read, then closes.
  void Refuse(int status, const char* reason) {
    Send({status, "text/plain", reason}, 11, false, false, Clock::now());
  }

  void Send(const HttpReply& reply, unsigned version, bool keep_alive, bool head,
            Clock::time_point started) {
    response_ = {};
    response_.version(version);
    response_.result(static_cast<unsigned>(reply.status));
    response_.set(http::field::server, "strikecountd");
    response_.set(http::field::content_type, reply.content_type);
    response_.set(http::field::cache_control, "no-store");
    if (reply.status == 405) response_.set(http::field::allow, "GET, HEAD");
    if (head) {
      response_.content_length(reply.body.size());
    } else {
      response_.body() = reply.body;
      response_.prepare_payload();
    }
    response_.keep_alive(keep_alive && !shared_->draining.load());
    if (shared_->hooks.answered) {
      shared_->hooks.answered(reply.status,
                              std::chrono::duration<double>(Clock::now() - started).count());
    }
    lowest().expires_after(shared_->limits.write_timeout);
    http::async_write(self().stream(), response_,
                      beast::bind_front_handler(&Session::OnWrite, self().shared_from_this()));
  }

  void Answered() {
    if (busy_) shared_->in_flight.fetch_sub(1);
    busy_ = false;
  }

  void OnWrite(beast::error_code ec, std::size_t) {
    Answered();
    if (ec || !response_.keep_alive()) return self().Close();
    ReadRequest();
  }

  std::shared_ptr<Shared> shared_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  http::response<http::string_body> response_;
  bool busy_ = false;
};

class PlainSession : public Session<PlainSession>,
                     public std::enable_shared_from_this<PlainSession> {
 public:
  PlainSession(tcp::socket&& socket, std::shared_ptr<Shared> shared)
      : Session(std::move(shared)), stream_(std::move(socket)) {}
  beast::tcp_stream& stream() { return stream_; }
  void Begin() {
    net::dispatch(stream_.get_executor(),
                  beast::bind_front_handler(&PlainSession::ReadRequest, shared_from_this()));
  }
  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

 private:
  friend class Session<PlainSession>;
  beast::tcp_stream stream_;
};

class TlsSession : public Session<TlsSession>, public std::enable_shared_from_this<TlsSession> {
 public:
  // The session keeps its context alive: a reload may replace the listener's meanwhile.
  TlsSession(tcp::socket&& socket, std::shared_ptr<ssl::context> context,
             std::shared_ptr<Shared> shared)
      : Session(std::move(shared)),
        context_(std::move(context)),
        stream_(std::move(socket), *context_) {}
  beast::ssl_stream<beast::tcp_stream>& stream() { return stream_; }
  void Begin() {
    net::dispatch(stream_.get_executor(),
                  beast::bind_front_handler(&TlsSession::Handshake, shared_from_this()));
  }
  void Close() {
    lowest().expires_after(std::chrono::seconds(5));
    stream_.async_shutdown([self = shared_from_this()](beast::error_code) {});
  }

 private:
  friend class Session<TlsSession>;
  void Handshake() {
    lowest().expires_after(shared_->limits.handshake_timeout);
    stream_.async_handshake(ssl::stream_base::server,
                            [self = shared_from_this()](beast::error_code ec) {
                              if (!ec) self->ReadRequest();
                            });
  }
  std::shared_ptr<ssl::context> context_;
  beast::ssl_stream<beast::tcp_stream> stream_;
};

class Listener : public std::enable_shared_from_this<Listener> {
 public:
  Listener(net::io_context& io, std::shared_ptr<Shared> shared, std::shared_ptr<ssl::context> tls)
      : io_(io),
        acceptor_(net::make_strand(io)),
        retry_(io),
        shared_(std::move(shared)),
        tls_(std::move(tls)) {}

  std::uint16_t Open(const std::string& address, std::uint16_t port) {
    beast::error_code ec;
    const auto ip = net::ip::make_address(address, ec);
    if (ec) throw std::runtime_error("bad bind address '" + address + "'");
    const tcp::endpoint endpoint(ip, port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
      throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                               ec.message());
    }
    return acceptor_.local_endpoint().port();
  }

  bool tls() const { return tls_ != nullptr; }
  void SetTls(std::shared_ptr<ssl::context> tls) {
    std::lock_guard<std::mutex> guard(tls_mutex_);
    tls_ = std::move(tls);
  }
  // Closes the listening socket, so that new connections are refused.
  void Close() {
    net::dispatch(acceptor_.get_executor(), [self = shared_from_this()] {
      beast::error_code ignored;
      self->acceptor_.close(ignored);
    });
  }

  void Accept() {
    acceptor_.async_accept(net::make_strand(io_),
                           beast::bind_front_handler(&Listener::OnAccept, shared_from_this()));
  }

 private:
  void OnAccept(beast::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors and the like: wait a moment rather than spin or give up.
      LogWarning("accept failed: " + ec.message());
      retry_.expires_after(std::chrono::milliseconds(100));
      retry_.async_wait([self = shared_from_this()](beast::error_code) { self->Accept(); });
      return;
    }
    if (shared_->connections.load() >= shared_->limits.max_connections) {
      beast::error_code ignored;
      socket.close(ignored);
    } else {
      socket.set_option(tcp::no_delay(true), ec);
      std::unique_lock<std::mutex> guard(tls_mutex_);
      auto tls = tls_;
      guard.unlock();
      if (tls) {
        std::make_shared<TlsSession>(std::move(socket), std::move(tls), shared_)->Begin();
      } else {
        std::make_shared<PlainSession>(std::move(socket), shared_)->Begin();
      }
    }
    Accept();
  }

  net::io_context& io_;
  tcp::acceptor acceptor_;
  net::steady_timer retry_;
  std::shared_ptr<Shared> shared_;
  std::mutex tls_mutex_;
  std::shared_ptr<ssl::context> tls_;
};

}  // namespace

struct HttpFront::Impl {
  net::io_context io;
  std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
  std::vector<std::shared_ptr<Listener>> listeners;
  std::vector<std::thread> threads;
};

HttpFront::HttpFront(HttpHooks hooks, HttpLimits limits) : impl_(std::make_unique<Impl>()) {
  impl_->shared->hooks = std::move(hooks);
  impl_->shared->limits = limits;
}

HttpFront::~HttpFront() {
  Stop();
}

std::uint16_t HttpFront::ListenPlain(const std::string& address, std::uint16_t port) {
  auto listener = std::make_shared<Listener>(impl_->io, impl_->shared, nullptr);
  const std::uint16_t bound = listener->Open(address, port);
  listener->Accept();
  impl_->listeners.push_back(listener);
  return bound;
}

std::uint16_t HttpFront::ListenTls(const std::string& address, std::uint16_t port,
                                   const std::string& cert_chain_file,
                                   const std::string& key_file) {
  auto listener = std::make_shared<Listener>(impl_->io, impl_->shared,
                                             MakeTlsContext(cert_chain_file, key_file));
  const std::uint16_t bound = listener->Open(address, port);
  listener->Accept();
  impl_->listeners.push_back(listener);
  return bound;
}

void HttpFront::Start(int threads) {
  impl_->work.emplace(impl_->io.get_executor());
  for (int i = 0; i < std::max(1, threads); ++i) {
    impl_->threads.emplace_back([this] {
      for (;;) {
        try {
          impl_->io.run();
          return;
        } catch (const std::exception& e) {
          LogError(std::string("network thread caught: ") + e.what());
        }
      }
    });
  }
}

std::string HttpFront::ReloadTls(const std::string& cert_chain_file, const std::string& key_file) {
  std::shared_ptr<ssl::context> context;
  try {
    context = MakeTlsContext(cert_chain_file, key_file);
  } catch (const std::exception& e) {
    return e.what();
  }
  for (auto& listener : impl_->listeners) {
    if (listener->tls()) listener->SetTls(context);
  }
  return "";
}

void HttpFront::Drain(std::chrono::milliseconds limit) {
  impl_->shared->draining = true;
  for (auto& listener : impl_->listeners) listener->Close();
  const auto deadline = Clock::now() + limit;
  while (impl_->shared->in_flight.load() > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
}

void HttpFront::Stop() {
  if (!impl_) return;
  impl_->work.reset();
  impl_->io.stop();
  for (auto& t : impl_->threads) {
    if (t.joinable()) t.join();
  }
  impl_->threads.clear();
}

}  // namespace strikecount
