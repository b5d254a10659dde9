// The download record at 100,000 entries: a lookup as Add makes it (a gallery's identity
// from its address, then the record's entry, found or not), and what opening the record
// adds to start-up, next to opening an empty one.
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/site_adapter.h"
#include "sites/sites.h"
#include "store/download_record.h"
#include "support/test_server.h"

namespace {

using namespace pageloom;

constexpr int kEntries = 100000;

// A record of `count` EH galleries numbered 1000000 on, made once per size.
const std::filesystem::path& RecordOf(int count) {
  static test::TempDir dir;
  static std::map<int, std::filesystem::path> files;
  auto [it, fresh] = files.emplace(count, dir.Path() / ("record-" + std::to_string(count)));
  if (!fresh) return it->second;
  std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(it->second);
  std::vector<RecordEntry> entries;
  for (int i = 0; i < count; ++i)
    entries.push_back(
        {"EH", std::to_string(1000000 + i), "Gallery title number " + std::to_string(i),
         "/home/user/comic/Gallery title number " + std::to_string(i) + "/", 1700000000 + i});
  if (!record || !record->AddAll(entries)) std::abort();
  return it->second;
}

void BM_LookupAtAdd(benchmark::State& state) {
  std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(RecordOf(kEntries));
  const auto adapters = MakeSiteAdapters(DefaultSiteNames());
  const SiteAdapter& eh = *adapters.back();
  std::mt19937 random(7);
  // Half of the galleries asked for are in the record, half are not.
  std::uniform_int_distribution<int> number(1000000, 1000000 + 2 * kEntries);
  int found = 0;
  for (auto _ : state) {
    const std::u16string address =
        u"https://e-hentai.org/g/" + FromUtf8(std::to_string(number(random))) + u"/abcdef0123/";
    const std::optional<std::u16string> identity = eh.Identity(address);
    const std::optional<RecordEntry> entry = record->Find("EH", ToUtf8(*identity));
    found += entry ? 1 : 0;
    benchmark::DoNotOptimize(entry);
  }
  state.counters["found"] = benchmark::Counter(found, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_LookupAtAdd)->Unit(benchmark::kMicrosecond);

// Opening the record as a controller does at start-up, and one first lookup.
void BM_OpenAtStart(benchmark::State& state) {
  const std::filesystem::path& file = RecordOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(file);
    benchmark::DoNotOptimize(record->Find("EH", "1000001"));
  }
}
BENCHMARK(BM_OpenAtStart)->Arg(0)->Arg(kEntries)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
