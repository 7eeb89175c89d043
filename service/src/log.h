// One-line log records on standard error, safe from any thread.
#pragma once

#include <string>

namespace strikecount {

void LogInfo(const std::string& message);
void LogWarning(const std::string& message);
void LogError(const std::string& message);

}  // namespace strikecount
