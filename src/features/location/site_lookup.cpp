#include "location/site_lookup.h"

#include "location/site_table.h"

namespace stormtally {

void SiteLookup::lookUp() {
  desktop_.repaint();
  desktop_.focusParkingBox();
  c_.Timer1.setEnabled(false);
  c_.update.setEnabled(false);

  // The table is read afresh every time, so an edit takes effect at the next lookup. When it
  // is missing the coordinates stay, and the lookup goes on so the refresh cycle never stalls.
  site_ = c_.Nexrad_Site.text();
  siteName_.clear();
  if (std::optional<std::string> table = desktop_.readFileBesideProgram(kSiteTableName)) {
    std::string lat = c_.ID_LAT.text();
    std::string lon = c_.ID_LON.text();
    lookUpSite(*table, c_.Nexrad_Site.text(), lat, lon, &siteName_);
    c_.ID_LAT.setText(std::move(lat));
    c_.ID_LON.setText(std::move(lon));
  }

  c_.Nexrad_Site.setVisible(false);
  c_.Command1.press();
}

}  // namespace stormtally
