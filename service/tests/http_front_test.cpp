// The network front over real loopback sockets: bad requests, slow clients, and HTTPS end to end.
#include "http_front.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <thread>

#include "test_support.h"

namespace strikecount {
namespace {

using testing_support::Get;
using testing_support::Raw;
using testing_support::TempDir;
namespace beast = boost::beast;
namespace net = boost::asio;

const TimeMs kNow = *ParseIso8601("2025-04-07T13:00:00Z");
const std::string kCount = "/counter/Strike_Counter.php?lat=38.699&lon=-90.683&distance=128";

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

TEST(HttpFront, AnswersCountsAndRefusesBadRequests) {
  HttpLimits limits;
  limits.idle_timeout = std::chrono::milliseconds(200);  // each case reads until the close
  Front front(limits);
  const auto port = front.Plain();
  std::string many_headers;
  for (int i = 0; i < 2000; ++i) many_headers += "X-" + std::to_string(i) + ": 1\r\n";
  const std::pair<std::string, const char*> cases[] = {
      {Get("/counter/Strike_Counter.php?lat=38.699&distance=128"),
       "HTTP/1.1 400 *missing key 'lon'\n"},
      {Get("/counter/"), "HTTP/1.1 404 *not found\n"},
      {"POST " + kCount + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
       "HTTP/1.1 405 *Allow: GET, HEAD"},
      {Get(kCount + "&pad=" + std::string(3000, 'x')), "HTTP/1.1 414 *too long"},
      {Get("/" + std::string(20000, 'a')), "HTTP/1.1 431 *too large"},
      {Get("/healthz", "X-Big: " + std::string(9000, 'b') + "\r\n"), "HTTP/1.1 431 "},
      {Get("/healthz", many_headers), "HTTP/1.1 431 "},
      {"POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'z'),
       "HTTP/1.1 413 "},
      {"HELLO THERE\r\n\r\n", "HTTP/1.1 400 *malformed"},
      {"GET / HTTP/9.Z\r\n\r\n", "HTTP/1.1 400 "},
      {std::string("GET /\0x HTTP/1.1\r\n\r\n", 20), "HTTP/1.1 400 "},
      // Still there after all that: two requests in one packet, and HEAD.
      {Get(kCount) + Get("/healthz"), "HTTP/1.1 200 OK*text/plain*\r\n\r\n2HTTP/1.1 200*\"ok\""},
      {"HEAD " + kCount + " HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK*Content-Length: 1\r\n\r\n*$"},
  };
  for (const auto& [request, pattern] : cases) {
    SCOPED_TRACE(request.substr(0, 60));
    Raw raw(port);
    raw.Send(request);
    // The answer holds the parts of the pattern between '*' in order; '$' marks its end.
    const std::string answer = raw.ReadToClose();
    size_t at = 0;
    bool first = true;
    for (std::string_view rest = pattern; !rest.empty(); first = false) {
      const std::string_view part = rest.substr(0, rest.find('*'));
      rest.remove_prefix(std::min(rest.size(), part.size() + 1));
      if (part == "$") {
        EXPECT_EQ(at, answer.size()) << answer;
      } else {
        at = answer.find(part, at);
        ASSERT_TRUE(at != std::string::npos && (!first || at == 0)) << part << " in " << answer;
        at += part.size();
      }
    }
  }
  EXPECT_GE(front.service().metrics().RequestsWithStatus(431), 3u);
}

TEST(HttpFront, SlowIdleAndSurplusClientsAreClosed) {
  HttpLimits limits;
  limits.idle_timeout = std::chrono::milliseconds(200);
  limits.request_timeout = std::chrono::milliseconds(300);
  limits.max_connections = 2;
  Front front(limits);
  const auto port = front.Plain();
  bool closed = false;
  {  // Connects and says nothing.
    Raw idle(port);
    EXPECT_EQ(idle.ReadToClose(&closed), "");
    EXPECT_TRUE(closed);
  }
  {  // Trickles a request one byte at a time, slower than the request time allows.
    Raw slow(port);
    for (char c : Get(kCount)) {
      if (!slow.Send(std::string(1, c))) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    EXPECT_EQ(slow.ReadToClose().find("200 OK"), std::string::npos);
  }
  Raw a(port), b(port);
  for (Raw* r : {&a, &b}) {
    r->Send(Get("/healthz"));
    EXPECT_NE(r->ReadSome().find("200 OK"), std::string::npos);
  }
  Raw c(port);  // one more than the limit
  c.Send(Get("/healthz"));
  EXPECT_EQ(c.ReadToClose(&closed), "");
  EXPECT_TRUE(closed);
}

// GETs `targets` over one verified HTTPS connection; throws when the handshake or check fails.
std::pair<unsigned, std::string> HttpsGet(std::uint16_t port, const std::string& host,
                                          const std::string& ca_file,
                                          const std::vector<std::string>& targets) {
  net::io_context io;
  net::ssl::context ctx(net::ssl::context::tls_client);
  if (!ca_file.empty()) ctx.load_verify_file(ca_file);
  ctx.set_verify_mode(net::ssl::verify_peer);
  beast::ssl_stream<beast::tcp_stream> stream(io, ctx);
  SSL_set_tlsext_host_name(stream.native_handle(), host.c_str());
  stream.set_verify_callback(net::ssl::host_name_verification(host));
  beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(10));
  beast::get_lowest_layer(stream).connect({net::ip::make_address("127.0.0.1"), port});
  stream.handshake(net::ssl::stream_base::client);
  std::pair<unsigned, std::string> answer;
  beast::flat_buffer buffer;
  for (const std::string& target : targets) {
    beast::http::request<beast::http::empty_body> req{beast::http::verb::get, target, 11};
    req.set(beast::http::field::host, host);
    beast::http::write(stream, req);
    beast::http::response<beast::http::string_body> res;
    beast::http::read(stream, buffer, res);
    answer.first = res.result_int();
    answer.second += res.body();
  }
  return answer;
}

TEST(HttpFront, HttpsEndToEndOnLoopbackAndUnusableSettingsAtStart) {
  TempDir dir;
  const std::string cert = dir / "cert.pem", key = dir / "key.pem";
  ASSERT_EQ(std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                         "-days 1 -subj /CN=localhost -addext subjectAltName=DNS:localhost "
                         "-keyout " +
                         key + " -out " + cert + " 2>/dev/null")
                            .c_str()),
            0);
  testing_support::WriteFile(dir / "junk.pem", "not a certificate\n");
  Front front;
  EXPECT_THROW(front.front().ListenTls("127.0.0.1", 0, dir / "junk.pem", key), std::runtime_error);
  EXPECT_THROW(front.front().ListenTls("127.0.0.1", 0, cert, dir / "no.pem"), std::runtime_error);
  EXPECT_THROW(front.front().ListenPlain("not-an-address", 0), std::runtime_error);
  const auto port = front.front().ListenTls("127.0.0.1", 0, cert, key);
  front.front().Start(2);
  EXPECT_EQ(HttpsGet(port, "localhost", cert, {kCount, kCount + "&x=1"}),
            std::pair(200u, std::string("22")));
  EXPECT_EQ(
      HttpsGet(port, "localhost", cert, {"/counter/Strike_Counter.php?lat=91&lon=0&distance=5"}),
      std::pair(400u, std::string("lat must lie between -90 and 90\n")));
  // A client that does not trust the certificate, or asks for another name, gets nothing.
  EXPECT_ANY_THROW(HttpsGet(port, "localhost", "", {kCount}));
  EXPECT_ANY_THROW(HttpsGet(port, "example.com", cert, {kCount}));
  Raw raw(port);  // plain HTTP spoken to the TLS port does not upset it
  raw.Send(Get(kCount));
  raw.ReadToClose();
  EXPECT_EQ(HttpsGet(port, "localhost", cert, {kCount}).second, "2");
}

}  // namespace
}  // namespace strikecount
