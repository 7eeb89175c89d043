// Helpers shared by the service tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace strikecount::testing_support {

inline std::string SharedData() {
  return STORMTALLY_SHARED_DATA;
}

// Skips the calling test when the reference data is not there (a user's clone has none).
#define SKIP_WITHOUT_SHARED_DATA()                                                         \
  if (!std::filesystem::is_directory(::strikecount::testing_support::SharedData()))        \
  GTEST_SKIP() << "reference data folder " << ::strikecount::testing_support::SharedData() \
               << " is absent; GLM sample tests skipped"

class TempDir {
 public:
  TempDir() : path_((std::filesystem::temp_directory_path() / "strikecount-test-XXXXXX").string()) {
    if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// A client socket on loopback, for requests no well-behaved client would send.
class Raw {
 public:
  explicit Raw(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Raw() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool Send(const std::string& b) {
    return ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size());
  }
  std::string ReadSome() {
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    closed_ = n == 0 || (n < 0 && errno == ECONNRESET);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
  // Everything until the server closes; `closed` says whether it did (rather than time out).
  std::string ReadToClose(bool* closed = nullptr) {
    std::string out, more;
    while (!(more = ReadSome()).empty()) out += more;
    if (closed) *closed = closed_;
    return out;
  }

 private:
  int fd_;
  bool connected_ = false, closed_ = false;
};

inline std::string Get(const std::string& target, const std::string& extra = "") {
  return "GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n";
}

}  // namespace strikecount::testing_support
