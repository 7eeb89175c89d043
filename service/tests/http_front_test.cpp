// The network front over real loopback sockets: bad requests, slow clients, and HTTPS end to end.
#include "http_front.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <thread>

#include "test_support.h"

namespace strikecount {
namespace {

using testing_support::TempDir;
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;

const TimeMs kNow = *ParseIso8601("2025-04-07T13:00:00Z");

// A service with two flashes near KLSX behind a front on loopback.
class Front {
 public:
  explicit Front(HttpLimits limits = {}) {
    ServiceOptions options;
    options.wall_clock = [] { return kNow; };
    service_ = std::make_unique<StrikeService>(options);
    service_->Ingest({{kNow - kMsPerMinute, 38.7, -90.7}, {kNow - 2 * kMsPerMinute, 38.6, -90.5}},
                     kNow);
    HttpHooks hooks;
    hooks.handle = [this](std::string_view m, std::string_view t) {
      return service_->Handle(m, t);
    };
    hooks.answered = [this](int status, double s) { service_->metrics().RecordRequest(status, s); };
    front_ = std::make_unique<HttpFront>(hooks, limits);
  }
  ~Front() { front_->Stop(); }
  std::uint16_t Plain() {
    const auto port = front_->ListenPlain("127.0.0.1", 0);
    front_->Start(2);
    return port;
  }
  HttpFront& front() { return *front_; }
  StrikeService& service() { return *service_; }

