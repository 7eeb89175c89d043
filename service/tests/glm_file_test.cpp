// The GLM reader and the counts on every real sample granule.
#include "glm_file.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "geo.h"
#include "sources.h"
#include "strike_service.h"
#include "test_support.h"

namespace strikecount {
namespace {

using testing_support::SharedData;
using testing_support::TempDir;

struct Sample {
  const char* file;
  const char* platform;
  size_t flashes;
  const char* first_event_min;  // README §3, after correct decoding
  const char* first_event_max;
};
const Sample kSamples[] = {
    {"OR_GLM-L2-LCFA_G16_s20181830433000_e20181830433200_c20181830433231.nc", "G16", 302,
     "2018-07-02T04:32:59.214Z", "2018-07-02T04:33:19.442Z"},
    {"OR_GLM-L2-LCFA_G16_s20181830433200_e20181830433400_c20181830433424.nc", "G16", 277,
     "2018-07-02T04:33:19.290Z", "2018-07-02T04:33:39.456Z"},
    {"OR_GLM-L2-LCFA_G16_s20181830433400_e20181830434000_c20181830434029.nc", "G16", 274,
     "2018-07-02T04:33:39.166Z", "2018-07-02T04:33:59.350Z"},
    {"OR_GLM-L2-LCFA_G16_s20182901026200_e20182901026400_c20182901026423.nc", "G16", 208,
     "2018-10-17T10:26:19.103Z", "2018-10-17T10:26:38.759Z"},
    {"OR_GLM-L2-LCFA_G16_s20203662359400_e20210010000004_c20210010000030.nc", "G16", 179,
     "2020-12-31T23:59:39.247Z", "2020-12-31T23:59:59.205Z"},
    {"OR_GLM-L2-LCFA_G16_s20233580057000_e20233580057200_c20233580057222.nc", "G16", 212,
     "2023-12-24T00:56:58.269Z", "2023-12-24T00:57:19.303Z"},
    {"OR_GLM-L2-LCFA_G17_s20200160612000_e20200160612110_c20200160612335.nc", "G17", 0, "", ""},
    {"OR_GLM-L2-LCFA_G17_s20221542100000_e20221542100200_c20221542100217.nc", "G17", 117,
     "2022-06-03T20:59:59.582Z", "2022-06-03T21:00:19.093Z"},
    {"OR_GLM-L2-LCFA_G19_s20250971300200_e20250971300400_c20250971300420.nc", "G19", 115,
     "2025-04-07T13:00:18.825Z", "2025-04-07T13:00:38.931Z"},
};

std::string PathOf(const char* file) {
  return SharedData() + "/" + file;
}

// flash_lat/flash_lon read straight from the file, for an independent count.
std::vector<std::pair<double, double>> RawPositions(const std::string& path) {
  int nc, dim, lat_var, lon_var;
  size_t n = 0;
  EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR);
  nc_inq_dimid(nc, "number_of_flashes", &dim);
  nc_inq_dimlen(nc, dim, &n);
  std::vector<float> lat(n), lon(n);
  if (n > 0) {
    nc_inq_varid(nc, "flash_lat", &lat_var);
    nc_inq_varid(nc, "flash_lon", &lon_var);
    nc_get_var_float(nc, lat_var, lat.data());
    nc_get_var_float(nc, lon_var, lon.data());
  }
  nc_close(nc);
  std::vector<std::pair<double, double>> out;
  for (size_t i = 0; i < n; ++i) out.emplace_back(lat[i], lon[i]);
  return out;
}

ServiceOptions ReplayAt(TimeMs now, const std::string& platform) {
  ServiceOptions options;
  options.source_detail = "GLM " + platform + " samples";
  options.clock.kind = ClockSetting::Kind::kFixed;
  options.clock.fixed = now;
  options.wall_clock = [now] { return now + 60 * kMsPerSecond; };
  return options;
}

std::string Ask(StrikeService& service, double lat, double lon, double miles) {
  char target[160];
  std::snprintf(target, sizeof target,
                "/counter/Strike_Counter.php?lat=%.6f&lon=%.6f&distance=%.6f", lat, lon, miles);
  const HttpReply reply = service.Handle("GET", target);
  EXPECT_EQ(reply.status, 200) << reply.body;
  return reply.body;
}

TEST(GlmFile, DecodesEverySampleAsItsNotesSay) {
  SKIP_WITHOUT_SHARED_DATA();
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    const GlmReadResult r = ReadGlmFile(PathOf(s.file));
    ASSERT_TRUE(r.granule) << r.error;
    const GlmGranule& g = *r.granule;
    EXPECT_EQ(g.platform, s.platform);
    EXPECT_EQ(g.flashes.size(), s.flashes);
    EXPECT_EQ(g.rejected, 0u);
    const auto name = ParseGlmFileName(s.file);
    ASSERT_TRUE(name);
    EXPECT_EQ(g.start, name->start);
    if (g.flashes.empty()) continue;
    TimeMs lo = INT64_MAX, hi = INT64_MIN;
    for (const Flash& f : g.flashes) lo = std::min(lo, f.time), hi = std::max(hi, f.time);
    EXPECT_NEAR(static_cast<double>(lo), static_cast<double>(*ParseIso8601(s.first_event_min)),
                1.0);
    EXPECT_NEAR(static_cast<double>(hi), static_cast<double>(*ParseIso8601(s.first_event_max)),
                1.0);
    EXPECT_LE(hi, g.end);
  }
}

