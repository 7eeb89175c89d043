#include "http_front.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio/buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/status.hpp>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "log.h"
#include "protocol/area_detail.h"

namespace strikecount {
namespace {

namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;
using boost::beast::error_code;

// How long a refused connection is read and discarded after the refusal, so that what the client
// still sends does not turn the close into a reset that could destroy the answer in flight.
constexpr auto kLinger = std::chrono::milliseconds(1000);
// How often each loop looks for connections past their deadline.
constexpr auto kSweep = std::chrono::milliseconds(50);

struct Shared {
  HttpHooks hooks;
  HttpLimits limits;
  std::atomic<std::size_t> connections{0};
  // Requests begun (first bytes read) and not yet answered; a drain waits for them.
  std::atomic<int> in_flight{0};
  std::atomic<bool> draining{false};
};

std::string OpenSslError() {
  const unsigned long e = ERR_get_error();
  ERR_clear_error();
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return e ? text : "unknown error";
}

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
using SslCtx = std::unique_ptr<SSL_CTX, SslCtxFree>;

// TLS 1.2 and 1.3 (1.3 when the client has it), resumption by session tickets and by a session
// cache for clients without tickets, one ticket per handshake (a widget resumes one connection
// at a time). The TLS 1.2 ciphers stay OpenSSL's defaults, which older Windows still meets.
SslCtx MakeTlsContext(const std::string& cert_chain_file, const std::string& key_file) {
  SslCtx ctx(SSL_CTX_new(TLS_server_method()));
  if (!ctx) throw std::runtime_error("cannot set up TLS: " + OpenSslError());
  SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(ctx.get(), SSL_OP_ALL | SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                     SSL_OP_CIPHER_SERVER_PREFERENCE);
  // AES-128-GCM first: its key schedule hashes with SHA-256, which processors accelerate, where
  // AES-256-GCM's uses SHA-384; that is a good part of a resumed handshake's cost.
  SSL_CTX_set_ciphersuites(
      ctx.get(), "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
  SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                  SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_read_ahead(ctx.get(), 1);
  SSL_CTX_set_session_cache_mode(ctx.get(), SSL_SESS_CACHE_SERVER);
  static const unsigned char kContext[] = "strikecountd";
  SSL_CTX_set_session_id_context(ctx.get(), kContext, sizeof kContext - 1);
  SSL_CTX_set_num_tickets(ctx.get(), 1);
  if (SSL_CTX_use_certificate_chain_file(ctx.get(), cert_chain_file.c_str()) != 1)
    throw std::runtime_error("cannot load certificate " + cert_chain_file + ": " + OpenSslError());
  if (SSL_CTX_use_PrivateKey_file(ctx.get(), key_file.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("cannot load private key " + key_file + ": " + OpenSslError());
  if (SSL_CTX_check_private_key(ctx.get()) != 1) {
    ERR_clear_error();
    throw std::runtime_error("private key " + key_file + " does not match " + cert_chain_file);
  }
  return ctx;
}

// Reads a request's method, target, version, whether the connection stays open and whether it
// asks for the extras of a count, and skips its other header fields and its body: the answers
// depend on nothing else, so nothing else is kept.
class RequestParser : public http::basic_parser<true> {
 public:
  RequestParser(std::string& target, const HttpLimits& limits) : target_(target) {
    header_limit(static_cast<std::uint32_t>(limits.header_limit));
    body_limit(limits.body_limit);
    eager(true);
  }
  http::verb verb = http::verb::unknown;
  std::string method;
  int version = 11;
  bool detail = false;

 private:
  void on_request_impl(http::verb v, boost::beast::string_view method_text,
                       boost::beast::string_view target, int ver, error_code&) override {
    verb = v;
    method.assign(method_text.data(), method_text.size());
    target_.assign(target.data(), target.size());
    version = ver;
  }
  void on_response_impl(int, boost::beast::string_view, int, error_code&) override {}
  void on_field_impl(http::field field, boost::beast::string_view name,
                     boost::beast::string_view value, error_code&) override {
    // Beast knows the field by no name of its own; most requests end at the size.
    constexpr std::string_view kName = stormtally::wire::kDetailField;
    if (field != http::field::unknown || name.size() != kName.size()) return;
    if (boost::beast::iequals(name, boost::beast::string_view(kName.data(), kName.size())))
      detail = value == "1";
  }
  void on_header_impl(error_code&) override {}
  void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) override {}
  std::size_t on_body_impl(boost::beast::string_view body, error_code&) override {
    return body.size();
  }
  void on_chunk_header_impl(std::uint64_t, boost::beast::string_view, error_code&) override {}
  std::size_t on_chunk_body_impl(std::uint64_t, boost::beast::string_view body,
                                 error_code&) override {
    return body.size();
  }
  void on_finish_impl(error_code&) override {}

  std::string& target_;
};

class Loop;

// What an epoll event points at.
struct Watched {
  enum class Kind { kConnection, kListener, kWake } kind;
};

struct Listener : Watched {
  Listener() : Watched{Kind::kListener} {}
  int fd = -1;
  bool tls = false;
};

// One client connection, owned by one loop from accept to close. Drive() moves it along as far
// as the socket allows: handshake, read a request, answer it, read the next, close.
class Connection : public Watched {
 public:
  enum class State { kHandshake, kIdle, kReading, kWriting, kLingering, kClosed };

  Connection(Loop& loop, int fd, SSL* ssl);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Drive();
  // Acts on a deadline that has passed: 408 for a request still arriving, else close.
  void Expire();
  State state() const { return state_; }
  Clock::time_point deadline() const { return deadline_; }
  int fd() const { return fd_; }
  std::size_t slot = 0;  // place in the loop's list

 private:
  enum class Io { kDone, kWait, kClosed };
  Io Read();
  Io Write();
  Io Linger();
  // Parses what has arrived; true when that moved the connection to another state.
  bool Parse();
  void Answer(const HttpReply& reply, int version, bool keep_alive, bool head,
              Clock::time_point started);
  void Refuse(int status, const char* reason);
  void FinishAnswer();
  void Close();
  void Idle();
  void Begin();
  void EndRequest();
  void Release();

  Loop& loop_;
  Shared& shared_;
  int fd_;
  SSL* ssl_;
  State state_;
  Clock::time_point deadline_;
  std::unique_ptr<char[]> in_;
  std::size_t in_begin_ = 0, in_end_ = 0, in_size_;
  std::string out_;
  std::size_t out_sent_ = 0;
  bool close_after_ = false, linger_after_ = false;
  std::string target_;
  std::optional<RequestParser> parser_;
  bool busy_ = false, counted_ = true;
};

// One network thread: an epoll loop over the connections it owns and the listening sockets,
// which every loop watches; a connection accepted stays with the loop that accepted it unless
// another has far fewer.
class Loop {
 public:
  Loop(Shared& shared, std::vector<Loop*>& all, std::function<SSL*()> new_ssl)
      : shared(shared), all_(all), new_ssl_(std::move(new_ssl)) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_.fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_.fd < 0) throw std::runtime_error("cannot set up a network loop");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = &wake_;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_.fd, &ev);
  }
  ~Loop() {
    for (Connection* c : connections_) delete c;
    std::lock_guard<std::mutex> guard(mutex_);
    for (auto& [fd, ssl] : incoming_) {
      if (ssl) SSL_free(ssl);
      close(fd);
      shared.connections.fetch_sub(1);
    }
    close(wake_.fd);
    close(epoll_);
  }
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  void Watch(Listener& listener) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLEXCLUSIVE;
    ev.data.ptr = &listener;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, listener.fd, &ev);
  }
  void Unwatch(Listener& listener) { epoll_ctl(epoll_, EPOLL_CTL_DEL, listener.fd, nullptr); }

  // Hands a new connection to this loop from any thread.
  void Adopt(int fd, SSL* ssl) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      incoming_.emplace_back(fd, ssl);
    }
    Wake();
  }
  void Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = write(wake_.fd, &one, sizeof one);
  }
  void Stop() {
    stop_ = true;
    Wake();
  }

  void Run() {
    epoll_event events[64];
    auto next_sweep = Clock::now() + kSweep;
    while (!stop_.load(std::memory_order_relaxed)) {
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next_sweep - now);
      const int n =
          epoll_wait(epoll_, events, 64, static_cast<int>(std::max<long>(1, wait.count() + 1)));
      now = Clock::now();
      for (int i = 0; i < n; ++i) {
        auto* watched = static_cast<Watched*>(events[i].data.ptr);
        switch (watched->kind) {
          case Watched::Kind::kConnection:
            Drive(static_cast<Connection*>(watched));
            break;
          case Watched::Kind::kListener:
            Accept(*static_cast<Listener*>(watched));
            break;
          case Watched::Kind::kWake:
            TakeIncoming();
            break;
        }
      }
      if (now >= next_sweep) {
        Sweep();
        next_sweep = now + kSweep;
      }
    }
  }

  Shared& shared;
  Clock::time_point now = Clock::now();
  std::atomic<int> open{0};  // connections this loop owns

 private:
  void Drive(Connection* c) {
    try {
      c->Drive();
    } catch (const std::exception& e) {
      LogError(std::string("connection failed: ") + e.what());
      Remove(c);
      return;
    }
    if (c->state() == Connection::State::kClosed) Remove(c);
  }

  void Accept(Listener& listener) {
    for (int i = 0; i < 64; ++i) {
      const int fd = accept4(listener.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED) return;
        if (errno == EINVAL) return Unwatch(listener);  // shut down for a drain
        // Out of descriptors and the like: leave the queue alone for a moment rather than spin.
        LogWarning(std::string("accept failed: ") + std::strerror(errno));
        Unwatch(listener);
        paused_.push_back({&listener, now + std::chrono::milliseconds(100)});
        return;
      }
      if (shared.connections.fetch_add(1) >= shared.limits.max_connections) {
        shared.connections.fetch_sub(1);
        close(fd);
        continue;
      }
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      SSL* ssl = nullptr;
      if (listener.tls && !(ssl = new_ssl_())) {
        LogError("cannot start TLS: " + OpenSslError());
        close(fd);
        shared.connections.fetch_sub(1);
        continue;
      }
      // Keep it unless another loop has none, or two fewer: a hand-off costs a wake-up, and an
      // uneven spread of short connections evens out by itself, but two long ones must not
      // share a core while the other idles.
      Loop* target = this;
      for (Loop* loop : all_) {
        if (loop->open.load(std::memory_order_relaxed) <
            target->open.load(std::memory_order_relaxed))
          target = loop;
      }
      const int least = target->open.load(std::memory_order_relaxed);
      if (least > 0 && open.load(std::memory_order_relaxed) < least + 2) target = this;
      target->open.fetch_add(1, std::memory_order_relaxed);
      if (target == this) {
        Add(fd, ssl);
      } else {
        target->Adopt(fd, ssl);
      }
    }
  }

  void TakeIncoming() {
    std::uint64_t ignored;
    [[maybe_unused]] const auto n = read(wake_.fd, &ignored, sizeof ignored);
    std::vector<std::pair<int, SSL*>> taken;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      taken.swap(incoming_);
    }
    for (auto& [fd, ssl] : taken) Add(fd, ssl);
  }

  void Add(int fd, SSL* ssl) {
    auto* c = new Connection(*this, fd, ssl);
    c->slot = connections_.size();
    connections_.push_back(c);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
    ev.data.ptr = c;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
    Drive(c);
  }

  void Remove(Connection* c) {
    connections_.back()->slot = c->slot;
    connections_[c->slot] = connections_.back();
    connections_.pop_back();
    delete c;
    open.fetch_sub(1, std::memory_order_relaxed);
  }

  void Sweep() {
    for (std::size_t i = connections_.size(); i-- > 0;) {
      Connection* c = connections_[i];
      if (c->deadline() > now) continue;
      c->Expire();
      Drive(c);  // sends the 408, or finds the connection closed
    }
    for (auto it = paused_.begin(); it != paused_.end();) {
      if (it->second > now) {
        ++it;
        continue;
      }
      if (!shared.draining.load()) Watch(*it->first);
      it = paused_.erase(it);
    }
  }

  std::vector<Loop*>& all_;
  std::function<SSL*()> new_ssl_;
  int epoll_ = -1;
  struct Wake : Watched {
    Wake() : Watched{Kind::kWake} {}
    int fd = -1;
  } wake_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::pair<int, SSL*>> incoming_;
  std::vector<Connection*> connections_;
  std::vector<std::pair<Listener*, Clock::time_point>> paused_;
};

