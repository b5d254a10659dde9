// A 300-page EH gallery (300 picture pages, 300 pictures of 40 KB) from Start to the last
// picture: pageLoom's own worker (a controller with a headless window, Add, Start, until
// the task reads "已完成") next to a plain libcurl loop that fetches the same 600 addresses
// with one reused handle, in the same iteration. Over HTTPS with a local site that waits
// 10 ms per new connection and per request, and over HTTP without waiting.
//
// The plain loop runs twice: storing each picture as safely as pageLoom does (a part
// file, flushed to disk, renamed: curl_s, ratio) and straight into its file (curl_bare_s,
// ratio_bare); the difference is what the flush costs on this disk.
// Counters: the wall times, the ratios (pageLoom / plain loop), how far the process's
// peak resident memory rose during a run (pageloom_peak_MB, curl_peak_MB), and the
// connections a run opened (Add's included for pageLoom). The reported time is pageLoom's.
//
//   tools/dev.sh bench    (or: build/bench/bench/gallery_bench)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include "app/task_controller.h"
#include "memory_watch.h"
#include "store/folder_claims.h"
#include "support/eh_site.h"
#include "support/fake_window.h"
#include "support/test_server.h"
#include "support/tls_identity.h"

namespace {

using namespace pageloom;
using Clock = std::chrono::steady_clock;

constexpr int kPages = 300;
constexpr std::size_t kPictureSize = 40 * 1024;
constexpr char kGallery[] = "bench";

using bench::ResetPeak;
using bench::StatusKb;

// The local site: the gallery, its pages and its pictures, served over HTTP or HTTPS.
struct Site {
  Site(bool https, std::chrono::milliseconds delay)
      : tls(https ? std::make_unique<test::TlsIdentity>() : nullptr),
        server(test::ServerOptions{tls.get(), true, delay, delay}),
        eh(server) {
    test::EhGalleryPlan plan;
    plan.title = "Bench Gallery Page 1";
    for (int n = 1; n <= kPages; ++n)
      plan.pictures.push_back({"/eh/pic/ab7/" + std::to_string(n) + ".jpg"});
    eh.AddGallery(kGallery, plan);
    for (int n = 1; n <= kPages; ++n) {
      // Pictures of 40 KB, each different from the others.
      std::string body = test::TestServer::GeneratedBody(kPictureSize);
      body.replace(3, 8, std::to_string(10000000 + n));  // after the JPEG signature
      server.Serve(plan.pictures[n - 1].path, std::move(body), "image/jpeg");
      addresses.push_back(server.Url(test::EhSite::PagePath(kGallery, false, n)));
      addresses.push_back(server.Url(plan.pictures[n - 1].path));
    }
  }
  std::string Certificates() const { return tls ? tls->CertificateFile().string() : ""; }

  std::unique_ptr<test::TlsIdentity> tls;
  test::TestServer server;
  test::EhSite eh;
  std::vector<std::string> addresses;  // page 1, picture 1, page 2, picture 2, ...
};

std::size_t KeepPage(char*, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(size * count, ' ');
  return size * count;
}

// Where the plain loop stores a picture: straight into its file (bare), or as safely as
// pageLoom does, into a part file that is flushed to disk and renamed (flushed).
class PictureFile {
 public:
  PictureFile(std::filesystem::path file, bool flushed)
      : m_file(std::move(file)),
        m_part(flushed ? m_file.parent_path() / ("." + m_file.filename().string() + ".part")
                       : m_file),
        m_out(std::fopen(m_part.c_str(), "wb")) {}
  ~PictureFile() {
    if (m_out) std::fclose(m_out);
  }
  PictureFile(const PictureFile&) = delete;
  PictureFile& operator=(const PictureFile&) = delete;

  std::FILE* Out() const { return m_out; }
  bool Close() {
    std::FILE* out = std::exchange(m_out, nullptr);
    if (!out) return false;
    bool ok = true;
    if (m_part != m_file) ok = std::fflush(out) == 0 && ::fsync(fileno(out)) == 0;
    ok = std::fclose(out) == 0 && ok;
    return ok && (m_part == m_file || std::rename(m_part.c_str(), m_file.c_str()) == 0);
  }

 private:
  std::filesystem::path m_file;
  std::filesystem::path m_part;
  std::FILE* m_out;
};

// The plain loop: one handle, every address in turn, pages into memory, pictures into
// files. Returns the number of pictures stored.
int PlainCurlLoop(const Site& site, const test::TempDir& dir, bool flushed) {
  CURL* easy = curl_easy_init();
  if (!easy) return 0;
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  const std::string certificates = site.Certificates();
  if (!certificates.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, certificates.c_str());
  int pictures = 0;
  std::string page;
  for (std::size_t i = 0; i < site.addresses.size(); ++i) {
    curl_easy_setopt(easy, CURLOPT_URL, site.addresses[i].c_str());
    if (i % 2 == 0) {
      page.clear();
      curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &KeepPage);
      curl_easy_setopt(easy, CURLOPT_WRITEDATA, &page);
      if (curl_easy_perform(easy) != CURLE_OK) break;
      continue;
    }
    PictureFile file(dir.Path() / (std::to_string(i / 2 + 1) + ".jpg"), flushed);
    if (!file.Out()) break;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, nullptr);  // libcurl's own fwrite
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, file.Out());
    const CURLcode rc = curl_easy_perform(easy);
    if (!file.Close() || rc != CURLE_OK) break;
    ++pictures;
  }
  curl_easy_cleanup(easy);
  return pictures;
}

