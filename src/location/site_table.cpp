#include "location/site_table.h"

namespace stormtally {

void lookUpSite(std::string_view, std::string_view, std::string&, std::string&) {}

}  // namespace stormtally
