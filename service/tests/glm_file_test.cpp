// The GLM reader, the reader program and the directory source, on every real sample granule.
#include "glm_file.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <atomic>
#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "protocol/area_detail.h"
#include "sources.h"
#include "test_support.h"

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

using F = Metrics::GlmFile;

std::string PathOf(int sample) {
  return kSharedData + "/" + std::get<0>(kSamples[sample]);
}

std::string Count(StrikeService& service, double lat, double lon, double miles) {  // "200 3"
  return Ask(service, "/counter/Strike_Counter.php?lat=" + std::to_string(lat) +
                          "&lon=" + std::to_string(lon) + "&distance=" + std::to_string(miles));
}

TEST(GlmFile, TheReaderProgramDecodesEverySampleAndCountsMatchTheDataNotes) {
  SKIP_WITHOUT_SHARED_DATA();
  std::vector<GlmGranule> granules;
  for (int i = 0; i < 9; ++i) {
    const auto [file, flashes, first_min, first_max] = kSamples[i];
    SCOPED_TRACE(file);
    const GlmReadResult r = ReadGlmFileIsolated(PathOf(i), DefaultGlmReaderProgram());
    ASSERT_TRUE(r.granule) << r.error;
    const GlmGranule& g = granules.emplace_back(*r.granule);
    const auto name = ParseGlmFileName(file);
    EXPECT_EQ(std::make_tuple(g.platform, g.start, g.end, g.rejected),
              std::make_tuple(name->platform, name->start, name->end, size_t{0}));
    ASSERT_EQ(g.flashes.size(), flashes);
    if (g.flashes.empty()) continue;
    const auto [lo, hi] = std::minmax_element(g.flashes.begin(), g.flashes.end(),
                                              [](auto& a, auto& b) { return a.time < b.time; });
    EXPECT_NEAR(lo->time - g.start, first_min, 1);
    EXPECT_NEAR(hi->time - g.start, first_max, 1);
  }
  EXPECT_FALSE(ParseGlmFileName("OR_GLM-L2-LCFA_G16_s20193662359400_e20210010000004_c1.nc"));
  // Counts near radar sites (NOAA station report) from the notes, on a 6371.0 km sphere: the
  // same angles are asked.
  const std::tuple<std::vector<int>, std::pair<double, double>, std::vector<int>> notes[] = {
      {{0, 1, 2}, {30.021944, -90.403056}, {15, 15, 15, 15}},  // TMSY
      {{0, 1, 2}, {37.975278, -85.943889}, {15, 15, 15, 15}},  // KLVX
      {{0, 1, 2}, {30.5193, -90.4074}, {3, 15, 15, 15}},       // KHDC
      {{5}, {31.943461, -102.18925}, {6, 9, 11, 24}},          // KMAF
      {{5}, {33.654139, -101.81416}, {5, 7, 9, 17}},           // KLBB
      {{7}, {30.565033, -85.921667}, {2, 15, 16, 19}},         // KEVX
      {{8}, {30.565033, -85.921667}, {0, 13, 27, 45}},         // KEVX
      {{8}, {30.397583, -84.328944}, {0, 9, 17, 31}}};         // KTLH
  for (const auto& [files, site, within] : notes) {            // within 50, 100, 150 and 250 km
    StrikeService service(At(granules[files.back()].end));
    for (int i : files) service.Ingest(granules[i].flashes, granules[i].end);
    const auto [lat, lon] = site;
    for (int k = 0; k < 4; ++k) {
      const double km[] = {50, 100, 150, 250}, miles = km[k] / 6371.0 * kEarthRadiusMiles;
      EXPECT_EQ(Count(service, lat, lon, miles), "200 " + std::to_string(within[k]))
          << lat << "," << lon << " " << km[k];
    }
  }
}

// A GET through the live front: the header block and the body.
std::pair<std::string, std::string> Fetch(std::uint16_t port, const std::string& target,
                                          const std::string& fields = "") {
  Raw raw(port);
  raw.Send(Get(target, fields + "Connection: close\r\n"));
  const std::string answer = raw.ReadToClose();
  const size_t end = answer.find("\r\n\r\n");
  return {answer.substr(0, end + 2), end == std::string::npos ? "" : answer.substr(end + 4)};
}

