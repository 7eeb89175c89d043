#include "viewer/title_rule.h"

#include <gtest/gtest.h>

#include <string>

namespace stormtally {
namespace {

struct TitleCase {
  std::string title;
  std::optional<std::string> site;
};

TEST(SiteFromTitle, TakesTheFirstFourCharactersOfAViewerTitle) {
  const TitleCase cases[] = {
      // The three viewers.
      {"KLSX - GRLevel3", "KLSX"},
      {"KLSX - GRLevel2", "KLSX"},
      {"KLSX - GR2Analyst", "KLSX"},
      {"KLSX - GRLevel3 2.00 - Base Reflectivity", "KLSX"},
      // The first four characters, whatever they are: no trimming, no case change.
      {"klsx - GRLevel3", "klsx"},
      {"TLX - GRLevel3", "TLX "},
      {" KLSX - GRLevel3", " KLS"},
      {"A - GRLevel3", "A - "},
      {"X- GRLevel3", "X- G"},
      {"KLSXYZ: super-res - GRLevel2", "KLSX"},
      // A longer title that only contains a warnings title is a site title.
      {"KLSX Warnings - GRLevel3", "KLSX"},
      {"Warnings - GRLevel3 (2)", "Warn"},
      {"Warnings - GRLevel3 ", "Warn"},
      // A marker anywhere after the first character will do.
      {"x- GR2Analyst", "x- G"},
      {"KLSX-- GRLevel3", "KLSX"},
      {"KLSX - GRLevel3X", "KLSX"},
  };
  for (const TitleCase& c : cases) {
    EXPECT_EQ(siteFromTitle(c.title), c.site) << "title \"" << c.title << "\"";
  }
}

TEST(SiteFromTitle, PassesOverOtherWindows) {
  const std::string titles[] = {
      "",
      "K",
      "Untitled - Notepad",
      // The marker must be found after the first character; only its first occurrence counts.
      "- GRLevel3",
      "- GRLevel3 KLSX - GRLevel3",
      "- GR2Analyst",
      // Exact, case-sensitive markers.
      "KLSX - grlevel3",
      "KLSX - GRLEVEL3",
      "KLSX - GRLevel 3",
      "KLSX -GRLevel3",
      "KLSX – GRLevel3",  // en dash
      "KLSX - GR2analyst",
      "KLSX - GRLevel",
      // The warnings windows, by whole title.
      "Warnings - GRLevel3",
      "Warnings - GRLevel2",
      "Warnings - GR2Analyst",
      // The warning-text windows: their usual titles lack a marker in its exact case...
      "Warning Text - Grlevel3",
      "Warning Text - Grlevel2",
      "Warning Text - GRAnalyst",
      // ...and a warning-text title that does carry one is passed over too.
      "Warning Text - GRLevel3",
      "Warning Text - GRLevel2",
      "Warning Text - GR2Analyst",
      "Warning Text - Tornado Warning - GRLevel3",
  };
  for (const std::string& title : titles) {
    EXPECT_EQ(siteFromTitle(title), std::nullopt) << "title \"" << title << "\"";
  }
}

TEST(SiteFromTitle, ExaminesTheFamiliesInTurn) {
  const TitleCase cases[] = {
      // A title that begins with one family's marker may still carry another's further on.
      {"- GRLevel3 KLSX - GRLevel2", "- GR"},
      {"- GRLevel2 - GR2Analyst", "- GR"},
      // A warnings title of one family passes the window over for the later families too.
      {"Warnings - GRLevel2", std::nullopt},
      // Only a title that begins with the warning-text words is passed over.
      {"KLSX Warning Text - GRLevel3", "KLSX"},
      {"Warning text - GRLevel3", "Warn"},
      // Qualifying for several families gives the same site.
      {"KLSX - GRLevel3 - GRLevel2 - GR2Analyst", "KLSX"},
  };
  for (const TitleCase& c : cases) {
    EXPECT_EQ(siteFromTitle(c.title), c.site) << "title \"" << c.title << "\"";
  }
}

// Titles arrive as UTF-8 converted from the ANSI code page: four characters are four code
// points, never a cut multi-byte character.
TEST(SiteFromTitle, CountsCodePointsNotBytes) {
  const TitleCase cases[] = {
      {"\u00c9t\u00e9 - GRLevel3", "\u00c9t\u00e9 "},  // two-byte characters
      {"\u20ac\u20ac\u20ac\u20ac\u20ac - GRLevel2", "\u20ac\u20ac\u20ac\u20ac"},  // three-byte
      {"\U0001F329ABC - GR2Analyst", "\U0001F329ABC"},                            // four-byte
      {"K\u00f6ln - GRLevel3", "K\u00f6ln"},
  };
  for (const TitleCase& c : cases) {
    EXPECT_EQ(siteFromTitle(c.title), c.site) << "title \"" << c.title << "\"";
  }
  // Malformed text is still cut only before a lead byte.
  EXPECT_EQ(siteFromTitle("\x80\x80KL\xC3SX - GRLevel3"), std::string("\x80\x80KL\xC3", 5));
}

}  // namespace
}  // namespace stormtally