TEST(GlmFile, ReadsUnsignedTimesWithoutTheUnsignedAttribute) {
  SKIP_WITHOUT_SHARED_DATA();
  // The 2018-10-17 granule lacks _Unsigned on its time variables; the 2018-07 ones are signed.
  const auto missing = ReadGlmFile(PathOf(kSamples[3].file));
  ASSERT_TRUE(missing.granule);
  EXPECT_TRUE(missing.granule->time_unsigned);
  const auto old_style = ReadGlmFile(PathOf(kSamples[0].file));
  ASSERT_TRUE(old_style.granule);
  EXPECT_FALSE(old_style.granule->time_unsigned);
  // A flash that began before the granule did (negative offset) keeps its earlier time.
  EXPECT_LT(old_style.granule->flashes.front().time, old_style.granule->start + 20000);
}

TEST(GlmFile, CountsOnEverySampleMatchAnIndependentBruteForce) {
  SKIP_WITHOUT_SHARED_DATA();
  const auto stations = testing_support::ReadStations();
  std::mt19937_64 rng(11);
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    const GlmReadResult r = ReadGlmFile(PathOf(s.file));
    ASSERT_TRUE(r.granule);
    StrikeService service(ReplayAt(r.granule->end, s.platform));
    service.Ingest(r.granule->flashes, r.granule->end);
    const auto raw = RawPositions(PathOf(s.file));
    ASSERT_EQ(raw.size(), s.flashes);
    // Query at every radar site and at points beside flashes, over a spread of radii.
    std::vector<std::pair<double, double>> points;
    for (const auto& [id, pos] : stations) points.push_back(pos);
    std::uniform_real_distribution<double> jitter(-1.5, 1.5);
    for (size_t i = 0; i < raw.size(); i += 7) {
      points.emplace_back(std::clamp(raw[i].first + jitter(rng), -90.0, 90.0),
                          std::remainder(raw[i].second + jitter(rng), 360.0));
    }
    for (const auto& [lat, lon] : points) {
      for (double miles : {5.0, 31.07, 62.14, 128.0, 248.0, 1000.0}) {
        std::uint64_t expected = 0;
        for (const auto& [flat, flon] : raw) {
          expected += GreatCircleMiles(lat, lon, flat, flon) <= miles;
        }
        ASSERT_EQ(Ask(service, lat, lon, miles), std::to_string(expected))
            << lat << "," << lon << " r=" << miles;
      }
    }
  }
}

