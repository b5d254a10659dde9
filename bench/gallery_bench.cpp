// A 300-page EH gallery (300 picture pages, 300 pictures of 40 KB) from Start to the last
// picture: pageLoom's own worker (a controller with a headless window, Add, Start, until
// the task reads "已完成") next to a plain libcurl loop that fetches the same 600 addresses
// with one reused handle, in the same iteration. Over HTTPS with a local site that waits
// 10 ms per new connection and per request, and over HTTP without waiting.
//
// Counters: pageloom_s and curl_s (wall time of each), ratio (pageLoom / curl), and how far
// the process's peak resident memory rose during each (pageloom_peak_MB, curl_peak_MB).
// The reported time is pageLoom's.
//
//   tools/dev.sh bench    (or: build/bench/bench/gallery_bench)
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/task_controller.h"
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

// A value in kB from /proc/self/status ("VmHWM", "VmRSS").
long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return std::stol(line.substr(prefix.size()));
  return 0;
}

// Sets the peak resident size back to the current one; returns the current one.
long ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKb("VmRSS");
}

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
      body.replace(0, 8, std::to_string(10000000 + n));
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

// The plain loop: one handle, every address in turn, pages into memory, pictures into
// files. Returns the number of pictures written.
int PlainCurlLoop(const Site& site, const test::TempDir& dir) {
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
    const std::filesystem::path file = dir.Path() / (std::to_string(i / 2 + 1) + ".jpg");
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) break;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, nullptr);  // libcurl's own fwrite
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, out);
    const CURLcode rc = curl_easy_perform(easy);
    const bool closed = std::fclose(out) == 0;
    if (rc != CURLE_OK || !closed) break;
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
  TaskController controller(window, ControllerSettings{site.eh.Names(), {}, {}});
  controller.InternetSession().SetCertificateFile(site.Certificates());
  window.SetAddressText(site.eh.Address(test::EhSite::GalleryPath(kGallery, false)));
  controller.OnBnClickedAdd();
  if (!controller.WaitForAdds(std::chrono::seconds(60)) || window.RowCount() != 1) return -1;
  const auto start = Clock::now();
  controller.OnBnClickedStart();
  const bool finished = window.WaitFor(
      [](const test::FakeWindow& w) { return w.RowAt(0)[3] == u"已完成"; },
      std::chrono::minutes(10));
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  controller.Shutdown();
  return finished && window.RowAt(0)[2] == u"300/300" ? seconds : -1;
}

int CountFiles(const std::filesystem::path& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    n += entry.is_regular_file() ? 1 : 0;
  return n;
}

// range(0): 1 for HTTPS; range(1): the delay per new connection and per request, in ms.
void BM_Gallery300(benchmark::State& state) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const Site site(state.range(0) == 1, std::chrono::milliseconds(state.range(1)));
  double pageLoomTotal = 0, curlTotal = 0;
  long pageLoomPeakKb = 0, curlPeakKb = 0;
  for (auto _ : state) {
    test::TempDir curlDir, pageLoomDir;
    long before = ResetPeak();
    const auto curlStart = Clock::now();
    const int plainPictures = PlainCurlLoop(site, curlDir);
    const double curlSeconds = std::chrono::duration<double>(Clock::now() - curlStart).count();
    curlPeakKb = std::max(curlPeakKb, StatusKb("VmHWM") - before);

    before = ResetPeak();
    const double pageLoomSeconds = PageLoomRun(site, pageLoomDir);
    pageLoomPeakKb = std::max(pageLoomPeakKb, StatusKb("VmHWM") - before);
    if (plainPictures != kPages || pageLoomSeconds < 0 || CountFiles(pageLoomDir.Path()) != kPages) {
      state.SkipWithError("a run did not fetch the whole gallery");
      break;
    }
    state.SetIterationTime(pageLoomSeconds);
    pageLoomTotal += pageLoomSeconds;
    curlTotal += curlSeconds;
  }
  const double runs = static_cast<double>(state.iterations());
  if (runs > 0 && curlTotal > 0) {
    state.counters["pageloom_s"] = pageLoomTotal / runs;
    state.counters["curl_s"] = curlTotal / runs;
    state.counters["ratio"] = pageLoomTotal / curlTotal;
  }
  state.counters["pageloom_peak_MB"] = static_cast<double>(pageLoomPeakKb) / 1024.0;
  state.counters["curl_peak_MB"] = static_cast<double>(curlPeakKb) / 1024.0;
}

BENCHMARK(BM_Gallery300)
    ->ArgNames({"https", "delay_ms"})
    ->Args({1, 10})
    ->Args({0, 0})
    ->Iterations(2)
    ->Repetitions(2)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