Connection::Connection(Loop& loop, int fd, SSL* ssl)
    : Watched{Kind::kConnection},
      loop_(loop),
      shared_(loop.shared),
      fd_(fd),
      ssl_(ssl),
      state_(ssl ? State::kHandshake : State::kIdle),
      in_size_(shared_.limits.header_limit + shared_.limits.body_limit + 4096) {
  in_.reset(new char[in_size_]);
  if (ssl_) {
    SSL_set_fd(ssl_, fd_);
    SSL_set_accept_state(ssl_);
    deadline_ = loop_.now + shared_.limits.handshake_timeout;
  } else {
    deadline_ = loop_.now + shared_.limits.idle_timeout;
  }
  if (shared_.hooks.connections) shared_.hooks.connections(+1);
}

Connection::~Connection() {
  EndRequest();
  Release();
  if (ssl_) SSL_free(ssl_);
  if (fd_ >= 0) close(fd_);
}

// The connection no longer counts as open (it is closed, or only read to its end).
void Connection::Release() {
  if (!counted_) return;
  counted_ = false;
  shared_.connections.fetch_sub(1);
  if (shared_.hooks.connections) shared_.hooks.connections(-1);
}

void Connection::Begin() {
  if (busy_) return;
  busy_ = true;
  shared_.in_flight.fetch_add(1);
  state_ = State::kReading;
  deadline_ = loop_.now + shared_.limits.request_timeout;
}

