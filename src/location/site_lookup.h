// The site lookup: turns the site box's identifier into the coordinates the request uses in
// radar-site mode, then queries.
#pragma once

#include "app/controls.h"
#include "app/desktop.h"

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

 private:
  void lookUp();

  Controls& c_;
  Desktop& desktop_;
};

}  // namespace stormtally
