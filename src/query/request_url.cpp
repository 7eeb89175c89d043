#include "query/request_url.h"

namespace stormtally {

std::string percentEncode(std::string_view value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size());
  for (unsigned char ch : value) {
    const bool unreserved = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                            (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' || ch == '_' ||
                            ch == '~';
    if (unreserved) {
      out += static_cast<char>(ch);
    } else {
      out += '%';
      out += kHex[ch >> 4];
      out += kHex[ch & 0xF];
    }
  }
  return out;
}

std::string buildRequestUrl(std::string_view serviceBase, std::string_view lat,
                            std::string_view lon, std::string_view distance) {
  while (!serviceBase.empty() && serviceBase.back() == '/') serviceBase.remove_suffix(1);
  std::string url(serviceBase);
  url += kCounterPath;
  url += "?lat=";
  url += percentEncode(lat);
  url += "&lon=";
  url += percentEncode(lon);
  url += "&distance=";
  url += percentEncode(distance);
  return url;
}

}  // namespace stormtally
