// The GLM reader, the reader program and the directory source, on every real sample granule.
#include "glm_file.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <atomic>
#include <random>
#include <thread>

#include "http_front.h"
#include "sources.h"
#include "test_support.h"

namespace strikecount {
namespace {

using testing_support::SharedData;
using testing_support::TempDir;
namespace fs = std::filesystem;

// Times packed as signed milliseconds (2018-07), as unsigned seconds without _Unsigned
// (2018-10-17) and with it (later); a year boundary; a granule without lightning. The first
// events of the earliest and latest flash, in ms after the start, are from the data notes.
const std::tuple<const char*, size_t, int, int> kSamples[] = {
    {"OR_GLM-L2-LCFA_G16_s20181830433000_e20181830433200_c20181830433231.nc", 302, -786, 19442},
    {"OR_GLM-L2-LCFA_G16_s20181830433200_e20181830433400_c20181830433424.nc", 277, -710, 19456},
    {"OR_GLM-L2-LCFA_G16_s20181830433400_e20181830434000_c20181830434029.nc", 274, -834, 19350},
    {"OR_GLM-L2-LCFA_G16_s20182901026200_e20182901026400_c20182901026423.nc", 208, -897, 18759},
    {"OR_GLM-L2-LCFA_G16_s20203662359400_e20210010000004_c20210010000030.nc", 179, -753, 19205},
    {"OR_GLM-L2-LCFA_G16_s20233580057000_e20233580057200_c20233580057222.nc", 212, -1731, 19303},
    {"OR_GLM-L2-LCFA_G17_s20200160612000_e20200160612110_c20200160612335.nc", 0, 0, 0},
    {"OR_GLM-L2-LCFA_G17_s20221542100000_e20221542100200_c20221542100217.nc", 117, -418, 19093},
    {"OR_GLM-L2-LCFA_G19_s20250971300200_e20250971300400_c20250971300420.nc", 115, -1175, 18931}};

std::string PathOf(int sample) {
  return SharedData() + "/" + std::get<0>(kSamples[sample]);
}

StrikeService ServiceAt(TimeMs now, ClockSetting::Kind clock = ClockSetting::Kind::kFixed) {
  ServiceOptions options;
  options.clock = {clock, now};
  options.wall_clock = [now] { return now + 30 * kMsPerSecond; };
  return StrikeService(options);
}

std::string Count(StrikeService& service, double lat, double lon, double miles) {
  char target[160];
  std::snprintf(target, sizeof target,
                "/counter/Strike_Counter.php?lat=%.6f&lon=%.6f&distance=%.6f", lat, lon, miles);
  return service.Handle("GET", target).body;
}

std::map<std::string, std::pair<double, double>> Stations() {  // NOAA report, fixed columns
  std::map<std::string, std::pair<double, double>> out;
  std::ifstream in(SharedData() + "/nexrad-stations.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 126 || line[0] < '0' || line[0] > '9') continue;
    out[line.substr(9, 4)] = {std::stod(line.substr(106, 9)), std::stod(line.substr(116, 10))};
  }
  return out;
}

TEST(GlmFile, TheReaderProgramDecodesEverySampleAndCountsMatchABruteForce) {
  SKIP_WITHOUT_SHARED_DATA();
  const auto stations = Stations();
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> jitter(-1.5, 1.5);
  EXPECT_FALSE(ParseGlmFileName("OR_GLM-L2-LCFA_G16_s20193662359400_e20210010000004_c1.nc"));
  for (int i = 0; i < 9; ++i) {
    const auto [file, flashes, first_min, first_max] = kSamples[i];
    SCOPED_TRACE(file);
    const GlmReadResult r = ReadGlmFileIsolated(PathOf(i), DefaultGlmReaderProgram());
    ASSERT_TRUE(r.granule) << r.error;
    const GlmGranule& g = *r.granule;
    const auto name = ParseGlmFileName(file);
    EXPECT_EQ(std::make_tuple(g.platform, g.start, g.end, g.rejected),
              std::make_tuple(name->platform, name->start, name->end, size_t{0}));
    ASSERT_EQ(g.flashes.size(), flashes);
    if (g.flashes.empty()) continue;
    const auto [lo, hi] = std::minmax_element(g.flashes.begin(), g.flashes.end(),
                                              [](auto& a, auto& b) { return a.time < b.time; });
    EXPECT_NEAR(lo->time - g.start, first_min, 1);
    EXPECT_NEAR(hi->time - g.start, first_max, 1);
    // Counts at every radar site and beside flashes, over a spread of radii.
    StrikeService service = ServiceAt(g.end);
    service.Ingest(g.flashes, g.end);
    std::vector<std::pair<double, double>> points;
    for (const auto& [id, pos] : stations) points.push_back(pos);
    for (size_t f = 0; f < g.flashes.size(); f += 7) {
      points.emplace_back(std::clamp(g.flashes[f].lat + jitter(rng), -90.0, 90.0),
                          std::remainder(g.flashes[f].lon + jitter(rng), 360.0));
    }
    for (const auto& [lat, lon] : points) {
      for (double miles : {5.0, 31.07, 62.14, 128.0, 248.0, 1000.0}) {
        const auto expected = std::count_if(g.flashes.begin(), g.flashes.end(), [&](auto& f) {
          return GreatCircleMiles(lat, lon, f.lat, f.lon) <= miles;
        });
        ASSERT_EQ(Count(service, lat, lon, miles), std::to_string(expected))
            << lat << "," << lon << " r=" << miles;
      }
    }
  }
}

TEST(GlmFile, ReferenceCountsNearRadarSites) {
  SKIP_WITHOUT_SHARED_DATA();
  // Counts from the data notes, made on a 6371.0 km sphere: the same angles are asked here.
  const auto stations = Stations();
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
    std::vector<GlmGranule> granules;
    for (int i : ref.files) granules.push_back(*ReadGlmFile(PathOf(i)).granule);
    StrikeService service = ServiceAt(granules.back().end);
    for (const auto& g : granules) service.Ingest(g.flashes, g.end);
    const auto [lat, lon] = stations.at(ref.site);
    const double km[] = {50, 100, 150, 250};
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(Count(service, lat, lon, km[k] / 6371.0 * kEarthRadiusMiles),
                std::to_string(ref.within[k]))
          << km[k] << " km";
    }
  }
}

