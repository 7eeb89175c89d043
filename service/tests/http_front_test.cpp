// The network front over real loopback sockets: bad requests, slow clients, unusable settings.
#include "http_front.h"

#include <gtest/gtest.h>

#include <thread>

#include "test_support.h"

TEST(HttpFront, AnswersCountsRefusesBadRequestsAndClosesSlowIdleAndSurplusClients) {
  HttpLimits limits;
  limits.idle_timeout = std::chrono::milliseconds(200);  // each case reads until the close
  limits.request_timeout = std::chrono::milliseconds(300);
  limits.max_connections = 3;
  Front front(At(kNow), limits);  // two flashes near KLSX
  front.service.Ingest({{kNow - kMsPerMinute, 38.7, -90.7}, {kNow, 38.6, -90.5}}, kNow);
  const auto port = front.Plain();
  std::string many_headers;
  for (int i = 0; i < 2000; ++i) many_headers += "X-" + std::to_string(i) + ": 1\r\n";
  const std::pair<std::string, const char*> cases[] = {
      {Get("/counter/Strike_Counter.php?lat=38.699&distance=128"), "400 *missing key 'lon'\n"},
      {Get("/counter/Strike_Counter.php"), "400 *missing key 'lat'"},
      {Get("/counter/"), "404 *not found\n"},
      {Get("/counter/strike_counter.php?lat=1&lon=2&distance=3"), "404 "},
      {Get("/counter/Strike_Counter.php/x?lat=1&lon=2&distance=3"), "404 "},
      {"POST " + kKlsx + " HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "405 *Allow: GET, HEAD"},
      {Get(kKlsx + "&pad=" + std::string(3000, 'x')), "414 *too long"},
      {Get("/" + std::string(20000, 'a')), "431 *too large"},
      {Get("/healthz", "X-Big: " + std::string(9000, 'b') + "\r\n"), "431 "},
      {Get("/healthz", many_headers), "431 "},
      {"POST / HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'z'), "413 "},
      {"HELLO THERE\r\n\r\n", "400 *malformed"},
      {std::string("GET /\0x HTTP/1.1\r\n\r\n", 20), "400 "},
      // A chunk extension that outruns the input buffer, which the header limit does not see.
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1;" + std::string(20000, 'e'), "431 "},
      // Still there after all that: two requests in one packet, and HEAD (no body).
      {Get(kKlsx) + Get("/healthz"), "200 OK*text/plain*\r\n\r\n2HTTP/1.1 200*\"ok\""},
      {"HEAD " + kKlsx + " HTTP/1.1\r\n\r\n" + Get("/"), "200 OK*Content-Length: 1\r\n\r\nHTTP"},
      // The extras of a count as response fields, asked for in any case; none for a 400.
      {Get(kKlsx, "strikes-DETAIL: 1\r\n"),
       "200 OK*\r\nStrikes-Window: 900\r\nStrikes-Previous-Count: 0\r\n*Nearest-Age: 60\r\n"
       "Strikes-Last-Age: 0\r\nContent-Length: 1\r\n\r\n2"},
      {Get("/v1/area?lat=1", "Strikes-Detail: 1\r\n"),
       "400 *no-store\r\nContent-Length: 18\r\n\r\nmissing key 'lon'"}};
  for (const auto& [request, pattern] : cases) {
    Raw raw(port);
    raw.Send(request);
    // The answer has the status, then the parts of the pattern between '*' in order.
    const std::string answer = raw.ReadToClose();
    EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + std::string(pattern, 3)) << request.substr(0, 60);
    std::istringstream parts(pattern);
    size_t at = 0;
    for (std::string part; at != std::string::npos && std::getline(parts, part, '*');) {
      at = answer.find(part, at);
      if (at != std::string::npos) at += part.size();
    }
    EXPECT_NE(at, std::string::npos) << request.substr(0, 60) << " gave " << answer;
  }
  EXPECT_GE(front.service.metrics().RequestsWithStatus(431), 3u);
  Raw plain(port);  // without the field, the answer is byte for byte what it always was
  plain.Send(Get(kKlsx, "Connection: close\r\n"));
  EXPECT_EQ(plain.ReadToClose(),
            "HTTP/1.1 200 OK\r\nServer: strikecountd\r\nContent-Type: text/plain\r\nCache-Control: "
            "no-store\r\nContent-Length: 1\r\nConnection: close\r\n\r\n2");
  Raw idle(port);  // connects and says nothing
  EXPECT_EQ(idle.ReadToClose(), "");
  EXPECT_TRUE(idle.closed);
  Raw slow(port);  // trickles a request, slower than the request time allows
  for (char c : Get(kKlsx)) {
    if (!slow.Send(std::string(1, c))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  EXPECT_EQ(slow.ReadToClose().substr(0, 12), "HTTP/1.1 408");
  Raw a(port), b(port), c(port), d(port);  // one more than the limit
  for (Raw* r : {&a, &b, &c, &d}) r->Send(Get("/healthz"));
  EXPECT_EQ(d.ReadToClose(), "");
  EXPECT_TRUE(d.closed);
  for (Raw* r : {&a, &b, &c}) EXPECT_NE(r->ReadToClose().find("200 OK"), std::string::npos);
}

// HTTPS end to end, with the certificate verified and reloaded: service/tests/ops_test.py.
TEST(HttpFront, UnusableSettingsAtStartAreRefused) {
  TempDir dir;
  const std::string cert = dir / "cert.pem", key = dir / "key.pem";
  const std::string make =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
      "-days 1 -subj /CN=localhost -keyout " +
      key + " -out " + cert + " 2>/dev/null";
  ASSERT_EQ(std::system(make.c_str()), 0);
  WriteFile(dir / "junk.pem", "not a certificate\n");
  Front front(At(kNow));
  EXPECT_THROW(front.front.ListenTls("127.0.0.1", 0, dir / "junk.pem", key), std::runtime_error);
  EXPECT_THROW(front.front.ListenTls("127.0.0.1", 0, cert, dir / "no.pem"), std::runtime_error);
  EXPECT_THROW(front.front.ListenPlain("not-an-address", 0), std::runtime_error);
  EXPECT_NE(front.front.ListenTls("127.0.0.1", 0, cert, key), 0);
}
