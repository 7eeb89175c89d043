// The site lookup: turns the site box's identifier into the coordinates the request uses in
// radar-site mode, then queries.
#pragma once

#include "core/controls.h"
#include "core/desktop.h"

namespace stormtally {

constexpr const char* kSiteTableName = "radars.gis";
constexpr int kEnterKey = 13;

class SiteLookup {
 public:
  SiteLookup(Controls& controls, Desktop& desktop) : c_(controls), desktop_(desktop) {}

  void switch_Click() { lookUp(); }
  // Enter runs the lookup; every other key only types into the box.
  void Nexrad_Site_KeyPress(int& keyAscii) {
    if (keyAscii == kEnterKey) lookUp();
  }
  // The site of the last lookup and its name in the table; empty before the first lookup,
  // and the name empty when the table has no such site.
  const std::string& site() const { return site_; }
  const std::string& siteName() const { return siteName_; }

 private:
  void lookUp();

  Controls& c_;
  Desktop& desktop_;
  std::string site_, siteName_;
};

}  // namespace stormtally
