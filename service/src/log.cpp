#include "log.h"

#include <cstdio>
#include <mutex>

#include "time_util.h"

namespace strikecount {
namespace {

void Write(const char* level, const std::string& message) {
  static std::mutex mutex;
  const std::string stamp = FormatIso8601(SystemNowMs());
  std::lock_guard<std::mutex> guard(mutex);
  std::fprintf(stderr, "%s %s %s\n", stamp.c_str(), level, message.c_str());
  std::fflush(stderr);
}

}  // namespace

void LogInfo(const std::string& message) {
  Write("INFO", message);
}
void LogWarning(const std::string& message) {
  Write("WARN", message);
}
void LogError(const std::string& message) {
  Write("ERROR", message);
}

}  // namespace strikecount