void Connection::EndRequest() {
  if (!busy_) return;
  busy_ = false;
  shared_.in_flight.fetch_sub(1);
}

void Connection::Idle() {
  state_ = State::kIdle;
  deadline_ = loop_.now + shared_.limits.idle_timeout;
  if (in_begin_ < in_end_) Begin();  // a request already under way (pipelined)
}

void Connection::Drive() {
  for (;;) {
    switch (state_) {
      case State::kHandshake: {
        const int r = SSL_do_handshake(ssl_);
        if (r == 1) {
          Idle();
          break;
        }
        const int e = SSL_get_error(ssl_, r);
        ERR_clear_error();
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return;
        return Close();
      }
      case State::kIdle:
      case State::kReading: {
        if (in_begin_ < in_end_ && Parse()) break;
        if (in_end_ - in_begin_ == in_size_) {  // the parser still wants more than fits
          Refuse(431, "request line or header fields too large\n");
          break;
        }
        const Io io = Read();
        if (io == Io::kWait) return;
        if (io == Io::kClosed) return Close();
        Begin();
        break;
      }
      case State::kWriting: {
        const Io io = Write();
        if (io == Io::kWait) return;
        if (io == Io::kClosed) return Close();
        FinishAnswer();
        break;
      }
      case State::kLingering:
        if (Linger() == Io::kWait) return;
        return Close();
      case State::kClosed:
        return;
    }
  }
}

