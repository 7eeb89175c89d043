#include "location/site_table.h"

#include <cstddef>
#include <optional>

namespace stormtally {

namespace {

constexpr char kFieldSeparator = '|';

bool endsLine(char ch) {
  return ch == '\r' || ch == '\n';
}

// Removes leading and trailing blanks (space characters only; tabs stay).
std::string_view trimBlanks(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] == ' ') ++first;
  while (last > first && text[last - 1] == ' ') --last;
  return text.substr(first, last - first);
}

// Lower-cases A to Z only: every other byte, those above 127 included, is kept as it is.
std::string lowerAsciiLetters(std::string_view text) {
  std::string lowered(text);
  for (char& ch : lowered) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return lowered;
}

}  // namespace

void lookUpSite(std::string_view table, std::string_view siteText, std::string& lat,
                std::string& lon, std::string* name) {
  // A blank site box names no site; letting it match every line would silently pick
  // whatever site happens to stand last in the table.
  if (trimBlanks(siteText).empty()) return;
  const std::string site = lowerAsciiLetters(siteText);

  // Only views into the table are kept while reading; the texts are copied once at the end.
  // Each matching line overwrites what an earlier one found, field by field, so a later
  // line with three fields replaces the latitude and keeps an earlier longitude.
  std::optional<std::string_view> foundLat;
  std::optional<std::string_view> foundLon;
  std::optional<std::string_view> foundName;

  const char* const begin = table.data();
  const std::size_t size = table.size();
  std::size_t pos = 0;
  while (pos < size) {
    // Field 0 runs to the first separator or to the end of the line.
    const std::size_t lineStart = pos;
    while (pos < size && table[pos] != kFieldSeparator && !endsLine(table[pos])) ++pos;
    const std::string_view field0(begin + lineStart, pos - lineStart);

    if (!field0.empty() && field0.find(site) != std::string_view::npos) {
      // Fields 1 to 3: each starts after a separator on the same line.
      std::string_view fields[4];
      int count = 1;
      while (count < 4 && pos < size && table[pos] == kFieldSeparator) {
        const std::size_t fieldStart = ++pos;
        while (pos < size && table[pos] != kFieldSeparator && !endsLine(table[pos])) ++pos;
        fields[count++] = std::string_view(begin + fieldStart, pos - fieldStart);
      }
      if (count >= 2) foundName = trimBlanks(fields[1]);
      if (count >= 3) foundLat = trimBlanks(fields[2]);
      if (count >= 4) foundLon = trimBlanks(fields[3]);
    }

    // Skip the rest of the line and its terminator: CR LF, a lone CR or a lone LF.
    while (pos < size && !endsLine(table[pos])) ++pos;
    if (pos < size) {
      const char terminator = table[pos++];
      if (terminator == '\r' && pos < size && table[pos] == '\n') ++pos;
    }
  }

  if (foundLat) lat.assign(foundLat->data(), foundLat->size());
  if (foundLon) lon.assign(foundLon->data(), foundLon->size());
  if (foundName && name) name->assign(foundName->data(), foundName->size());
}

}  // namespace stormtally