TEST(GlmFile, UnreadableFilesAndFailingReadersAreReportedNotFatal) {
  SKIP_WITHOUT_SHARED_DATA();
  TempDir dir;
  std::ifstream in(PathOf(5), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  testing_support::WriteFile(dir / "truncated.nc", bytes.substr(0, bytes.size() / 2));
  testing_support::WriteFile(dir / "header-only.nc", bytes.substr(0, 4096));
  testing_support::WriteFile(dir / "empty.nc", "");
  testing_support::WriteFile(dir / "text.nc", "this is not netCDF\n");
  for (const char* script :
       {"crash:kill -SEGV $$", "hang:exec sleep 30", "mute:true", "short:head -c 100 /dev/zero"}) {
    const std::string s = script, path = dir / s.substr(0, s.find(':'));
    testing_support::WriteFile(path, "#!/bin/sh\n" + s.substr(s.find(':') + 1) + "\n");
    fs::permissions(path, fs::perms::owner_all);
  }
  const std::string reader = DefaultGlmReaderProgram();
  const std::tuple<std::string, std::string, const char*> cases[] = {
      {"truncated.nc", reader, ""},
      {"header-only.nc", reader, ""},
      {"empty.nc", reader, ""},
      {"text.nc", reader, "cannot open as netCDF"},
      {"missing.nc", reader, "cannot open"},
      {"x.nc", dir / "crash", "the reader crashed"},
      {"x.nc", dir / "hang", "longer than"},
      {"x.nc", dir / "mute", "no answer"},
      {"x.nc", dir / "short", "cut short"},
      {"x.nc", dir / "absent", "cannot start the reader"},
  };
  for (const auto& [file, program, error] : cases) {
    const GlmReadResult r = ReadGlmFileIsolated(dir / file, program, 1000);
    EXPECT_FALSE(r.granule) << file << " " << program;
    EXPECT_NE(r.error.find(error), std::string::npos) << r.error;
    EXPECT_FALSE(r.error.empty()) << file << " " << program;
  }
  // Garbled data may still open; whatever comes out must be sane flashes or a reported error.
  for (size_t i = 200000; i < 260000; ++i) bytes[i] = static_cast<char>(i * 131);
  testing_support::WriteFile(dir / "garbled.nc", bytes);
  const GlmReadResult garbled = ReadGlmFileIsolated(dir / "garbled.nc", reader);
  for (const Flash& f : garbled.granule ? garbled.granule->flashes : std::vector<Flash>{}) {
    EXPECT_TRUE(f.lat >= -90 && f.lat <= 90 && f.lon >= -180 && f.lon <= 180);
  }
}

// The directory source: platforms, duplicates, empty, old and corrupt files, files still growing.
class GlmDirectory : public ::testing::Test {
 protected:
  void Put(int sample, const std::string& as = "", bool settled = true) {
    const std::string path = dir_ / (as.empty() ? std::get<0>(kSamples[sample]) : as);
    sample < 0 ? testing_support::WriteFile(path, "broken")
               : (void)fs::copy_file(PathOf(sample), path);
    if (settled)
      fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(10));
  }
  std::uint64_t Files(Metrics::GlmFile kind) { return service_.metrics().GlmFiles(kind); }
  TempDir dir_;
  StrikeService service_ =
      ServiceAt(*ParseIso8601("2018-07-02T04:00:00Z"), ClockSetting::Kind::kNewestData);
};

