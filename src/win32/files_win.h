// Files beside the program's executable.
#pragma once

#include <optional>
#include <string>

namespace stormtally {

// The bytes of a file in the executable's folder, or nothing when it is missing, unreadable
// or larger than any site table could be.
std::optional<std::string> readFileBesideProgram(const std::string& name);

}  // namespace stormtally
