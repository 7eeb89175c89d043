#include "viewer/title_rule.h"

namespace stormtally {
namespace {

struct ViewerFamily {
  std::string_view marker;
  std::string_view warningsTitle;
};

// Examined in this order for every title.
constexpr ViewerFamily kFamilies[] = {
    {"- GRLevel3", "Warnings - GRLevel3"},
    {"- GRLevel2", "Warnings - GRLevel2"},
    {"- GR2Analyst", "Warnings - GR2Analyst"},
};

// The viewers' warning-text windows. Their usual titles ("Warning Text - Grlevel3", ...) do
// not carry a marker in its exact letter case and fail the marker test anyway; a title that
// begins with this text and does carry the family's marker (say "Warning Text - GRLevel3")
// is passed over as well, since its first four characters ("Warn") name no site.
constexpr std::string_view kWarningTextPrefix = "Warning Text - ";

constexpr std::size_t kSiteChars = 4;

// The first n code points of UTF-8 text. A code point is a byte and the continuation bytes
// (10xxxxxx) after it, so a multi-byte character is never cut, even in malformed text.
std::string_view firstCodePoints(std::string_view text, std::size_t n) {
  std::size_t end = 0;
  for (std::size_t count = 0; count < n && end < text.size(); ++count) {
    ++end;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return text.substr(0, end);
}

}  // namespace

std::optional<std::string> siteFromTitle(std::string_view title) {
  for (const ViewerFamily& family : kFamilies) {
    // The first occurrence decides: a title that begins with the marker fails, even when the
    // marker comes again later.
    const std::size_t at = title.find(family.marker);
    if (at == std::string_view::npos || at == 0) continue;
    // A passed-over window is passed over by every later family too.
    if (title == family.warningsTitle) return std::nullopt;
    if (title.substr(0, kWarningTextPrefix.size()) == kWarningTextPrefix) return std::nullopt;
    return std::string(firstCodePoints(title, kSiteChars));
  }
  return std::nullopt;
}

}  // namespace stormtally