Connection::Io Connection::Read() {
  if (in_begin_ > 0) {  // keep what is unparsed at the front
    std::memmove(in_.get(), in_.get() + in_begin_, in_end_ - in_begin_);
    in_end_ -= in_begin_;
    in_begin_ = 0;
  }
  const std::size_t room = in_size_ - in_end_;
  if (ssl_) {
    const int r = SSL_read(ssl_, in_.get() + in_end_,
                           static_cast<int>(std::min<std::size_t>(room, INT32_MAX)));
    if (r > 0) {
      in_end_ += static_cast<std::size_t>(r);
      return Io::kDone;
    }
    const int e = SSL_get_error(ssl_, r);
    ERR_clear_error();
    return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? Io::kWait : Io::kClosed;
  }
  const ssize_t r = recv(fd_, in_.get() + in_end_, room, 0);
  if (r > 0) {
    in_end_ += static_cast<std::size_t>(r);
    return Io::kDone;
  }
  if (r < 0 && (errno == EAGAIN || errno == EINTR)) return Io::kWait;
  return Io::kClosed;
}

Connection::Io Connection::Write() {
  while (out_sent_ < out_.size()) {
    const std::size_t left = out_.size() - out_sent_;
    if (ssl_) {
      const int r = SSL_write(ssl_, out_.data() + out_sent_,
                              static_cast<int>(std::min<std::size_t>(left, INT32_MAX)));
      if (r <= 0) {
        const int e = SSL_get_error(ssl_, r);
        ERR_clear_error();
        return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? Io::kWait : Io::kClosed;
      }
      out_sent_ += static_cast<std::size_t>(r);
    } else {
      const ssize_t r = send(fd_, out_.data() + out_sent_, left, MSG_NOSIGNAL);
      if (r < 0) return errno == EAGAIN || errno == EINTR ? Io::kWait : Io::kClosed;
      out_sent_ += static_cast<std::size_t>(r);
    }
  }
  return Io::kDone;
}

