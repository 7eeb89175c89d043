// Text crosses into Win32 as UTF-16 and back into the core as UTF-8. Included by *_win.cpp
// files only.
#pragma once

#include <string>

namespace stormtally {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

}  // namespace stormtally