// pageLoom's way: Add the gallery (not timed), then Start and wait for the task's end.
// Returns the seconds from Start to "已完成", or a negative number when it did not end.
double PageLoomRun(const Site& site, const test::TempDir& dir) {
  test::FakeWindow window;
  window.SetSaveFolderText(dir.Wide());
  ControllerSettings settings;  // the real retry pauses, limits and overlap
  settings.sites = site.eh.Names();
  TaskController controller(window, settings);
  controller.InternetSession().SetCertificateFile(site.Certificates());
  controller.AddAddresses(site.eh.Address(test::EhSite::GalleryPath(kGallery, false)),
                          window.Options());
  if (!test::WaitForAdds(controller.Adding(), std::chrono::seconds(60)) || window.RowCount() != 1)
    return -1;
  const auto start = Clock::now();
  controller.Start();
  const bool finished =
      window.WaitFor([](const test::FakeWindow& w) { return w.RowAt(0)[3] == u"已完成"; },
                     std::chrono::minutes(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  controller.Shutdown();
  return finished && window.RowAt(0)[2] == u"300/300" ? seconds : -1;
}

// The pictures under `dir`: its files but the task folder's mark of its source.
int CountPictures(const std::filesystem::path& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    n += entry.is_regular_file() && entry.path().filename() != kFolderSourceFile ? 1 : 0;
  return n;
}

// One timed run: its seconds, how far the peak resident memory rose, and the connections
// the server saw.
struct Run {
  double seconds = 0;
  long peakKb = 0;
  int connections = 0;
};

template <typename Body>
Run Measure(const Site& site, Body body) {
  Run run;
  const long before = ResetPeak();
  const int connections = site.server.Connections();
  const auto start = Clock::now();
  run.seconds = body();
  if (run.seconds == 0) run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peakKb = StatusKb("VmHWM") - before;
  run.connections = site.server.Connections() - connections;
  return run;
}

// The sums over the iterations, reported as counters.
struct Totals {
  double seconds = 0;
  long peakKb = 0;
  int connections = 0;
  void Add(const Run& run) {
    seconds += run.seconds;
    peakKb = std::max(peakKb, run.peakKb);
    connections = run.connections;
  }
};

// range(0): 1 for HTTPS; range(1): the delay per new connection and per request, in ms.
void BM_Gallery300(benchmark::State& state) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const Site site(state.range(0) == 1, std::chrono::milliseconds(state.range(1)));
  Totals pageLoom, flushed, bare;
  for (auto _ : state) {
    test::TempDir bareDir, flushedDir, pageLoomDir;
    int stored[2] = {0, 0};
    bare.Add(Measure(site, [&] {
      stored[0] = PlainCurlLoop(site, bareDir, false);
      return 0.0;
    }));
    flushed.Add(Measure(site, [&] {
      stored[1] = PlainCurlLoop(site, flushedDir, true);
      return 0.0;
    }));
    const Run run = Measure(site, [&] { return PageLoomRun(site, pageLoomDir); });
    if (stored[0] != kPages || stored[1] != kPages || run.seconds < 0 ||
        CountPictures(pageLoomDir.Path()) != kPages) {
      state.SkipWithError("a run did not fetch the whole gallery");
      break;
    }
    pageLoom.Add(run);
    state.SetIterationTime(run.seconds);
  }
  const double runs = static_cast<double>(state.iterations());
  if (runs == 0 || bare.seconds <= 0 || flushed.seconds <= 0) return;
  state.counters["pageloom_s"] = pageLoom.seconds / runs;
  state.counters["curl_s"] = flushed.seconds / runs;
  state.counters["curl_bare_s"] = bare.seconds / runs;
  state.counters["ratio"] = pageLoom.seconds / flushed.seconds;
  state.counters["ratio_bare"] = pageLoom.seconds / bare.seconds;
  state.counters["pageloom_peak_MB"] = static_cast<double>(pageLoom.peakKb) / 1024.0;
  const long curlPeakKb = std::max(flushed.peakKb, bare.peakKb);
  state.counters["curl_peak_MB"] = static_cast<double>(curlPeakKb) / 1024.0;
  state.counters["pageloom_connections"] = pageLoom.connections;
  state.counters["curl_connections"] = flushed.connections;
}

BENCHMARK(BM_Gallery300)
    ->ArgNames({"https", "delay_ms"})
    ->Args({1, 10})
    ->Iterations(1)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_Gallery300)
    ->ArgNames({"https", "delay_ms"})
    ->Args({0, 0})
    ->Iterations(5)
    ->Repetitions(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
