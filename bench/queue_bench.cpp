// What the lasting queue adds to a download step: one committed save of where the task
// stands (WAL journal, flushed to disk), for an EH task and for a DMZJ task whose missing
// pictures change.
#include <memory>

#include <benchmark/benchmark.h>

#include "engine/task.h"
#include "sites/sites.h"
#include "store/queue_store.h"
#include "support/test_server.h"

namespace {

using namespace pageloom;

// A task whose counters move on each step, as a walk's do.
class Walking : public Task {
 public:
  int DownloadNext(StepContext&) override { return 0; }
  void Step(bool withMissing) {
    ++m_pictureCount;
    ++m_fileNumber;
    m_state = STATE_DOWNLOADING;
    SetPageUrl(u"https://example.invalid/s/abcdef0123/4567890-" + WideNumber(m_pictureCount));
    if (withMissing) AddMissing(MissingPicture{{}, GetPageUrl().data(), u"001.jpg", {}});
  }
};

void BM_SaveStep(benchmark::State& state) {
  test::TempDir dir;
  QueueStore::OpenResult opened = QueueStore::Open(dir.Path() / "queue.sqlite");
  if (!opened.store) {
    state.SkipWithError("no queue");
    return;
  }
  Walking task;
  task.SetUrl(u"https://example.invalid/s/abcdef0123/4567890-1");
  task.SetFolder(u"/home/user/comic/Some Gallery Title/");
  task.SetSiteKind(SITE_EH);
  opened.store->Insert(0, task, u"/home/user/comic/Some Gallery Title/", 1);
  const bool withMissing = state.range(0) != 0;
  for (auto _ : state) {
    task.Step(withMissing && task.GetPictureCount() % 10 == 0);
    if (!opened.store->SaveStep(0, task)) {
      state.SkipWithError("save failed");
      break;
    }
  }
}
BENCHMARK(BM_SaveStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
