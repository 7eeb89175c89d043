#include "count_query.h"

namespace strikecount {

CountQueryResult ParseCountQuery(std::string_view raw) {
  stormtally::wire::CountQuery read = stormtally::wire::readCountQuery(raw);
  CountQueryResult result;
  if (read.place) {
    result.query = CountQuery{read.place->lat, read.place->lon, read.place->distance};
  }
  result.error = std::move(read.error);
  return result;
}

}  // namespace strikecount