TEST_F(GlmDirectory, TakesOnePlatformOnceAndSurvivesBadFiles) {
  SKIP_WITHOUT_SHARED_DATA();
  GlmDirectorySource source(service_, dir_.path(), "G16", 2000);
  source.Poll();  // nothing there yet
  EXPECT_EQ(
      service_.Handle("GET", "/counter/Strike_Counter.php?lat=30&lon=-90&distance=100").status,
      503);
  Put(0);
  Put(1);
  Put(6);  // G17, another satellite
  Put(-1, "OR_GLM-L2-LCFA_G16_s20181830434000_e20181830434200_c1.nc");
  source.Poll();
  EXPECT_EQ(service_.index().size(), 302u + 277u);
  EXPECT_EQ(Files(Metrics::GlmFile::kIngested), 2u);
  EXPECT_EQ(Files(Metrics::GlmFile::kOtherPlatform), 1u);
  EXPECT_EQ(Files(Metrics::GlmFile::kCorrupt), 1u);
  EXPECT_NE(service_.Handle("GET", "/healthz").body.find("unreadable"), std::string::npos);
  // The same granule under another creation time is taken once; the corrupt file is not read
  // again until it changes; a file that has only just appeared waits one poll.
  Put(1, "OR_GLM-L2-LCFA_G16_s20181830433200_e20181830433400_c20181830439999.nc");
  Put(2, "", false);
  source.Poll();
  EXPECT_EQ(service_.index().size(), 302u + 277u);
  EXPECT_EQ(Files(Metrics::GlmFile::kDuplicate), 1u);
  EXPECT_EQ(Files(Metrics::GlmFile::kCorrupt), 1u);
  source.Poll();
  EXPECT_EQ(service_.index().size(), 302u + 277u + 274u);
  EXPECT_EQ(Count(service_, 30.5193, -90.4074, 31.0686), "3");
  // A granule that ended before the window (of the newest file) is skipped unopened.
  Put(4);
  Put(3);
  source.Poll();
  EXPECT_EQ(Files(Metrics::GlmFile::kIngested), 4u);
  EXPECT_EQ(Files(Metrics::GlmFile::kOld), 1u);
}

TEST_F(GlmDirectory, AnEmptyGranuleIsFreshDataWithNoFlashes) {
  SKIP_WITHOUT_SHARED_DATA();
  StrikeService service =
      ServiceAt(*ParseIso8601("2020-01-16T06:12:11Z"), ClockSetting::Kind::kSystem);
  GlmDirectorySource source(service, dir_.path(), "G17", 2000);
  Put(6);
  source.Poll();
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kEmpty), 1u);
  EXPECT_EQ(Count(service, 30, -120, 250), "0");
}

