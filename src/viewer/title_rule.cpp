#include "viewer/title_rule.h"

namespace stormtally {

std::optional<std::string> siteFromTitle(std::string_view) {
  return std::nullopt;
}

}  // namespace stormtally
