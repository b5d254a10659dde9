// pageloom-cli end to end: a gallery of 300 picture pages from the local fixture site,
// downloaded by the program started as a process, into a fresh folder each time.
//
//   tools/dev.sh bench
//   (or: cmake --build build/bench --target cli_bench && build/bench/bench/cli_bench)
#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "support/eh_site.h"
#include "support/program_run.h"
#include "support/test_server.h"

namespace {

using namespace pageloom;

constexpr int kPages = 300;

void BM_CliGallery300(benchmark::State& state) {
  test::TestServer server;
  test::EhSite site(server);
  test::EhGalleryPlan plan{"Bench Page 1", false, {}};
  for (int i = 1; i <= kPages; ++i)
    plan.pictures.push_back({"/eh/pic/bench/" + std::to_string(i) + ".jpg"});
  site.AddGallery("bench", plan);
  test::TempDir home;
  test::WriteFileBytes(home.Path() / "sites", "eh-host-marker=/eh/\neh-mirror-marker=/lofi/\n");
  const std::map<std::string, std::string> env{{"HOME", home.Str()},
                                               {"XDG_DATA_HOME", home.Str("data")},
                                               {"PAGELOOM_SITES_FILE", home.Str("sites")}};
  const std::string gallery = site.Url(test::EhSite::GalleryPath("bench", false));
  for (auto _ : state) {
    test::TempDir save;
    test::ProgramRun run(PAGELOOM_CLI_PATH, {"--save", save.Str(), gallery}, env);
    if (run.Wait() != 0) state.SkipWithError(("pageloom-cli failed: " + run.Err()).c_str());
  }
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(kPages),
                                                 benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CliGallery300)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
