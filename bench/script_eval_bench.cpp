// Evaluating a chapter's packed script: 200 picture paths, in the script helper process.
// FreshHelper starts a helper for every chapter (process start-up included), ReusedHelper
// keeps one for all chapters as a download worker does. Wall time: the work happens in
// the helper.
#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "base/encoding.h"
#include "script/script_eval.h"
#include "script/script_host.h"
#include "support/dmzj_site.h"

namespace {

// A chapter of 200 pictures under a Chinese comic and chapter folder, in ANSI text.
std::string ChapterScript() {
  std::string source = "var pages=pages='[";
  for (int k = 1; k <= 200; ++k) {
    char name[64];
    std::snprintf(name, sizeof name,
                  "%s\"t\\/\xE5\xA4\xA9\xE4\xBD\xBF\\/\xE7\xAC\xAC"
                  "01\xE8\xAF\x9D\\/%04d_%d.jpg\"",
                  k > 1 ? "," : "", k, 13500000 + k * 7);
    source += name;
  }
  source += "]';";
  std::string ansi;
  const std::string packed = pageloom::test::PackedExpression(source);
  pageloom::CodeConverter().Utf8ToAnsi(ansi, packed.data(), static_cast<int>(packed.size()));
  return ansi;
}

void EvalChapters(benchmark::State& state, pageloom::ScriptHost* host) {
  const std::string script = ChapterScript();
  std::list<std::u16string> list;
  pageloom::ScriptOptions options;
  options.pictureHost = u"https://images.example/";
  options.host = host;
  for (auto _ : state) {
    list.clear();
    if (pageloom::EvalPictureList(script.c_str(), list, options) != 1 || list.size() != 200) {
      state.SkipWithError("the script did not give 200 addresses");
      break;
    }
    benchmark::DoNotOptimize(list);
  }
  state.counters["script_bytes"] = static_cast<double>(script.size());
}

void BM_EvalPictureList200_FreshHelper(benchmark::State& state) { EvalChapters(state, nullptr); }
BENCHMARK(BM_EvalPictureList200_FreshHelper)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EvalPictureList200_ReusedHelper(benchmark::State& state) {
  pageloom::ScriptHost host;
  EvalChapters(state, &host);
}
BENCHMARK(BM_EvalPictureList200_ReusedHelper)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