TEST(GlmFile, ReferenceCountsNearRadarSites) {
  SKIP_WITHOUT_SHARED_DATA();
  // Counts from the data notes, made on a 6371.0 km sphere: the same angles are asked here.
  const auto stations = testing_support::ReadStations();
  auto miles_for_km = [](double km) { return km / 6371.0 * kEarthRadiusMiles; };
  struct Reference {
    std::vector<int> files;
    const char* site;
    int within[4];  // 50, 100, 150, 250 km
  } references[] = {
      {{0, 1, 2}, "TMSY", {15, 15, 15, 15}}, {{0, 1, 2}, "KLVX", {15, 15, 15, 15}},
      {{0, 1, 2}, "KHDC", {3, 15, 15, 15}},  {{5}, "KMAF", {6, 9, 11, 24}},
      {{5}, "KLBB", {5, 7, 9, 17}},          {{7}, "KEVX", {2, 15, 16, 19}},
      {{8}, "KEVX", {0, 13, 27, 45}},        {{8}, "KTLH", {0, 9, 17, 31}},
  };
  for (const Reference& ref : references) {
    SCOPED_TRACE(ref.site);
    TimeMs end = 0;
    std::vector<GlmGranule> granules;
    for (int i : ref.files) {
      granules.push_back(*ReadGlmFile(PathOf(kSamples[i].file)).granule);
      end = std::max(end, granules.back().end);
    }
    StrikeService service(ReplayAt(end, granules.front().platform));
    for (const auto& g : granules) service.Ingest(g.flashes, g.end);
    const auto [lat, lon] = stations.at(ref.site);
    const double km[] = {50, 100, 150, 250};
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(Ask(service, lat, lon, miles_for_km(km[k])), std::to_string(ref.within[k]))
          << km[k] << " km";
    }
  }
}

