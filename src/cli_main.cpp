// pageloom-cli: the downloads of the pageLoom window from a terminal or a script.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include <signal.h>
#include <unistd.h>

#include "app/task_controller.h"
#include "app/ui_language.h"
#include "base/fixed_text.h"
#include "cli/cli_texts.h"
#include "cli/command_line.h"
#include "cli/download_run.h"
#include "cli/progress_view.h"
#include "cli/run_settings.h"
#include "cli/signal_pipe.h"
#include "engine/task_folder.h"
#include "library/library_scan.h"
#include "library/task_finish.h"
#include "net/save_folder.h"
#include "store/data_folder.h"
#include "store/download_record.h"

namespace {

using namespace pageloom;
using namespace pageloom::cli;

constexpr int kUsageError = 2;

int UsageError(const std::string& problem) {
  std::cerr << UsageErrorLine(problem);
  return kUsageError;
}

// The addresses of the arguments, then those of each --input list. Empty `problem`: read.
std::vector<std::string> Addresses(const CliOptions& options, std::string& problem) {
  std::vector<std::string> addresses = options.addresses;
  bool stdinRead = false;
  for (const std::string& file : options.inputFiles) {
    std::vector<std::string> listed;
    if (file == "-") {
      if (stdinRead) continue;  // standard input is read once
      stdinRead = true;
      listed = ReadAddressList(std::cin);
    } else {
      std::error_code ec;
      std::ifstream in(file);
      if (!std::filesystem::is_regular_file(file, ec) || !in) {
        problem = "cannot read the address list " + file;
        return {};
      }
      listed = ReadAddressList(in);
    }
    addresses.insert(addresses.end(), listed.begin(), listed.end());
  }
  return addresses;
}

// The save folder as an absolute path without a trailing '/'. Empty `problem`: fine.
std::u16string SaveFolder(const CliOptions& options, std::string& problem) {
  if (!options.saveFolder) return DefaultSaveFolder();
  std::error_code ec;
  std::string folder =
      std::filesystem::absolute(*options.saveFolder, ec).lexically_normal().string();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::u16string wide = FromUtf8(folder);
  // The task folder adds at least "/x/" to it.
  if (ec || wide.size() + 3 > kPathCapacity - 1) problem = "the save folder path is too long";
  return wide;
}

// --pack: each folder packed as its task's end packs it. 0 when every one is packed.
int PackFolders(const std::vector<std::string>& folders) {
  int status = 0;
  for (const std::string& folder : folders) {
    const PackResult result = PackTaskFolder(std::filesystem::path(folder));
    if (result.status == PackStatus::kPacked || result.status == PackStatus::kAlreadyThere) {
      std::cout << result.archive.string() << "\n";
    } else {
      std::cerr << "pageloom-cli: " << folder << ": "
                << PackRefusalText(result, LanguageFromEnvironment()) << "\n";
      status = 1;
    }
  }
  return status;
}

// The record at `file`, or null with a line on standard error.
std::unique_ptr<DownloadRecord> OpenRecord(const std::filesystem::path& file) {
  std::string reason;
  std::unique_ptr<DownloadRecord> record = DownloadRecord::Open(file, &reason);
  if (!record)
    std::cerr << "pageloom-cli: cannot open the download record " << file.string() << ": " << reason
              << "\n";
  return record;
}

// --forget: removes the entry that `id` names (an address, SITE:NUMBER or a number) from
// the record at `file`. 0 when one was removed.
int Forget(const std::string& id, const std::filesystem::path& file,
           const ControllerSettings& settings) {
  std::string site;
  std::string identity = id;
  const std::u16string wide = FromUtf8(id);
  for (const auto& adapter : settings.registry(settings.sites)) {
    if (!adapter->Recognises(wide)) continue;
    const std::optional<std::u16string> own = adapter->Identity(wide);
    if (!own) {
      std::cerr << "pageloom-cli: " << id << " names no gallery or chapter\n";
      return 1;
    }
    site = ToUtf8(adapter->Name());
    identity = ToUtf8(*own);
    break;
  }
  if (site.empty() && id.find("://") == std::string::npos && id.find(':') != std::string::npos) {
    site = id.substr(0, id.find(':'));
    identity = id.substr(id.find(':') + 1);
  }
  const std::unique_ptr<DownloadRecord> record = OpenRecord(file);
  if (!record) return 1;
  const int removed = record->Forget(site, identity);
  if (removed == 0) {
    std::cerr << "pageloom-cli: " << id << " is not in the download record\n";
    return 1;
  }
  std::cout << "forgot " << removed << (removed == 1 ? " entry" : " entries") << "\n";
  return 0;
}

// The site and identity of a task found on disk, by the first of its addresses a site knows.
template <typename Adapters>
std::optional<std::pair<std::string, std::string>> IdentityOf(const Adapters& adapters,
                                                              const FoundTask& task) {
  for (const std::string& address : task.sources) {
    const std::u16string source = FromUtf8(address);
    for (const auto& adapter : adapters) {
      if (!adapter->Recognises(source)) continue;
      if (const std::optional<std::u16string> identity = adapter->Identity(source))
        return std::make_pair(ToUtf8(adapter->Name()), ToUtf8(*identity));
    }
  }
  return std::nullopt;
}

// --record-existing: records the complete tasks found under `root`. 0 when the record
// could be written (tasks not complete are listed, and left out).
int RecordExisting(const std::string& root, const std::filesystem::path& file,
                   const ControllerSettings& settings) {
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) {
    std::cerr << "pageloom-cli: " << root << " is no folder\n";
    return 1;
  }
  const std::unique_ptr<DownloadRecord> record = OpenRecord(file);
  if (!record) return 1;
  const auto adapters = settings.registry(settings.sites);
  std::vector<RecordEntry> entries;
  for (const FoundTask& task : FindTasks(root)) {
    if (task.incomplete.refusal != PackRefusal::kNone) {
      std::cout << "not complete: " << task.place.string() << " ("
                << cli::PackRefusalText(task.incomplete, LanguageFromEnvironment()) << ")\n";
      continue;
    }
    if (std::optional<std::pair<std::string, std::string>> known = IdentityOf(adapters, task))
      entries.push_back({std::move(known->first), std::move(known->second), task.title,
                         task.place.string(), static_cast<std::int64_t>(std::time(nullptr))});
  }
  if (!record->AddAll(entries)) {
    std::cerr << "pageloom-cli: cannot write the download record " << file.string() << "\n";
    return 1;
  }
  std::cout << "recorded " << entries.size() << (entries.size() == 1 ? " task" : " tasks") << "\n";
  return 0;
}

