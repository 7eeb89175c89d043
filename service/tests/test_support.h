// Helpers shared by the service tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace strikecount::testing_support {

inline std::string SharedData() {
  return STORMTALLY_SHARED_DATA;
}

// Skips the calling test when the reference data is not there (a user's clone has none).
#define SKIP_WITHOUT_SHARED_DATA()                                                             \
  do {                                                                                         \
    if (!std::filesystem::is_directory(::strikecount::testing_support::SharedData())) {        \
      GTEST_SKIP() << "reference data folder " << ::strikecount::testing_support::SharedData() \
                   << " is absent; GLM sample tests skipped";                                  \
    }                                                                                          \
  } while (0)

class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "strikecount-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

// Latitude and longitude of radar sites from the NOAA station report (fixed columns).
inline std::map<std::string, std::pair<double, double>> ReadStations() {
  std::map<std::string, std::pair<double, double>> out;
  std::ifstream in(SharedData() + "/nexrad-stations.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 126 || line[0] < '0' || line[0] > '9') continue;
    out[line.substr(9, 4)] = {std::stod(line.substr(106, 9)), std::stod(line.substr(116, 10))};
  }
  return out;
}

}  // namespace strikecount::testing_support
