// Reading a browser's cookies.txt into a session: lines of one domain (each line a new
// cookie name), and lines spread over many domains, as an import and a start-up read them.
#include <cstdio>
#include <ctime>
#include <string>

#include <benchmark/benchmark.h>

#include "base/cancellation.h"
#include "net/cookie_store.h"
#include "net/session.h"
#include "support/test_server.h"

namespace {

using namespace pageloom;

// A cookies.txt of `lines` cookies over `domains` domains, expiring in a year.
std::string CookieFile(int lines, int domains) {
  const long long expiry = static_cast<long long>(std::time(nullptr)) + 365LL * 24 * 3600;
  std::string text = "# Netscape HTTP Cookie File\n";
  for (int i = 0; i < lines; ++i) {
    text += ".site" + std::to_string(i % domains) + ".example\tTRUE\t/\tFALSE\t" +
            std::to_string(expiry) + "\tname" + std::to_string(i) + "\tvalue" + std::to_string(i) +
            "\n";
  }
  return text;
}

void ImportCookies(benchmark::State& state, int domains) {
  const int lines = static_cast<int>(state.range(0));
  test::TempDir dir;
  const auto file = dir.Path() / "cookies.txt";
  test::WriteFileBytes(file, CookieFile(lines, domains));
  CookieFileReading reading;
  for (auto _ : state) {
    Cancellation cancel;
    Session session(cancel);
    reading = LoadCookies(session, file);
  }
  state.counters["lines"] = lines;
  state.counters["taken"] = reading.added;
  state.counters["dropped"] = reading.dropped;
}

void BM_ImportOneDomain(benchmark::State& state) { ImportCookies(state, 1); }
void BM_ImportManyDomains(benchmark::State& state) { ImportCookies(state, 1000); }

BENCHMARK(BM_ImportOneDomain)
    ->Arg(2000)
    ->Arg(8000)
    ->Arg(32000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportManyDomains)->Arg(8000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