bool Readable(const std::string& file) {
  std::error_code ec;
  return std::filesystem::is_regular_file(file, ec) && std::ifstream(file).good();
}

}  // namespace

int main(int argc, char** argv) {
  // Output to a pipe whose reader went away fails quietly instead of ending the program.
  signal(SIGPIPE, SIG_IGN);

  const ParsedCommandLine parsed =
      ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) return UsageError(parsed.error);
  const CliOptions& options = parsed.options;
  if (options.help) {
    std::cout << UsageText();
    return 0;
  }
  if (options.version) {
    std::cout << VersionText() << "\n";
    return 0;
  }

  // Before anything writes a diagnostic: whether they are written is read once.
  if (options.verbose) setenv("PAGELOOM_DEBUG", "1", 1);

  if (options.pack) {
    if (options.addresses.empty() || !options.inputFiles.empty())
      return UsageError("--pack takes folders, and nothing else");
    return PackFolders(options.addresses);
  }

  // A queue of its own, never the window's: the two programs can run side by side.
  SettingsReading settings = ReadRunSettings(
      std::getenv("PAGELOOM_SITES_FILE"), std::getenv("PAGELOOM_RETRY_PAUSES_MS"),
      options.lastingQueue || options.update ? DataFolder() / "cli" : std::filesystem::path());
  if (!settings.error.empty()) {
    std::cerr << "pageloom-cli: " << settings.error << "\n";
    return kUsageError;
  }
  if (options.archive) settings.settings.recordFile = *options.archive;
  settings.settings.downloadAgain = options.force;
  const std::filesystem::path recordFile = options.archive ? std::filesystem::path(*options.archive)
                                                           : DataFolder() / "cli" / "record.sqlite";
  if (options.forget || options.recordFrom) {
    if (!options.addresses.empty() || !options.inputFiles.empty() ||
        (options.forget && options.recordFrom))
      return UsageError("--forget and --record-existing take no address, nor each other");
    return options.forget ? Forget(*options.forget, recordFile, settings.settings)
                          : RecordExisting(*options.recordFrom, recordFile, settings.settings);
  }

  std::string problem;
  RunRequest request;
  request.addresses = Addresses(options, problem);
  if (problem.empty() && request.addresses.empty() && !options.lastingQueue && !options.update)
    problem = "no address given";
  if (problem.empty()) request.saveFolder = SaveFolder(options, problem);
  if (problem.empty() && options.cookieFile && !Readable(*options.cookieFile))
    problem = "cannot read the cookies file " + *options.cookieFile;
  if (!problem.empty()) return UsageError(problem);
  // Before any download: a save folder that cannot take pictures is said once, here.
  if (const std::string why = PrepareWritableFolder(ToUtf8(request.saveFolder)); !why.empty()) {
    std::cerr << "pageloom-cli: cannot save pictures in " << ToUtf8(request.saveFolder) << ": "
              << why << "\n";
    return kUsageError;
  }
  request.autoRename = options.autoRename;
  request.followNext = options.followNext;
  request.saveCbz = options.saveCbz;
  request.writeMetadata = options.writeMetadata;
  request.cookieFile = options.cookieFile;
  request.updateCheck = options.update;
  request.forceCheck = options.force;

  request.settings = std::move(settings.settings);
  request.settings.range = options.range;
  // A short ban is waited out; a longer one ends the run.
  request.settings.longestBanWait = std::chrono::minutes(10);
  if (options.userAgent) request.settings.userAgent = *options.userAgent;
  if (options.sleep) {
    const std::optional<Pacing> pacing = ParsePacing(*options.sleep);
    if (!pacing)
      return UsageError("--sleep takes seconds, or two of them as A-B: " + *options.sleep);
    request.settings.pacing = *pacing;
  }

  const char* term = std::getenv("TERM");
  const bool live = !options.json && !options.quiet && isatty(STDOUT_FILENO) == 1 &&
                    !(term != nullptr && std::string(term) == "dumb");
  if (options.json) request.jsonOut = stdout;
  request.language = LanguageFromEnvironment();
  std::cout.flush();
  const SignalPipe signals;  // before any thread: the handlers are in place for all of them
  // With --json, standard output carries the JSON lines alone.
  ProgressView view(options.json ? nullptr : stdout, stderr, live, request.saveFolder,
                    request.language);
  view.SetQuiet(options.quiet);
  // The engine first: the run is handed it, and it outlives the run.
  TaskController engine(request.settings);
  DownloadRun run(engine, std::move(request), view);
  return run.Run(signals);
}