// A granule of 1 s written with libnetcdf, times packed as in the later real files.
void WriteGranule(const std::string& path, TimeMs start, const std::vector<Flash>& flashes) {
  int nc, dim, lat, lon, time;
  ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4 | NC_CLOBBER, &nc), NC_NOERR);
  const std::string from = FormatIso8601(start), to = FormatIso8601(start + 1000);
  const std::string units = "seconds since " + from.substr(0, 10) + " " + from.substr(11, 12);
  nc_put_att_text(nc, NC_GLOBAL, "platform_ID", 3, "G19");
  nc_put_att_text(nc, NC_GLOBAL, "time_coverage_start", from.size(), from.data());
  nc_put_att_text(nc, NC_GLOBAL, "time_coverage_end", to.size(), to.data());
  nc_def_dim(nc, "number_of_flashes", flashes.size(), &dim);
  nc_def_var(nc, "flash_lat", NC_FLOAT, 1, &dim, &lat);
  nc_def_var(nc, "flash_lon", NC_FLOAT, 1, &dim, &lon);
  nc_def_var(nc, "flash_time_offset_of_first_event", NC_SHORT, 1, &dim, &time);
  const double scale = 0.00038147555, offset = -5;
  nc_put_att_text(nc, time, "units", units.size(), units.data());
  nc_put_att_double(nc, time, "scale_factor", NC_DOUBLE, 1, &scale);
  nc_put_att_double(nc, time, "add_offset", NC_DOUBLE, 1, &offset);
  std::vector<float> lats, lons;
  std::vector<short> times;
  for (const Flash& f : flashes) {
    lats.push_back(static_cast<float>(f.lat));
    lons.push_back(static_cast<float>(f.lon));
    times.push_back(static_cast<short>(std::lround(((f.time - start) / 1000.0 - offset) / scale)));
  }
  nc_put_var_float(nc, lat, lats.data());
  nc_put_var_float(nc, lon, lons.data());
  nc_put_var_short(nc, time, times.data());
  ASSERT_EQ(nc_close(nc), NC_NOERR);
}

TEST_F(GlmDirectory, IngestsTwoHundredFilesWhileTheFrontIsUnderQueryLoad) {
  const TimeMs t0 = *ParseIso8601("2025-04-07T13:00:00Z");
  for (int i = 0; i < 200; ++i) {  // two flashes near Tallahassee and one in Texas in each
    const TimeMs t = t0 + i * 1000 + 500;
    WriteGranule(dir_ / ("granule-" + std::to_string(i) + ".nc"), t0 + i * 1000,
                 {{t, 30.4 + i * 1e-4, -84.3}, {t, 30.5, -84.3 - i * 1e-4}, {t, 31.9, -102.2}});
    fs::last_write_time(dir_ / ("granule-" + std::to_string(i) + ".nc"),
                        fs::file_time_type::clock::now() - std::chrono::seconds(10));
  }
  StrikeService service = ServiceAt(t0 + 200 * 1000);
  HttpHooks hooks;
  hooks.handle = [&](std::string_view m, std::string_view t) { return service.Handle(m, t); };
  HttpFront front(hooks, {});
  const auto port = front.ListenPlain("127.0.0.1", 0);
  front.Start(2);
  std::atomic<bool> done{false};
  std::atomic<int> answered{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c) {
    clients.emplace_back([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      for (int n = 0; n < 5000 && !done && std::chrono::steady_clock::now() < deadline; ++n) {
        testing_support::Raw raw(port);
        raw.Send(testing_support::Get("/counter/Strike_Counter.php?lat=30.45&lon=-84.3&distance=30",
                                      "Connection: close\r\n"));
        const std::string answer = raw.ReadToClose();
        ++(answer.rfind("HTTP/1.1 200", 0) == 0 || answer.rfind("HTTP/1.1 503", 0) == 0 ? answered
                                                                                        : wrong);
      }
    });
  }
  GlmDirectorySource source(service, dir_.path(), "G19", 2000);
  source.Poll();
  done = true;
  for (auto& client : clients) client.join();
  front.Stop();
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kIngested), 200u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kCorrupt), 0u);
  EXPECT_EQ(Count(service, 30.45, -84.3, 30), "400");
  EXPECT_EQ(Count(service, 31.9, -102.2, 1), "200");
  EXPECT_GT(answered, 0);
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace strikecount