TEST(GlmFile, TheExtrasOfACountMatchABruteForceOverEverySample) {
  SKIP_WITHOUT_SHARED_DATA();
  // The minute of 2018-07-02 ends at 04:34:00: a window of 20 s holds the last granule of it,
  // the window before the middle one; every later sample lies ahead of the clock.
  const TimeMs now = *ParseIso8601("2018-07-02T04:34:00Z"), window = 20 * kMsPerSecond;
  ServiceOptions options = At(now);
  options.window = window;
  Front front(options);
  std::vector<Flash> all;
  for (int i = 0; i < 9; ++i) {
    const GlmReadResult r = ReadGlmFileIsolated(PathOf(i), DefaultGlmReaderProgram());
    ASSERT_TRUE(r.granule) << r.error;
    front.service.Ingest(r.granule->flashes, r.granule->end);
    all.insert(all.end(), r.granule->flashes.begin(), r.granule->flashes.end());
  }
  const auto port = front.Plain();
  // Distance and initial bearing from (a, b) to (c, d), degrees, on a sphere of 3958.8 mi.
  const double rad = std::acos(-1.0) / 180;
  auto miles = [&](double a, double b, double c, double d) {
    const double h =
        std::pow(std::sin((c - a) * rad / 2), 2) +
        std::cos(a * rad) * std::cos(c * rad) * std::pow(std::sin((d - b) * rad / 2), 2);
    return 2 * 3958.8 * std::asin(std::sqrt(h));
  };
  auto bearing = [&](double a, double b, double c, double d) {
    const double y = std::sin((d - b) * rad) * std::cos(c * rad);
    const double x = std::cos(a * rad) * std::sin(c * rad) -
                     std::sin(a * rad) * std::cos(c * rad) * std::cos((d - b) * rad);
    return std::fmod(std::atan2(y, x) / rad + 360, 360);
  };
  // Far north with the storms to the east (where the bearing there and the one back differ by
  // 3-6 degrees), at distances of hundreds of miles (where another sphere shows); KHDC (two
  // flashes within 50 km in the window, one before); Uruguay; a place off the globe.
  const std::tuple<double, double, double> places[] = {{52.7, -122, 450},
                                                       {51.7, -74, 450},
                                                       {30.5193, -90.4074, 31.0686},
                                                       {-33, -60, 300},
                                                       {-90.4074, 30.5193, 0}};
  for (const auto& [lat, lon, radius] : places) {
    SCOPED_TRACE(std::to_string(lat) + "," + std::to_string(lon) + " " + std::to_string(radius));
    const std::string query = "?lat=" + std::to_string(lat) + "&lon=" + std::to_string(lon) +
                              "&distance=" + std::to_string(radius);
    if (radius == 0) {  // no such place: refused alike, without extras
      EXPECT_EQ(Fetch(port, std::string(stormtally::wire::kAreaPath) + query).first.substr(0, 12),
                "HTTP/1.1 400");
      continue;
    }
    std::uint64_t count = 0, previous = 0;
    const Flash* nearest = nullptr;
    TimeMs last = INT64_MIN;
    for (const Flash& f : all) {
      const double d = miles(lat, lon, f.lat, f.lon);
      if (d > radius || f.time > now) continue;
      count += f.time >= now - window;
      previous += f.time >= now - 2 * window && f.time < now - window;
      if (f.time >= now - window && (!nearest || d < miles(lat, lon, nearest->lat, nearest->lon)))
        nearest = &f;
      if (f.time >= now - 3600 * kMsPerSecond) last = std::max(last, f.time);
    }
    ASSERT_TRUE(nearest);
    const double d = miles(lat, lon, nearest->lat, nearest->lon);
    const double b = bearing(lat, lon, nearest->lat, nearest->lon);
    const auto json = nlohmann::json::parse(Fetch(port, "/v1/area" + query).second);
    const auto& n = json["nearest"];
    EXPECT_EQ(std::make_tuple(json["count"], json["previous_count"], n["age_seconds"],
                              json["last_flash_age_seconds"], n["time"], n["lat"], n["lon"]),
              std::make_tuple(count, previous, (now - nearest->time) / 1000, (now - last) / 1000,
                              FormatIso8601(nearest->time), nearest->lat, nearest->lon));
    EXPECT_NEAR(n["distance_miles"].get<double>(), d, 0.0501);
    EXPECT_LE(std::fabs(std::remainder(n["bearing_degrees"].get<double>() - b, 360)), 0.501);
    // The same through the request field, whose name may come in any case.
    const auto [block, body] =
        Fetch(port, std::string(stormtally::wire::kCountPath) + query, "sTRIKES-dETAIL: 1\r\n");
    const auto fields = stormtally::wire::readDetailFields(block, std::stoull(body));
    ASSERT_TRUE(fields && fields->nearest) << block;
    EXPECT_EQ(std::make_tuple(fields->count, fields->previousCount, fields->nearest->miles,
                              fields->nearest->bearing, fields->nearest->ageSeconds,
                              fields->lastAgeSeconds, fields->windowSeconds),
              std::make_tuple(count, previous, n["distance_miles"].get<double>(),
                              n["bearing_degrees"].get<int>(), n["age_seconds"].get<TimeMs>(),
                              std::optional<TimeMs>((now - last) / 1000), TimeMs{20}));
  }
}

