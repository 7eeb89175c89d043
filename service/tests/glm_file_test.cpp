// The GLM reader, the reader program and the directory source, on every real sample granule.
#include "glm_file.h"

#include <gtest/gtest.h>
#include <netcdf.h>

#include <atomic>
#include <thread>

#include "http_front.h"
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

std::string PathOf(int sample) {
  return kSharedData + "/" + std::get<0>(kSamples[sample]);
}

StrikeService ServiceAt(TimeMs now, ClockSetting::Kind clock = ClockSetting::Kind::kFixed) {
  ServiceOptions options;
  options.clock = {clock, now};
  options.wall_clock = [now] { return now; };
  return StrikeService(options);
}

std::string Count(StrikeService& service, double lat, double lon, double miles) {
  return service
      .Handle("GET", "/counter/Strike_Counter.php?lat=" + std::to_string(lat) +
                         "&lon=" + std::to_string(lon) + "&distance=" + std::to_string(miles))
      .body;
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
  // Counts near radar sites from the notes, on a 6371.0 km sphere: the same angles are asked.
  std::map<std::string, std::pair<double, double>> sites;  // NOAA report, fixed columns
  std::ifstream in(kSharedData + "/nexrad-stations.txt");
  for (std::string line; std::getline(in, line);) {
    if (line.size() >= 126 && line[0] >= '0' && line[0] <= '9') {
      sites[line.substr(9, 4)] = {std::stod(line.substr(106, 9)), std::stod(line.substr(116, 10))};
    }
  }
  const std::tuple<std::vector<int>, const char*, std::vector<int>> notes[] = {
      {{0, 1, 2}, "TMSY", {15, 15, 15, 15}}, {{0, 1, 2}, "KLVX", {15, 15, 15, 15}},
      {{0, 1, 2}, "KHDC", {3, 15, 15, 15}},  {{5}, "KMAF", {6, 9, 11, 24}},
      {{5}, "KLBB", {5, 7, 9, 17}},          {{7}, "KEVX", {2, 15, 16, 19}},
      {{8}, "KEVX", {0, 13, 27, 45}},        {{8}, "KTLH", {0, 9, 17, 31}}};
  for (const auto& [files, site, within] : notes) {  // within 50, 100, 150 and 250 km
    StrikeService service = ServiceAt(granules[files.back()].end);
    for (int i : files) service.Ingest(granules[i].flashes, granules[i].end);
    const auto [lat, lon] = sites.at(site);
    for (int k = 0; k < 4; ++k) {
      const double km[] = {50, 100, 150, 250}, miles = km[k] / 6371.0 * kEarthRadiusMiles;
      EXPECT_EQ(Count(service, lat, lon, miles), std::to_string(within[k])) << site << km[k];
    }
  }
}

TEST(GlmFile, UnreadableFilesAndFailingReadersAreReportedNotFatal) {
  SKIP_WITHOUT_SHARED_DATA();
  TempDir dir;
  std::ifstream in(PathOf(5), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  WriteFile(dir / "truncated.nc", bytes.substr(0, bytes.size() / 2));
  WriteFile(dir / "text.nc", "this is not netCDF\n");
  for (const char* script :
       {"crash:kill -SEGV $$", "hang:exec sleep 30", "mute:true", "short:head -c 99 /dev/zero"}) {
    const std::string s = script, path = dir / s.substr(0, s.find(':'));
    WriteFile(path, "#!/bin/sh\n" + s.substr(s.find(':') + 1) + "\n");
    fs::permissions(path, fs::perms::owner_all);
  }
  const std::string reader = DefaultGlmReaderProgram();
  const std::tuple<std::string, std::string, const char*> cases[] = {
      {"truncated.nc", reader, ""},          {"text.nc", reader, "cannot open as netCDF"},
      {"missing.nc", reader, "cannot open"}, {"x.nc", dir / "crash", "the reader crashed"},
      {"x.nc", dir / "hang", "longer than"}, {"x.nc", dir / "mute", "no answer"},
      {"x.nc", dir / "short", "cut short"},  {"x.nc", dir / "none", "cannot start the reader"}};
  for (const auto& [file, program, error] : cases) {
    const GlmReadResult r = ReadGlmFileIsolated(dir / file, program, 1000);
    EXPECT_FALSE(r.granule) << file << " " << program;
    EXPECT_NE(r.error.find(error), std::string::npos) << r.error;
    EXPECT_FALSE(r.error.empty()) << file << " " << program;
  }
  // Garbled data may still open; whatever comes out must be sane flashes or a reported error.
  for (size_t i = 200000; i < 260000; ++i) bytes[i] = static_cast<char>(i * 131);
  WriteFile(dir / "garbled.nc", bytes);
  const GlmReadResult garbled = ReadGlmFileIsolated(dir / "garbled.nc", reader);
  for (const Flash& f : garbled.granule ? garbled.granule->flashes : std::vector<Flash>{}) {
    EXPECT_TRUE(f.lat >= -90 && f.lat <= 90 && f.lon >= -180 && f.lon <= 180);
  }
}

// Puts a copy of a sample (or a broken file if `sample` < 0) into `dir`, settled unless asked.
void Put(const TempDir& dir, int sample, std::string as = "", bool settled = true) {
  as = dir / (as.empty() ? std::get<0>(kSamples[sample]) : as);
  sample < 0 ? WriteFile(as, "broken") : (void)fs::copy_file(PathOf(sample), as);
  if (settled) fs::last_write_time(as, fs::file_time_type::clock::now() - std::chrono::seconds(9));
}

TEST(GlmDirectory, TakesOnePlatformOnceAndSurvivesBadFiles) {
  SKIP_WITHOUT_SHARED_DATA();
  TempDir dir;
  StrikeService service =
      ServiceAt(*ParseIso8601("2025-01-01T00:00Z"), ClockSetting::Kind::kNewestData);
  auto files = [&](Metrics::GlmFile kind) { return service.metrics().GlmFiles(kind); };
  GlmDirectorySource source(service, dir.path, "G16", 2000);
  source.Poll();  // nothing there yet
  EXPECT_EQ(service.Handle("GET", "/counter/Strike_Counter.php?lat=3&lon=9&distance=9").status,
            503);
  Put(dir, 0);
  Put(dir, 1);
  Put(dir, 6);  // G17, another satellite
  Put(dir, -1, "OR_GLM-L2-LCFA_G16_s20181830434000_e20181830434200_c1.nc");
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  EXPECT_EQ(
      std::make_tuple(files(Metrics::GlmFile::kIngested), files(Metrics::GlmFile::kOtherPlatform),
                      files(Metrics::GlmFile::kCorrupt)),
      std::make_tuple(2u, 1u, 1u));
  EXPECT_NE(service.Handle("GET", "/healthz").body.find("unreadable"), std::string::npos);
  // The same granule under another creation time is taken once; the corrupt file is not read
  // again until it changes; a file that has only just appeared waits one poll.
  Put(dir, 1, "OR_GLM-L2-LCFA_G16_s20181830433200_e20181830433400_c20181830439999.nc");
  Put(dir, 2, "", false);
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u);
  EXPECT_EQ(files(Metrics::GlmFile::kDuplicate), 1u);
  EXPECT_EQ(files(Metrics::GlmFile::kCorrupt), 1u);
  source.Poll();
  EXPECT_EQ(service.index().size(), 302u + 277u + 274u);
  EXPECT_EQ(Count(service, 30.5193, -90.4074, 31.0686), "3");
  // A granule that ended before the window (of the newest file) is skipped unopened.
  Put(dir, 4);
  Put(dir, 3);
  source.Poll();
  EXPECT_EQ(files(Metrics::GlmFile::kIngested), 4u);
  EXPECT_EQ(files(Metrics::GlmFile::kOld), 1u);
}

