#include "cli/command_line.h"

#include <string_view>

#include "base/version.h"

namespace pageloom::cli {

namespace {

// Options that take a value, and where the value goes; those that need more than a copy
// (--input, --range) are read from `scratch` afterwards.
std::string* ValueSlot(std::string_view name, CliOptions& options, std::string& scratch) {
  if (name == "--save" || name == "-d") return &options.saveFolder.emplace();
  if (name == "--cookies") return &options.cookieFile.emplace();
  if (name == "--user-agent") return &options.userAgent.emplace();
  if (name == "--sleep") return &options.sleep.emplace();
  if (name == "--download-archive") return &options.archive.emplace();
  if (name == "--forget") return &options.forget.emplace();
  if (name == "--record-existing") return &options.recordFrom.emplace();
  if (name == "--input" || name == "-i" || name == "--range") return &scratch;
  return nullptr;
}

// Takes the value of --input or --range out of `scratch`; an error, or "".
std::string TakeScratch(std::string_view name, const std::string& scratch, CliOptions& options) {
  if (name == "--range") {
    options.range = PictureRange::Parse(scratch);
    if (!options.range) return "invalid range '" + scratch + "' (e.g. 10-20,25)";
  } else if (name == "--input" || name == "-i") {
    options.inputFiles.push_back(scratch);
  }
  return {};
}

// Sets a flag option; false when `name` is none.
bool SetFlag(std::string_view name, CliOptions& options) {
  if (name == "--follow") {
    options.followNext = true;
  } else if (name == "--no-rename") {
    options.autoRename = false;
  } else if (name == "--queue") {
    options.lastingQueue = true;
  } else if (name == "--json") {
    options.json = true;
  } else if (name == "--cbz") {
    options.saveCbz = true;
  } else if (name == "--write-metadata") {
    options.writeMetadata = true;
  } else if (name == "--no-metadata") {
    options.writeMetadata = false;
  } else if (name == "--update") {
    options.update = true;
  } else if (name == "--force") {
    options.force = true;
  } else if (name == "--pack") {
    options.pack = true;
  } else if (name == "--quiet" || name == "-q") {
    options.quiet = true;
  } else if (name == "--verbose" || name == "-v") {
    options.verbose = true;
  } else if (name == "--help" || name == "-h") {
    options.help = true;
  } else if (name == "--version" || name == "-V") {
    options.version = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\v\f";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  CliOptions& options = parsed.options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.addresses.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // "-dDIR": a short option with its value joined to it.
    const bool joined = arg[1] != '-' && arg.size() > 2;
    const std::size_t equals = joined ? 2 : arg.find('=');
    const std::string_view name = std::string_view(arg).substr(0, equals);
    std::string input;
    if (std::string* slot = ValueSlot(name, options, input)) {
      if (equals != std::string::npos) {
        *slot = arg.substr(joined ? equals : equals + 1);
      } else if (i + 1 < args.size()) {
        *slot = args[++i];
      } else {
        parsed.error = "option " + std::string(name) + " needs a value";
        return parsed;
      }
      if (slot->empty()) {
        parsed.error = "option " + std::string(name) + " needs a value that is not empty";
        return parsed;
      }
      if (slot == &input) parsed.error = TakeScratch(name, input, options);
      if (!parsed.error.empty()) return parsed;
      continue;
    }
    if (equals == std::string::npos && SetFlag(name, options)) continue;
    parsed.error = equals == std::string::npos || joined
                       ? "unknown option " + arg
                       : "option " + std::string(name) + " takes no value";
    return parsed;
  }
  if (options.quiet && options.verbose) parsed.error = "options -q and -v exclude each other";
  return parsed;
}

std::vector<std::string> ReadAddressList(std::istream& in) {
  std::vector<std::string> addresses;
  std::string line;
  for (bool first = true; std::getline(in, line); first = false) {
    std::string_view address = Trimmed(line);
    // A list saved by an editor that marks UTF-8 files.
    if (first && address.substr(0, 3) == "\xEF\xBB\xBF") address = Trimmed(address.substr(3));
    if (address.empty() || address.front() == '#') continue;
    addresses.emplace_back(address);
  }
  return addresses;
}

std::string UsageText() {
  return "Usage: pageloom-cli [OPTION]... URL...\n"
         "   or: pageloom-cli --pack DIR...\n"
         "   or: pageloom-cli [--queue | --download-archive FILE] --forget ID\n"
         "   or: pageloom-cli --update [OPTION]... [URL]...\n"
         "   or: pageloom-cli [--queue | --download-archive FILE] --record-existing DIR\n"
         "Downloads the pictures of galleries and comic chapters, as the pageLoom window does.\n"
         "\n"
         "  -d, --save DIR      save folder (default: ~/comic, as in the window)\n"
         "  --follow            with a DMZJ chapter, also download every later chapter\n"
         "  --no-rename         keep the pictures' own file names instead of 001, 002, ...\n"
         "  --cookies FILE      use the cookies of FILE (a browser's cookies.txt export)\n"
         "  -i, --input FILE    also read addresses from FILE, one a line ('-': standard\n"
         "                      input; empty lines and lines starting with '#' are skipped)\n"
         "  --range RANGE       only these pictures of each task, by their number: EH pages,\n"
         "                      DMZJ pictures (e.g. 10-20,25; 30- from 30 on); the others\n"
         "                      are skipped like pictures on disk\n"
         "  --user-agent AGENT  send AGENT as the User-Agent of every request (default:\n"
         "                      $PAGELOOM_USER_AGENT, else pageLoom)\n"
         "  --sleep S           wait S seconds between two requests to one site, or a random\n"
         "                      time between A and B seconds with A-B (default: no wait)\n"
         "  --queue             keep the tasks in pageloom-cli's own lasting queue: a run\n"
         "                      that was stopped goes on where it stood on the next --queue\n"
         "                      run\n"
         "  --cbz               pack each task that ends complete into one CBZ beside its\n"
         "                      folder (<title>.cbz), with ComicInfo.xml, and remove the\n"
         "                      folder\n"
         "  --write-metadata    write ComicInfo.xml and info.json with the pictures (default)\n"
         "  --no-metadata       write neither\n"
         "  --pack DIR...       pack folders that pageLoom made earlier into CBZ files (no\n"
         "                      URL then); folders that are not complete are refused\n"
         "  --download-archive FILE\n"
         "                      keep the record of what was downloaded complete in FILE\n"
         "                      (default with --queue: the queue's own record; else none)\n"
         "                      and skip what it holds\n"
         "  --force             download galleries and chapters the record holds too; with\n"
         "                      --update, also check comics checked a moment ago\n"
         "  --record-existing DIR\n"
         "                      record the complete tasks pageLoom made under DIR (task\n"
         "                      folders and CBZ files); no URL then\n"
         "  --update            check every followed comic (a DMZJ chain added with --follow\n"
         "                      and --queue) for new chapters and download them; implies\n"
         "                      --queue\n"
         "  --forget ID         remove a gallery or chapter from the record: its address, its\n"
         "                      number, or SITE:NUMBER (e.g. EH:123456); no URL then\n"
         "  --json              write one JSON object a line on standard output for every event\n"
         "                      (task added, picture stored or failed, task state, run end)\n"
         "  -q, --quiet         no progress and no line per task: only messages and the\n"
         "                      summary of what failed\n"
         "  -v, --verbose       also write diagnostics to standard error\n"
         "  -h, --help          show this text\n"
         "  -V, --version       show the version\n"
         "\n"
         "Exit status: 0 every task finished whole; 1 a picture, a task or an address\n"
         "failed; 2 bad usage, or a --save folder that cannot take pictures; 130 stopped\n"
         "by Ctrl-C; 143 stopped by SIGTERM.\n";
}

std::string UsageErrorLine(const std::string& problem) {
  return "pageloom-cli: " + problem + " (try 'pageloom-cli --help')\n";
}

std::string VersionText() { return std::string("pageloom-cli ") + kVersion; }

}  // namespace pageloom::cli
