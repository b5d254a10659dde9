// A long lasting queue (1,000 / 10,000 / 50,000 tasks made through the real store), opened by
// the real window (offscreen): start to rows shown, memory, Delete of every row with no
// worker running and with one running, the table's data() per visible row, and the
// terminal program's run over a queue of finished tasks (a process, start to exit; and with
// one gallery to download, start to its first request and its last page to exit). Each
// size runs once: the figures are single runs.
//
//   cmake -S . -B build/rel -DCMAKE_BUILD_TYPE=Release -DPAGELOOM_BUILD_BENCH=ON
//   cmake --build build/rel --target long_queue_bench && build/rel/bench/long_queue_bench
#include <QApplication>
#include <QItemSelectionModel>
#include <QTableView>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <benchmark/benchmark.h>

#include "app/task_controller.h"
#include "base/fixed_text.h"
#include "gui/application.h"
#include "gui/main_dialog.h"
#include "gui/task_table_model.h"
#include "memory_watch.h"
#include "sites/sites.h"
#include "store/queue_store.h"
#include "support/eh_site.h"
#include "support/program_run.h"
#include "support/test_server.h"

namespace {

using namespace pageloom;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kIdleKind = 77;

// A task that is never stepped here.
class Resting : public Task {
 public:
  int DownloadNext(StepContext&) override { return 0; }
};

// A site with no task in the queue: its worker walks the queue and waits at the walk's end,
// so that a worker runs while the rows are deleted.
class IdleSite : public SiteAdapter {
 public:
  int Kind() const override { return kIdleKind; }
  std::u16string Name() const override { return u"IDLE"; }
  bool Recognises(std::u16string_view) const override { return false; }
  std::optional<std::u16string> FirstPage(std::u16string_view, PageReader&) const override {
    return std::nullopt;
  }
  PageReading ReadPage(std::u16string_view, PageReader&) const override { return {}; }
  std::shared_ptr<Task> NewTask() const override { return std::make_shared<Resting>(); }
};

// A queue file of `count` EH tasks, made once per size: every tenth one paused, the
// others finished (`finished`: all finished).
const fs::path& QueueFile(int count, bool finished) {
  static test::TempDir root;
  static std::map<std::pair<int, bool>, fs::path> made;
  auto found = made.find({count, finished});
  if (found != made.end()) return found->second;
  const fs::path file = root.Path() / (std::to_string(count) + (finished ? "f" : "m")) / "q.sqlite";
  fs::create_directories(file.parent_path());
  QueueStore::OpenResult opened = QueueStore::Open(file);
  for (int no = 0; no < count; ++no) {
    const std::u16string number = WideNumber(no);
    const std::u16string folder =
        u"/home/user/comic/A Gallery Title Of Usual Length " + number + u"/";
    TaskRecord record;
    record.siteKind = SITE_EH;
    record.siteName = u"EH";
    record.startUrl = u"https://e-hentai.org/s/0123456789/" + number + u"-1";
    record.pageUrl = u"https://e-hentai.org/s/abcdef0123/" + number + u"-24";
    record.folder = folder;
    record.pictureCount = 24;
    record.fileNumber = 24;
    record.walkDone = true;
    record.state = !finished && no % 10 == 0 ? STATE_PAUSED : STATE_FINISHED;
    Resting task;
    task.Restore(record);
    task.SetSiteName(u"EH");
    (void)opened.store->Insert(no, task, folder, no + 1);
  }
  return made.emplace(std::make_pair(count, finished), file).first->second;
}

// A data folder holding a copy of the queue file.
struct DataFolder {
  DataFolder(int count, bool finished, const std::string& inside = {}) {
    fs::create_directories(dir.Path() / inside);
    fs::copy_file(QueueFile(count, finished), dir.Path() / inside / "queue.sqlite");
  }
  test::TempDir dir;
};

ControllerSettings WindowSettings(const fs::path& data) {
  ControllerSettings settings;
  settings.dataFolder = data;
  settings.registry = [](const SiteNames& names) {
    std::vector<std::unique_ptr<SiteAdapter>> sites = MakeSiteAdapters(names);
    sites.push_back(std::make_unique<IdleSite>());
    return sites;
  };
  return settings;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void BM_WindowStart(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  DataFolder data(count, false);
  for (auto _ : state) {
    const long before = bench::StatusKb("VmRSS");
    const Clock::time_point start = Clock::now();
    auto engine = std::make_unique<TaskController>(WindowSettings(data.dir.Path()));
    auto dialog = std::make_unique<CpageLoomDlg>(*engine);
    QCoreApplication::processEvents();
    state.SetIterationTime(Seconds(start));
    if (dialog->RowCount() != count) state.SkipWithError("rows missing");
    state.counters["rss_MB"] = static_cast<double>(bench::StatusKb("VmRSS") - before) / 1024.0;
    state.counters["file_kB"] =
        static_cast<double>(fs::file_size(data.dir.Path() / "queue.sqlite")) / 1024.0;
    dialog.reset();
    engine.reset();
    QCoreApplication::processEvents();
  }
}

// Deletes every row; with `workerRuns`, while the idle site's worker waits at its walk's end.
void DeleteAll(benchmark::State& state, bool workerRuns) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    DataFolder data(count, false);
    std::mutex mutex;
    std::condition_variable changed;
    bool atEnd = false, release = false;
    ControllerSettings settings = WindowSettings(data.dir.Path());
    if (workerRuns)
      settings.walkEndHook = [&](int) {
        std::unique_lock<std::mutex> lock(mutex);
        atEnd = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(60), [&] { return release; });
      };
    auto engine = std::make_unique<TaskController>(std::move(settings));
    auto dialog = std::make_unique<CpageLoomDlg>(*engine);
    if (workerRuns) {
      dialog->Controller().Workers().StartSite(kIdleKind);
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait_for(lock, std::chrono::seconds(60), [&] { return atEnd; });
    }
    dialog->TaskTable()->selectAll();
    const Clock::time_point start = Clock::now();
    state.ResumeTiming();
    dialog->OnBnClickedDelete();
    QCoreApplication::processEvents();
    state.SetIterationTime(Seconds(start));
    state.PauseTiming();
    const int left = workerRuns ? count / 10 : 0;
    if (dialog->RowCount() != left || static_cast<int>(dialog->SelectedRows().size()) != left)
      state.SkipWithError("wrong rows left");
    {
      std::lock_guard<std::mutex> lock(mutex);
      release = true;
    }
    changed.notify_all();
    dialog.reset();
    engine.reset();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
}

