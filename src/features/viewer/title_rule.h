// Which radar viewer window titles name a site, and which site.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace stormtally {

// The site a top-level window's title names: its first four characters, untrimmed, when the
// title carries a viewer's marker ("- GRLevel3", "- GRLevel2", "- GR2Analyst") first found
// after its first character, compared exactly and case-sensitively. The viewers' warnings and
// warning-text windows are passed over.
std::optional<std::string> siteFromTitle(std::string_view title);

}  // namespace stormtally
