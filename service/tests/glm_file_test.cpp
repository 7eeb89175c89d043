// The GLM reader, the reader program and the directory source, on every real sample granule.
#include "glm_file.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <atomic>
#include <thread>

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