Connection::Io Connection::Linger() {
  char discard[4096];
  for (;;) {
    const ssize_t r = recv(fd_, discard, sizeof discard, 0);
    if (r > 0) continue;
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) return Io::kWait;
    return Io::kClosed;
  }
}

bool Connection::Parse() {
  if (!parser_) parser_.emplace(target_, shared_.limits);
  error_code ec;
  while (in_begin_ < in_end_ && !parser_->is_done()) {
    const std::size_t used =
        parser_->put(boost::asio::const_buffer(in_.get() + in_begin_, in_end_ - in_begin_), ec);
    in_begin_ += used;
    if (ec == http::error::need_more) return false;
    if (ec == http::error::header_limit) {
      Refuse(431, "request line or header fields too large\n");
      return true;
    }
    if (ec == http::error::body_limit) {
      Refuse(413, "request body too large\n");
      return true;
    }
    if (ec) {
      Refuse(400, "malformed HTTP request\n");
      return true;
    }
    if (used == 0) return false;
  }
  if (!parser_->is_done()) return false;
  const auto started = Clock::now();
  HttpReply reply;
  if (target_.size() > shared_.limits.target_limit) {
    reply.status = 414;
    reply.body = "request target too long\n";
  } else {
    try {
      reply = shared_.hooks.handle(parser_->method, target_, parser_->detail);
    } catch (const std::exception& e) {
      LogError(std::string("request handler failed: ") + e.what());
      reply = HttpReply();
      reply.status = 500;
      reply.body = "internal error\n";
    }
  }
  Answer(reply, parser_->version, parser_->keep_alive(), parser_->verb == http::verb::head,
         started);
  parser_.reset();
  return true;
}

void Connection::Answer(const HttpReply& reply, int version, bool keep_alive, bool head,
                        Clock::time_point started) {
  keep_alive = keep_alive && !shared_.draining.load(std::memory_order_relaxed);
  const auto reason =
      http::obsolete_reason(http::int_to_status(static_cast<unsigned>(reply.status)));
  out_.assign(version == 10 ? "HTTP/1.0 " : "HTTP/1.1 ");
  out_ += std::to_string(reply.status);
  out_ += ' ';
  out_.append(reason.data(), reason.size());
  out_ += "\r\nServer: strikecountd\r\nContent-Type: ";
  out_ += reply.content_type;
  out_ += "\r\nCache-Control: no-store\r\n";
  for (const auto& [name, value] : reply.fields) {
    out_ += name;
    out_ += ": ";
    out_ += value;
    out_ += "\r\n";
  }
  out_ += "Content-Length: ";
  out_ += std::to_string(reply.body.size());
  if (version == 10 && keep_alive) out_ += "\r\nConnection: keep-alive";
  if (version != 10 && !keep_alive) out_ += "\r\nConnection: close";
  out_ += "\r\n\r\n";
  if (!head) out_ += reply.body;
  out_sent_ = 0;
  close_after_ = !keep_alive;
  state_ = State::kWriting;
  deadline_ = loop_.now + shared_.limits.write_timeout;
  if (shared_.hooks.answered) {
    shared_.hooks.answered(reply.status,
                           std::chrono::duration<double>(Clock::now() - started).count());
  }
}

// Answers a request that cannot be read, then closes.
void Connection::Refuse(int status, const char* reason) {
  parser_.reset();
  HttpReply reply;
  reply.status = status;
  reply.body = reason;
  Answer(reply, 11, false, false, loop_.now);
  linger_after_ = true;
}

void Connection::FinishAnswer() {
  EndRequest();
  if (!close_after_) return Idle();
  if (!linger_after_) return Close();
  if (ssl_) SSL_shutdown(ssl_);
  ERR_clear_error();
  shutdown(fd_, SHUT_WR);
  Release();
  state_ = State::kLingering;
  deadline_ = loop_.now + kLinger;
}

void Connection::Expire() {
  if (state_ == State::kReading) return Refuse(408, "request not received in time\n");
  Close();
}

// Closes with a close_notify where TLS is up; the client's is not waited for.
void Connection::Close() {
  if (ssl_ && state_ != State::kLingering && state_ != State::kHandshake) {
    SSL_shutdown(ssl_);
    ERR_clear_error();
  }
  state_ = State::kClosed;
}

}  // namespace