void BM_DeleteAllIdle(benchmark::State& state) { DeleteAll(state, false); }
void BM_DeleteAllWorkerRuns(benchmark::State& state) { DeleteAll(state, true); }

// What the table asks of the model for one visible row: every cell's text and tooltip.
void BM_DataPerRow(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  DataFolder data(count, false);
  TaskController engine(WindowSettings(data.dir.Path()));
  CpageLoomDlg dialog(engine);
  const TaskTableModel& model = dialog.TableModel();
  int row = 0;
  for (auto _ : state) {
    for (int column = 0; column < TaskTableModel::kColumnCount; ++column) {
      const QModelIndex cell = model.index(row, column);
      benchmark::DoNotOptimize(model.data(cell, Qt::DisplayRole));
      benchmark::DoNotOptimize(model.data(cell, Qt::ToolTipRole));
      benchmark::DoNotOptimize(model.data(cell, Qt::TextAlignmentRole));
    }
    row = (row + 7919) % count;
  }
  state.SetItemsProcessed(state.iterations());
}

// pageloom-cli --queue over a queue of finished tasks: start to exit (the run ends by
// taking every finished task out of the queue).
void BM_CliQueueOfFinished(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    test::TempDir home;
    DataFolder data(count, true, "pageLoom/cli");
    const std::map<std::string, std::string> env{{"HOME", home.Str()},
                                                 {"XDG_DATA_HOME", data.dir.Str()}};
    const Clock::time_point start = Clock::now();
    state.ResumeTiming();
    test::ProgramRun run(PAGELOOM_CLI_PATH, {"--queue", "--save", home.Str()}, env);
    const std::optional<int> status = run.Wait();
    state.SetIterationTime(Seconds(start));
    if (status != 0) state.SkipWithError(("pageloom-cli failed: " + run.Err()).c_str());
    state.counters["file_kB_after"] =
        static_cast<double>(fs::file_size(data.dir.Path() / "pageLoom/cli/queue.sqlite")) / 1024.0;
  }
}

// The same queue with one gallery of the local server to download: start to the first
// request it makes (`first_request_s`), and from its last page to exit (`end_s`: the
// picture, the run's end and every task, all finished then, taken out of the queue).
void BM_CliRunWithGallery(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  test::TestServer server;
  test::EhSite eh(server);
  eh.AddGallery("g", test::EhGalleryPlan{"G Page 1", false, {{"/eh/pic/ab7/one.jpg"}}});
  SiteNames names;
  test::EhSite::Apply(names);
  std::mutex mutex;
  std::optional<Clock::time_point> first, last;
  eh.SetPageHook([&](const std::string&) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!first) first = Clock::now();
    last = Clock::now();
  });
  for (auto _ : state) {
    state.PauseTiming();
    test::TempDir home;
    DataFolder data(count, true, "pageLoom/cli");
    test::WriteFileBytes(home.Path() / "sites",
                         "eh-host-marker=" + ToUtf8(names.ehHostMarker) +
                             "\neh-mirror-marker=" + ToUtf8(names.ehMirrorMarker) + "\n");
    const std::map<std::string, std::string> env{{"HOME", home.Str()},
                                                 {"XDG_DATA_HOME", data.dir.Str()},
                                                 {"PAGELOOM_SITES_FILE", home.Str("sites")}};
    {
      std::lock_guard<std::mutex> lock(mutex);
      first.reset();
      last.reset();
    }
    const Clock::time_point start = Clock::now();
    state.ResumeTiming();
    test::ProgramRun run(
        PAGELOOM_CLI_PATH,
        {"--queue", "--save", home.Str(), eh.Url(test::EhSite::GalleryPath("g", false))}, env);
    const std::optional<int> status = run.Wait();
    const Clock::time_point end = Clock::now();
    state.SetIterationTime(Seconds(start));
    std::lock_guard<std::mutex> lock(mutex);
    if (status != 0 || !first || !last) {
      state.SkipWithError(("pageloom-cli failed: " + run.Err()).c_str());
      continue;
    }
    state.counters["first_request_s"] = std::chrono::duration<double>(*first - start).count();
    state.counters["end_s"] = std::chrono::duration<double>(end - *last).count();
  }
}

void Sizes(benchmark::internal::Benchmark* bench) {
  bench->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_WindowStart)->Apply(Sizes)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DeleteAllIdle)->Apply(Sizes)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DeleteAllWorkerRuns)->Apply(Sizes)->Iterations(1)->UseManualTime();
BENCHMARK(BM_DataPerRow)->Arg(50000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CliQueueOfFinished)->Apply(Sizes)->Iterations(1)->UseManualTime();
BENCHMARK(BM_CliRunWithGallery)->Apply(Sizes)->Iterations(1)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  // The queue files live in memory: the figures are the program's, not the disk's.
  if (fs::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 0);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  CpageLoomApp::Prepare(app);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
