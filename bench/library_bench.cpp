// The reader's library: packing a 300-picture gallery of 40 KB pictures into a CBZ
// (written, flushed, read back and compared, the folder removed) next to copying the
// folder (with and without each copy flushed), with the peak memory growth of each; and reading the
// metadata of a real-size gallery page (300 tags, about 40 KB).
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "library/cbz_packer.h"
#include "memory_watch.h"
#include "sites/eh/eh_metadata.h"
#include "support/eh_site.h"
#include "support/test_server.h"

namespace {

namespace fs = std::filesystem;
using pageloom::test::TempDir;

constexpr int kPictures = 300;
constexpr std::size_t kPictureBytes = 40 * 1024;

void MakeGallery(const fs::path& folder) {
  fs::create_directories(folder);
  pageloom::test::WriteFileBytes(folder / ".pageloom-source", "http://h/s/1-1");
  for (int i = 1; i <= kPictures; ++i) {
    std::string bytes = pageloom::test::DistinctBytes("\xFF\xD8", std::to_string(i));
    bytes.resize(kPictureBytes, static_cast<char>(i * 7));
    char name[16];
    std::snprintf(name, sizeof name, "%03d.jpg", i);
    pageloom::test::WriteFileBytes(folder / name, bytes);
  }
}

void Flush(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void PackCbz(benchmark::State& state) {
  TempDir dir;
  long peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(dir.Path() / "Gallery.cbz");
    MakeGallery(dir.Path() / "Gallery");
    const long base = pageloom::bench::ResetPeak();
    state.ResumeTiming();
    const pageloom::PackResult result =
        pageloom::PackFolder(dir.Path() / "Gallery", {"http://h/s/1-1"}, nullptr);
    if (result.status != pageloom::PackStatus::kPacked) state.SkipWithError("not packed");
    peak = std::max(peak, pageloom::bench::StatusKb("VmHWM") - base);
  }
  state.counters["peak_growth_kB"] = static_cast<double>(peak);
  state.SetBytesProcessed(state.iterations() * kPictures * static_cast<long>(kPictureBytes));
}

void CopyFolder(benchmark::State& state) {
  TempDir dir;
  MakeGallery(dir.Path() / "Gallery");
  long peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(dir.Path() / "Copy");
    const long base = pageloom::bench::ResetPeak();
    state.ResumeTiming();
    fs::create_directory(dir.Path() / "Copy");
    for (const auto& entry : fs::directory_iterator(dir.Path() / "Gallery")) {
      const fs::path to = dir.Path() / "Copy" / entry.path().filename();
      fs::copy_file(entry.path(), to);
      if (state.range(0) != 0) Flush(to);
    }
    Flush(dir.Path() / "Copy");
    peak = std::max(peak, pageloom::bench::StatusKb("VmHWM") - base);
  }
  state.counters["peak_growth_kB"] = static_cast<double>(peak);
  state.SetBytesProcessed(state.iterations() * kPictures * static_cast<long>(kPictureBytes));
}

void ParseGalleryMetadata(benchmark::State& state) {
  pageloom::test::EhGalleryDetails details;
  details.title = "[Circle &amp; Co] A Long Gallery Title &lt;Vol. 2&gt;";
  details.original = "[サークル] とても長いタイトル 第二巻";
  details.category = "Doujinshi";
  details.uploader = "uploader";
  details.posted = "2021-03-04 05:06";
  details.language = "Japanese &nbsp;<span class=\"halp\">TR</span>";
  details.length = "300 pages";
  for (const char* space : {"artist", "group", "parody", "character", "female", "male"}) {
    std::vector<std::string> tags;
    for (int i = 0; i < 50; ++i) tags.push_back(std::string(space) + " tag " + std::to_string(i));
    details.tags.emplace_back(space, tags);
  }
  const std::string page = pageloom::test::EhSite::DetailsMarkup(details);
  std::size_t tags = 0;
  for (auto _ : state) {
    const pageloom::ComicMetadata m = pageloom::ReadEHGalleryMetadata(page);
    tags = m.tags.size();
    benchmark::DoNotOptimize(m);
  }
  state.counters["page_kB"] = static_cast<double>(page.size()) / 1024;
  state.counters["tags"] = static_cast<double>(tags);
}

BENCHMARK(PackCbz)->Unit(benchmark::kMillisecond)->Iterations(10)->Repetitions(3);
// Arg 1: each copy flushed to disk, as pageLoom stores pictures; 0: not flushed.
BENCHMARK(CopyFolder)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(3);
BENCHMARK(ParseGalleryMetadata)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
