// The site table `radars.gis`: one site per line, fields split at "|", the id in lower case
// in field 0 and latitude and longitude in fields 2 and 3.
#pragma once

#include <string>
#include <string_view>

namespace stormtally {

// Reads the whole table and applies every line whose field 0 contains the lower-cased site
// text: field 2 (trimmed of blanks) goes into lat and field 3 into lon, so the last matching
// line decides. A line with three fields sets lat only; a shorter one neither. Lines end at
// CR LF, CR or LF. A site text that is empty or only blanks matches no line. When name is
// given, field 1 (trimmed) of the last matching line that has it goes there.
void lookUpSite(std::string_view table, std::string_view siteText, std::string& lat,
                std::string& lon, std::string* name = nullptr);

}  // namespace stormtally