struct HttpFront::Impl {
  std::shared_ptr<Shared> shared = std::make_shared<Shared>();
  std::vector<std::unique_ptr<Listener>> listeners;
  std::vector<std::unique_ptr<Loop>> loops;
  std::vector<Loop*> loop_list;
  std::vector<std::thread> threads;
  std::mutex tls_mutex;
  SslCtx tls;

  SSL* NewSsl() {
    std::lock_guard<std::mutex> guard(tls_mutex);
    return tls ? SSL_new(tls.get()) : nullptr;
  }

  std::uint16_t Listen(const std::string& address, std::uint16_t port, bool with_tls) {
    sockaddr_storage addr{};
    socklen_t len = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(port);
      len = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(port);
      len = sizeof *v6;
    } else {
      throw std::runtime_error("bad bind address '" + address + "'");
    }
    auto listener = std::make_unique<Listener>();
    listener->tls = with_tls;
    listener->fd = socket(addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (listener->fd < 0 ||
        setsockopt(listener->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(listener->fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(listener->fd, SOMAXCONN) != 0 ||
        getsockname(listener->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      const std::string why = std::strerror(errno);
      if (listener->fd >= 0) close(listener->fd);
      throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port) + ": " +
                               why);
    }
    const std::uint16_t bound = ntohs(addr.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    for (auto& loop : loops) loop->Watch(*listener);
    listeners.push_back(std::move(listener));
    return bound;
  }
};

HttpFront::HttpFront(HttpHooks hooks, HttpLimits limits) : impl_(std::make_unique<Impl>()) {
  impl_->shared->hooks = std::move(hooks);
  impl_->shared->limits = limits;
}

HttpFront::~HttpFront() {
  Stop();
  for (auto& listener : impl_->listeners) close(listener->fd);
}

std::uint16_t HttpFront::ListenPlain(const std::string& address, std::uint16_t port) {
  return impl_->Listen(address, port, false);
}

std::uint16_t HttpFront::ListenTls(const std::string& address, std::uint16_t port,
                                   const std::string& cert_chain_file,
                                   const std::string& key_file) {
  SslCtx ctx = MakeTlsContext(cert_chain_file, key_file);
  const std::uint16_t bound = impl_->Listen(address, port, true);
  std::lock_guard<std::mutex> guard(impl_->tls_mutex);
  impl_->tls = std::move(ctx);
  return bound;
}

void HttpFront::Start(int threads) {
  Impl& impl = *impl_;
  for (int i = 0; i < std::max(1, threads); ++i) {
    impl.loops.push_back(
        std::make_unique<Loop>(*impl.shared, impl.loop_list, [&impl] { return impl.NewSsl(); }));
    impl.loop_list.push_back(impl.loops.back().get());
    for (auto& listener : impl.listeners) impl.loops.back()->Watch(*listener);
  }
  for (auto& loop : impl.loops) {
    impl.threads.emplace_back([loop = loop.get()] {
      for (;;) {
        try {
          loop->Run();
          return;
        } catch (const std::exception& e) {
          LogError(std::string("network thread caught: ") + e.what());
        }
      }
    });
  }
}

std::string HttpFront::ReloadTls(const std::string& cert_chain_file, const std::string& key_file) {
  SslCtx ctx;
  try {
    ctx = MakeTlsContext(cert_chain_file, key_file);
  } catch (const std::exception& e) {
    return e.what();
  }
  // Open connections hold their own reference to the old context.
  std::lock_guard<std::mutex> guard(impl_->tls_mutex);
  impl_->tls = std::move(ctx);
  return "";
}

void HttpFront::Drain(std::chrono::milliseconds limit) {
  impl_->shared->draining = true;
  // Refuse new connections at once: a listening socket shut down answers with a reset.
  for (auto& listener : impl_->listeners) {
    for (auto& loop : impl_->loops) loop->Unwatch(*listener);
    shutdown(listener->fd, SHUT_RDWR);
  }
  const auto deadline = Clock::now() + limit;
  while (impl_->shared->in_flight.load() > 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
}

void HttpFront::Stop() {
  if (!impl_) return;
  for (auto& loop : impl_->loops) loop->Stop();
  for (auto& t : impl_->threads) {
    if (t.joinable()) t.join();
  }
  impl_->threads.clear();
  impl_->loop_list.clear();
  impl_->loops.clear();
}

}  // namespace strikecount
