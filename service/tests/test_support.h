// Helpers shared by the service tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "http_front.h"
#include "strike_service.h"

using namespace strikecount;
namespace fs = std::filesystem;

inline const std::string kSharedData = STORMTALLY_SHARED_DATA;
inline const TimeMs kNow = *ParseIso8601("2025-04-07T13:00:00Z");
inline const std::string kKlsx = "/counter/Strike_Counter.php?lat=38.699&lon=-90.683&distance=128";

// Skips the calling test when the reference data is not there (a user's clone has none).
#define SKIP_WITHOUT_SHARED_DATA()    \
  if (!fs::is_directory(kSharedData)) \
  GTEST_SKIP() << "reference data folder " << kSharedData << " is absent; GLM sample tests skipped"

struct TempDir {
  std::string path = (fs::temp_directory_path() / "strikecount-test-XXXXXX").string();
  TempDir() { EXPECT_TRUE(mkdtemp(path.data())); }
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// A client socket on loopback, for requests no well-behaved client would send.
struct Raw {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  bool closed = false;  // by the server, rather than a time-out of 5 s
  explicit Raw(std::uint16_t port) {
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ~Raw() { ::close(fd); }
  bool Send(const std::string& b) { return ::send(fd, b.data(), b.size(), MSG_NOSIGNAL) > 0; }
  std::string ReadToClose() {  // and sets `closed` when the server closed the connection
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
    closed = n == 0 || errno == ECONNRESET;
    return out;
  }
};

inline std::string Get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n";
}

// A service whose system clock stands at `now`; `clock` fixed there by default.
inline ServiceOptions At(TimeMs now, ClockSetting::Kind clock = ClockSetting::Kind::kFixed) {
  ServiceOptions options;
  options.clock = {clock, now};
  options.wall_clock = [now] { return now; };
  return options;
}

// A service behind a front on loopback.
struct Front {
  explicit Front(const ServiceOptions& options, HttpLimits limits = {})
      : service(options),
        front({[this](auto m, auto t, bool d) { return service.Handle(m, t, d); },
               [this](int status, double s) { service.metrics().RecordRequest(status, s); },
               {}},
              limits) {}
  ~Front() { front.Stop(); }
  std::uint16_t Plain() {
    const auto port = front.ListenPlain("127.0.0.1", 0);
    front.Start(2);
    return port;
  }
  StrikeService service;
  HttpFront front;
};

// "status body" of a GET answered by the service, e.g. "200 3".
inline std::string Ask(StrikeService& s, const std::string& target) {
  const HttpReply reply = s.Handle("GET", target);
  return std::to_string(reply.status) + " " + reply.body;
}