TEST(GlmFile, AFlashAtExactlyTheWindowsStartOrEndCounts) {
  SKIP_WITHOUT_SHARED_DATA();
  // The continuous minute of 2018-07-02 (853 flashes), with a one-minute window placed so that
  // a chosen flash sits exactly on its start or its end, and then one millisecond outside.
  std::vector<Flash> all;
  TimeMs end = 0;
  for (int i = 0; i < 3; ++i) {
    const auto g = *ReadGlmFile(PathOf(kSamples[i].file)).granule;
    all.insert(all.end(), g.flashes.begin(), g.flashes.end());
    end = std::max(end, g.end);
  }
  ASSERT_EQ(all.size(), 853u);
  std::sort(all.begin(), all.end(), [](const Flash& a, const Flash& b) { return a.time < b.time; });
  const Flash chosen = all[all.size() / 2];
  auto expected = [&](TimeMs now) {
    return std::to_string(std::count_if(all.begin(), all.end(), [&](const Flash& f) {
      return f.time >= now - kMsPerMinute && f.time <= now &&
             GreatCircleMiles(chosen.lat, chosen.lon, f.lat, f.lon) <= 20;
    }));
  };
  struct Case {
    const char* what;
    TimeMs now;
    bool counts_chosen;
  } cases[] = {{"at the start", chosen.time + kMsPerMinute, true},
               {"just before the start", chosen.time + kMsPerMinute + 1, false},
               {"at the end", chosen.time, true},
               {"just after the end", chosen.time - 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServiceOptions options = ReplayAt(c.now, "G16");
    options.window = kMsPerMinute;
    StrikeService service(options);
    service.Ingest(all, end);
    const std::string got = Ask(service, chosen.lat, chosen.lon, 20);
    EXPECT_EQ(got, expected(c.now));
    // Moving the window by the one millisecond changes the count by exactly the chosen flash
    // (and any twin at the same millisecond).
    const auto twins = std::count_if(all.begin(), all.end(), [&](const Flash& f) {
      return f.time == chosen.time && GreatCircleMiles(chosen.lat, chosen.lon, f.lat, f.lon) <= 20;
    });
    const TimeMs other_now = c.counts_chosen ? (c.now == chosen.time ? c.now - 1 : c.now + 1)
                                             : (c.now == chosen.time - 1 ? c.now + 1 : c.now - 1);
    const long diff = std::stol(got) - std::stol(expected(other_now));
    EXPECT_EQ(diff, c.counts_chosen ? twins : -twins);
  }
}

TEST(GlmFile, CorruptTruncatedOrForeignFilesAreReportedNotFatal) {
  SKIP_WITHOUT_SHARED_DATA();
  TempDir dir;
  std::ifstream in(PathOf(kSamples[5].file), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  testing_support::WriteFile(dir / "truncated.nc", bytes.substr(0, bytes.size() / 2));
  testing_support::WriteFile(dir / "header-only.nc", bytes.substr(0, 4096));
  testing_support::WriteFile(dir / "empty.nc", "");
  testing_support::WriteFile(dir / "text.nc", "this is not netCDF\n");
  std::string garbled = bytes;
  for (size_t i = 200000; i < 260000; ++i) garbled[i] = static_cast<char>(i * 131);
  testing_support::WriteFile(dir / "garbled.nc", garbled);
  for (const char* name : {"truncated.nc", "header-only.nc", "empty.nc", "text.nc"}) {
    const GlmReadResult r = ReadGlmFile(dir / name);
    EXPECT_FALSE(r.granule) << name;
    EXPECT_FALSE(r.error.empty()) << name;
  }
  // Garbled data may still open; whatever comes out must be sane flashes or a reported error.
  const GlmReadResult garbled_read = ReadGlmFile(dir / "garbled.nc");
  if (garbled_read.granule) {
    for (const Flash& f : garbled_read.granule->flashes) {
      EXPECT_TRUE(f.lat >= -90 && f.lat <= 90 && f.lon >= -180 && f.lon <= 180);
    }
  }
  EXPECT_FALSE(ReadGlmFile(dir / "missing.nc").granule);
}

TEST(GlmFile, TheIsolatedReaderGivesTheSameAnswersAndSurvivesItsReader) {
  SKIP_WITHOUT_SHARED_DATA();
  for (const Sample& s : kSamples) {
    SCOPED_TRACE(s.file);
    const GlmReadResult direct = ReadGlmFile(PathOf(s.file));
    const GlmReadResult isolated = ReadGlmFileIsolated(PathOf(s.file), DefaultGlmReaderProgram());
    ASSERT_TRUE(isolated.granule) << isolated.error;
    EXPECT_EQ(isolated.granule->platform, direct.granule->platform);
    EXPECT_EQ(isolated.granule->start, direct.granule->start);
    EXPECT_EQ(isolated.granule->end, direct.granule->end);
    ASSERT_EQ(isolated.granule->flashes.size(), direct.granule->flashes.size());
    for (size_t i = 0; i < direct.granule->flashes.size(); ++i) {
      EXPECT_EQ(isolated.granule->flashes[i].time, direct.granule->flashes[i].time);
      EXPECT_EQ(isolated.granule->flashes[i].lat, direct.granule->flashes[i].lat);
    }
  }
  const GlmReadResult missing =
      ReadGlmFileIsolated(SharedData() + "/no-such-file.nc", DefaultGlmReaderProgram());
  EXPECT_FALSE(missing.granule);
  EXPECT_NE(missing.error.find("cannot open"), std::string::npos) << missing.error;
  // A reader that dies or hangs, as the HDF5 library might on a malicious file.
  TempDir dir;
  testing_support::WriteFile(dir / "crash", "#!/bin/sh\nkill -SEGV $$\n");
  testing_support::WriteFile(dir / "hang", "#!/bin/sh\nexec sleep 30\n");
  std::filesystem::permissions(dir / "crash", std::filesystem::perms::owner_all);
  std::filesystem::permissions(dir / "hang", std::filesystem::perms::owner_all);
  const GlmReadResult crashed = ReadGlmFileIsolated("x.nc", dir / "crash");
  EXPECT_FALSE(crashed.granule);
  EXPECT_NE(crashed.error.find("crashed"), std::string::npos) << crashed.error;
  const GlmReadResult hung = ReadGlmFileIsolated("x.nc", dir / "hang", 200);
  EXPECT_FALSE(hung.granule);
  EXPECT_NE(hung.error.find("longer than"), std::string::npos) << hung.error;
}

TEST(GlmFileName, ParsesStartAndEndIncludingTheYearBoundary) {
  const auto n =
      ParseGlmFileName("/x/OR_GLM-L2-LCFA_G16_s20203662359400_e20210010000004_c20210010000030.nc");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->platform, "G16");
  EXPECT_EQ(FormatIso8601(n->start), "2020-12-31T23:59:40.000Z");
  EXPECT_EQ(FormatIso8601(n->end), "2021-01-01T00:00:00.400Z");
  EXPECT_FALSE(ParseGlmFileName("OR_GLM-L2-LCFA_G16_s20193662359400_e20210010000004_c1.nc"));
  EXPECT_FALSE(ParseGlmFileName("notes.nc"));
}

// The directory source: platforms, duplicates, empty and corrupt files, files still growing.
class GlmDirectoryTest : public ::testing::Test {
 protected:
  void Copy(const char* file, const std::string& as = "") {
    std::filesystem::copy_file(PathOf(file), dir_ / (as.empty() ? std::string(file) : as),
                               std::filesystem::copy_options::overwrite_existing);
    // Look settled: older than one poll.
    std::filesystem::last_write_time(
        dir_ / (as.empty() ? std::string(file) : as),
        std::filesystem::file_time_type::clock::now() - std::chrono::seconds(10));
  }
  TempDir dir_;
};

TEST_F(GlmDirectoryTest, TakesOnePlatformOnceAndSurvivesBadFiles) {
  SKIP_WITHOUT_SHARED_DATA();
  ServiceOptions options = ReplayAt(0, "G16");
  options.clock.kind = ClockSetting::Kind::kNewestData;
  options.wall_clock = [] { return *ParseIso8601("2018-07-02T05:00:00Z"); };
  StrikeService service(options);
  GlmDirectorySource source(service, dir_.path(), "G16", 2000);

  source.Poll();  // nothing there yet
  EXPECT_EQ(service.Handle("GET", "/counter/Strike_Counter.php?lat=30&lon=-90&distance=100").status,
            503);

  Copy(kSamples[0].file);
  Copy(kSamples[1].file);
  Copy(kSamples[6].file);  // G17, another satellite
  testing_support::WriteFile(dir_ / "OR_GLM-L2-LCFA_G16_s20181830434000_e20181830434200_c1.nc",
                             "broken");
  std::filesystem::last_write_time(
      dir_ / "OR_GLM-L2-LCFA_G16_s20181830434000_e20181830434200_c1.nc",
      std::filesystem::file_time_type::clock::now() - std::chrono::seconds(10));
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kIngested), 2u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kOtherPlatform), 1u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kCorrupt), 1u);
  EXPECT_NE(service.Handle("GET", "/healthz").body.find("unreadable"), std::string::npos);

  // The same granule again under another creation time is not counted twice; the corrupt file
  // is not read again until it changes.
  Copy(kSamples[1].file, "OR_GLM-L2-LCFA_G16_s20181830433200_e20181830433400_c20181830439999.nc");
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kDuplicate), 1u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kCorrupt), 1u);

  // A file that has only just appeared waits one poll: it may still be growing.
  std::filesystem::copy_file(PathOf(kSamples[2].file), dir_ / kSamples[2].file);
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u + 274u);
  EXPECT_EQ(
      service.Handle("GET", "/counter/Strike_Counter.php?lat=30.5193&lon=-90.4074&distance=31.0686")
          .body,
      "3");
}