// A granule of 1 s written with libnetcdf; no flashes gives an empty number_of_flashes.
void WriteGranule(const std::string& path, TimeMs start, const std::vector<Flash>& flashes) {
  int nc, dim, var[3];
  ASSERT_EQ(nc_create(path.c_str(), NC_NETCDF4, &nc), NC_NOERR);
  const std::string from = FormatIso8601(start), to = FormatIso8601(start + 1000);
  const std::string units = "milliseconds since " + from.substr(0, 10) + " " + from.substr(11, 12);
  nc_put_att_text(nc, NC_GLOBAL, "platform_ID", 3, "G19");
  nc_put_att_text(nc, NC_GLOBAL, "time_coverage_start", from.size(), from.data());
  nc_put_att_text(nc, NC_GLOBAL, "time_coverage_end", to.size(), to.data());
  nc_def_dim(nc, "number_of_flashes", flashes.size(), &dim);
  std::vector<double> values[3];
  for (const Flash& f : flashes) {
    values[0].push_back(f.lat);
    values[1].push_back(f.lon);
    values[2].push_back(static_cast<double>(f.time - start));
  }
  const char* names[] = {"flash_lat", "flash_lon", "flash_time_offset_of_first_event"};
  for (int i = 0; i < 3; ++i) nc_def_var(nc, names[i], NC_DOUBLE, 1, &dim, &var[i]);
  nc_put_att_text(nc, var[2], "units", units.size(), units.data());
  for (int i = 0; i < 3 && !flashes.empty(); ++i) nc_put_var_double(nc, var[i], values[i].data());
  ASSERT_EQ(nc_close(nc), NC_NOERR);
}

TEST(GlmDirectory, IngestsTwoHundredFilesWhileTheFrontIsUnderQueryLoad) {
  TempDir dir;
  const TimeMs t0 = *ParseIso8601("2025-04-07T13:00:00Z");
  for (int i = 0; i <= 200; ++i) {  // two flashes near Tallahassee and one in Texas in each
    const TimeMs t = t0 + i * 1000 + 500;
    const std::string path = dir / ("granule-" + std::to_string(i) + ".nc");
    WriteGranule(path, t0 + i * 1000,
                 i == 200 ? std::vector<Flash>{}  // the newest has none, yet keeps counts fresh
                          : std::vector<Flash>{
                                {t, 30.4 + i * 1e-4, -84.3}, {t, 30.5, -84.3}, {t, 31.9, -102.2}});
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(9));
  }
  StrikeService service = ServiceAt(t0 + 200500 + 5 * kMsPerMinute, ClockSetting::Kind::kSystem);
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
        Raw raw(port);
        raw.Send(Get("/counter/Strike_Counter.php?lat=30.45&lon=-84.3&distance=30",
                     "Connection: close\r\n"));
        const std::string answer = raw.ReadToClose().substr(0, 12);
        ++(answer == "HTTP/1.1 200" || answer == "HTTP/1.1 503" ? answered : wrong);
      }
    });
  }
  GlmDirectorySource(service, dir.path, "G19", 2000).Poll();
  done = true;
  for (auto& client : clients) client.join();
  front.Stop();
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kIngested), 200u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kEmpty), 1u);
  EXPECT_EQ(service.metrics().GlmFiles(Metrics::GlmFile::kCorrupt), 0u);
  EXPECT_EQ(Count(service, 30.45, -84.3, 30), "400");
  EXPECT_EQ(Count(service, 31.9, -102.2, 1), "200");
  EXPECT_GT(answered, 0);
  EXPECT_EQ(wrong, 0);
}