TEST(GlmFile, UnreadableFilesAndFailingReadersAreReportedNotFatal) {
  SKIP_WITHOUT_SHARED_DATA();
  TempDir dir;
  std::ifstream in(PathOf(5), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A file for the reader program, or a reader program of its own (a name without ".nc").
  const std::tuple<std::string, std::string, const char*> cases[] = {
      {"truncated.nc", bytes.substr(0, bytes.size() / 2), "cannot open as netCDF"},
      {"text.nc", "this is not netCDF\n", "cannot open as netCDF"},
      {"crash", "kill -SEGV $$", "the reader crashed"},
      {"hang", "exec sleep 30", "longer than"},
      {"short", "head -c 99 /dev/zero", "cut short"},
      {"absent", "", "cannot start the reader"}};
  for (const auto& [name, content, error] : cases) {
    const bool file = name.find(".nc") != std::string::npos;
    if (!content.empty()) WriteFile(dir / name, file ? content : "#!/bin/sh\n" + content + "\n");
    if (!file && !content.empty()) fs::permissions(dir / name, fs::perms::owner_all);
    const GlmReadResult r =
        ReadGlmFileIsolated(dir / name, file ? DefaultGlmReaderProgram() : dir / name, 1000);
    EXPECT_FALSE(r.granule) << name;
    EXPECT_NE(r.error.find(error), std::string::npos) << name << ": " << r.error;
  }
}

void Settle(const std::string& path) {  // older than a poll, so it is taken at once
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(9));
}

TEST(GlmDirectory, TakesOnePlatformOnceAndSurvivesBadFiles) {
  SKIP_WITHOUT_SHARED_DATA();
  TempDir dir;
  auto put = [&](int sample, std::string as = "", bool settled = true) {  // < 0: a broken file
    as = dir / (as.empty() ? std::get<0>(kSamples[sample]) : as);
    sample < 0 ? WriteFile(as, "broken") : (void)fs::copy_file(PathOf(sample), as);
    if (settled) Settle(as);
  };
  StrikeService service(At(*ParseIso8601("2025-01-01T00:00Z"), ClockSetting::Kind::kNewestData));
  auto files = [&](F kind) { return service.metrics().GlmFiles(kind); };
  GlmDirectorySource source(service, dir.path, "G16", 2000);
  source.Poll();  // nothing there yet
  EXPECT_EQ(Count(service, 30, -90, 10), "503 no data received yet from the glm source\n");
  put(0);
  put(1);
  put(6);  // G17, another satellite
  put(-1, "OR_GLM-L2-LCFA_G16_s20181830434000_e20181830434200_c1.nc");
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  EXPECT_EQ(std::make_tuple(files(F::kIngested), files(F::kOtherPlatform), files(F::kCorrupt)),
            std::make_tuple(2u, 1u, 1u));
  EXPECT_NE(Ask(service, "/healthz").find("unreadable"), std::string::npos);
  // The same granule under another creation time is taken once; the corrupt file is not read
  // again until it changes; a file that has only just appeared waits one poll.
  put(1, "OR_GLM-L2-LCFA_G16_s20181830433200_e20181830433400_c20181830439999.nc");
  put(2, "", false);
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  EXPECT_EQ(std::make_pair(files(F::kDuplicate), files(F::kCorrupt)), std::make_pair(1ul, 1ul));
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u + 274u);
  EXPECT_EQ(Count(service, 30.5193, -90.4074, 31.0686), "200 3");
  // A granule that ended before the window (of the newest file) is skipped unopened.
  put(4);
  put(3);
  source.Poll();
  EXPECT_EQ(std::make_pair(files(F::kIngested), files(F::kOld)), std::make_pair(4ul, 1ul));
}