 private:
  std::unique_ptr<StrikeService> service_;
  std::unique_ptr<HttpFront> front_;
};

// A raw client socket, for requests no well-behaved client would send.
class Raw {
 public:
  explicit Raw(std::uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Raw() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Everything until the server closes; `closed` tells whether it did (rather than time out).
  std::string ReadToClose(bool* closed = nullptr) {
    std::string out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) {
        out.append(buf, static_cast<size_t>(n));
        continue;
      }
      if (closed) *closed = n == 0 || errno == ECONNRESET;
      return out;
    }
  }
  // One whole response (headers and Content-Length bytes of body), or what came before close.
  std::string ReadResponse() {
    std::string out;
    for (;;) {
      const size_t end = out.find("\r\n\r\n");
      if (end != std::string::npos) {
        const size_t at = out.find("Content-Length: ");
        const size_t length = at < end ? std::stoul(out.substr(at + 16)) : 0;
        if (out.size() >= end + 4 + length) return out;
      }
      const std::string more = ReadSome();
      if (more.empty()) return out;
      out += more;
    }
  }
  std::string ReadSome() {
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n";
}
const std::string kCount = "/counter/Strike_Counter.php?lat=38.699&lon=-90.683&distance=128";

TEST(HttpFront, AnswersCountsAndRefusesBadRequests) {
  Front front;
  const auto port = front.Plain();
  struct Case {
    const char* what;
    std::string request;
    const char* status_line;
    const char* body;
  } cases[] = {
      {"count", Get(kCount, "Connection: close\r\n"), "HTTP/1.1 200 OK", "\r\n\r\n2"},
      {"missing key", Get("/counter/Strike_Counter.php?lat=38.699&distance=128"), "HTTP/1.1 400 ",
       "missing key 'lon'\n"},
      {"other path", Get("/counter/"), "HTTP/1.1 404 ", "not found\n"},
      {"post", "POST " + kCount + " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 405 ", "Allow: GET, HEAD"},
      {"long target",
       Get("/counter/Strike_Counter.php?lat=1&lon=2&distance=3&pad=" + std::string(3000, 'x')),
       "HTTP/1.1 414 ", "too long"},
      {"huge request line", Get("/" + std::string(20000, 'a')), "HTTP/1.1 431 ", "too large"},
      {"huge header", Get("/healthz", "X-Big: " + std::string(9000, 'b') + "\r\n"), "HTTP/1.1 431 ",
       ""},
      {"many headers",
       Get("/healthz",
           [] {
             std::string h;
             for (int i = 0; i < 2000; ++i) h += "X-" + std::to_string(i) + ": 1\r\n";
             return h;
           }()),
       "HTTP/1.1 431 ", ""},
      {"big body",
       "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'z'),
       "HTTP/1.1 413 ", ""},
      {"garbage", "HELLO THERE\r\n\r\n", "HTTP/1.1 400 ", "malformed"},
      {"bad version", "GET / HTTP/9.Z\r\n\r\n", "HTTP/1.1 400 ", ""},
      {"NUL in target", std::string("GET /\0x HTTP/1.1\r\n\r\n", 20), "HTTP/1.1 400 ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Raw raw(port);
    ASSERT_TRUE(raw.connected());
    raw.Send(c.request);
    const std::string response = raw.ReadResponse();
    EXPECT_EQ(response.substr(0, std::string(c.status_line).size()), c.status_line) << response;
    EXPECT_NE(response.find(c.body), std::string::npos) << response;
  }
  // The service is still there after all that.
  Raw raw(port);
  raw.Send(Get(kCount, "Connection: close\r\n"));
  EXPECT_NE(raw.ReadToClose().find("\r\n\r\n2"), std::string::npos);
  EXPECT_GE(front.service().metrics().RequestsWithStatus(431), 3u);
}

TEST(HttpFront, KeepAlivePipeliningAndHead) {
  Front front;
  const auto port = front.Plain();
  Raw raw(port);
  raw.Send(Get(kCount) + Get("/healthz"));  // two requests in one packet
  std::string both;
  while (both.find("\"status\":\"ok\"") == std::string::npos) {
    const std::string more = raw.ReadSome();
    ASSERT_FALSE(more.empty()) << both;
    both += more;
  }
  EXPECT_EQ(both.find("HTTP/1.1 200 OK"), 0u);
  EXPECT_NE(both.find("Content-Type: text/plain\r\n"), std::string::npos);
  raw.Send("HEAD " + kCount + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
  const std::string head = raw.ReadToClose();
  EXPECT_NE(head.find("Content-Length: 1\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");  // no body
}

TEST(HttpFront, SlowAndIdleClientsAreTimedOut) {
  HttpLimits limits;
  limits.idle_timeout = std::chrono::milliseconds(200);
  limits.request_timeout = std::chrono::milliseconds(300);
  Front front(limits);
  const auto port = front.Plain();
  {  // Connects and says nothing.
    Raw idle(port);
    bool closed = false;
    EXPECT_EQ(idle.ReadToClose(&closed), "");
    EXPECT_TRUE(closed);
  }
  {  // Trickles a request one byte at a time, slower than the request time allows.
    Raw slow(port);
    const std::string request = Get(kCount);
    bool refused = false;
    for (char c : request) {
      if (!slow.Send(std::string(1, c))) {
        refused = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    bool closed = false;
    const std::string answer = slow.ReadToClose(&closed);
    EXPECT_TRUE(refused || closed);
    EXPECT_EQ(answer.find("200 OK"), std::string::npos) << answer;
  }
  {  // A prompt client on the same server is served.
    Raw quick(port);
    quick.Send(Get(kCount, "Connection: close\r\n"));
    EXPECT_NE(quick.ReadToClose().find("\r\n\r\n2"), std::string::npos);
  }
}

TEST(HttpFront, ConnectionsBeyondTheLimitAreClosed) {
  HttpLimits limits;
  limits.max_connections = 2;
  Front front(limits);
  const auto port = front.Plain();
  Raw a(port), b(port);
  a.Send(Get("/healthz"));
  b.Send(Get("/healthz"));
  EXPECT_NE(a.ReadSome().find("200 OK"), std::string::npos);
  EXPECT_NE(b.ReadSome().find("200 OK"), std::string::npos);
  Raw c(port);
  c.Send(Get("/healthz"));
  bool closed = false;
  EXPECT_EQ(c.ReadToClose(&closed), "");
  EXPECT_TRUE(closed);
}

TEST(HttpFront, UnusableCertificatesAndAddressesAreReportedAtStart) {
  TempDir dir;
  testing_support::WriteFile(dir / "junk.pem", "not a certificate\n");
  Front front;
  EXPECT_THROW(front.front().ListenTls("127.0.0.1", 0, dir / "junk.pem", dir / "junk.pem"),
               std::runtime_error);
  EXPECT_THROW(front.front().ListenTls("127.0.0.1", 0, dir / "missing.pem", dir / "missing.pem"),
               std::runtime_error);
  EXPECT_THROW(front.front().ListenPlain("not-an-address", 0), std::runtime_error);
}

// ---------------------------------------------------------------------------------------------
// HTTPS end to end: a certificate made here for localhost, a client that verifies it.

void MakeCertificate(const std::string& cert_path, const std::string& key_path) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  for (auto [nid, value] : {std::pair{NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"},
                            std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
  }
  X509_sign(cert, key, EVP_sha256());
  FILE* f = std::fopen(cert_path.c_str(), "w");
  PEM_write_X509(f, cert);
  std::fclose(f);
  f = std::fopen(key_path.c_str(), "w");
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
  X509_free(cert);
  EVP_PKEY_free(key);
}

struct HttpsAnswer {
  unsigned status = 0;
  std::string body;
};

// Throws when the handshake or the certificate check fails.
HttpsAnswer HttpsGet(std::uint16_t port, const std::string& host, const std::string* ca_file,
                     const std::vector<std::string>& targets) {
  net::io_context io;
  ssl::context ctx(ssl::context::tls_client);
  if (ca_file) ctx.load_verify_file(*ca_file);
  ctx.set_verify_mode(ssl::verify_peer);
  beast::ssl_stream<beast::tcp_stream> stream(io, ctx);
  SSL_set_tlsext_host_name(stream.native_handle(), host.c_str());
  stream.set_verify_callback(ssl::host_name_verification(host));
  beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(10));
  beast::get_lowest_layer(stream).connect(
      net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  stream.handshake(ssl::stream_base::client);
  HttpsAnswer answer;
  beast::flat_buffer buffer;
  for (const std::string& target : targets) {  // all on one kept-alive connection
    http::request<http::empty_body> req{http::verb::get, target, 11};
    req.set(http::field::host, host);
    http::write(stream, req);
    http::response<http::string_body> res;
    http::read(stream, buffer, res);
    answer.status = res.result_int();
    answer.body += res.body();
  }
  return answer;
}

TEST(HttpFront, HttpsEndToEndOnLoopback) {
  TempDir dir;
  const std::string cert = dir / "cert.pem", key = dir / "key.pem";
  MakeCertificate(cert, key);
  Front front;
  const auto port = front.front().ListenTls("127.0.0.1", 0, cert, key);
  front.front().Start(2);

  const HttpsAnswer answer = HttpsGet(port, "localhost", &cert, {kCount, kCount + "&x=1"});
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(answer.body, "22");
  const HttpsAnswer bad =
      HttpsGet(port, "localhost", &cert, {"/counter/Strike_Counter.php?lat=91&lon=0&distance=5"});
  EXPECT_EQ(bad.status, 400u);
  EXPECT_EQ(bad.body, "lat must lie between -90 and 90\n");
  // A client that does not trust the certificate, or asks for another name, gets nothing.
  EXPECT_ANY_THROW(HttpsGet(port, "localhost", nullptr, {kCount}));
  EXPECT_ANY_THROW(HttpsGet(port, "example.com", &cert, {kCount}));
  // Plain HTTP spoken to the TLS port does not upset it.
  Raw raw(port);
  raw.Send(Get(kCount));
  raw.ReadToClose();
  EXPECT_EQ(HttpsGet(port, "localhost", &cert, {kCount}).body, "2");
}

}  // namespace
}  // namespace strikecount
