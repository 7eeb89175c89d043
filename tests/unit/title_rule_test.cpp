#include "viewer/title_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stormtally {
namespace {

TEST(SiteFromTitle, TakesTheFirstFourCharactersOfAViewerTitle) {
  // Every title of a row gives the row's site.
  const std::pair<std::optional<std::string>, std::vector<std::string>> cases[] = {
      // The three viewers, their marker anywhere after the first character.
      {"KLSX",
       {"KLSX - GRLevel3", "KLSX - GRLevel2", "KLSX - GR2Analyst", "KLSX-- GRLevel3",
        "KLSX - GRLevel3 2.00 - Base Reflectivity", "KLSXYZ: super-res - GRLevel2"}},
      // Only the whole warnings title is passed over, and only a title that begins with the
      // warning-text words.
      {"KLSX", {"KLSX Warnings - GRLevel3", "KLSX Warning Text - GRLevel3"}},
      {"Warn", {"Warnings - GRLevel3 (2)", "Warnings - GRLevel3 ", "Warning text - GRLevel3"}},
      // The first four characters, whatever they are: no trimming, no case change.
      {"klsx", {"klsx - GRLevel3"}},
      {"TLX ", {"TLX - GRLevel3"}},
      {" KLS", {" KLSX - GRLevel3"}},
      {"X- G", {"X- GRLevel3"}},
      // A title that begins with one family's marker may carry another's further on.
      {"- GR", {"- GRLevel3 KLSX - GRLevel2", "- GRLevel2 - GR2Analyst"}},
      // Four characters are four code points of the UTF-8 title, never a cut character.
      {"\u00c9t\u00e9 ", {"\u00c9t\u00e9 - GRLevel3"}},
      {"\u20ac\u20ac\u20ac\u20ac", {"\u20ac\u20ac\u20ac\u20ac\u20ac - GRLevel2"}},
      {"\U0001F329ABC", {"\U0001F329ABC - GR2Analyst"}},
      {std::string("\x80\x80KL\xC3", 5), {"\x80\x80KL\xC3SX - GRLevel3"}},
      // Passed over: no marker after the first character, in its exact letter case...
      {std::nullopt,
       {"", "K", "Untitled - Notepad", "- GRLevel3", "- GRLevel3 KLSX - GRLevel3",
        "KLSX - grlevel3", "KLSX - GRLevel 3", "KLSX -GRLevel3", "KLSX \u2013 GRLevel3",
        "KLSX - GR2analyst", "KLSX - GRLevel"}},
      // ...the warnings windows, and the warning-text windows with a marker or without one.
      {std::nullopt,
       {"Warnings - GRLevel3", "Warnings - GRLevel2", "Warnings - GR2Analyst",
        "Warning Text - Grlevel3", "Warning Text - GRAnalyst", "Warning Text - GRLevel2",
        "Warning Text - Tornado Warning - GRLevel3"}}};
  for (const auto& [site, titles] : cases) {
    for (const std::string& title : titles) {
      EXPECT_EQ(siteFromTitle(title), site) << "title \"" << title << "\"";
    }
  }
}

}  // namespace
}  // namespace stormtally