const TimeMs kT0 = *ParseIso8601("2025-04-07T13:00:00Z");

// Granule i of a series of 1 s each, written with libnetcdf: two flashes near Tallahassee and
// one in Texas, and two that cannot be right (off the globe; long after the granule's end).
// The last one, 200, holds no flashes at all.
void WriteGranule(const std::string& path, int i) {
  const std::vector<double> columns[] = {{30.4 + i * 1e-4, 30.5, 31.9, 95, 30.45},
                                         {-84.3, -84.3, -102.2, 0, -84.3},
                                         {500, 500, 500, 500, 6e5}};
  const std::string from = FormatIso8601(kT0 + i * 1000), to = FormatIso8601(kT0 + i * 1000 + 1000);
  const std::string units = "milliseconds since " + from.substr(0, 10) + " " + from.substr(11, 12);
  int nc, dim, var[3];
  ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4, &nc), NC_NOERR);
  nc_put_att_text(nc, NC_GLOBAL, "platform_ID", 3, "G19");
  nc_put_att_text(nc, NC_GLOBAL, "time_coverage_start", from.size(), from.data());
  nc_put_att_text(nc, NC_GLOBAL, "time_coverage_end", to.size(), to.data());
  nc_def_dim(nc, "number_of_flashes", i < 200 ? 5 : 0, &dim);
  const char* names[] = {"flash_lat", "flash_lon", "flash_time_offset_of_first_event"};
  for (int v = 0; v < 3; ++v) nc_def_var(nc, names[v], NC_DOUBLE, 1, &dim, &var[v]);
  nc_put_att_text(nc, var[2], "units", units.size(), units.data());
  for (int v = 0; v < 3 && i < 200; ++v) nc_put_var_double(nc, var[v], columns[v].data());
  ASSERT_EQ(nc_close(nc), NC_NOERR);
}

TEST(GlmDirectory, IngestsTwoHundredFilesWhileTheFrontIsUnderQueryLoad) {
  TempDir dir;
  for (int i = 0; i <= 200; ++i) {
    WriteGranule(dir / ("granule-" + std::to_string(i) + ".nc"), i);
    Settle(dir / ("granule-" + std::to_string(i) + ".nc"));
  }
  // The empty granule 200 ends at 201 s: it alone keeps the counts fresh.
  Front front(At(kT0 + 200500 + 5 * kMsPerMinute, ClockSetting::Kind::kSystem));
  const auto port = front.Plain();
  std::atomic<bool> done{false};
  std::atomic<int> answered{0}, wrong{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 3; ++c) {
    clients.emplace_back([&] {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      for (int n = 0; n < 5000 && !done && std::chrono::steady_clock::now() < deadline; ++n) {
        Raw raw(port);
        raw.Send(Get("/counter/Strike_Counter.php?lat=30.45&lon=-84.3&distance=30",
                     "Connection: close\r\n"));
        const std::string answer = raw.ReadToClose().substr(0, 12);
        ++(answer == "HTTP/1.1 200" || answer == "HTTP/1.1 503" ? answered : wrong);
      }
    });
  }
  GlmDirectorySource(front.service, dir.path, "G19", 2000).Poll();
  done = true;
  for (auto& client : clients) client.join();
  const Metrics& m = front.service.metrics();
  EXPECT_EQ(std::make_tuple(m.GlmFiles(F::kIngested), m.GlmFiles(F::kEmpty),
                            m.GlmFiles(F::kCorrupt), m.DroppedFlashes(Metrics::Dropped::kInvalid)),
            std::make_tuple(200ul, 1ul, 0ul, 400ul));
  EXPECT_EQ(Count(front.service, 30.45, -84.3, 30), "200 400");
  EXPECT_EQ(Count(front.service, 31.9, -102.2, 1), "200 200");
  EXPECT_GT(answered, 0);
  EXPECT_EQ(wrong, 0);
}