TEST_F(GlmDirectoryTest, AnEmptyGranuleIsFreshDataWithNoFlashes) {
  SKIP_WITHOUT_SHARED_DATA();
  const TimeMs end = *ParseIso8601("2020-01-16T06:12:11.000Z");
  ServiceOptions options = ReplayAt(end, "G17");
  options.clock.kind = ClockSetting::Kind::kSystem;
  options.wall_clock = [end] { return end + 30 * kMsPerSecond; };
  StrikeService service(options);
  GlmDirectorySource source(service, dir_.path(), "G17", 2000);
  Copy(kSamples[6].file);
  source.Poll();
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kEmpty), 1u);
  const HttpReply reply =
      service.Handle("GET", "/counter/Strike_Counter.php?lat=30&lon=-120&distance=250");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "0");
}

TEST_F(GlmDirectoryTest, FilesOlderThanTheWindowAreSkippedUnopened) {
  SKIP_WITHOUT_SHARED_DATA();
  const TimeMs now = *ParseIso8601("2018-07-02T05:00:00Z");  // 26 minutes after the files
  ServiceOptions options = ReplayAt(now, "G16");
  StrikeService service(options);
  GlmDirectorySource source(service, dir_.path(), "G16", 2000);
  Copy(kSamples[0].file);
  source.Poll();
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kOld), 1u);
  EXPECT_EQ(service.index().size(), 0u);
}

}  // namespace
}  // namespace strikecount
