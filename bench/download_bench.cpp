// Picture downloads from the local server: DownloadPicture next to plain libcurl writing
// into a file, for a 1 MB and a 200 MB picture. Reports throughput and how far the
// process's peak resident memory rose during a transfer.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPAGELOOM_BUILD_BENCH=ON
//   cmake --build build/bench --target download_bench && build/bench/bench/download_bench
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include "base/fixed_text.h"
#include "engine/picture_download.h"
#include "engine/user_prompt.h"
#include "memory_watch.h"
#include "net/page_fetch.h"
#include "net/session.h"
#include "support/test_server.h"

namespace {

using namespace pageloom;

constexpr std::int64_t kSmall = 1 << 20;
constexpr std::int64_t kLarge = 200 << 20;

test::TestServer& Server() {
  static test::TestServer server;
  static const bool served = [] {
    server.ServeGenerated("/pic/" + std::to_string(kSmall), kSmall, "image/jpeg");
    server.ServeGenerated("/pic/" + std::to_string(kLarge), kLarge, "image/jpeg");
    return true;
  }();
  (void)served;
  return server;
}

using bench::ResetPeak;
using bench::StatusKb;

class NoPrompt : public UserPrompt {
 public:
  void ShowMessage(const Message&) override {}
  std::optional<std::u16string> PickFolder(const Message&) override { return {}; }
};

// Runs one benchmark: `transfer(url, file)` downloads the picture into `file`.
template <typename Transfer>
void RunDownloads(benchmark::State& state, Transfer transfer) {
  const std::int64_t size = state.range(0);
  const std::string url = Server().Url("/pic/" + std::to_string(size));
  test::TempDir dir;
  const std::filesystem::path file = dir.Path() / "picture.jpg";
  long growthKb = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove(file);
    const long before = ResetPeak();
    state.ResumeTiming();
    const bool ok = transfer(url, dir, file);
    state.PauseTiming();
    growthKb = std::max(growthKb, StatusKb("VmHWM") - before);
    if (!ok || std::filesystem::file_size(file) != static_cast<std::uintmax_t>(size))
      state.SkipWithError("download failed");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["peak_growth_MB"] = static_cast<double>(growthKb) / 1024.0;
}

void BM_DownloadPicture(benchmark::State& state) {
  Cancellation cancel;
  Session session(cancel);
  NoPrompt ui;
  RunDownloads(
      state, [&](const std::string& url, const test::TempDir& dir, const std::filesystem::path&) {
        std::array<char16_t, kPathCapacity> folder{};
        CopyWide(folder.data(), folder.size(), dir.Wide());
        return DownloadPicture(session, FromUtf8(url), u"picture.jpg", folder.data(), ui) ==
               kPictureStored;
      });
}

// The plainest libcurl download: the body written into `out` by libcurl's own writer.
CURLcode PlainCurlInto(const std::string& url, std::FILE* out) {
  CURL* easy = curl_easy_init();
  if (!easy) return CURLE_FAILED_INIT;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, out);
  const CURLcode rc = curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  return rc;
}

void BM_PlainCurl(benchmark::State& state) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  RunDownloads(state,
               [](const std::string& url, const test::TempDir&, const std::filesystem::path& file) {
                 std::FILE* out = std::fopen(file.c_str(), "wb");
                 if (!out) return false;
                 const CURLcode rc = PlainCurlInto(url, out);
                 const bool closed = std::fclose(out) == 0;
                 return rc == CURLE_OK && closed;
               });
}

// Plain libcurl made as safe as DownloadPicture: a part file, flushed to disk, renamed.
// Shows what the flush costs any writer that never leaves a truncated picture behind.
void BM_PlainCurlFlushed(benchmark::State& state) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  RunDownloads(state, [](const std::string& url, const test::TempDir& dir,
                         const std::filesystem::path& file) {
    const std::filesystem::path part = dir.Path() / ".picture.jpg.part";
    std::FILE* out = std::fopen(part.c_str(), "wb");
    if (!out) return false;
    const CURLcode rc = PlainCurlInto(url, out);
    bool ok = std::fflush(out) == 0 && ::fsync(fileno(out)) == 0;
    ok = std::fclose(out) == 0 && ok;
    return rc == CURLE_OK && ok && std::rename(part.c_str(), file.c_str()) == 0;
  });
}

#define PAGELOOM_DOWNLOAD_BENCH(fn, size, iterations) \
  BENCHMARK(fn)                                       \
      ->Arg(size)                                     \
      ->Iterations(iterations)                        \
      ->Repetitions(3)                                \
      ->ReportAggregatesOnly(true)                    \
      ->UseRealTime()                                 \
      ->Unit(benchmark::kMillisecond)

PAGELOOM_DOWNLOAD_BENCH(BM_PlainCurl, kSmall, 60);
PAGELOOM_DOWNLOAD_BENCH(BM_PlainCurlFlushed, kSmall, 60);
PAGELOOM_DOWNLOAD_BENCH(BM_DownloadPicture, kSmall, 60);
PAGELOOM_DOWNLOAD_BENCH(BM_PlainCurl, kLarge, 4);
PAGELOOM_DOWNLOAD_BENCH(BM_PlainCurlFlushed, kLarge, 4);
PAGELOOM_DOWNLOAD_BENCH(BM_DownloadPicture, kLarge, 4);

}  // namespace

BENCHMARK_MAIN();
